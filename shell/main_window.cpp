#include "main_window.h"

#include <array>

#include "drop_handler.h"
#include "resource_ids.h"
#include "wide_text.h"
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

// The client area at 96 dpi: MAIN_WINDOW_WIDTH x MAIN_WINDOW_HEIGHT less
// the frame at 96 dpi. Where only the system DPI's frame is known, that
// frame scaled to 96 dpi stands for it (exact at 96 dpi).
SIZE base_client_size()
{
    SIZE frame = frame_size(BASE_DPI);
    const UINT system = system_dpi();
    if (adjust_for_dpi_call() == nullptr && system != BASE_DPI) {
        frame.cx = MulDiv(frame.cx, BASE_DPI, static_cast<int>(system));
        frame.cy = MulDiv(frame.cy, BASE_DPI, static_cast<int>(system));
    }
    return SIZE{MAIN_WINDOW_WIDTH - frame.cx, MAIN_WINDOW_HEIGHT - frame.cy};
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

// Draws a Shift-JIS line through the wide call, so that it reads the same
// on every system code page.
void draw_line(HDC dc, int x, int y, const char* text, std::size_t length)
{
    std::array<wchar_t, TEXT_CAPACITY> wide{};
    const int wide_length = sjis_to_wide(text, length, wide.data(), wide.size());
    if (wide_length > 0) {
        TextOutW(dc, x, y, wide.data(), wide_length);
    }
}

LRESULT on_create(HWND window)
{
    SetWindowLongW(window, LAYOUT_DPI_INDEX, static_cast<LONG>(monitor_dpi(window)));
    DragAcceptFiles(window, TRUE);
    return 0;
}

LRESULT on_paint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    SetTextColor(dc, RGB(0, 0, 0));
    const UINT dpi = window_dpi(window);
    HFONT font = create_instruction_font(dpi);
    HGDIOBJ previous = font != nullptr ? SelectObject(dc, font) : nullptr;
    const int x = scale_to_dpi(INSTRUCTION_X, dpi);
    draw_line(dc, x, scale_to_dpi(INSTRUCTION_LINE_1_Y, dpi), INSTRUCTION_LINE_1,
              INSTRUCTION_LINE_1_LENGTH);
    draw_line(dc, x, scale_to_dpi(INSTRUCTION_LINE_2_Y, dpi), INSTRUCTION_LINE_2,
              INSTRUCTION_LINE_2_LENGTH);
    if (font != nullptr) {
        SelectObject(dc, previous);
        DeleteObject(font);
    }
    EndPaint(window, &paint);
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
// system suggests and is painted again at the new scale.
LRESULT on_dpi_changed(HWND window, UINT dpi, const RECT* suggested)
{
    SetWindowLongW(window, LAYOUT_DPI_INDEX, static_cast<LONG>(dpi));
    SetWindowPos(window, nullptr, suggested->left, suggested->top,
                 suggested->right - suggested->left, suggested->bottom - suggested->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(window, nullptr, TRUE);
    return 0;
}

LRESULT on_drop_files(HWND window, HDROP drop)
{
    handle_dropped_files(window, drop);
    return 0;
}

LRESULT on_close(HWND window)
{
    DestroyWindow(window);
    return 0;
}

LRESULT on_destroy()
{
    PostQuitMessage(0);
    return 0;
}

}  // namespace

LRESULT CALLBACK main_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE:
        return on_create(window);
    case WM_PAINT:
        return on_paint(window);
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
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
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
    MSG message{};
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
