// The commands of zelkctl: those on one port, over the same exchanges as the window, and
// those without a port.
#pragma once

#include "tools/zelkctl/plan.h"
#include "tools/zelkctl/request.h"

// Runs the request's command on its one port with its checked plan; returns the exit
// status.
int RunPortCommand(const Request& request, const Plan& plan);
// check: what write would write, without a port.
int CheckCommand(const Request& request, const Plan& plan);
// ports: the serial ports, without opening them unless --probe asks to.
int ListPorts(const Request& request);
