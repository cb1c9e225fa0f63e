// Command-mode framing shared by every exchange with the module, and how an exchange
// ends. Nothing here shows anything: the caller tells the user.
#pragma once

#include <csignal>
#include <cstdint>

#include "core/params/parameter_set.h"

enum class Exchange : uint8_t {
    Done,
    NotConnected,     // the port is not open; nothing was sent
    NoPrompt,         // the module did not answer the escape with ">"
    NoReply,          // the reply did not come, or did not come whole
    NotAcknowledged,  // a set command was not acknowledged with ">"
    DeviceGone,       // the device went away (unplugged, hung up); the port must be closed
    Stopped,          // stopped on request between two commands; command mode was left
};

// How the module answered a command.
enum class Answer : uint8_t {
    Prompt,      // ">", the acknowledgement
    Other,       // something else first, such as an error text
    Silence,     // nothing within the time allowed
    DeviceGone,  // the device went away
};

// Set, from a signal handler say, to stop a write at the next point where the module is in
// a known state: after the command on the wire has been answered, leaving command mode.
// The window never sets it; the command line does on SIGINT, SIGTERM and SIGHUP.
extern volatile std::sig_atomic_t exchangeStopRequested;

// Brings the module into command mode. Done when it answered the escape with the prompt;
// otherwise, if the escape went out, command mode has already been left again.
Exchange EnterCommandMode(ProductSeries series);
// How the module answered the last command: only a reply that starts with ">" counts.
Answer WaitForPrompt();
// Sends the series' leave command, "ATX\n" or "ATO\n".
void LeaveCommandMode(ProductSeries series);

// Sends a command; false when the device has gone.
bool SendCommand(const char* text, int length);
// Bytes received and not yet read; negative when the device has gone.
int WaitingBytes();
