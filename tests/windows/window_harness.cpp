// Drives the real main window under Wine for scripts/test_wine.sh.
//
//   window_harness drop LIST     creates the window through the same code as
//                                WinMain, drops the files named in LIST (one
//                                path a line, raw bytes, in drop order) with
//                                a genuine WM_DROPFILES, waits for the editor
//                                to show report.txt, closes the window and
//                                prints what it saw
//   window_harness locate        waits for a running melno2quaz.exe window
//                                and prints its class, style, geometry and
//                                where its two text lines go
//   window_harness close         asks that window to close (WM_CLOSE)
//   window_harness edit-report   ShellExecuteA(edit, report.txt) and its result
//
// Output lines are "key=value"; the exit code is 0 when everything the
// harness itself can judge went as expected.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "main_window.h"
#include "window_texts.h"

namespace {

constexpr DWORD WAIT_STEP_MS = 100;
constexpr DWORD EDITOR_WAIT_MS = 30000;
constexpr DWORD WINDOW_WAIT_MS = 30000;

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

void pump_messages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

struct EditorSearch {
    HWND found;
    std::string title;
};

BOOL CALLBACK find_editor(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<EditorSearch*>(context);
    char class_name[64] = "";
    GetClassNameA(window, class_name, sizeof class_name);
    char title[512] = "";
    GetWindowTextA(window, title, sizeof title);
    if (std::strcmp(class_name, "Notepad") == 0 && IsWindowVisible(window) &&
        std::strstr(title, REPORT_FILE_NAME) != nullptr) {
        search->found = window;
        search->title = title;
        return FALSE;
    }
    return TRUE;
}

// Waits for a text editor window showing report.txt, keeping our own
// window responsive meanwhile.
EditorSearch wait_for_editor()
{
    EditorSearch search{nullptr, {}};
    for (DWORD waited = 0; waited < EDITOR_WAIT_MS; waited += WAIT_STEP_MS) {
        pump_messages();
        EnumWindows(find_editor, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            break;
        }
        Sleep(WAIT_STEP_MS);
    }
    return search;
}

int run_drop(const char* list_path)
{
    std::vector<std::string> paths;
    if (!read_list(list_path, &paths)) {
        std::printf("error=cannot read %s\n", list_path);
        return 2;
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!register_main_window_class(instance)) {
        std::printf("error=class not registered\n");
        return 2;
    }
    HWND window = create_main_window(instance, SW_SHOWNORMAL);
    if (window == nullptr) {
        std::printf("error=window not created\n");
        return 2;
    }
    std::printf("dropped=%u\n", static_cast<unsigned>(paths.size()));

    HDROP drop = make_drop(paths);
    // What the shell reports for this drop; the window asks the same.
    std::printf("drop_count=%u\n", DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0));
    PostMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);

    // The batch runs inside the dispatch of WM_DROPFILES.
    MSG message;
    bool dropped = false;
    while (!dropped && GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
        dropped = message.message == WM_DROPFILES && message.hwnd == window;
    }
    std::printf("drop_handled=%d\n", dropped ? 1 : 0);

    const EditorSearch editor = wait_for_editor();
    std::printf("editor_title_hex=%s\n", hex(editor.title).c_str());
    std::printf("editor=%d\n", editor.found != nullptr ? 1 : 0);
    if (editor.found != nullptr) {
        PostMessageA(editor.found, WM_CLOSE, 0, 0);
    }

    // Closing ends the loop WinMain runs, with the code of WM_QUIT.
    PostMessageA(window, WM_CLOSE, 0, 0);
    const int exit_code = run_message_loop();
    std::printf("loop_exit=%d\n", exit_code);
    std::printf("window_gone=%d\n", IsWindow(window) ? 0 : 1);
    return dropped && editor.found != nullptr && exit_code == 0 && !IsWindow(window) ? 0 : 1;
}

HWND wait_for_main_window()
{
    for (DWORD waited = 0; waited < WINDOW_WAIT_MS; waited += WAIT_STEP_MS) {
        HWND window = FindWindowA(MAIN_WINDOW_CLASS, nullptr);
        if (window != nullptr && IsWindowVisible(window)) {
            return window;
        }
        Sleep(WAIT_STEP_MS);
    }
    return nullptr;
}

void print_extent(HDC dc, const char* key, const char* text, std::size_t length)
{
    SIZE extent{0, 0};
    GetTextExtentPoint32A(dc, text, static_cast<int>(length), &extent);
    std::printf("%s=%ld %ld\n", key, static_cast<long>(extent.cx), static_cast<long>(extent.cy));
}

int run_locate()
{
    HWND window = wait_for_main_window();
    if (window == nullptr) {
        std::printf("error=no window of class %s\n", MAIN_WINDOW_CLASS);
        return 1;
    }
    // Give the first paint time to reach the screen.
    Sleep(1000);

    char title[256] = "";
    GetWindowTextA(window, title, sizeof title);
    std::printf("title_hex=%s\n", hex(title).c_str());
    std::printf("class_style=0x%lx\n", static_cast<unsigned long>(GetClassLongPtrA(window, GCL_STYLE)));
    std::printf("window_style=0x%lx\n", static_cast<unsigned long>(GetWindowLongPtrA(window, GWL_STYLE)) &
                                            ~static_cast<unsigned long>(WS_VISIBLE | WS_CLIPSIBLINGS));
    std::printf("window_exstyle_client_edge=%d\n",
                (GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0 ? 1 : 0);
    std::printf("accepts_files=%d\n",
                (GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0 ? 1 : 0);

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

    // The window paints with its device context's default font, so the
    // same context measures the two lines.
    HDC dc = GetDC(window);
    print_extent(dc, "line1_extent", INSTRUCTION_LINE_1, INSTRUCTION_LINE_1_LENGTH);
    print_extent(dc, "line2_extent", INSTRUCTION_LINE_2, INSTRUCTION_LINE_2_LENGTH);
    ReleaseDC(window, dc);
    std::printf("line1_at=%d %d\n", INSTRUCTION_X, INSTRUCTION_LINE_1_Y);
    std::printf("line2_at=%d %d\n", INSTRUCTION_X, INSTRUCTION_LINE_2_Y);
    return 0;
}

int run_close()
{
    HWND window = wait_for_main_window();
    if (window == nullptr) {
        std::printf("error=no window of class %s\n", MAIN_WINDOW_CLASS);
        return 1;
    }
    PostMessageA(window, WM_CLOSE, 0, 0);
    std::printf("closed=1\n");
    return 0;
}

int run_edit_report()
{
    const HINSTANCE result =
        ShellExecuteA(nullptr, REPORT_VERB, REPORT_FILE_NAME, nullptr, nullptr, SW_SHOWNORMAL);
    std::printf("shell_execute=%ld\n", static_cast<long>(reinterpret_cast<INT_PTR>(result)));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    int code = 2;
    if (mode == "drop" && argc == 3) {
        code = run_drop(argv[2]);
    } else if (mode == "locate" && argc == 2) {
        code = run_locate();
    } else if (mode == "close" && argc == 2) {
        code = run_close();
    } else if (mode == "edit-report" && argc == 2) {
        code = run_edit_report();
    } else {
        std::fprintf(stderr, "usage: window_harness drop LIST | locate | close | edit-report\n");
    }
    std::fflush(stdout);
    return code;
}
