// melno2quaz.exe: a window that converts the Melno saves dropped onto it,
// and those named on its command line (dropped onto its icon, or sent to
// it) as soon as it opens.
#include "command_line_files.h"
#include "main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/, int show)
{
    if (!register_main_window_class(instance)) {
        return 0;
    }
    HWND window = create_main_window(instance, show);
    if (window == nullptr) {
        return 0;
    }
    PathListOwner named;
    const CommandLinePaths paths = command_line_paths(&named.list);
    if (paths != NO_COMMAND_LINE_FILE) {
        convert_paths(window, paths == COMMAND_LINE_FILES, &named.list);
    }
    return run_message_loop();
}
