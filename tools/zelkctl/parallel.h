// A command on several ports at once: one zelkctl process per port (the exchanges keep
// their state in program-wide records), started after the whole request has been checked,
// their lines passed on as they come, stop signals passed on to each, and one summary.
#pragma once

#include <string>
#include <vector>

#include "tools/zelkctl/request.h"

int RunOnEveryPort(const Request& request, const std::vector<std::string>& arguments);
