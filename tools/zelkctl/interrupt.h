// SIGINT, SIGTERM and SIGHUP stop zelkctl where the module is in a known state: the command
// on the wire is finished and answered, command mode is left, the port closed, and what
// was written is said. Until then the signal only sets a flag. On Windows, Ctrl+C,
// Ctrl+Break and the console window's closing stand for the three, exit statuses included.
#pragma once

// Catches the three signals (on Windows the console's three events too); each sets the
// exchanges' stop flag and is remembered.
void CatchStopSignals();
// The signal caught, or 0.
int StopSignal();
// "SIGINT" ("Ctrl+C" on Windows), for a message.
const char* StopSignalName();
// The exit status a stop by that signal ends with: 128 plus its number.
int StopStatus();

#ifdef _WIN32
// What a console event (CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT...) does; Windows
// calls it on a thread of its own once CatchStopSignals has run. Nonzero when it stops the
// program; after a closing it returns only once the program has ended, or after 4.5 s.
int OnConsoleEvent(unsigned long event);
#endif
