#include "stop_signals.h"

#include <csignal>
#include <initializer_list>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <signal.h>
#endif

namespace {

static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

std::atomic<bool>* g_stop = nullptr;
volatile std::sig_atomic_t g_stopped_by = 0;  // the signal or console event, plus one

#ifdef _WIN32

// Ends the program as a console interrupt does.
constexpr DWORD INTERRUPTED_EXIT = 0xC000013A;  // STATUS_CONTROL_C_EXIT

// Runs on a thread of its own. For Ctrl+C and Ctrl+Break the batch goes on
// to the end of the file in hand. For the console's closing the system ends
// the program when this returns, so it waits here while the batch finishes
// and the program ends by itself (the system allows a few seconds).
BOOL WINAPI on_console_event(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    if (g_stop->exchange(true)) {
        ExitProcess(INTERRUPTED_EXIT);
    }
    g_stopped_by = static_cast<std::sig_atomic_t>(event + 1);
    if (event == CTRL_CLOSE_EVENT) {
        Sleep(INFINITE);
    }
    return TRUE;
}

#else

extern "C" void on_stop_signal(int signal_number)
{
    if (g_stop->exchange(true)) {
        // A second signal: what a kill would do.
        std::signal(signal_number, SIG_DFL);
        std::raise(signal_number);
        return;
    }
    g_stopped_by = signal_number + 1;
}

#endif

}  // namespace

void stop_on_signals(std::atomic<bool>* stop)
{
    g_stop = stop;
#ifdef _WIN32
    SetConsoleCtrlHandler(on_console_event, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    action.sa_flags = SA_RESTART;  // the file in hand's reads and writes go on
    sigemptyset(&action.sa_mask);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        // One ignored when the program started (nohup, a background job of
        // a script) stays ignored.
        struct sigaction before {};
        if (sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            sigaction(signal_number, &action, nullptr);
        }
    }
#endif
}

int stopped_exit_status()
{
    if (g_stopped_by == 0) {
        return 0;
    }
#ifdef _WIN32
    return static_cast<int>(INTERRUPTED_EXIT);
#else
    return 128 + (g_stopped_by - 1);
#endif
}
