#include "main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "drop_handler.h"
#include "open_dialog.h"
#include "resource_ids.h"
#include "taskbar_progress.h"
#include "wide_text.h"
#include "window_batch.h"
#include "window_texts.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

namespace {

constexpr std::size_t TEXT_CAPACITY = 64;  // wide characters of a title or line
constexpr DWORD WINDOW_STYLE = WS_OVERLAPPEDWINDOW;
constexpr int BASE_DPI = 96;  // the DPI the window's sizes are given at
// The window's extra bytes: the DPI it is laid out at (see window_dpi).
constexpr int LAYOUT_DPI_INDEX = 0;

// Newer user32 calls, looked up at run time so that the program still
// starts on systems without them. Null where missing.
using GetDpiForWindowCall = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiCall = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
using ChangeWindowMessageFilterExCall = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);  // Windows 7 on
using ChangeWindowMessageFilterCall = BOOL(WINAPI*)(UINT, DWORD);                // Vista

template <typename Call>
Call user32_call(const char* name)
{
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    FARPROC address = user32 != nullptr ? GetProcAddress(user32, name) : nullptr;
    return reinterpret_cast<Call>(reinterpret_cast<void*>(address));
}

// The screen's device context, released when it goes out of scope.
struct ScreenDc {
    HDC dc = GetDC(nullptr);
    ScreenDc() = default;
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    ~ScreenDc()
    {
        if (dc != nullptr) {
            ReleaseDC(nullptr, dc);
        }
    }
};

UINT system_dpi()
{
    const ScreenDc screen;
    const int dpi = screen.dc != nullptr ? GetDeviceCaps(screen.dc, LOGPIXELSY) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : BASE_DPI;
}

// AdjustWindowRectExForDpi (Windows 10 1607 on), null before.
AdjustWindowRectExForDpiCall adjust_for_dpi_call()
{
    static const auto call = user32_call<AdjustWindowRectExForDpiCall>("AdjustWindowRectExForDpi");
    return call;
}

// How much wider and taller the window is than its client area, at `dpi`
// where the system can tell (Windows 10 1607 on); before that, the frame
// the system draws, that of the system DPI.
SIZE frame_size(UINT dpi)
{
    const AdjustWindowRectExForDpiCall adjust_for_dpi = adjust_for_dpi_call();
    RECT rect{0, 0, 0, 0};
    if (adjust_for_dpi == nullptr || !adjust_for_dpi(&rect, WINDOW_STYLE, FALSE, 0, dpi)) {
        rect = RECT{0, 0, 0, 0};
        AdjustWindowRectEx(&rect, WINDOW_STYLE, FALSE, 0);
    }
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

// The client area at 96 dpi: MAIN_WINDOW_WIDTH less the frame at 96 dpi,
// MAIN_WINDOW_CLIENT_HEIGHT. Where only the system DPI's frame is known,
// that frame scaled to 96 dpi stands for it (exact at 96 dpi).
SIZE base_client_size()
{
    SIZE frame = frame_size(BASE_DPI);
    const UINT system = system_dpi();
    if (adjust_for_dpi_call() == nullptr && system != BASE_DPI) {
        frame.cx = MulDiv(frame.cx, BASE_DPI, static_cast<int>(system));
    }
    return SIZE{MAIN_WINDOW_WIDTH - frame.cx, MAIN_WINDOW_CLIENT_HEIGHT};
}

// The window's outer size at `dpi`: the 96-dpi client area scaled, and the
// frame at that DPI around it, so that the client area scales exactly
// whatever the frame does.
SIZE window_size(UINT dpi)
{
    const SIZE client = base_client_size();
    const SIZE frame = frame_size(dpi);
    return SIZE{scale_to_dpi(client.cx, dpi) + frame.cx, scale_to_dpi(client.cy, dpi) + frame.cy};
}

// Shared images at their default size; nothing to free.
HANDLE load_shared_image(HINSTANCE instance, LPCWSTR name, UINT type)
{
    return LoadImageW(instance, name, type, 0, 0, LR_SHARED | LR_DEFAULTSIZE);
}

// The program's own icon at the size of the given system metrics; the
// system's application icon where the module has none.
HICON load_icon(HINSTANCE instance, int width_metric, int height_metric)
{
    HANDLE icon = LoadImageW(instance, MAKEINTRESOURCEW(APPLICATION_ICON_ID), IMAGE_ICON,
                             GetSystemMetrics(width_metric), GetSystemMetrics(height_metric),
                             LR_SHARED);
    if (icon == nullptr) {
        icon = load_shared_image(nullptr, MAKEINTRESOURCEW(32512) /* IDI_APPLICATION */,
                                 IMAGE_ICON);
    }
    return static_cast<HICON>(icon);
}

}  // namespace

int scale_to_dpi(int value, UINT dpi)
{
    return MulDiv(value, static_cast<int>(dpi), BASE_DPI);
}

namespace {

// The DPI of the monitor the window is on where the system tells it, else
// the system DPI.
UINT monitor_dpi(HWND window)
{
    static const auto get_dpi_for_window = user32_call<GetDpiForWindowCall>("GetDpiForWindow");
    if (window != nullptr && get_dpi_for_window != nullptr) {
        const UINT dpi = get_dpi_for_window(window);
        if (dpi > 0) {
            return dpi;
        }
    }
    return system_dpi();
}

}  // namespace

UINT window_dpi(HWND window)
{
    const LONG laid_out = window != nullptr ? GetWindowLongW(window, LAYOUT_DPI_INDEX) : 0;
    return laid_out > 0 ? static_cast<UINT>(laid_out) : monitor_dpi(window);
}

namespace {

// The cell height (ascent and descent) of `font`; 0 when it cannot be told.
int cell_height(HFONT font)
{
    const ScreenDc screen;
    if (screen.dc == nullptr || font == nullptr) {
        return 0;
    }
    HGDIOBJ previous = SelectObject(screen.dc, font);
    TEXTMETRICW metrics{};
    const BOOL measured = GetTextMetricsW(screen.dc, &metrics);
    SelectObject(screen.dc, previous);
    return measured ? static_cast<int>(metrics.tmHeight) : 0;
}

}  // namespace

HFONT create_instruction_font(UINT dpi)
{
    LOGFONTW font{};
    const int height = scale_to_dpi(18, dpi);
    font.lfHeight = height;
    font.lfWidth = scale_to_dpi(8, dpi);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = SHIFTJIS_CHARSET;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    lstrcpynW(font.lfFaceName, L"System", LF_FACESIZE);
    HFONT created = CreateFontIndirectW(&font);
    // The rasterizer rounds ascent and descent each, so a scaled request can
    // come out a pixel short or tall (23, at 120 dpi, gives 22 in one
    // Japanese font, 24 gives 23); asked again with the difference, the
    // lines get the scaled height where the font has it (that one has no
    // 36: 35, then 37), else the first font stays.
    const int got = cell_height(created);
    if (got > 0 && got != height) {
        font.lfHeight = height + (height - got);
        HFONT corrected = CreateFontIndirectW(&font);
        if (corrected != nullptr && cell_height(corrected) == height) {
            DeleteObject(created);
            return corrected;
        }
        if (corrected != nullptr) {
            DeleteObject(corrected);
        }
    }
    return created;
}

namespace {

// What the window keeps besides its DPI: the font of its controls, and
// whether it is to close when the running batch ends. One main window a
// process.
struct WindowState {
    HWND window = nullptr;
    HFONT font = nullptr;
    bool stopping = false;
    bool closing = false;
    BatchProgress shown{};  // the progress as last shown
};
// While a batch runs, the window looks at its progress ten times a second.
constexpr UINT_PTR PROGRESS_TIMER = 1;
constexpr UINT PROGRESS_INTERVAL_MS = 100;
WindowState g_state;

// A control, at 96 dpi: where it is and what it is.
struct ControlPlace {
    MainWindowControl id;
    const wchar_t* window_class;
    DWORD style;
    int x, y, width, height;  // width 0: to CONTENT_RIGHT
};
constexpr int CONTENT_RIGHT = 448;
constexpr int LINE_HEIGHT = 24;
constexpr int LINE_WIDTH = MAIN_WINDOW_WIDTH - INSTRUCTION_X;  // to the window's edge: line 1 ends there
constexpr int RESULT_LINES = 5;
constexpr DWORD TEXT_STYLE = WS_CHILD | WS_VISIBLE | SS_NOPREFIX;
constexpr DWORD BUTTON_STYLE = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
// The two lines where they were always drawn; the controls below them.
const ControlPlace CONTROLS[] = {
    {CONTROL_LINE_1, L"STATIC", TEXT_STYLE | SS_LEFTNOWORDWRAP, INSTRUCTION_X, INSTRUCTION_LINE_1_Y, LINE_WIDTH,
     LINE_HEIGHT},
    {CONTROL_LINE_2, L"STATIC", TEXT_STYLE | SS_LEFTNOWORDWRAP, INSTRUCTION_X, INSTRUCTION_LINE_2_Y, LINE_WIDTH,
     LINE_HEIGHT},
    {CONTROL_CHOOSE, L"BUTTON", BUTTON_STYLE, INSTRUCTION_X, CONTROLS_TOP, 264, 28},
    {CONTROL_STOP, L"BUTTON", BUTTON_STYLE | WS_DISABLED, 304, CONTROLS_TOP, 0, 28},
    {CONTROL_PROGRESS, PROGRESS_CLASSW, WS_CHILD | WS_VISIBLE, INSTRUCTION_X, CONTROLS_TOP + 38, 0, 16},
    {CONTROL_PROGRESS_LINE, L"STATIC", TEXT_STYLE | SS_LEFTNOWORDWRAP, INSTRUCTION_X, CONTROLS_TOP + 60, 0,
     LINE_HEIGHT},
    {CONTROL_RESULTS, L"STATIC", TEXT_STYLE | SS_LEFT, INSTRUCTION_X, CONTROLS_TOP + 88, 0,
     LINE_HEIGHT * RESULT_LINES},
};

HWND control(HWND window, MainWindowControl id)
{
    return GetDlgItem(window, id);
}

// Sets a control's text from Shift-JIS, through the wide call.
void set_sjis_text(HWND window, MainWindowControl id, const char* text)
{
    std::array<wchar_t, 256> wide{};
    sjis_to_wide(text, std::strlen(text), wide.data(), wide.size());
    SetWindowTextW(control(window, id), wide.data());
}

// Places every control at the window's DPI, in the font of that DPI.
void lay_out_controls(HWND window)
{
    const UINT dpi = window_dpi(window);
    HFONT font = create_instruction_font(dpi);
    for (const ControlPlace& place : CONTROLS) {
        HWND child = control(window, place.id);
        const int width = place.width != 0 ? place.width : CONTENT_RIGHT - place.x;
        SetWindowPos(child, nullptr, scale_to_dpi(place.x, dpi), scale_to_dpi(place.y, dpi),
                     scale_to_dpi(width, dpi), scale_to_dpi(place.height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    if (g_state.font != nullptr) {
        DeleteObject(g_state.font);
    }
    g_state.font = font;
    InvalidateRect(window, nullptr, TRUE);
}

// Drops from Explorer reach the window even when it runs elevated: the
// messages of a drop are let in from lower integrity levels.
void allow_drops_from_lower_levels(HWND window)
{
    constexpr DWORD ALLOW = 1;            // MSGFLT_ALLOW, MSGFLT_ADD
    constexpr UINT COPY_GLOBAL_DATA = 0x0049;  // carries the drop's data
    static const auto filter_ex = user32_call<ChangeWindowMessageFilterExCall>("ChangeWindowMessageFilterEx");
    static const auto filter = user32_call<ChangeWindowMessageFilterCall>("ChangeWindowMessageFilter");
    for (const UINT message : {static_cast<UINT>(WM_DROPFILES), static_cast<UINT>(WM_COPYDATA), COPY_GLOBAL_DATA}) {
        if (filter_ex != nullptr) {
            filter_ex(window, message, ALLOW, nullptr);
        } else if (filter != nullptr) {
            filter(message, ALLOW);
        }
    }
}

LRESULT on_create(HWND window)
{
    SetWindowLongW(window, LAYOUT_DPI_INDEX, static_cast<LONG>(monitor_dpi(window)));
    g_state = WindowState{};
    g_state.window = window;
    INITCOMMONCONTROLSEX common{sizeof common, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&common);
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
    for (const ControlPlace& place : CONTROLS) {
        CreateWindowExW(0, place.window_class, L"", place.style, 0, 0, 0, 0, window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(place.id)), instance, nullptr);
    }
    set_sjis_text(window, CONTROL_LINE_1, INSTRUCTION_LINE_1);
    set_sjis_text(window, CONTROL_LINE_2, INSTRUCTION_LINE_2);
    set_sjis_text(window, CONTROL_CHOOSE, CHOOSE_BUTTON_TEXT);
    set_sjis_text(window, CONTROL_STOP, STOP_BUTTON_TEXT);
    lay_out_controls(window);
    DragAcceptFiles(window, TRUE);
    allow_drops_from_lower_levels(window);
    show_taskbar_progress(window, 0, 0);  // the taskbar list made now, not during a batch
    prepare_window_batches();
    return 0;
}

// The static controls in the system's window colours (white and black in
// the default theme; a high-contrast theme's own).
LRESULT on_color_static(HDC dc)
{
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
}

void show_progress(HWND window)
{
    BatchProgress progress;
    window_batch_progress(&progress);
    g_state.shown = progress;
    SendMessageW(control(window, CONTROL_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(progress.done), 0);
    show_taskbar_progress(window, progress.done, progress.count);
    if (g_state.stopping) {
        set_sjis_text(window, CONTROL_PROGRESS_LINE, STOPPING_TEXT);
        return;
    }
    std::array<wchar_t, MAX_PATH + 64> line{};
    std::array<char, 64> counts{};
    const bool running = window_batch_running() && progress.in_hand > progress.done;
    std::snprintf(counts.data(), counts.size(), running ? "%lu / %lu  " : "%lu / %lu",
                  static_cast<unsigned long>(running ? progress.in_hand : progress.done),
                  static_cast<unsigned long>(progress.count));
    sjis_to_wide(counts.data(), std::strlen(counts.data()), line.data(), line.size());
    if (running) {
        append_wide(line.data(), line.size(), progress.name);
    }
    SetWindowTextW(control(window, CONTROL_PROGRESS_LINE), line.data());
}

void show_progress_if_changed(HWND window)
{
    BatchProgress progress;
    window_batch_progress(&progress);
    if (progress.in_hand != g_state.shown.in_hand || progress.done != g_state.shown.done) {
        show_progress(window);
    }
}

// Buttons and drops as a batch starts or ends.
void set_running(HWND window, bool running)
{
    HWND focus = GetFocus();
    DragAcceptFiles(window, running ? FALSE : TRUE);
    EnableWindow(control(window, CONTROL_STOP), running ? TRUE : FALSE);
    EnableWindow(control(window, CONTROL_CHOOSE), running ? FALSE : TRUE);
    if (focus == nullptr || focus == window || !IsWindowEnabled(focus)) {
        SetFocus(control(window, running ? CONTROL_STOP : CONTROL_CHOOSE));
    }
}

void stop_batch(HWND window)
{
    if (window_batch_running() && !g_state.stopping) {
        stop_window_batch();
        g_state.stopping = true;
        show_progress(window);
    }
}

// Shows `text` in a message box over the window.
void show_message(HWND window, const wchar_t* text)
{
    std::array<wchar_t, 64> title{};
    sjis_to_wide(MAIN_WINDOW_TITLE, MAIN_WINDOW_TITLE_LENGTH, title.data(), title.size());
    MessageBoxW(window, text, title.data(), MB_OK | MB_ICONWARNING);
}

// Opens report.txt with the verb "edit".
void open_report(HWND window)
{
    ShellExecuteW(window, REPORT_VERB_WIDE, REPORT_FILE_NAME_WIDE, nullptr, nullptr, SW_SHOWNORMAL);
}

void choose_and_convert(HWND window)
{
    if (window_batch_running()) {
        return;
    }
    PathListOwner chosen;
    const ChosenFiles choice = choose_files(window, &chosen.list);
    if (choice != NOTHING_CHOSEN) {
        convert_paths(window, choice == FILES_CHOSEN, &chosen.list);
    }
}

LRESULT on_command(HWND window, int id)
{
    if (id == IDOK) {
        // Enter on a focused button presses it.
        const HWND focus = GetFocus();
        id = focus != nullptr && GetParent(focus) == window ? GetDlgCtrlID(focus) : 0;
    }
    switch (id) {
    case CONTROL_CHOOSE:
        choose_and_convert(window);
        break;
    case CONTROL_STOP:
    case IDCANCEL:
        stop_batch(window);
        break;
    default:
        break;
    }
    return 0;
}

LRESULT on_batch_done(HWND window)
{
    std::array<wchar_t, 4096> results{};
    const bool report_written = finish_window_batch(results.data(), results.size());
    if (g_state.closing) {
        DestroyWindow(window);
        return 0;
    }
    KillTimer(window, PROGRESS_TIMER);
    g_state.stopping = false;
    show_progress(window);
    show_taskbar_progress(window, 0, 0);
    SetWindowTextW(control(window, CONTROL_RESULTS), results.data());
    set_running(window, false);
    if (report_written) {
        open_report(window);
    }
    return 0;
}

// Before the window moves to a monitor of another DPI (Windows 10 1703 on):
// its size there, so that its client area scales exactly.
LRESULT on_get_dpi_scaled_size(UINT dpi, SIZE* size)
{
    *size = window_size(dpi);
    return TRUE;
}

// The window moved to a monitor of another DPI: it takes the rectangle the
// system suggests and lays its controls out again at the new scale.
LRESULT on_dpi_changed(HWND window, UINT dpi, const RECT* suggested)
{
    SetWindowLongW(window, LAYOUT_DPI_INDEX, static_cast<LONG>(dpi));
    SetWindowPos(window, nullptr, suggested->left, suggested->top,
                 suggested->right - suggested->left, suggested->bottom - suggested->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    lay_out_controls(window);
    return 0;
}

// While a batch runs the window is no drop target; a drop that still
// arrives is let go.
LRESULT on_drop_files(HWND window, HDROP drop)
{
    if (window_batch_running()) {
        DragFinish(drop);
        return 0;
    }
    PathListOwner dropped;
    convert_paths(window, take_dropped_paths(drop, &dropped.list), &dropped.list);
    return 0;
}

// Closing during a batch stops it after the file in hand; the window goes
// when the batch has ended (the report is written, not opened).
LRESULT on_close(HWND window)
{
    if (window_batch_running()) {
        g_state.closing = true;
        stop_batch(window);
    } else {
        DestroyWindow(window);
    }
    return 0;
}

LRESULT on_destroy()
{
    if (g_state.font != nullptr) {
        DeleteObject(g_state.font);
    }
    g_state = WindowState{};
    PostQuitMessage(0);
    return 0;
}

}  // namespace

LRESULT CALLBACK main_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE:
        return on_create(window);
    case WM_CTLCOLORSTATIC:
        return on_color_static(reinterpret_cast<HDC>(wparam));
    case WM_COMMAND:
        return on_command(window, LOWORD(wparam));
    case WM_SYSCOLORCHANGE:
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        return 0;
    case WM_TIMER:
        if (wparam == PROGRESS_TIMER) {
            show_progress_if_changed(window);
        }
        return 0;
    case WM_BATCH_DONE:
        return on_batch_done(window);
    case WM_GETDPISCALEDSIZE:
        return on_get_dpi_scaled_size(static_cast<UINT>(wparam), reinterpret_cast<SIZE*>(lparam));
    case WM_DPICHANGED:
        return on_dpi_changed(window, HIWORD(wparam), reinterpret_cast<const RECT*>(lparam));
    case WM_DROPFILES:
        return on_drop_files(window, reinterpret_cast<HDROP>(wparam));
    case WM_CLOSE:
        return on_close(window);
    case WM_DESTROY:
        return on_destroy();
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

bool register_main_window_class(HINSTANCE instance)
{
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = main_window_procedure;
    window_class.cbClsExtra = 0;
    window_class.cbWndExtra = sizeof(LONG);  // LAYOUT_DPI_INDEX
    window_class.hInstance = instance;
    window_class.hIcon = load_icon(instance, SM_CXICON, SM_CYICON);
    window_class.hCursor = static_cast<HCURSOR>(
        load_shared_image(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */, IMAGE_CURSOR));
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    window_class.lpszMenuName = nullptr;
    window_class.lpszClassName = MAIN_WINDOW_CLASS_WIDE;
    window_class.hIconSm = load_icon(instance, SM_CXSMICON, SM_CYSMICON);
    return RegisterClassExW(&window_class) != 0;
}

HWND create_main_window(HINSTANCE instance, int show)
{
    std::array<wchar_t, TEXT_CAPACITY> title{};
    sjis_to_wide(MAIN_WINDOW_TITLE, MAIN_WINDOW_TITLE_LENGTH, title.data(), title.size());
    // Sized for the system DPI, then for the DPI of the monitor it opened on.
    const SIZE size = window_size(window_dpi(nullptr));
    HWND window = CreateWindowExW(0, MAIN_WINDOW_CLASS_WIDE, title.data(), WINDOW_STYLE,
                                  CW_USEDEFAULT, CW_USEDEFAULT, size.cx, size.cy, nullptr,
                                  nullptr, instance, nullptr);
    if (window == nullptr) {
        return nullptr;
    }
    const SIZE sized = window_size(window_dpi(window));
    if (sized.cx != size.cx || sized.cy != size.cy) {
        SetWindowPos(window, nullptr, 0, 0, sized.cx, sized.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ShowWindow(window, show);
    UpdateWindow(window);
    return window;
}

int run_message_loop()
{
    ACCEL keys[] = {{FVIRTKEY | FCONTROL, 'O', CONTROL_CHOOSE}, {FVIRTKEY, VK_ESCAPE, CONTROL_STOP}};
    HACCEL accelerators = CreateAcceleratorTableW(keys, 2);
    MSG message{};
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            break;
        }
        HWND window = g_state.window;
        if (window != nullptr && (message.hwnd == window || IsChild(window, message.hwnd)) &&
            ((accelerators != nullptr && TranslateAcceleratorW(window, accelerators, &message)) ||
             IsDialogMessageW(window, &message))) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (accelerators != nullptr) {
        DestroyAcceleratorTable(accelerators);
    }
    return static_cast<int>(message.wParam);
}

void convert_paths(HWND window, bool taken, PathList* paths)
{
    if (taken) {
        begin_window_batch(window, paths);
        return;
    }
    // The paths could not be taken for want of memory: nothing was converted.
    std::array<wchar_t, 2048> text{};
    for (const char* sjis : {PATHS_NOT_TAKEN_JAPANESE, PATHS_NOT_TAKEN_ENGLISH}) {
        std::array<wchar_t, 1024> line{};
        sjis_to_wide(sjis, std::strlen(sjis), line.data(), line.size());
        append_wide(text.data(), text.size(), line.data());
        append_wide(text.data(), text.size(), L"\r\n");
    }
    show_message(window, text.data());
}

bool begin_window_batch(HWND window, PathList* paths)
{
    const std::size_t count = paths->count;
    if (!start_window_batch(window, paths)) {
        return false;
    }
    g_state.stopping = false;
    set_running(window, true);
    // The bar's range is the batch's count, set once; show_progress moves it.
    SendMessageW(control(window, CONTROL_PROGRESS), PBM_SETRANGE32, 0, static_cast<LPARAM>(count));
    set_sjis_text(window, CONTROL_RESULTS, DROP_LATER_TEXT);
    show_progress(window);
    SetTimer(window, PROGRESS_TIMER, PROGRESS_INTERVAL_MS, nullptr);
    return true;
}
