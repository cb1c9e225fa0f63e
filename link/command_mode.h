// Command-mode framing shared by every exchange with the module.
#pragma once

#include <cstdint>

// 1 when the module answered the escape with the prompt; 0 after the failure has been
// reported to the user (and, if the escape went out, command mode has been left).
int EnterCommandMode();
// 1 when the module acknowledged the last command with the prompt.
int WaitForPrompt();
// "ATO\n" for product index 4 or 5, "ATX\n" otherwise.
void LeaveCommandMode(uint8_t productIndex);
