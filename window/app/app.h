// The application shell: start-up, the event loop and quitting.
#pragma once

#include <optional>

extern int quitFlag;

int QuitCallBack(int panel, int control, int event, void* callbackData, int eventData1,
                 int eventData2);

// Registers every control callback of the program under its name, for LoadPanel, with
// what the program relies on in each control of the panel file, for LoadPanel to check.
void RegisterProgramCallbacks();

// Start-up up to the first display of the panel: 0 when the panel is up, -1 when the
// runtime cannot start or the panel file cannot be loaded.
int StartZelkConfig(int argc, char** argv);
// Dispatches user events until QuitCallBack sets quitFlag.
void RunEventLoop();
// Releases the port and the panel; returns the exit status of a normal quit.
int StopZelkConfig();

// Answers --help and --version on stdout, before and without the user interface, so that
// they need no display: the exit status when one of them was asked for, nothing when the
// program should start.
std::optional<int> AnswerCommandLine(int argc, char** argv);

// Starts the wire trace that --trace FILE asks for; false, after one line on stderr, when
// the file cannot be written.
bool StartTraceFromCommandLine(int argc, char** argv);

// The command line first, then all three in a row; returns the process exit status.
int RunZelkConfig(int argc, char** argv);
