// The batch's progress on the window's taskbar button, where the system
// offers it (Windows 7 on); nothing elsewhere.
#ifndef MELNO2QUAZ_TASKBAR_PROGRESS_H
#define MELNO2QUAZ_TASKBAR_PROGRESS_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>

// Shows `done` of `count` files on the button; `count` 0 takes the
// progress off it.
void show_taskbar_progress(HWND window, std::size_t done, std::size_t count);

#endif
