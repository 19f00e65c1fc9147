// Drives the real main window and melno2quaz.exe under Wine for
// scripts/test_wine.sh. Every Wine process start is costly where 32-bit
// code runs under emulation, so one run of the harness carries out a list
// of commands, in order:
//
//   setup              prepares the test's Wine prefix: the verb "edit" for
//                      text files, answered by the harness itself over DDE
//                      (no editor process to start), no window manager
//                      frame, a caption font with Japanese characters
//   resources EXE      the version fields Explorer shows, the manifest and
//                      the icon group of EXE
//   drop DIR LIST      in folder DIR, creates the window through the same
//                      code as WinMain and drops the files named in LIST
//                      (one path a line, raw bytes, relative to DIR, in
//                      drop order) with a genuine WM_DROPFILES; reports the
//                      report opened with "edit" and any message box, and
//                      closes the window
//   run DIR EXE ARG... starts EXE in DIR with ARGs (until the word "end"),
//                      reports the report opened with "edit" and any message
//                      box, waits for its window and prints where its title
//                      and lines are; then waits for DIR\shot.done (the
//                      script's screenshot), closes the window and prints
//                      the exit code
//
// Output lines are "key=value"; each command starts with "command=NAME".
// The exit code is 0 when every command could be carried out; the script
// judges what was seen.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <ddeml.h>
#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "main_window.h"
#include "window_texts.h"

namespace {

constexpr DWORD WAIT_STEP_MS = 100;
constexpr DWORD EDIT_WAIT_MS = 60000;
constexpr DWORD WINDOW_WAIT_MS = 300000;  // a program start under emulation
constexpr DWORD SHOT_WAIT_MS = 120000;
constexpr DWORD EXIT_WAIT_MS = 60000;
constexpr wchar_t DDE_SERVICE[] = L"M2QTestEditor";
constexpr wchar_t DDE_TOPIC[] = L"System";

std::string hex(const std::string& bytes)
{
    std::string out;
    char pair[4];
    for (unsigned char byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        out += pair;
    }
    return out;
}

std::string to_code_page(const std::wstring& text, UINT code_page)
{
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(code_page, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(code_page, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
    return out;
}

// Printed as UTF-8 on one line (line ends shown as " | ").
void print_text(const char* key, const std::wstring& text)
{
    std::string line = to_code_page(text, CP_UTF8);
    std::string flat;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\r') {
            continue;
        }
        flat += line[i] == '\n' ? std::string(" | ") : std::string(1, line[i]);
    }
    std::printf("%s=%s\n", key, flat.c_str());
}

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

BOOL CALLBACK close_message_box(HWND window, LPARAM /*context*/)
{
    wchar_t class_name[32] = L"";
    GetClassNameW(window, class_name, 32);
    if (lstrcmpW(class_name, L"#32770") != 0 || !IsWindowVisible(window)) {
        return TRUE;
    }
    wchar_t title[256] = L"";
    GetWindowTextW(window, title, 256);
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
        std::printf("error=DdeInitializeW failed\n");
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

// Waits until the report was asked to be edited or a message box was shown,
// or the time is up, then prints both.
void report_observed(DWORD wait_ms)
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
    std::printf("edit_requests=%u\n", static_cast<unsigned>(observed.edits.size()));
    for (const std::wstring& edit : observed.edits) {
        print_text("edit", edit);
    }
    std::printf("message_boxes=%u\n", static_cast<unsigned>(observed.boxes.size()));
    for (const std::wstring& box : observed.boxes) {
        print_text("message_box", box);
    }
}

// ---- commands ---------------------------------------------------------------------

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

int run_setup()
{
    // A default prefix knows no "edit" verb for text files. This one asks
    // the harness over DDE; Notepad is the command should no harness answer.
    const bool ok =
        set_value(HKEY_CLASSES_ROOT, L".txt", nullptr, L"txtfile") &&
        set_value(HKEY_CLASSES_ROOT, L"txtfile\\shell\\edit\\command", nullptr, L"notepad.exe \"%1\"") &&
        set_value(HKEY_CLASSES_ROOT, L"txtfile\\shell\\edit\\ddeexec", nullptr, L"[edit(\"%1\")]") &&
        set_value(HKEY_CLASSES_ROOT, L"txtfile\\shell\\edit\\ddeexec\\application", nullptr, DDE_SERVICE) &&
        set_value(HKEY_CLASSES_ROOT, L"txtfile\\shell\\edit\\ddeexec\\topic", nullptr, DDE_TOPIC) &&
        // Wine draws the window frame itself (there is no window manager),
        // and its caption in a font that has the title's characters.
        set_value(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", L"Decorated", L"N") &&
        set_value(HKEY_CURRENT_USER, L"Software\\Wine\\Fonts\\Replacements", L"Tahoma", L"IPAGothic");
    std::printf("setup=%d\n", ok ? 1 : 0);
    return ok ? 0 : 1;
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

int run_resources(const std::wstring& exe)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    std::vector<BYTE> info(size);
    if (size == 0 || !GetFileVersionInfoW(exe.c_str(), 0, size, info.data())) {
        std::printf("version_info=0\n");
        return 1;
    }
    std::printf("version_info=1\n");
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(info.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        std::printf("file_version=%u.%u.%u.%u\n", static_cast<unsigned>(HIWORD(fixed->dwFileVersionMS)),
                    static_cast<unsigned>(LOWORD(fixed->dwFileVersionMS)),
                    static_cast<unsigned>(HIWORD(fixed->dwFileVersionLS)),
                    static_cast<unsigned>(LOWORD(fixed->dwFileVersionLS)));
    }
    wchar_t block[16] = L"";
    if (VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length) && length >= 4) {
        const auto* translation = static_cast<const WORD*>(value);
        wsprintfW(block, L"%04x%04x", translation[0], translation[1]);
    }
    for (const wchar_t* name : {L"ProductName", L"ProductVersion", L"FileVersion", L"FileDescription"}) {
        print_text(to_code_page(name, CP_UTF8).c_str(), version_string(info, block, name));
    }

    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        std::printf("module=0\n");
        return 1;
    }
    HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    std::string text;
    if (manifest != nullptr) {
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, manifest)));
        text.assign(bytes, SizeofResource(module, manifest));
    }
    std::printf("manifest_bytes=%u\n", static_cast<unsigned>(text.size()));
    for (const char* item : {"asInvoker", "supportedOS", "dpiAware", "PerMonitorV2"}) {
        std::printf("manifest_%s=%d\n", item, text.find(item) != std::string::npos ? 1 : 0);
    }
    // The icon group: a GRPICONDIR (three WORDs, the count last) and one
    // 14-byte entry per image, width and height first.
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
    std::printf("icon_sizes=%s\n", sizes.c_str());
    FreeLibrary(module);
    return 0;
}

// The lines of a list file, CR LF or LF, as raw bytes.
bool read_list(const char* list_path, std::vector<std::string>* paths)
{
    std::ifstream in(list_path, std::ios::binary);
    if (!in) {
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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
            paths->push_back(line);
        }
        start = end + 1;
    }
    return true;
}

// An HDROP as the shell hands it over: a movable global block holding a
// DROPFILES header followed by the ANSI paths, each NUL-terminated, and a
// final NUL. DragFinish frees it.
HDROP make_drop(const std::vector<std::string>& paths)
{
    std::size_t size = sizeof(DROPFILES) + (paths.empty() ? 2 : 1);
    for (const std::string& path : paths) {
        size += path.size() + 1;
    }
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (memory == nullptr) {
        return nullptr;
    }
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->pt.x = 10;
    header->pt.y = 10;
    header->fNC = FALSE;
    header->fWide = FALSE;
    char* at = reinterpret_cast<char*>(header) + sizeof(DROPFILES);
    for (const std::string& path : paths) {
        std::memcpy(at, path.c_str(), path.size() + 1);
        at += path.size() + 1;
    }
    *at = '\0';
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

int run_drop(const char* list_path)
{
    std::vector<std::string> paths;
    if (!read_list(list_path, &paths)) {
        std::printf("error=cannot read %s\n", list_path);
        return 1;
    }
    HINSTANCE instance = GetModuleHandleW(nullptr);
    static bool registered = false;
    if (!registered && !register_main_window_class(instance)) {
        std::printf("error=class not registered\n");
        return 1;
    }
    registered = true;
    HWND window = create_main_window(instance, SW_SHOWNORMAL);
    if (window == nullptr) {
        std::printf("error=window not created\n");
        return 1;
    }
    std::printf("dropped=%u\n", static_cast<unsigned>(paths.size()));

    HDROP drop = make_drop(paths);
    // What the shell reports for this drop; the window asks the same.
    std::printf("drop_count=%u\n", DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0));
    clear_observed();
    PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);

    // The batch runs inside the dispatch of WM_DROPFILES.
    MSG message;
    bool dropped = false;
    while (!dropped && GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
        dropped = message.message == WM_DROPFILES && message.hwnd == window;
    }
    std::printf("drop_handled=%d\n", dropped ? 1 : 0);
    report_observed(EDIT_WAIT_MS);

    // Closing ends the loop WinMain runs, with the code of WM_QUIT.
    PostMessageW(window, WM_CLOSE, 0, 0);
    const int exit_code = run_message_loop();
    std::printf("loop_exit=%d\n", exit_code);
    std::printf("window_gone=%d\n", IsWindow(window) ? 0 : 1);
    return dropped ? 0 : 1;
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

// Measured as the window draws it: converted from code page 932, through
// the wide call, in the font selected into `dc`.
void print_extent(HDC dc, const char* key, const char* text, std::size_t length)
{
    std::wstring wide(length, L'\0');
    const int converted = MultiByteToWideChar(932, 0, text, static_cast<int>(length), &wide[0],
                                              static_cast<int>(length));
    wide.resize(converted > 0 ? static_cast<std::size_t>(converted) : 0);
    SIZE extent{0, 0};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
    std::printf("%s=%ld %ld\n", key, static_cast<long>(extent.cx), static_cast<long>(extent.cy));
}

void print_window(HWND window)
{
    wchar_t title[256] = L"";
    GetWindowTextW(window, title, 256);
    std::printf("title_sjis_hex=%s\n", hex(to_code_page(title, 932)).c_str());
    std::printf("class_style=0x%lx\n", static_cast<unsigned long>(GetClassLongPtrW(window, GCL_STYLE)));
    std::printf("window_style=0x%lx\n", static_cast<unsigned long>(GetWindowLongPtrW(window, GWL_STYLE)) &
                                            ~static_cast<unsigned long>(WS_VISIBLE | WS_CLIPSIBLINGS));
    std::printf("accepts_files=%d\n",
                (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0 ? 1 : 0);
    std::printf("code_page=%u\n", GetACP());

    RECT frame{};
    GetWindowRect(window, &frame);
    std::printf("window_rect=%ld %ld %ld %ld\n", static_cast<long>(frame.left),
                static_cast<long>(frame.top), static_cast<long>(frame.right - frame.left),
                static_cast<long>(frame.bottom - frame.top));
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    std::printf("client_rect=%ld %ld %ld %ld\n", static_cast<long>(origin.x),
                static_cast<long>(origin.y), static_cast<long>(client.right),
                static_cast<long>(client.bottom));

    // The two lines measured in the font the window paints them in, at its DPI.
    const UINT dpi = window_dpi(window);
    std::printf("dpi=%u\n", dpi);
    HDC dc = GetDC(window);
    HFONT font = create_instruction_font(dpi);
    HGDIOBJ previous = SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = L"";
    GetTextFaceW(dc, LF_FACESIZE, face);
    print_text("font_face", face);
    print_extent(dc, "line1_extent", INSTRUCTION_LINE_1, INSTRUCTION_LINE_1_LENGTH);
    print_extent(dc, "line2_extent", INSTRUCTION_LINE_2, INSTRUCTION_LINE_2_LENGTH);
    SelectObject(dc, previous);
    DeleteObject(font);
    ReleaseDC(window, dc);
    std::printf("line1_at=%d %d\n", scale_to_dpi(INSTRUCTION_X, dpi), scale_to_dpi(INSTRUCTION_LINE_1_Y, dpi));
    std::printf("line2_at=%d %d\n", scale_to_dpi(INSTRUCTION_X, dpi), scale_to_dpi(INSTRUCTION_LINE_2_Y, dpi));
}

int run_program(const std::wstring& folder, const std::wstring& exe, const std::vector<std::wstring>& arguments)
{
    std::wstring command_line = L"\"" + exe + L"\"";
    for (const std::wstring& argument : arguments) {
        command_line += L" \"" + argument + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    clear_observed();
    if (!CreateProcessW(exe.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &process)) {
        std::printf("error=cannot start the program (%lu)\n", GetLastError());
        return 1;
    }
    std::printf("started=1\n");
    if (!arguments.empty()) {
        report_observed(WINDOW_WAIT_MS);
    }
    HWND window = wait_for_main_window(process.hProcess);
    int code = 1;
    if (window == nullptr) {
        std::printf("error=no window of class %s\n", MAIN_WINDOW_CLASS);
    } else {
        wait_pumping(nullptr, 1000);  // the first paint reaches the screen
        print_window(window);
        std::printf("ready_for_screenshot=1\n");
        std::fflush(stdout);
        const std::wstring done = folder + L"\\shot.done";
        for (DWORD waited = 0; waited < SHOT_WAIT_MS; waited += WAIT_STEP_MS) {
            if (GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES) {
                break;
            }
            wait_pumping(nullptr, WAIT_STEP_MS);
        }
        PostMessageW(window, WM_CLOSE, 0, 0);
        code = 0;
    }
    DWORD exit_code = STILL_ACTIVE;
    if (wait_pumping(process.hProcess, EXIT_WAIT_MS)) {
        GetExitCodeProcess(process.hProcess, &exit_code);
        std::printf("program_exit=%lu\n", exit_code);
    } else {
        std::printf("error=the program did not end\n");
        TerminateProcess(process.hProcess, 99);
        code = 1;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

std::wstring full_path(const std::wstring& path)
{
    wchar_t out[1024] = L"";
    const DWORD length = GetFullPathNameW(path.c_str(), 1024, out, nullptr);
    return length > 0 && length < 1024 ? std::wstring(out) : path;
}

}  // namespace

int main()
{
    // DPI-aware, so that the windows it measures report their own pixels and DPI.
    SetProcessDPIAware();
    // The arguments as Unicode: names of files need not fit the code page.
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> args(argv, argv + argc);
    LocalFree(argv);

    const std::wstring start_folder = full_path(L".");
    watching = true;
    std::thread watcher(watch);
    int failures = 0;
    std::size_t i = 1;
    while (i < args.size()) {
        const std::wstring command = args[i++];
        std::printf("command=%s\n", to_code_page(command, CP_UTF8).c_str());
        int code = 2;
        if (command == L"setup") {
            code = run_setup();
        } else if (command == L"resources" && i + 1 <= args.size()) {
            code = run_resources(full_path(args[i++]));
        } else if (command == L"drop" && i + 2 <= args.size()) {
            const std::wstring folder = full_path(args[i++]);
            const std::wstring list = full_path(args[i++]);
            if (SetCurrentDirectoryW(folder.c_str())) {
                code = run_drop(to_code_page(list, CP_ACP).c_str());
            }
            SetCurrentDirectoryW(start_folder.c_str());
        } else if (command == L"run" && i + 2 <= args.size()) {
            const std::wstring folder = full_path(args[i++]);
            const std::wstring exe = full_path(args[i++]);
            std::vector<std::wstring> arguments;
            while (i < args.size() && args[i] != L"end") {
                arguments.push_back(args[i++]);
            }
            ++i;
            code = run_program(folder, exe, arguments);
        } else {
            std::printf("error=unknown command or missing arguments\n");
            i = args.size();
        }
        std::printf("command_result=%d\n", code);
        std::fflush(stdout);
        failures += code != 0;
    }
    watching = false;
    watcher.join();
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
