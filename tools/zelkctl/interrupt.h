// SIGINT, SIGTERM and SIGHUP stop zelkctl where the module is in a known state: the command
// on the wire is finished and answered, command mode is left, the port closed, and what
// was written is said. Until then the signal only sets a flag.
#pragma once

// Catches the three signals; each sets the exchanges' stop flag and is remembered.
void CatchStopSignals();
// The signal caught, or 0.
int StopSignal();
// "SIGINT", for a message.
const char* StopSignalName();
// The exit status a stop by that signal ends with: 128 plus its number.
int StopStatus();
