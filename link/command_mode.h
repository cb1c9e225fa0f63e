// Command-mode framing shared by every exchange with the module.
//
// An exchange: the caller turns the busy cursor on (SetWaitCursor(1)), calls
// EnterCommandMode, sends its commands, leaves command mode, turns the busy cursor off and
// shows its closing popup. EnterCommandMode turns the busy cursor off itself before any
// popup it shows.
#pragma once

#include <cstdint>

// 1 when the module answered the escape with the prompt; 0 after the failure has been
// reported to the user (and, if the escape went out, command mode has been left).
int EnterCommandMode();
// 1 when the module acknowledged the last command with the prompt.
int WaitForPrompt();
// "ATO\n" for product index 4 or 5, "ATX\n" otherwise.
void LeaveCommandMode(uint8_t productIndex);

// The closing popups that several exchanges share: the port is not open, and the module
// did not answer as it should.
void ReportNotConnected();
void ReportCommunicationError();
