// The console program on Windows: its arguments as Windows gives them, and
// its text on a console of any code page.
#ifndef MELNO2QUAZ_WINDOWS_CONSOLE_H
#define MELNO2QUAZ_WINDOWS_CONSOLE_H

#include <string>
#include <vector>

// The arguments after the program's name, from the wide command line, in
// UTF-8 (the core's paths). Empty when the command line cannot be read.
std::vector<std::string> windows_arguments();

// Writes UTF-8 text to standard output: as UTF-16 to a console, whatever its
// code page; as Shift-JIS (code page 932, '?' for what it lacks) to a file or
// a pipe, like report.txt. False when the write failed.
bool windows_write_output(const std::string& utf8);

#endif
