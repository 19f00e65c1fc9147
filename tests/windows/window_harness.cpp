// The Windows test program of scripts/test_wine.sh: drives the real main
// window, melno2quaz.exe and melno2quaz-cli.exe under Wine and checks what
// they do, printing "FAIL: <row>: <what> (expected X, got Y)" for every
// check that fails and ending with a non-zero exit code if any did.
//
//   m2q_window_harness.exe WORK EXE_DIR CODE_PAGE
//
// WORK is the stage's folder of inputs (see the tables below), EXE_DIR the
// folder of the programs under test, CODE_PAGE the ANSI code page Wine must
// have given this run (the Unix locale chooses it); the rows of that code
// page are run. One run carries out many rows, as every start of a 32-bit
// Wine process is costly where the host emulates 32-bit x86.
//
// The drops are genuine WM_DROPFILES messages with wide (UTF-16) names, as
// the shell sends them, to a window made by the same code as WinMain's. The
// verb "edit" of the test's prefix is answered by this program over DDE, so
// that no editor starts and the report asked for is known. The screen is
// read back with BitBlt; the window as seen is saved as a bitmap in
// WORK\shots (window-<code page>-<dpi>.bmp, client-<code page>-<dpi>.bmp).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <ddeml.h>
#include <shellapi.h>
#include <shlobj.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "main_window.h"
#include "window_texts.h"

namespace {

// ---- the rows ---------------------------------------------------------------------

enum class Via {
    DROP,     // WM_DROPFILES to the window, in this process
    WINDOW,   // melno2quaz.exe, the files on its command line; its window measured
    CONSOLE,  // melno2quaz-cli.exe, the files on its command line, its output a pipe
    TERMINAL, // the same writing to a console, whose characters are read back
};

// A file another program holds open: for reading, sharing reading; or for
// writing, sharing reading and writing.
struct Hold {
    const wchar_t* name;
    bool writing;
};

// One batch or one start of a program. Folders and lists are relative to
// WORK; a list holds UTF-8 paths, one a line, relative to the row's folder,
// in the order given. The Linux front end ran the same list in `same_as`:
// its report.txt and Quaz saves must be equal byte for byte (names on disk
// in UTF-8 there too).
struct Run {
    const char* label;
    UINT code_page;
    Via via;
    const wchar_t* folder;
    const wchar_t* list;                 // nullptr: `args` instead
    std::vector<const char*> args;       // UTF-8
    const wchar_t* same_as;              // nullptr: no comparison
    std::vector<const char*> outputs;    // the gamedata_* files the batch must leave (UTF-8)
    unsigned long exit_code;             // of the program; of the message loop for DROP
    std::vector<const char*> lines;      // CONSOLE: lines its output must hold once each
    int dpi;                             // WINDOW: LogPixels while it runs
    SIZE window_size;                    // WINDOW: the outer size at that dpi
    UINT same_pixels_as;                 // WINDOW: code page whose client area this must equal, 0: none
    // CONSOLE: files of the folder another program holds open while it runs.
    std::vector<Hold> holds = {};
    // CONSOLE: system errors whose words must be a line of the output, once each.
    std::vector<DWORD> reasons = {};
    bool small_drive = false;  // the folder is a small drive the stage mounts; not run without it
};

const std::vector<const char*> BATCH_OUTPUTS = {
    "gamedata_city.dat", "gamedata_pattern.save.dat", u8"gamedata_表.dat"};

const std::vector<const char*> NAME_OUTPUTS = {u8"gamedata_夹心.dat", u8"gamedata_Café.dat",
                                               u8"gamedata_東京.dat", u8"gamedata_表.dat"};
// Redirected, the console program writes Shift-JIS, '?' for what it lacks.
const std::vector<const char*> NAME_CONSOLE_LINES = {
    "  -> gamedata_?\x90S.dat",              // ?心
    "  -> gamedata_Caf?.dat",
    "  -> gamedata_\x93\x8C\x8B\x9E.dat",   // 東京
    "  -> gamedata_\x95\x5C.dat",            // 表
    "4 converted, 1 failed"};

const std::vector<const char*> NAME_TERMINAL_LINES = {
    u8"  変換元:夹心.psu", u8"  -> gamedata_夹心.dat", u8"  -> gamedata_Café.dat",
    u8"  -> gamedata_東京.dat", u8"  -> gamedata_表.dat", "4 converted, 1 failed"};

const Run RUNS[] = {
    {"drop", 932, Via::DROP, L"window", L"drop.lst", {}, L"linux", BATCH_OUTPUTS, 0, {}, 96, {0, 0}, 0},
    {"command line", 932, Via::WINDOW, L"cmdline", L"drop.lst", {}, L"linux", BATCH_OUTPUTS, 0, {},
     96, {480, 224}, 0},
    {"console", 932, Via::CONSOLE, L"console", L"drop.lst", {}, L"linux", BATCH_OUTPUTS, 1,
     {"  -> gamedata_city.dat", "  -> gamedata_city.dat", "4 converted, 4 failed"}, 96, {0, 0}, 0},
    // After "console", whose outputs it reads.
    {"console --check", 932, Via::CONSOLE, L"console", nullptr,
     {"--check", "gamedata_city.dat", "short.psu"}, nullptr, {}, 1,
     {"gamedata_city.dat: ok", "short.psu: wrong size 5233663 (5184406 expected)"}, 96, {0, 0}, 0},
    {"window", 1252, Via::WINDOW, L"window-1252", nullptr, {}, nullptr, {}, 0, {}, 96, {480, 224}, 932},
    // Names outside one code page, and an older report.txt chosen with them,
    // which is replaced: the Linux batch ran in a UTF-8 locale, so its report
    // shows what code page 932 lacks as '?' like Windows' must.
    {"names drop", 932, Via::DROP, L"names-932-drop", L"names.lst", {}, L"names-linux", NAME_OUTPUTS, 0,
     {}, 96, {0, 0}, 0},
    {"names command line", 932, Via::WINDOW, L"names-932-cmdline", L"names.lst", {}, L"names-linux",
     NAME_OUTPUTS, 0, {}, 96, {480, 224}, 0},
    {"names console", 932, Via::CONSOLE, L"names-932-console", L"names.lst", {}, L"names-linux",
     NAME_OUTPUTS, 1, NAME_CONSOLE_LINES, 96, {0, 0}, 0},
    {"names drop", 1252, Via::DROP, L"names-1252-drop", L"names.lst", {}, L"names-linux", NAME_OUTPUTS, 0,
     {}, 96, {0, 0}, 0},
    {"names command line", 1252, Via::WINDOW, L"names-1252-cmdline", L"names.lst", {}, L"names-linux",
     NAME_OUTPUTS, 0, {}, 96, {480, 224}, 0},
    {"names console", 1252, Via::CONSOLE, L"names-1252-console", L"names.lst", {}, L"names-linux",
     NAME_OUTPUTS, 1, NAME_CONSOLE_LINES, 96, {0, 0}, 0},
    // On a console the text reads right whatever the code page.
    {"names on a console", 932, Via::TERMINAL, L"names-932-terminal", L"names.lst", {}, L"names-linux",
     NAME_OUTPUTS, 1, NAME_TERMINAL_LINES, 96, {0, 0}, 0},
    {"names on a console", 1252, Via::TERMINAL, L"names-1252-terminal", L"names.lst", {}, L"names-linux",
     NAME_OUTPUTS, 1, NAME_TERMINAL_LINES, 96, {0, 0}, 0},
    // A save another program reads converts; one it writes is refused, and
    // the system says why.
    {"console, sources held open", 932, Via::CONSOLE, L"held", nullptr, {"read.psu", "written.psu"}, nullptr, {},
     1, {"  -> gamedata_read.dat", "1 converted, 1 failed"}, 96, {0, 0}, 0,
     {{L"read.psu", false}, {L"written.psu", true}}, {ERROR_SHARING_VIOLATION}},
    // Names as Windows means them: trailing dots and spaces dropped; "\\."
    // after a file names none.
    {"console, names as Windows means them", 932, Via::CONSOLE, L"meant", nullptr,
     {"city.psu.", "city.psu ", "city.psu\\."}, nullptr, {}, 1,
     {"  -> gamedata_city.dat", "  -> gamedata_city.dat", "2 converted, 1 failed"}, 96, {0, 0}, 0, {},
     {ERROR_FILE_NOT_FOUND}},
    // A full drive: the save fails with code 4 and the system's words.
    {"console, a full drive", 932, Via::CONSOLE, L"small", nullptr, {"city.psu"}, nullptr, {}, 1,
     {"0 converted, 1 failed"}, 96, {0, 0}, 0, {}, {ERROR_DISK_FULL}, true},
    // At 200 %: the client area twice the 96-dpi one, the text twice as tall.
    {"window 192 dpi", 932, Via::WINDOW, L"window-192", nullptr, {}, nullptr, {}, 0, {}, 192, {0, 0}, 0},
};

// ---- checks -----------------------------------------------------------------------

constexpr DWORD WAIT_STEP_MS = 100;
constexpr DWORD EDIT_WAIT_MS = 60000;
constexpr DWORD WINDOW_WAIT_MS = 300000;  // a program start under emulation
constexpr DWORD EXIT_WAIT_MS = 60000;
constexpr DWORD CONSOLE_WAIT_MS = 300000;
constexpr wchar_t DDE_SERVICE[] = L"M2QTestEditor";
constexpr wchar_t DDE_TOPIC[] = L"System";

int checks = 0;
int failures = 0;
std::string only;  // a part of the labels of the rows to run; empty: all

// Whether the row labelled so is to run.
bool chosen(const std::string& label)
{
    return only.empty() || label.find(only) != std::string::npos;
}
std::string row = "setup";  // named in every failure

// One row of checks: names it for every failure, and says at its end
// whether it passed.
struct RowFrame {
    explicit RowFrame(const std::string& label) : failed_before(failures) { row = label; }
    ~RowFrame()
    {
        std::printf("%s: %s\n", failures == failed_before ? "ok" : "failed", row.c_str());
        std::fflush(stdout);
    }
    RowFrame(const RowFrame&) = delete;
    RowFrame& operator=(const RowFrame&) = delete;
    const int failed_before;
};

std::string utf8(const std::wstring& text)
{
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
    return out;
}

std::wstring wide(const std::string& text, UINT code_page = CP_UTF8)
{
    if (text.empty()) {
        return {};
    }
    const int size = MultiByteToWideChar(code_page, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    MultiByteToWideChar(code_page, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

// Bytes of a code page, from UTF-8.
std::string bytes_in(UINT code_page, const std::string& text)
{
    const std::wstring w = wide(text);
    if (w.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(code_page, 0, w.c_str(), static_cast<int>(w.size()), nullptr,
                                         0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(code_page, 0, w.c_str(), static_cast<int>(w.size()), &out[0], size, nullptr,
                        nullptr);
    return out;
}

// The system's words for `error`, in UTF-8, as the core takes them.
std::string system_words(DWORD error)
{
    wchar_t text[256] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  text, 256, nullptr);
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' ')) {
        --length;
    }
    return utf8(std::wstring(text, length));
}

std::string shown(const std::string& text) { return text; }
std::string shown(const std::wstring& text) { return utf8(text); }
template <typename Number>
std::string shown(Number number)
{
    return std::to_string(number);
}

bool check(bool ok, const std::string& what)
{
    ++checks;
    if (!ok) {
        ++failures;
        std::printf("FAIL: %s: %s\n", row.c_str(), what.c_str());
        std::fflush(stdout);
    }
    return ok;
}

template <typename Expected, typename Got>
bool check_eq(const std::string& what, const Expected& expected, const Got& got)
{
    return check(expected == got, what + " (expected " + shown(expected) + ", got " + shown(got) + ")");
}

// Printed on one line, line ends shown as " | ".
std::string one_line(const std::wstring& text)
{
    std::string flat;
    for (char c : utf8(text)) {
        if (c != '\r') {
            flat += c == '\n' ? std::string(" | ") : std::string(1, c);
        }
    }
    return flat;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
bool contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

// ---- files --------------------------------------------------------------------------

bool read_file(const std::wstring& path, std::string* bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bytes->clear();
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes->append(buffer, got);
    }
    CloseHandle(file);
    return true;
}

bool write_file(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(file);
    return ok;
}

bool is_file(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool is_folder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The names in `folder` matching `pattern`, sorted.
std::vector<std::wstring> names(const std::wstring& folder, const wchar_t* pattern)
{
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (lstrcmpW(found.cFileName, L".") != 0 && lstrcmpW(found.cFileName, L"..") != 0) {
                out.push_back(found.cFileName);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string joined(const std::vector<std::wstring>& list)
{
    std::string out;
    for (const std::wstring& item : list) {
        out += (out.empty() ? "" : " ") + utf8(item);
    }
    return "[" + out + "]";
}

// The lines of a list file (UTF-8, CR LF or LF), empty lines left out.
bool read_list(const std::wstring& path, std::vector<std::wstring>* lines)
{
    std::string text;
    if (!read_file(path, &text)) {
        return false;
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            lines->push_back(wide(line));
        }
        start = end + 1;
    }
    return true;
}

std::wstring full_path(const std::wstring& path)
{
    wchar_t out[1024] = L"";
    const DWORD length = GetFullPathNameW(path.c_str(), 1024, out, nullptr);
    return length > 0 && length < 1024 ? std::wstring(out) : path;
}

std::wstring work;     // WORK, in full
std::wstring exe_dir;  // EXE_DIR, in full

// Waits up to `ms` for `handle` (null: just waits), dispatching this
// thread's messages meanwhile, so that nobody sending to its windows (a DDE
// broadcast of another program, say) is kept waiting. True when the handle
// was signalled.
bool wait_pumping(HANDLE handle, DWORD ms)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        const DWORD waited = GetTickCount() - start;
        if (waited >= ms) {
            return false;
        }
        const DWORD result = MsgWaitForMultipleObjects(handle != nullptr ? 1 : 0, &handle, FALSE,
                                                       ms - waited, QS_ALLINPUT);
        if (handle != nullptr && result == WAIT_OBJECT_0) {
            return true;
        }
    }
}

// ---- what the programs under test show the user --------------------------------

// Requests that reached the test editor over DDE, and message boxes seen.
struct Observed {
    std::mutex lock;
    std::vector<std::wstring> edits;
    std::vector<std::wstring> boxes;
    std::vector<HWND> closed;  // boxes already recorded
};
Observed observed;
DWORD dde_instance = 0;

HDDEDATA CALLBACK on_dde(UINT type, UINT /*format*/, HCONV /*conversation*/, HSZ topic,
                         HSZ service, HDDEDATA data, ULONG_PTR /*data1*/, ULONG_PTR /*data2*/)
{
    switch (type) {
    case XTYP_CONNECT: {
        wchar_t name[64] = L"";
        DdeQueryStringW(dde_instance, service, name, 64, CP_WINUNICODE);
        return reinterpret_cast<HDDEDATA>(static_cast<INT_PTR>(lstrcmpiW(name, DDE_SERVICE) == 0));
    }
    case XTYP_EXECUTE: {
        const DWORD size = DdeGetData(data, nullptr, 0, 0);
        std::wstring command(size / sizeof(wchar_t) + 1, L'\0');
        DdeGetData(data, reinterpret_cast<BYTE*>(&command[0]), size, 0);
        command.resize(lstrlenW(command.c_str()));
        std::lock_guard<std::mutex> hold(observed.lock);
        observed.edits.push_back(command);
        return reinterpret_cast<HDDEDATA>(static_cast<INT_PTR>(DDE_FACK));
    }
    default:
        (void)topic;
        return nullptr;
    }
}

// The texts of a message box: its static controls.
BOOL CALLBACK collect_static(HWND child, LPARAM context)
{
    wchar_t class_name[32] = L"";
    GetClassNameW(child, class_name, 32);
    if (lstrcmpiW(class_name, L"Static") == 0) {
        wchar_t text[2048] = L"";
        GetWindowTextW(child, text, 2048);
        if (text[0] != L'\0') {
            auto* all = reinterpret_cast<std::wstring*>(context);
            if (!all->empty()) {
                all->append(L"\n");
            }
            all->append(text);
        }
    }
    return TRUE;
}

const std::wstring& open_dialog_title()
{
    static const std::wstring title = wide(u8"ファイルを選ぶ / Choose files");
    return title;
}

BOOL CALLBACK close_message_box(HWND window, LPARAM /*context*/)
{
    wchar_t class_name[32] = L"";
    GetClassNameW(window, class_name, 32);
    if (lstrcmpW(class_name, L"#32770") != 0 || !IsWindowVisible(window)) {
        return TRUE;
    }
    wchar_t title[256] = L"";
    GetWindowTextW(window, title, 256);
    if (open_dialog_title() == title) {
        return TRUE;  // driven by check_choose_files
    }
    std::wstring text = std::wstring(L"[") + title + L"] ";
    EnumChildWindows(window, collect_static, reinterpret_cast<LPARAM>(&text));
    {
        std::lock_guard<std::mutex> hold(observed.lock);
        for (HWND closed : observed.closed) {
            if (closed == window) {
                return TRUE;
            }
        }
        observed.closed.push_back(window);
        observed.boxes.push_back(text);
    }
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return TRUE;
}

std::atomic<bool> watching{false};

// Answers DDE requests and closes message boxes (recording both) on a
// thread of its own, while the main thread is inside a batch.
void watch()
{
    if (DdeInitializeW(&dde_instance, on_dde, APPCLASS_STANDARD | CBF_FAIL_ADVISES |
                                                   CBF_FAIL_POKES | CBF_FAIL_REQUESTS |
                                                   CBF_SKIP_DISCONNECTS,
                       0) != DMLERR_NO_ERROR) {
        check(false, "DdeInitializeW for the test editor");
        return;
    }
    HSZ service = DdeCreateStringHandleW(dde_instance, DDE_SERVICE, CP_WINUNICODE);
    DdeNameService(dde_instance, service, nullptr, DNS_REGISTER);
    while (watching) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        EnumWindows(close_message_box, 0);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    DdeNameService(dde_instance, service, nullptr, DNS_UNREGISTER);
    DdeFreeStringHandle(dde_instance, service);
    DdeUninitialize(dde_instance);
}

void clear_observed()
{
    std::lock_guard<std::mutex> hold(observed.lock);
    observed.edits.clear();
    observed.boxes.clear();
}

struct Seen {
    std::vector<std::wstring> edits;
    std::vector<std::wstring> boxes;
};

// Waits until the report was asked to be edited or a message box was shown,
// or the time is up; returns both.
Seen wait_observed(DWORD wait_ms)
{
    for (DWORD waited = 0; waited < wait_ms; waited += WAIT_STEP_MS) {
        {
            std::lock_guard<std::mutex> hold(observed.lock);
            if (!observed.edits.empty() || !observed.boxes.empty()) {
                break;
            }
        }
        wait_pumping(nullptr, WAIT_STEP_MS);
    }
    wait_pumping(nullptr, 500);  // anything that follows at once
    std::lock_guard<std::mutex> hold(observed.lock);
    for (const std::wstring& box : observed.boxes) {
        std::printf("message box: %s\n", one_line(box).c_str());
    }
    return {observed.edits, observed.boxes};
}

// The report of `folder` was asked to be edited, once, and no message box
// was shown.
void check_report_opened(const Seen& seen, const std::wstring& folder)
{
    if (check_eq("requests to edit a report", 1u, seen.edits.size())) {
        const std::wstring& edit = seen.edits[0];
        check(edit == L"[edit(\"" + folder + L"\\report.txt\")]" || edit == L"[edit(\"report.txt\")]",
              "the report of " + utf8(folder) + " opened with the verb edit (got " + utf8(edit) + ")");
    }
    check_eq("message boxes", 0u, seen.boxes.size());
}

// ---- the prefix and the program's resources -------------------------------------------

bool set_value(HKEY root, const wchar_t* key, const wchar_t* name, const wchar_t* value)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const LONG result = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                       static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

bool set_dword(HKEY root, const wchar_t* key, const wchar_t* name, DWORD value)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const LONG result = RegSetValueExW(handle, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                       sizeof value);
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

void set_up_prefix()
{
    // A default prefix knows no "edit" verb for text files. This one asks
    // the harness over DDE; Notepad is the command should no harness answer.
    check(set_value(HKEY_CLASSES_ROOT, L".txt", nullptr, L"txtfile") &&
              set_value(HKEY_CLASSES_ROOT, L"txtfile\\shell\\edit\\command", nullptr, L"notepad.exe \"%1\"") &&
              set_value(HKEY_CLASSES_ROOT, L"txtfile\\shell\\edit\\ddeexec", nullptr, L"[edit(\"%1\")]") &&
              set_value(HKEY_CLASSES_ROOT, L"txtfile\\shell\\edit\\ddeexec\\application", nullptr, DDE_SERVICE) &&
              set_value(HKEY_CLASSES_ROOT, L"txtfile\\shell\\edit\\ddeexec\\topic", nullptr, DDE_TOPIC) &&
              // Wine draws the window frame itself (there is no window
              // manager), and its caption in a font that has the title's
              // characters.
              set_value(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", L"Decorated", L"N") &&
              set_value(HKEY_CURRENT_USER, L"Software\\Wine\\Fonts\\Replacements", L"Tahoma", L"IPAGothic"),
          "the test's settings written to the registry");
}

std::wstring version_string(const std::vector<BYTE>& info, const wchar_t* block, const wchar_t* name)
{
    std::wstring path = std::wstring(L"\\StringFileInfo\\") + block + L"\\" + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || value == nullptr) {
        return L"";
    }
    return static_cast<const wchar_t*>(value);
}

// What Explorer shows of melno2quaz.exe: version fields, manifest, icons.
void check_resources(const std::wstring& exe)
{
    row = "resources of melno2quaz.exe";
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    std::vector<BYTE> info(size);
    if (check(size != 0 && GetFileVersionInfoW(exe.c_str(), 0, size, info.data()), "version information")) {
        void* value = nullptr;
        UINT length = 0;
        std::string file_version;
        if (VerQueryValueW(info.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
            const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
            file_version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
                           std::to_string(LOWORD(fixed->dwFileVersionLS));
        }
        check_eq("file version", std::string("1.0.0.0"), file_version);
        wchar_t block[16] = L"";
        if (VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length) && length >= 4) {
            const auto* translation = static_cast<const WORD*>(value);
            wsprintfW(block, L"%04x%04x", translation[0], translation[1]);
        }
        check_eq("ProductName", std::wstring(L"melno2quaz"), version_string(info, block, L"ProductName"));
        check_eq("ProductVersion", std::wstring(L"1.0.0"), version_string(info, block, L"ProductVersion"));
        check(!version_string(info, block, L"FileDescription").empty(), "a FileDescription");
    }

    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!check(module != nullptr, "melno2quaz.exe loads as a data file")) {
        return;
    }
    HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    std::string text;
    if (manifest != nullptr) {
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, manifest)));
        text.assign(bytes, SizeofResource(module, manifest));
    }
    for (const char* item : {"asInvoker", "supportedOS", "dpiAware", "PerMonitorV2"}) {
        check(contains(text, item), std::string("the manifest has ") + item);
    }
    // The icon group: a GRPICONDIR (three WORDs, the count last) and one
    // 14-byte entry per image, width first (0 for 256).
    HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));
    std::string sizes;
    if (group != nullptr && SizeofResource(module, group) >= 6) {
        const BYTE* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
        const unsigned count = bytes[4] | (bytes[5] << 8);
        for (unsigned i = 0; i < count && 6 + 14 * (i + 1) <= SizeofResource(module, group); ++i) {
            const unsigned width = bytes[6 + 14 * i] == 0 ? 256 : bytes[6 + 14 * i];
            sizes += (sizes.empty() ? "" : " ") + std::to_string(width);
        }
    }
    check_eq("icon sizes", std::string("16 32 48"), sizes);
    FreeLibrary(module);
}

// ---- batches --------------------------------------------------------------------------

// An HDROP as the shell hands it over: a movable global block holding a
// DROPFILES header followed by the wide paths, each NUL-terminated, and a
// final NUL. DragFinish frees it.
HDROP make_drop(const std::vector<std::wstring>& paths)
{
    std::size_t characters = paths.empty() ? 2 : 1;
    for (const std::wstring& path : paths) {
        characters += path.size() + 1;
    }
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + characters * sizeof(wchar_t));
    if (memory == nullptr) {
        return nullptr;
    }
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->pt.x = 10;
    header->pt.y = 10;
    header->fNC = FALSE;
    header->fWide = TRUE;
    auto* at = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(header) + sizeof(DROPFILES));
    for (const std::wstring& path : paths) {
        std::memcpy(at, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
        at += path.size() + 1;
    }
    *at = L'\0';
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

struct DropResult {
    UINT count = 0;  // as DragQueryFileW reports it, which the window asks
    Seen seen;
    int loop_exit = -1;
    std::wstring results;  // what the window shows after the batch
};

// The text of one of a window's controls, asked as another program would.
std::wstring control_text(HWND window, int id)
{
    wchar_t text[4096] = L"";
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(GetDlgItem(window, id), WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 5000, &ignored);
    text[4095] = L'\0';
    return text;
}

enum class StopBy { NOTHING, ESC, STOP_BUTTON, CLOSE };

// Stops the batch as a user would: Esc where the program's keyboard focus
// is, a click on Stop, or WM_CLOSE (sent: back once the window took it).
void ask_stop(HWND window, StopBy how)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    DWORD_PTR ignored = 0;
    if (how == StopBy::ESC) {
        PostMessageW(info.hwndFocus != nullptr ? info.hwndFocus : window, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    } else if (how == StopBy::STOP_BUTTON) {
        PostMessageW(GetDlgItem(window, CONTROL_STOP), BM_CLICK, 0, 0);
    } else {
        SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    }
}

// In `folder`, creates the window through the same code as WinMain, drops
// `paths` on it, waits for the batch and closes the window.
// `late`, when given, is dropped right after the first drop was taken,
// while its batch runs. `stop_when`, when given, is a file of `folder`:
// once it is there, the Stop button stops the batch.
DropResult drop(const std::wstring& folder, const std::vector<std::wstring>& paths,
                const std::vector<std::wstring>* late = nullptr, const wchar_t* stop_when = nullptr)
{
    DropResult result;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    static bool registered = false;
    registered = registered || register_main_window_class(instance);
    SetCurrentDirectoryW(folder.c_str());
    HWND window = registered ? create_main_window(instance, SW_SHOWNORMAL) : nullptr;
    if (!check(window != nullptr, "the main window created")) {
        SetCurrentDirectoryW(work.c_str());
        return result;
    }
    HDROP dropped = make_drop(paths);
    // What the shell reports for this drop; the window asks the same.
    result.count = DragQueryFileW(dropped, 0xFFFFFFFF, nullptr, 0);
    clear_observed();
    PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(dropped), 0);

    // The batch starts on a thread of its own; the window goes on answering.
    MSG message;
    bool handled = false;
    while (!handled && GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
        handled = message.message == WM_DROPFILES && message.hwnd == window;
    }
    check(handled, "WM_DROPFILES handled");
    if (late != nullptr) {
        check((GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) == 0,
              "no drop target while the batch runs");
        check_eq("the result lines while the batch runs",
                 wide(u8"変換の終了後に次のファイルをドロップしてください / Drop more files when this batch is done"),
                 control_text(window, CONTROL_RESULTS));
        PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(make_drop(*late)), 0);
    }
    for (DWORD waited = 0; stop_when != nullptr && waited < EDIT_WAIT_MS; waited += 5) {
        if (is_file(folder + L"\\" + stop_when)) {
            ask_stop(window, StopBy::STOP_BUTTON);
            break;
        }
        wait_pumping(nullptr, 5);
    }
    result.seen = wait_observed(EDIT_WAIT_MS);
    result.results = control_text(window, CONTROL_RESULTS);
    check((GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0, "a drop target after the batch");

    // Closing ends the loop WinMain runs, with the code of WM_QUIT.
    PostMessageW(window, WM_CLOSE, 0, 0);
    result.loop_exit = run_message_loop();
    check(!IsWindow(window), "the window is gone after WM_CLOSE");
    SetCurrentDirectoryW(work.c_str());
    return result;
}

// Compares the batch run in `folder` with the Linux front end's run of the
// same list in `same_as`: the same report, the expected Quaz saves on both
// sides with the same bytes; a path longer than MAX_PATH - 1 recorded whole
// with code 6, and nothing written beside the file its first 259 bytes name.
void compare_batch(const Run& run, const std::wstring& folder, const std::vector<std::wstring>& paths)
{
    const std::wstring linux_folder = work + L"\\" + run.same_as;
    std::string report;
    std::string linux_report;
    check(read_file(folder + L"\\report.txt", &report), "report.txt written");
    check(read_file(linux_folder + L"\\report.txt", &linux_report) && !linux_report.empty(),
          "the Linux front end's report.txt");
    check(report == linux_report, "report.txt equals the Linux front end's byte for byte (" +
                                      std::to_string(report.size()) + " and " +
                                      std::to_string(linux_report.size()) + " bytes)");

    std::vector<std::wstring> expected;
    for (const char* name : run.outputs) {
        expected.push_back(wide(name));
    }
    std::sort(expected.begin(), expected.end());
    const std::vector<std::wstring> outputs = names(folder, L"gamedata_*");
    check_eq("Quaz saves written", joined(expected), joined(outputs));
    check_eq("Quaz saves of the Linux front end", joined(expected), joined(names(linux_folder, L"gamedata_*")));
    for (const std::wstring& name : outputs) {
        std::string ours;
        std::string theirs;
        check(read_file(folder + L"\\" + name, &ours) && read_file(linux_folder + L"\\" + name, &theirs) &&
                  ours == theirs,
              utf8(name) + " equals the Linux front end's byte for byte");
    }

    for (const std::wstring& path : paths) {
        if (path.size() < MAX_PATH) {
            continue;
        }
        const std::wstring cut = path.substr(0, MAX_PATH - 1);
        const std::size_t slash = cut.find_last_of(L"/\\");
        const std::wstring cut_folder = folder + L"\\" + cut.substr(0, slash);
        std::vector<std::wstring> beside = names(cut_folder, L"*");
        check(beside.empty() || (beside.size() == 1 && beside[0] == cut.substr(slash + 1)),
              "nothing written beside the file the first 259 bytes of the long path name (found " +
                  joined(beside) + ")");
        for (const std::string* text : {&report, &linux_report}) {
            // The record: the path's line, a message, the code.
            const std::size_t at = text->find(utf8(path) + "\r\n");
            std::string code_line;
            if (at != std::string::npos) {
                const std::size_t message = text->find('\n', at) + 1;
                const std::size_t code = text->find('\n', message) + 1;
                code_line = text->substr(code, text->find('\n', code) - code);
            }
            check(contains(code_line, "(Err:6)"),
                  std::string(text == &report ? "" : "Linux ") + "record of the " +
                      std::to_string(path.size()) + "-byte path, in full, ends in code 6 (got \"" +
                      code_line + "\")");
        }
    }
}

// ---- the window on the screen -------------------------------------------------------------

struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> rgb;  // 0x00RRGGBB, top row first

    std::uint32_t at(int x, int y) const { return rgb[static_cast<std::size_t>(y) * width + x]; }
};

// What the screen shows in `area` (screen coordinates).
Pixels capture(const RECT& area)
{
    Pixels pixels;
    pixels.width = area.right - area.left;
    pixels.height = area.bottom - area.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = pixels.width;
    info.bmiHeader.biHeight = -pixels.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, pixels.width, pixels.height, screen, area.left, area.top, SRCCOPY);
        GdiFlush();
        const auto* words = static_cast<const std::uint32_t*>(bits);
        pixels.rgb.assign(words, words + static_cast<std::size_t>(pixels.width) * pixels.height);
        for (std::uint32_t& pixel : pixels.rgb) {
            pixel &= 0xFFFFFF;
        }
        SelectObject(memory, previous);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// As a 24-bit bitmap file, for people to look at (and for ImageMagick).
bool save_bitmap(const Pixels& pixels, const std::wstring& path)
{
    const int stride = (pixels.width * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER header{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(stride) * pixels.height;
    header.biSize = sizeof header;
    header.biWidth = pixels.width;
    header.biHeight = pixels.height;  // bottom row first
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&header), sizeof header);
    for (int y = pixels.height - 1; y >= 0; --y) {
        std::string line(static_cast<std::size_t>(stride), '\0');
        for (int x = 0; x < pixels.width; ++x) {
            const std::uint32_t pixel = pixels.at(x, y);
            line[3 * x] = static_cast<char>(pixel & 0xFF);
            line[3 * x + 1] = static_cast<char>((pixel >> 8) & 0xFF);
            line[3 * x + 2] = static_cast<char>((pixel >> 16) & 0xFF);
        }
        bytes += line;
    }
    return write_file(path, bytes);
}

// A bitmap written by save_bitmap.
bool load_bitmap(const std::wstring& path, Pixels* pixels)
{
    std::string bytes;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER header{};
    if (!read_file(path, &bytes) || bytes.size() < sizeof file + sizeof header) {
        return false;
    }
    std::memcpy(&file, bytes.data(), sizeof file);
    std::memcpy(&header, bytes.data() + sizeof file, sizeof header);
    const int stride = (header.biWidth * 3 + 3) & ~3;
    if (header.biBitCount != 24 || header.biHeight <= 0 ||
        bytes.size() < file.bfOffBits + static_cast<std::size_t>(stride) * header.biHeight) {
        return false;
    }
    pixels->width = header.biWidth;
    pixels->height = header.biHeight;
    pixels->rgb.assign(static_cast<std::size_t>(pixels->width) * pixels->height, 0);
    for (int y = 0; y < pixels->height; ++y) {
        const auto* line = reinterpret_cast<const unsigned char*>(bytes.data()) + file.bfOffBits +
                           static_cast<std::size_t>(pixels->height - 1 - y) * stride;
        for (int x = 0; x < pixels->width; ++x) {
            pixels->rgb[static_cast<std::size_t>(y) * pixels->width + x] =
                line[3 * x] | (line[3 * x + 1] << 8) | (line[3 * x + 2] << 16);
        }
    }
    return true;
}

bool is_dark(std::uint32_t pixel)
{
    const unsigned red = (pixel >> 16) & 0xFF;
    const unsigned green = (pixel >> 8) & 0xFF;
    const unsigned blue = pixel & 0xFF;
    return 2126 * red + 7152 * green + 722 * blue < 10000 * 128;  // Rec. 709 luma
}

// Pixels in a rectangle (client coordinates) that pass `test`.
template <typename Test>
int count(const Pixels& pixels, int left, int top, int width, int height, Test test)
{
    int found = 0;
    for (int y = std::max(top, 0); y < std::min(top + height, pixels.height); ++y) {
        for (int x = std::max(left, 0); x < std::min(left + width, pixels.width); ++x) {
            found += test(pixels.at(x, y)) ? 1 : 0;
        }
    }
    return found;
}

// The line as the window draws it: converted from code page 932 and
// measured through the wide call in the window's font.
SIZE line_extent(HDC dc, const char* text, std::size_t length)
{
    const std::wstring line = wide(std::string(text, length), 932);
    SIZE extent{0, 0};
    GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &extent);
    return extent;
}

std::wstring shot_name(const wchar_t* kind, UINT code_page, int dpi)
{
    return work + L"\\shots\\" + kind + L"-" + std::to_wstring(code_page) + L"-" + std::to_wstring(dpi) + L".bmp";
}

// Title, class, style, size and drop target of the main window of
// melno2quaz.exe, and its pixels: both lines drawn where they belong, in
// full, the client area white everywhere else.
void check_window(const Run& run, HWND window)
{
    wchar_t title[256] = L"";
    GetWindowTextW(window, title, 256);
    check_eq("title", wide(u8"Melno→Quazデータ変換"), std::wstring(title));
    check_eq("class style (CS_HREDRAW | CS_VREDRAW)", 0x3ul,
             static_cast<unsigned long>(GetClassLongPtrW(window, GCL_STYLE)));
    check_eq("window style (WS_OVERLAPPEDWINDOW)", static_cast<unsigned long>(WS_OVERLAPPEDWINDOW),
             static_cast<unsigned long>(GetWindowLongPtrW(window, GWL_STYLE)) &
                 ~static_cast<unsigned long>(WS_VISIBLE | WS_CLIPSIBLINGS));
    check((GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0, "the window takes dropped files");
    const UINT dpi = window_dpi(window);
    check_eq("the window's dpi", static_cast<UINT>(run.dpi), dpi);
    RECT frame{};
    GetWindowRect(window, &frame);
    if (run.window_size.cx != 0) {
        check_eq("window width", run.window_size.cx, frame.right - frame.left);
    }

    RECT client{};
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    HDC dc = GetDC(window);
    HFONT font = create_instruction_font(dpi);
    HGDIOBJ previous = SelectObject(dc, font);
    const SIZE extents[] = {line_extent(dc, INSTRUCTION_LINE_1, INSTRUCTION_LINE_1_LENGTH),
                            line_extent(dc, INSTRUCTION_LINE_2, INSTRUCTION_LINE_2_LENGTH)};
    SelectObject(dc, previous);
    DeleteObject(font);
    ReleaseDC(window, dc);
    const int x = scale_to_dpi(INSTRUCTION_X, dpi);
    const POINT starts[] = {{x, scale_to_dpi(INSTRUCTION_LINE_1_Y, dpi)},
                            {x, scale_to_dpi(INSTRUCTION_LINE_2_Y, dpi)}};
    // At another dpi than 96, everything scales from the 96-dpi window seen
    // before: the client area exactly, the text's height within a pixel
    // (fonts come in whole pixel sizes).
    static SIZE client_at_96{0, 0};
    static LONG line_heights_at_96[2] = {0, 0};
    const SIZE client_size{client.right - client.left, client.bottom - client.top};
    check_eq("client height (the lines, then the controls)", scale_to_dpi(MAIN_WINDOW_CLIENT_HEIGHT, dpi),
             static_cast<int>(client_size.cy));
    if (run.dpi == 96) {
        client_at_96 = client_size;
        line_heights_at_96[0] = extents[0].cy;
        line_heights_at_96[1] = extents[1].cy;
    } else if (check(client_at_96.cx != 0, "a window at 96 dpi was seen before")) {
        check_eq("client area", std::to_string(scale_to_dpi(client_at_96.cx, dpi)) + "x" +
                                    std::to_string(scale_to_dpi(client_at_96.cy, dpi)),
                 std::to_string(client_size.cx) + "x" + std::to_string(client_size.cy));
        for (int line = 0; line < 2; ++line) {
            const LONG wanted = scale_to_dpi(line_heights_at_96[line], dpi);
            check(extents[line].cy >= wanted - 1 && extents[line].cy <= wanted + 1,
                  "line " + std::to_string(line + 1) + " " + std::to_string(extents[line].cy) +
                      " pixels high, about " + std::to_string(wanted));
        }
    }
    const int area = static_cast<int>(dpi * dpi / (96 * 96));  // pixels of a 96-dpi pixel

    const Pixels shot = capture(client);
    const Pixels whole = capture(frame);
    CreateDirectoryW((work + L"\\shots").c_str(), nullptr);
    check(save_bitmap(whole, shot_name(L"window", run.code_page, run.dpi)) &&
              save_bitmap(shot, shot_name(L"client", run.code_page, run.dpi)),
          "the window's pixels saved in " + utf8(work) + "\\shots");
    const auto dark = [](std::uint32_t pixel) { return is_dark(pixel); };
    const auto not_white = [](std::uint32_t pixel) { return pixel != 0xFFFFFF; };
    // Above the controls, nothing but the two lines.
    const int controls_top = scale_to_dpi(CONTROLS_TOP, dpi);
    int outside_dark = count(shot, 0, 0, shot.width, controls_top, dark);
    int outside_not_white = count(shot, 0, 0, shot.width, controls_top, not_white);
    // The lines' pixels as they were before the window had controls
    // (docs/window.png, made a bitmap by the stage).
    Pixels before;
    const bool compare_before = run.dpi == 96 && run.code_page == 932 &&
                                load_bitmap(work + L"\\reference-window-932-96.bmp", &before);
    for (int line = 0; line < 2; ++line) {
        const SIZE size = extents[line];
        const POINT at = starts[line];
        const int band = count(shot, at.x, at.y, size.cx, size.cy, dark);
        const int tail = count(shot, at.x + size.cx - size.cx / 10, at.y, size.cx / 10, size.cy, dark);
        std::printf("%s: line %d, %ldx%ld at (%ld,%ld): %d dark pixels, %d in its last tenth\n", row.c_str(),
                    line + 1, size.cx, size.cy, at.x, at.y, band, tail);
        check(band > 500 * area, "line " + std::to_string(line + 1) + " drawn (" + std::to_string(band) + " dark pixels)");
        check(tail > 20 * area, "line " + std::to_string(line + 1) + " drawn in full (" + std::to_string(tail) +
                             " dark pixels in its last tenth)");
        outside_dark -= band;
        outside_not_white -= count(shot, at.x, at.y, size.cx, size.cy, not_white);
        if (compare_before) {
            const int dx = client.left - frame.left;
            const int dy = client.top - frame.top;
            int differing = 0;
            for (int y = at.y; y < at.y + size.cy; ++y) {
                for (int x = at.x; x < at.x + size.cx; ++x) {
                    const bool inside = x + dx < before.width && y + dy < before.height;
                    differing += !inside || before.at(x + dx, y + dy) != shot.at(x, y) ? 1 : 0;
                }
            }
            check_eq("pixels of line " + std::to_string(line + 1) + " differing from docs/window.png", 0, differing);
        }
    }
    check_eq("dark pixels outside the two lines", 0, outside_dark);
    check_eq("pixels not white outside the two lines", 0, outside_not_white);

    if (run.same_pixels_as != 0) {
        Pixels other;
        if (check(load_bitmap(shot_name(L"client", run.same_pixels_as, run.dpi), &other),
                  "the client area seen under code page " + std::to_string(run.same_pixels_as))) {
            // Above the controls; below, each run shows its own batch.
            int differing = other.width == shot.width && other.height == shot.height ? 0 : -1;
            for (std::size_t i = 0; differing >= 0 && i < static_cast<std::size_t>(shot.width) * controls_top; ++i) {
                differing += shot.rgb[i] != other.rgb[i] ? 1 : 0;
            }
            check_eq("pixels of the client area differing from code page " +
                         std::to_string(run.same_pixels_as) + " (-1: another size)",
                     0, differing);
        }
    }
}

// ---- programs --------------------------------------------------------------------------

std::wstring command_line(const std::wstring& exe, const std::vector<std::wstring>& arguments)
{
    std::wstring line = L"\"" + exe + L"\"";
    for (const std::wstring& argument : arguments) {
        line += L" \"" + argument + L"\"";
    }
    return line;
}

bool wait_exit(HANDLE process, DWORD ms, unsigned long* exit_code)
{
    DWORD code = STILL_ACTIVE;
    if (!wait_pumping(process, ms)) {
        TerminateProcess(process, 99);
        return check(false, "the program ended within " + std::to_string(ms / 1000) + " s");
    }
    GetExitCodeProcess(process, &code);
    *exit_code = code;
    return true;
}

HWND wait_for_main_window(HANDLE process)
{
    for (DWORD waited = 0; waited < WINDOW_WAIT_MS; waited += WAIT_STEP_MS) {
        HWND window = FindWindowW(MAIN_WINDOW_CLASS_WIDE, nullptr);
        if (window != nullptr && IsWindowVisible(window)) {
            return window;
        }
        if (wait_pumping(process, WAIT_STEP_MS)) {
            return nullptr;
        }
    }
    return nullptr;
}

// melno2quaz.exe (or melno2quaz-cli.exe) started at `dpi` in `folder`.
bool start_program(const wchar_t* name, const std::wstring& folder, const std::vector<std::wstring>& arguments,
                   PROCESS_INFORMATION* process, int dpi = 96)
{
    check(set_dword(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", static_cast<DWORD>(dpi)),
          "LogPixels set");
    const std::wstring exe = exe_dir + L"\\" + name;
    std::wstring line = command_line(exe, arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    clear_observed();
    return check(CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                folder.c_str(), &startup, process) != FALSE,
                 utf8(name) + " started");
}

// melno2quaz.exe in `folder` with `arguments`: the batch's report opened,
// the window checked, closed, exit code.
void run_window_program(const Run& run, const std::wstring& folder, const std::vector<std::wstring>& arguments)
{
    PROCESS_INFORMATION process{};
    if (!start_program(L"melno2quaz.exe", folder, arguments, &process, run.dpi)) {
        return;
    }
    if (!arguments.empty()) {
        check_report_opened(wait_observed(WINDOW_WAIT_MS), folder);
    }
    HWND window = wait_for_main_window(process.hProcess);
    if (check(window != nullptr, "a window of class cnvtmelnotoquaz shown")) {
        wait_pumping(nullptr, 1000);  // the first paint reaches the screen
        check_window(run, window);
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    unsigned long exit_code = 0;
    if (wait_exit(process.hProcess, EXIT_WAIT_MS, &exit_code)) {
        check_eq("exit code of melno2quaz.exe after its window was closed", run.exit_code, exit_code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// melno2quaz-cli.exe in `folder` with `arguments`: exit code, and lines of
// its output (standard output and error).
// Starts melno2quaz-cli.exe in `folder` with `arguments`, its standard
// output and error going to `output` (inherited).
bool start_cli(const std::wstring& folder, const std::vector<std::wstring>& arguments, HANDLE output,
               DWORD flags, PROCESS_INFORMATION* process)
{
    const std::wstring exe = exe_dir + L"\\melno2quaz-cli.exe";
    std::wstring line = command_line(exe, arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    return CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, TRUE, flags, nullptr, folder.c_str(),
                          &startup, process) != FALSE;
}

// melno2quaz-cli.exe writing to a console screen buffer of this process's
// own console (a new one, whatever the harness was started with): what the
// console shows, a line a row, in UTF-8.
std::string console_output(const Run& run, const std::wstring& folder,
                           const std::vector<std::wstring>& arguments)
{
    static bool console = false;
    if (!console) {
        FreeConsole();
        console = check(AllocConsole() != FALSE, "a console for melno2quaz-cli.exe");
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE screen = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                                    CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (!check(screen != INVALID_HANDLE_VALUE, "a console screen buffer")) {
        return {};
    }
    constexpr SHORT COLUMNS = 160;
    constexpr SHORT ROWS = 200;
    SetConsoleScreenBufferSize(screen, COORD{COLUMNS, ROWS});
    PROCESS_INFORMATION process{};
    std::string output;
    if (check(start_cli(folder, arguments, screen, 0, &process), "melno2quaz-cli.exe started on a console")) {
        unsigned long exit_code = 0;
        if (wait_exit(process.hProcess, CONSOLE_WAIT_MS, &exit_code)) {
            check_eq("exit code of melno2quaz-cli.exe", run.exit_code, exit_code);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        for (SHORT y = 0; y < ROWS; ++y) {
            wchar_t row_text[COLUMNS] = {};
            DWORD got = 0;
            ReadConsoleOutputCharacterW(screen, row_text, COLUMNS, COORD{0, y}, &got);
            std::wstring text(row_text, got);
            text.erase(text.find_last_not_of(L' ') + 1);
            output += utf8(text) + "\n";
        }
    }
    CloseHandle(screen);
    return output;
}

void run_console_program(const Run& run, const std::wstring& folder, const std::vector<std::wstring>& arguments)
{
    std::string output;
    if (run.via == Via::TERMINAL) {
        output = console_output(run, folder, arguments);
    } else {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE read_end = nullptr;
        HANDLE write_end = nullptr;
        if (!check(CreatePipe(&read_end, &write_end, &inherit, 0), "a pipe for the console program")) {
            return;
        }
        SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
        PROCESS_INFORMATION process{};
        const bool started = start_cli(folder, arguments, write_end, CREATE_NO_WINDOW, &process);
        CloseHandle(write_end);
        if (check(started, "melno2quaz-cli.exe started")) {
            std::thread reader([&] {
                char buffer[4096];
                DWORD got = 0;
                while (ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0) {
                    output.append(buffer, got);
                }
            });
            unsigned long exit_code = 0;
            const bool ended = wait_exit(process.hProcess, CONSOLE_WAIT_MS, &exit_code);
            reader.join();
            if (ended) {
                check_eq("exit code of melno2quaz-cli.exe", run.exit_code, exit_code);
            }
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        CloseHandle(read_end);
    }

    std::vector<std::string> lines;
    for (std::size_t start = 0; start < output.size();) {
        std::size_t end = output.find('\n', start);
        end = end == std::string::npos ? output.size() : end;
        std::string text = output.substr(start, end - start);
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        lines.push_back(text);
        start = end + 1;
    }
    std::vector<std::string> expected_lines(run.lines.begin(), run.lines.end());
    for (const DWORD error : run.reasons) {
        expected_lines.push_back("  " + (run.via == Via::TERMINAL ? system_words(error)
                                                                   : bytes_in(932, system_words(error))));
    }
    const int failed_before = failures;
    for (const std::string& expected : expected_lines) {
        // As often as the row lists it, and no other line about the same
        // file ("name: ...").
        const std::string wanted = expected;
        const std::size_t colon = wanted.find(": ");
        const std::string head = colon == std::string::npos ? wanted : wanted.substr(0, colon + 2);
        const auto listed = std::count(expected_lines.begin(), expected_lines.end(), wanted);
        const auto same = std::count(lines.begin(), lines.end(), wanted);
        const auto about = std::count_if(lines.begin(), lines.end(),
                                         [&](const std::string& l) { return l.compare(0, head.size(), head) == 0; });
        check(same == listed && about == listed,
              "the output has the line \"" + wanted + "\" " + std::to_string(listed) + " time(s) (" +
                  std::to_string(same) + " times, " + std::to_string(about) + " lines starting so)");
    }
    if (failures != failed_before) {
        std::printf("--- output of melno2quaz-cli.exe (last lines):\n");
        for (std::size_t i = lines.size() > 20 ? lines.size() - 20 : 0; i < lines.size(); ++i) {
            std::printf("%s\n", lines[i].c_str());
        }
    }
}

void run_row(const Run& run)
{
    row = std::string(run.label) + " (code page " + std::to_string(run.code_page) + ")";
    const std::wstring folder = work + L"\\" + run.folder;
    std::vector<std::wstring> arguments;
    if (run.list != nullptr) {
        check(read_list(work + L"\\" + run.list, &arguments), "the list " + utf8(run.list) + " read");
    }
    for (const char* argument : run.args) {
        arguments.push_back(wide(argument));
    }
    if (run.small_drive && !is_folder(folder)) {
        std::printf("note: %s not run: the stage could not mount a small drive\n", row.c_str());
        return;
    }
    std::vector<HANDLE> held;
    for (const Hold& hold : run.holds) {
        held.push_back(CreateFileW((folder + L"\\" + hold.name).c_str(), hold.writing ? GENERIC_WRITE : GENERIC_READ,
                                   hold.writing ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        check(held.back() != INVALID_HANDLE_VALUE, "held open: " + utf8(hold.name));
    }
    const RowFrame frame(row);
    switch (run.via) {
    case Via::DROP: {
        const DropResult result = drop(folder, arguments);
        check_eq("files DragQueryFileW counts in the drop", arguments.size(), std::size_t{result.count});
        check_report_opened(result.seen, folder);
        check_eq("exit code of the message loop", static_cast<int>(run.exit_code), result.loop_exit);
        break;
    }
    case Via::WINDOW:
        run_window_program(run, folder, arguments);
        break;
    case Via::CONSOLE:
    case Via::TERMINAL:
        run_console_program(run, folder, arguments);
        break;
    }
    for (const HANDLE handle : held) {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
    if (run.same_as != nullptr) {
        compare_batch(run, folder, arguments);
    }
}

// A drop without files. Wine's DragQueryFileW counts such a drop as one
// file with an empty name, and the window converts what the drop reports;
// either way the report is written and opened.
void check_empty_drop()
{
    const RowFrame frame("empty drop");
    const std::wstring folder = work + L"\\empty";
    const DropResult result = drop(folder, {});
    check_report_opened(result.seen, folder);
    std::string report;
    check(read_file(folder + L"\\report.txt", &report), "report.txt written");
    if (result.count == 0) {
        check_eq("report of an empty drop", std::string(), report);
    } else if (check_eq("files DragQueryFileW counts in an empty drop (0, or 1 with an empty name)", 1u,
                        result.count)) {
        const std::string expected = bytes_in(932, u8"0001/0001\r\n  変換元:\r\n  Melnoのデータではありません。\n"
                                                   u8"  (Err:2)\r\n\r\n");
        check(report == expected, "the report holds the one empty name with code 2");
        std::printf("note: Wine's DragQueryFileW reports an empty drop as one file with an empty name\n");
    }
}

// A drop whose report cannot be written: a read-only folder holding an
// older report (or, where the stage could not mount one, report.txt is a
// folder). The saves are converted all the same, the window says so in
// Japanese and English with the folder and the counts (two converted, one
// failed: counts swapped would show), no report is opened.
void check_report_not_written()
{
    const RowFrame frame("drop where report.txt cannot be written");
    const std::wstring folder = work + L"\\readonly";
    std::vector<std::wstring> paths;
    check(read_list(work + L"\\readonly.lst", &paths), "the list readonly.lst read");
    const DropResult result = drop(folder, paths);
    check_eq("requests to edit a report", 0u, result.seen.edits.size());
    check_eq("message boxes", 0u, result.seen.boxes.size());
    for (const char* part : {u8"report.txtをこのフォルダに書き込めませんでした。",
                             "report.txt could not be written in this folder:",
                             u8"変換: 2 件、失敗: 1 件 / Converted: 2, failed: 1", "\\readonly\r\n"}) {
        check(contains(result.results, wide(part)), std::string("the window says \"") + part + "\" (it says \"" +
                                                         one_line(result.results) + "\")");
    }
    check(is_file(work + L"\\readonly-sources\\gamedata_city.dat") &&
              is_file(work + L"\\readonly-sources\\gamedata_town.dat"),
          "the saves converted all the same");
    if (!is_folder(folder + L"\\report.txt")) {
        std::string older;
        check(read_file(folder + L"\\report.txt", &older) && older == "an older report\r\n",
              "the older report.txt unchanged");
    }
}

// ---- batches beside the window ------------------------------------------------------------

constexpr int BATCH_FILES = 40;  // WORK\batch40: s00.psu ... s39.psu

std::vector<std::wstring> batch_saves()
{
    std::vector<std::wstring> saves;
    for (int i = 0; i < BATCH_FILES; ++i) {
        saves.push_back((i < 10 ? L"s0" : L"s") + std::to_wstring(i) + L".psu");
    }
    return saves;
}

void remove_outputs(const std::wstring& folder)
{
    for (const wchar_t* pattern : {L"gamedata_*", L".m2q-*", L"report.txt"}) {
        for (const std::wstring& name : names(folder, pattern)) {
            SetFileAttributesW((folder + L"\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW((folder + L"\\" + name).c_str());
        }
    }
}

// What another program is told by a window: the progress bar's position
// (-1: no answer), the requests to edit a report so far.
int progress_position(HWND window)
{
    DWORD_PTR position = 0;
    return SendMessageTimeoutW(GetDlgItem(window, CONTROL_PROGRESS), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000,
                               &position) != 0 ? static_cast<int>(position) : -1;
}

std::size_t edits_seen()
{
    std::lock_guard<std::mutex> hold(observed.lock);
    return observed.edits.size();
}

void save_window_shot(HWND window, const wchar_t* kind)
{
    RECT frame{};
    GetWindowRect(window, &frame);
    CreateDirectoryW((work + L"\\shots").c_str(), nullptr);
    check(save_bitmap(capture(frame), work + L"\\shots\\" + kind + L".bmp"), "the window saved as " + utf8(kind));
}

// The report of the 40 saves stopped after `converted`: the Linux front
// end's records of those, a record with code 7 for each of the rest.
std::string stopped_report(const std::string& linux_report, int converted)
{
    char head[16];
    std::snprintf(head, sizeof head, "%04d/%04d", converted + 1, BATCH_FILES);
    std::string report = linux_report.substr(0, converted == BATCH_FILES ? std::string::npos : linux_report.find(head));
    for (int i = converted; i < BATCH_FILES; ++i) {
        std::snprintf(head, sizeof head, "%04d/%04d", i + 1, BATCH_FILES);
        report += bytes_in(932, head + std::string(u8"\r\n  変換元:") + utf8(batch_saves()[i]) +
                                    u8"\r\n  一括変換が中止されたため、変換しませんでした。\r\n  (Err:7)\r\n\r\n");
    }
    return report;
}

// melno2quaz.exe over the 40 saves, probed with WM_NULL every 30 ms (each
// answered within 100 ms while files remain) with its progress growing;
// `how` stops it once two files are done, after the file in hand. Every
// file has its record, every output is the Linux front end's, no
// temporary file stays; after WM_CLOSE the program ends with 0 and opens
// no report.
void check_batch_beside_window(StopBy how)
{
    const char* const labels[] = {"40 saves, probed", "40 saves, Esc", "40 saves, Stop button", "40 saves, WM_CLOSE"};
    const RowFrame frame(labels[static_cast<int>(how)]);
    const std::wstring folder = work + L"\\batch40";
    remove_outputs(folder);
    PROCESS_INFORMATION process{};
    HWND window = start_program(L"melno2quaz.exe", folder, batch_saves(), &process)
                      ? wait_for_main_window(process.hProcess) : nullptr;
    // Where 32-bit x86 is emulated, the first message from another program
    // and the first progress drawn have the emulator translate code: once,
    // before the probes count.
    for (DWORD waited = 0; window != nullptr && !contains(control_text(window, CONTROL_PROGRESS_LINE), std::wstring(L".psu")) &&
                           waited < 5000;
         waited += 10) {
        wait_pumping(nullptr, 10);
    }
    DWORD_PTR warm = 0;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &warm);
    int probes = 0, late = 0, acted_at = -1, stopping_at = -1;
    std::string seen;
    std::vector<int> positions;
    for (DWORD waited = 0; window != nullptr && waited < WINDOW_WAIT_MS && edits_seen() == 0; waited += 30) {
        DWORD_PTR ignored = 0;
        const bool answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &ignored) != 0;
        const int position = progress_position(window);
        if (position >= 0 && position < BATCH_FILES) {
            ++probes;
            late += answered ? 0 : 1;
        }
        if (position >= 0 && (positions.empty() || positions.back() != position)) {
            positions.push_back(position);
            seen += " " + std::to_string(position);
        }
        if (how == StopBy::NOTHING && position >= 1 && position < BATCH_FILES && probes == 3) {
            save_window_shot(window, L"window-during");
            const std::wstring line = control_text(window, CONTROL_PROGRESS_LINE);
            check(contains(line, L" / 40  s") && contains(line, L".psu"), "the line \"k / 40  sNN.psu\": " + utf8(line));
        } else if (how != StopBy::NOTHING && acted_at < 0 && position >= 2) {
            acted_at = position;
            ask_stop(window, how);
        }
        // "Stopping…" shows from the moment the window set the stop, the
        // files done then (or one more) on its bar.
        if (acted_at >= 0 && stopping_at < 0 && contains(control_text(window, CONTROL_PROGRESS_LINE), std::wstring(L"Stopping"))) {
            stopping_at = progress_position(window);
        }
        // "Stopping…" lasts only as long as the file in hand: once the stop
        // is asked, it is looked for every millisecond, the probes going on.
        if (wait_pumping(process.hProcess, acted_at >= 0 && stopping_at < 0 ? 1 : 30)) {
            break;
        }
    }
    std::printf("%s: %d probes while files remained, %d late; positions:%s\n", row.c_str(), probes, late, seen.c_str());
    check_eq("WM_NULL probes not answered within 100 ms while files remained", 0, late);
    // A stop may be asked at the first probe (the bar already at 2) and take
    // effect, or end the program, before the next one: one probe and one
    // position are then all there are.
    const std::size_t least = how == StopBy::NOTHING ? 2 : 1;
    check(probes >= static_cast<int>(least) && positions.size() >= least &&
              std::is_sorted(positions.begin(), positions.end()),
          "probed, and the progress grows");

    unsigned long exit_code = 99;
    if (how != StopBy::CLOSE && check(edits_seen() == 1, "the report opened once when the batch ended")) {
        const int done = static_cast<int>(names(folder, L"gamedata_*").size());
        const std::string counts = u8"変換: " + std::to_string(done) + u8" 件、失敗: " + std::to_string(BATCH_FILES - done) +
                                   u8" 件 / Converted: " + std::to_string(done) + ", failed: " + std::to_string(BATCH_FILES - done);
        check(contains(control_text(window, CONTROL_RESULTS), wide(counts)), "the window keeps \"" + counts + "\"");
        if (how == StopBy::NOTHING) {
            save_window_shot(window, L"window-after");
        }
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    if (wait_exit(process.hProcess, EXIT_WAIT_MS, &exit_code)) {
        check_eq("exit code of melno2quaz.exe", 0ul, exit_code);
    }
    check(how != StopBy::CLOSE || edits_seen() == 0, "no report opened after WM_CLOSE");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    // Outputs of the first files only, each the Linux front end's.
    const int converted = static_cast<int>(names(folder, L"gamedata_*").size());
    for (int i = 0; i < converted; ++i) {
        const std::wstring name = L"\\gamedata_" + batch_saves()[i].substr(0, 3) + L".dat";
        std::string ours, theirs;
        check(read_file(folder + name, &ours) && read_file(work + L"\\batch40-linux" + name, &theirs) && ours == theirs,
              utf8(name) + " equal to the Linux front end's");
    }
    check_eq("temporary files left", std::string("[]"), joined(names(folder, L".m2q-*")));
    // Stopped after the file in hand: one file past the bar when the window
    // showed it was stopping; where that line came and went unseen (under
    // emulation a file takes a few tens of milliseconds), a few past the
    // bar when the stop was asked, as the bar lags the batch by up to one
    // 100 ms tick of the window's timer.
    constexpr int BAR_LAG_FILES = 4;
    const int stop_bound = stopping_at >= 0 ? stopping_at + 1 : acted_at + BAR_LAG_FILES;
    check(how == StopBy::NOTHING ? converted == BATCH_FILES
                                 : converted >= acted_at && acted_at >= 0 && converted <= stop_bound,
          std::to_string(converted) + " converted; stop asked after " + std::to_string(acted_at) +
              ", the window stopping at " + std::to_string(stopping_at));
    std::string report, linux_report;
    read_file(folder + L"\\report.txt", &report);
    read_file(work + L"\\batch40-linux\\report.txt", &linux_report);
    check(report == stopped_report(linux_report, converted), "report.txt: the Linux records, code 7 for the rest");
}

// Last written, in 100 ns steps (0: no such file).
unsigned long long written_at(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

// A batch of the 40 saves for the benchmark, in milliseconds by the
// files' own times: from the first save's output written to report.txt
// written (0: not both written), the same span for both programs, without
// their start and end. Polled lightly, so that this program takes little
// of the processor meanwhile.
double timed_batch(const wchar_t* program)
{
    const std::wstring folder = work + L"\\batch40";
    remove_outputs(folder);
    const bool window = lstrcmpW(program, L"melno2quaz.exe") == 0;
    PROCESS_INFORMATION process{};
    if (!start_program(program, folder, batch_saves(), &process)) {
        return 0;
    }
    while (window && !is_file(folder + L"\\report.txt") && WaitForSingleObject(process.hProcess, 50) != 0) {
    }
    for (DWORD waited = 0; window && edits_seen() == 0 && waited < EDIT_WAIT_MS; waited += WAIT_STEP_MS) {
        wait_pumping(nullptr, WAIT_STEP_MS);
    }
    HWND shown = window ? FindWindowW(MAIN_WINDOW_CLASS_WIDE, nullptr) : nullptr;
    if (shown != nullptr) {
        PostMessageW(shown, WM_CLOSE, 0, 0);
    }
    unsigned long exit_code = 0;
    wait_exit(process.hProcess, CONSOLE_WAIT_MS, &exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const unsigned long long first = written_at(folder + L"\\gamedata_s00.dat");
    const unsigned long long last = written_at(folder + L"\\report.txt");
    return first != 0 && last > first ? static_cast<double>(last - first) / 10000.0 : 0.0;
}

// ---- the Open dialog, colours, names in the window ------------------------------------------

// Fills in the Open dialog of `process` (found within a minute by its
// title) with `chosen` and presses Open.
bool choose_in_dialog(DWORD process_id, const wchar_t* chosen)
{
    for (DWORD waited = 0; waited < 60000; waited += WAIT_STEP_MS) {
        HWND dialog = nullptr;
        DWORD owner = 0;
        while ((dialog = FindWindowExW(nullptr, dialog, L"#32770", open_dialog_title().c_str())) != nullptr &&
               (GetWindowThreadProcessId(dialog, &owner), owner != process_id || !IsWindowVisible(dialog))) {
        }
        // The file name box: cmb13, or edt1 where the dialog has that instead.
        HWND box = dialog != nullptr ? GetDlgItem(dialog, 0x47C) : nullptr;
        box = dialog != nullptr && box == nullptr ? GetDlgItem(dialog, 0x480) : box;
        if (box != nullptr) {
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(chosen), SMTO_ABORTIFHUNG, 5000, &ignored);
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return true;
        }
        wait_pumping(nullptr, WAIT_STEP_MS);
    }
    return false;
}

// melno2quaz.exe started without files: its two lines read as control
// texts from here; the button, then Ctrl+O (typed with SendInput), open
// the Open dialog, and the files chosen there are converted as one batch
// and the report opened.
void check_choose_files()
{
    const RowFrame frame("Choose files and Ctrl+O");
    const std::wstring folder = work + L"\\choose";
    remove_outputs(folder);
    PROCESS_INFORMATION process{};
    HWND window = start_program(L"melno2quaz.exe", folder, {}, &process) ? wait_for_main_window(process.hProcess)
                                                                         : nullptr;
    if (check(window != nullptr, "a window of class cnvtmelnotoquaz shown")) {
        wait_pumping(nullptr, 1000);
        save_window_shot(window, L"window-idle");
        check_eq("line 1 as a control text", wide(u8"ここにMelnoセーブデータ(.psu)をドラッグ&ドロップすると"),
                 control_text(window, CONTROL_LINE_1));
        check_eq("line 2 as a control text", wide(u8"元ファイルと同一フォルダにQuazファイルを生成します"),
                 control_text(window, CONTROL_LINE_2));
        for (const bool keys : {false, true}) {
            if (keys) {
                SetForegroundWindow(window);
                wait_pumping(nullptr, 300);
                INPUT input[4] = {};
                const WORD codes[4] = {VK_CONTROL, 'O', 'O', VK_CONTROL};
                for (int i = 0; i < 4; ++i) {
                    input[i].type = INPUT_KEYBOARD;
                    input[i].ki.wVk = codes[i];
                    input[i].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
                }
                SendInput(4, input, sizeof(INPUT));
            } else {
                PostMessageW(GetDlgItem(window, CONTROL_CHOOSE), BM_CLICK, 0, 0);
            }
            const std::string way = keys ? "Ctrl+O" : "the button";
            const std::size_t edits = edits_seen();
            check(choose_in_dialog(process.dwProcessId, keys ? L"c.psu" : L"\"a.psu\" \"b.psu\""),
                  "the Open dialog opened by " + way);
            for (DWORD waited = 0; edits_seen() == edits && waited < EDIT_WAIT_MS; waited += WAIT_STEP_MS) {
                wait_pumping(nullptr, WAIT_STEP_MS);
            }
            check_eq("requests to edit a report after " + way, edits + 1, edits_seen());
            std::string report;
            read_file(folder + L"\\report.txt", &report);
            for (const char* name : keys ? std::vector<const char*>{"c"} : std::vector<const char*>{"a", "b"}) {
                check(is_file(folder + L"\\gamedata_" + wide(name) + L".dat") &&
                          contains(report, "\\" + std::string(name) + ".psu\r\n" + bytes_in(932, u8"  都市名:")),
                      std::string(name) + ".psu converted and recorded, chosen by " + way);
            }
        }
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    unsigned long exit_code = 99;
    if (wait_exit(process.hProcess, EXIT_WAIT_MS, &exit_code)) {
        check_eq("exit code of melno2quaz.exe", 0ul, exit_code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// With COLOR_WINDOW black and COLOR_WINDOWTEXT white, the window is black
// with light lines.
void check_system_colours()
{
    const RowFrame frame("system colours");
    const INT elements[] = {COLOR_WINDOW, COLOR_WINDOWTEXT};
    const COLORREF before[] = {GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_WINDOWTEXT)};
    const COLORREF inverted[] = {RGB(0, 0, 0), RGB(255, 255, 255)};
    check(SetSysColors(2, elements, inverted) != FALSE, "SetSysColors");
    register_main_window_class(GetModuleHandleW(nullptr));
    HWND window = create_main_window(GetModuleHandleW(nullptr), SW_SHOWNORMAL);
    if (check(window != nullptr, "the main window created")) {
        wait_pumping(nullptr, 1000);
        RECT client{};
        GetClientRect(window, &client);
        MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
        const Pixels shot = capture(client);
        const int y = scale_to_dpi(INSTRUCTION_LINE_1_Y, window_dpi(window));
        check_eq("pixels not black above line 1", 0, count(shot, 0, 0, shot.width, y, [](std::uint32_t p) { return p != 0; }));
        const int lit = count(shot, 0, y, shot.width, 20, [](std::uint32_t p) { return !is_dark(p); });
        check(lit > 500, "line 1 light on black (" + std::to_string(lit) + " light pixels)");
        PostMessageW(window, WM_CLOSE, 0, 0);
        run_message_loop();
    }
    SetSysColors(2, elements, before);
}

// A save whose plain output name is read-only goes under _1 and the window
// names it; a drop while the batch runs is not taken.
void check_numbered_and_late_drop()
{
    const RowFrame frame("numbered name, and a drop during a batch");
    const std::wstring folder = work + L"\\numbered";
    SetFileAttributesW((folder + L"\\gamedata_ro.dat").c_str(), FILE_ATTRIBUTE_READONLY);
    std::vector<std::wstring> paths = batch_saves();
    paths.resize(4);
    paths.insert(paths.begin(), L"ro.psu");
    const std::vector<std::wstring> late = {L"late.psu"};
    const DropResult result = drop(folder, paths, &late);
    check_eq("requests to edit a report", 1u, result.seen.edits.size());
    check(contains(result.results, wide(u8"ro.psu → gamedata_ro_1.dat （番号付きの名前） / numbered name")) &&
              is_file(folder + L"\\gamedata_ro_1.dat"),
          "gamedata_ro_1.dat written and named in the window (it says \"" + one_line(result.results) + "\")");
    check(!is_file(folder + L"\\gamedata_late.dat"), "the drop during the batch not taken");
    SetFileAttributesW((folder + L"\\gamedata_ro.dat").c_str(), FILE_ATTRIBUTE_NORMAL);

    // A batch stopped by the Stop button, then another: the next batch is
    // not stopped.
    remove_outputs(folder);
    paths.erase(paths.begin());
    drop(folder, paths, nullptr, L"gamedata_s00.dat");
    check(!is_file(folder + L"\\gamedata_" + paths.back().substr(0, 3) + L".dat"), "the batch stopped");
    drop(folder, late);
    check(is_file(folder + L"\\gamedata_late.dat"), "the batch after a stopped one converts");
}

}  // namespace

int main()
{
    // The arguments as Unicode: names of folders need not fit the code page.
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> args(argv, argv + argc);
    LocalFree(argv);
    if (args.size() != 4 && args.size() != 5) {
        std::printf("usage: m2q_window_harness.exe WORK EXE_DIR CODE_PAGE [ROWS]\n");
        return 2;
    }
    only = args.size() == 5 ? utf8(args[4]) : std::string();
    SetProcessDPIAware();  // measures in pixels at every dpi
    work = full_path(args[1]);
    exe_dir = full_path(args[2]);
    const UINT code_page = static_cast<UINT>(std::stoul(args[3]));
    SetCurrentDirectoryW(work.c_str());

    watching = true;
    std::thread watcher(watch);
    check_eq("ANSI code page", code_page, GetACP());
    set_up_prefix();
    if (code_page == 932) {
        check_resources(exe_dir + L"\\melno2quaz.exe");
    }
    for (const Run& run : RUNS) {
        if (run.code_page == code_page && chosen(run.label)) {
            run_row(run);
        }
    }
    if (code_page == 932) {
        if (chosen("empty drop")) {
            check_empty_drop();
        }
        if (chosen("report.txt cannot be written")) {
            check_report_not_written();
        }
        if (chosen("numbered")) {
            check_numbered_and_late_drop();
        }
        if (chosen("system colours")) {
            check_system_colours();
        }
        if (chosen("Choose files")) {
            check_choose_files();
        }
        if (chosen("40 saves")) {
            for (StopBy how : {StopBy::NOTHING, StopBy::ESC, StopBy::STOP_BUTTON, StopBy::CLOSE}) {
                check_batch_beside_window(how);
            }
        }
    }
    if (code_page == 932 && chosen("benchmark")) {
        // A figure, not a check: the same batch through both programs in
        // turns; the median of the rounds' ratios, as the machine's pace
        // drifts between rounds.
        constexpr int ROUNDS = 15;
        std::vector<double> ratios;
        for (int round = 0; round < ROUNDS; ++round) {
            const double through_window = timed_batch(L"melno2quaz.exe");
            const double through_console = timed_batch(L"melno2quaz-cli.exe");
            if (through_window > 0 && through_console > 0) {
                ratios.push_back(through_window / through_console);
            }
            std::printf("benchmark round %d: files 2-40 and the report through melno2quaz.exe %.0f ms, "
                        "through melno2quaz-cli.exe %.0f ms\n",
                        round + 1, through_window, through_console);
        }
        std::sort(ratios.begin(), ratios.end());
        if (!ratios.empty()) {
            std::printf("benchmark: a 40-save batch through the window against the console program, median of "
                        "%zu rounds: ratio %.3f (rounds from %.3f to %.3f)\n",
                        ratios.size(), ratios[ratios.size() / 2], ratios.front(), ratios.back());
        }
    }
    // Later programs start at 96 dpi again.
    set_dword(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", 96);
    watching = false;
    watcher.join();
    std::printf("window harness, code page %u: %d checks, %d failed\n", code_page, checks, failures);
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
