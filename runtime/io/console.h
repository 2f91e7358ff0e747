// The console a command-line run talks to: whether a stream is a terminal
// (so a progress line can be redrawn in place), the interrupt key, and on
// Windows the parent's console for a program built for the GUI subsystem.
// console_posix.cpp and console_win32.cpp implement exactly these.
#pragma once

#include <cstdio>

namespace rt {

// True when `stream` (standard output or error) is an interactive terminal.
bool ConsoleIsTerminal(FILE* stream);

// Calls `handler` when the user presses Ctrl+C (or the session asks the
// program to end): from a signal handler or a system thread, so it may only
// set a flag. Pressing again calls it again. Null restores the default.
void ConsoleOnInterrupt(void (*handler)());

// Connects standard input, output and error to the console of the process
// that started this one, when this one has none of its own (a Windows GUI
// program started from a shell). True when the streams lead somewhere.
bool ConsoleAttachParent();

}  // namespace rt
