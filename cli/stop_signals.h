// Stopping a batch from outside: SIGINT, SIGTERM and SIGHUP on POSIX;
// Ctrl+C, Ctrl+Break and closing the console on Windows. The first one asks
// the batch to stop after the file in hand; a second one during the stop
// ends the program at once.
#ifndef MELNO2QUAZ_STOP_SIGNALS_H
#define MELNO2QUAZ_STOP_SIGNALS_H

#include <atomic>

// Sets `*stop` when the first such signal or console event arrives (the
// flag lives as long as the program).
void stop_on_signals(std::atomic<bool>* stop);

// The exit status for a batch so stopped: 128 + the signal's number on
// POSIX (130, 143, 129), STATUS_CONTROL_C_EXIT on Windows; 0 when nothing
// stopped it.
int stopped_exit_status();

#endif
