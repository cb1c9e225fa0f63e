// Reading the register list from the module.
#pragma once

#include <cstddef>

#include "core/link/command_mode.h"

// Enters command mode, sends "AT/L", collects the register list into configText (with a
// terminating zero; its length in *length) and leaves command mode. Done when the list
// ended with ">" or filled the 300 characters a reply may have.
Exchange ReadRegisterList(ProductSeries series, std::size_t* length);
