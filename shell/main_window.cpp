#include "main_window.h"

#include <array>

#include "drop_handler.h"
#include "resource_ids.h"
#include "wide_text.h"
#include "window_texts.h"

namespace {

constexpr std::size_t TEXT_CAPACITY = 64;  // wide characters of a title or line

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

HFONT create_instruction_font()
{
    LOGFONTW font{};
    font.lfHeight = 18;
    font.lfWidth = 8;
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = SHIFTJIS_CHARSET;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    lstrcpynW(font.lfFaceName, L"System", LF_FACESIZE);
    return CreateFontIndirectW(&font);
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
    DragAcceptFiles(window, TRUE);
    return 0;
}

LRESULT on_paint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    SetTextColor(dc, RGB(0, 0, 0));
    HFONT font = create_instruction_font();
    HGDIOBJ previous = font != nullptr ? SelectObject(dc, font) : nullptr;
    draw_line(dc, INSTRUCTION_X, INSTRUCTION_LINE_1_Y, INSTRUCTION_LINE_1, INSTRUCTION_LINE_1_LENGTH);
    draw_line(dc, INSTRUCTION_X, INSTRUCTION_LINE_2_Y, INSTRUCTION_LINE_2, INSTRUCTION_LINE_2_LENGTH);
    if (font != nullptr) {
        SelectObject(dc, previous);
        DeleteObject(font);
    }
    EndPaint(window, &paint);
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
    case WM_DROPFILES:
        return on_drop_files(window, reinterpret_cast<HDROP>(wparam));
    case WM_CLOSE:
        return on_close(window);
    case WM_DESTROY:
        return on_destroy();
    case WM_COMMAND:
    case WM_INITMENU:
        return 0;
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
    window_class.cbWndExtra = 0;
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
    HWND window = CreateWindowExW(0, MAIN_WINDOW_CLASS_WIDE, title.data(), WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, MAIN_WINDOW_WIDTH,
                                  MAIN_WINDOW_HEIGHT, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return nullptr;
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
