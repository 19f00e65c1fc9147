// melno2quaz.exe: a window that converts the Melno saves dropped onto it.
#include "main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/, int show)
{
    if (!register_main_window_class(instance)) {
        return 0;
    }
    if (create_main_window(instance, show) == nullptr) {
        return 0;
    }
    return run_message_loop();
}
