// Command-mode framing shared by every exchange with the module, and how an exchange
// ends. Nothing here shows anything: the caller tells the user.
#pragma once

#include <cstdint>

#include "params/parameter_set.h"

enum class Exchange : uint8_t {
    Done,
    NotConnected,     // the port is not open; nothing was sent
    NoPrompt,         // the module did not answer the escape with ">"
    NoReply,          // the reply did not come, or did not come whole
    NotAcknowledged,  // a set command was not acknowledged with ">"
};

// Brings the module into command mode. Done when it answered the escape with the prompt;
// otherwise, if the escape went out, command mode has already been left again.
Exchange EnterCommandMode(ProductSeries series);
// True when the module acknowledged the last command with the prompt.
bool WaitForPrompt();
// "ATO\n" for the M5 and K8 series, "ATX\n" for the others.
void LeaveCommandMode(ProductSeries series);
