#include "main_window.h"

#include "drop_handler.h"
#include "window_texts.h"

namespace {

// Shared system images at their default size; nothing to free.
HANDLE load_shared_image(LPCSTR name, UINT type)
{
    return LoadImageA(nullptr, name, type, 0, 0, LR_SHARED | LR_DEFAULTSIZE);
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
    TextOutA(dc, INSTRUCTION_X, INSTRUCTION_LINE_1_Y, INSTRUCTION_LINE_1,
             static_cast<int>(INSTRUCTION_LINE_1_LENGTH));
    TextOutA(dc, INSTRUCTION_X, INSTRUCTION_LINE_2_Y, INSTRUCTION_LINE_2,
             static_cast<int>(INSTRUCTION_LINE_2_LENGTH));
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
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

bool register_main_window_class(HINSTANCE instance)
{
    HICON icon = static_cast<HICON>(load_shared_image(IDI_APPLICATION, IMAGE_ICON));

    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = main_window_procedure;
    window_class.cbClsExtra = 0;
    window_class.cbWndExtra = 0;
    window_class.hInstance = instance;
    window_class.hIcon = icon;
    window_class.hCursor = static_cast<HCURSOR>(load_shared_image(IDC_ARROW, IMAGE_CURSOR));
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    window_class.lpszMenuName = nullptr;
    window_class.lpszClassName = MAIN_WINDOW_CLASS;
    window_class.hIconSm = icon;
    return RegisterClassExA(&window_class) != 0;
}

HWND create_main_window(HINSTANCE instance, int show)
{
    HWND window = CreateWindowExA(0, MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE, WS_OVERLAPPEDWINDOW,
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
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
