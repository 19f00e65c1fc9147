// The main window: its class, its creation and the message loop, shared by
// WinMain and by the test program that drives the window under Wine.
#ifndef MELNO2QUAZ_MAIN_WINDOW_H
#define MELNO2QUAZ_MAIN_WINDOW_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Registers the window class "cnvtmelnotoquaz" (wide, so that the title
// and the lines read the same on every code page), with the program's own
// icon where the module has one. False on failure.
bool register_main_window_class(HINSTANCE instance);

// Creates the main window, shows it with `show` and paints it once. Null on
// failure.
HWND create_main_window(HINSTANCE instance, int show);

// Gets, translates and dispatches messages until the quit message (or an
// error) and returns the wParam of the last message retrieved.
int run_message_loop();

// The DPI the main window is laid out and painted at: that of the monitor
// it opened on (GetDpiForWindow, Windows 10 1607 on; the system DPI
// before), then the one each WM_DPICHANGED announces (8.1 on). Kept in the
// window, so that other programs read the same. Null: the system DPI.
UINT window_dpi(HWND window);

// `value`, given at 96 dpi, at `dpi`.
int scale_to_dpi(int value, UINT dpi);

// The font the two lines are drawn in: the system font of a Japanese
// Windows (code page 932), 18 pixels high, 8 wide at 96 dpi (scaled to
// `dpi`), Shift-JIS character set.
// There it is the device context's default font; elsewhere the default font
// has no Japanese characters, and this request gets one that has them, so
// the lines look the same on every system. The caller deletes it.
HFONT create_instruction_font(UINT dpi);

// The window procedure of the class.
LRESULT CALLBACK main_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

#endif
