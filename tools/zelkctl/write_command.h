// zelkctl write: the module's register list read and checked, the file and --set laid over
// it and checked against what the series offers or the module holds, an ID from the
// counter, the window's write exchange, and the read back of --verify.
#pragma once

#include "tools/zelkctl/plan.h"
#include "tools/zelkctl/request.h"

int WriteCommand(const Request& request, const Plan& plan);
