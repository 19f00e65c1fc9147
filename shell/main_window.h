// The main window: its class, its creation, its controls and the message
// loop, shared by WinMain and by the test program that drives the window
// under Wine.
#ifndef MELNO2QUAZ_MAIN_WINDOW_H
#define MELNO2QUAZ_MAIN_WINDOW_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "path_list.h"

// The main window's controls. The two instruction lines, the progress line
// and the result lines are static controls, so that screen readers read
// them.
enum MainWindowControl : int {
    CONTROL_LINE_1 = 101,
    CONTROL_LINE_2 = 102,
    CONTROL_CHOOSE = 110,    // "Choose files…", also Ctrl+O
    CONTROL_STOP = 111,      // "Stop", also Esc
    CONTROL_PROGRESS = 120,  // the progress bar: files done of the batch
    CONTROL_PROGRESS_LINE = 121,  // "k / n  name" of the file in hand
    CONTROL_RESULTS = 122,   // the last batch's outcome, kept until the next
};

// Registers the window class "cnvtmelnotoquaz" (wide, so that the title
// and the lines read the same on every code page), with the program's own
// icon where the module has one. False on failure.
bool register_main_window_class(HINSTANCE instance);

// Creates the main window, shows it with `show` and paints it once. Null on
// failure.
HWND create_main_window(HINSTANCE instance, int show);

// Gets, translates and dispatches messages until the quit message (or an
// error) and returns the wParam of the last message retrieved. Ctrl+O and
// Esc reach the main window's commands; Tab, Enter and Space work on its
// buttons as in a dialog.
int run_message_loop();

// Converts the paths as one batch beside the window (a drop, the Open
// dialog, the command line), taking the list over. While it runs the
// window takes no drop and shows its progress; afterwards it keeps the
// outcome and opens report.txt with the verb "edit". False, the list kept,
// when a batch runs already.
bool begin_window_batch(HWND window, PathList* paths);

// The paths of a drop, the Open dialog or the command line: a batch when
// they were `taken`, else a message that nothing was converted for want of
// memory.
void convert_paths(HWND window, bool taken, PathList* paths);

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
