// The firmware version query.
#pragma once

#include <cstddef>

#include "core/link/command_mode.h"

constexpr std::size_t kMaxVersionLength = 99;

// Enters command mode, asks for the version and leaves again. Done when the reply ended
// with ">" or filled its 99 characters; reply then holds the text before the prompt.
Exchange QueryFirmwareVersion(ProductSeries series, char (&reply)[kMaxVersionLength + 1]);
