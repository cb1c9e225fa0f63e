#include "tools/zelkctl/zelkctl.h"

#include <QCoreApplication>
#include <cstdio>
#include <memory>

#include "runtime/serial/serial_ports.h"
#include "tools/zelkctl/commands.h"
#include "tools/zelkctl/interrupt.h"
#include "tools/zelkctl/output.h"
#include "tools/zelkctl/parallel.h"
#include "tools/zelkctl/plan.h"
#include "tools/zelkctl/request.h"

namespace {

bool verbose = false;

void SayStep(const char* step) {
    if (verbose) {
        Say(std::string("step: ") + step);
    }
}

// Help and the version go to stdout; one that cannot be written is a failure too.
int Answer(const std::string& text) {
    const bool written = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
    if (!written) {
        std::perror("zelkctl: cannot write to standard output");
        return kExitFile;
    }
    return kExitDone;
}

int RunOnOnePort(const Request& request) {
    Plan plan;
    int status = CheckRequest(request, &plan);
    if (status != kExitDone || request.command == Command::Check) {
        return status == kExitDone ? CheckCommand(request, plan) : status;
    }
    const std::string trace =
        request.trace.empty() ? std::string() : ForPort(request.trace, request.ports.front());
    if (!trace.empty() && ComTraceTo(trace.c_str()) != 0) {
        return Failure(kExitFile, "cannot write the trace " + trace);
    }
    verbose = request.verbose;
    ComStepListener(SayStep);
    status = RunPortCommand(request, plan);
    ComStepListener(nullptr);
    ComTraceTo("");
    return status;
}

int Run(const Request& request, const std::vector<std::string>& arguments) {
    CatchStopSignals();
    if (request.ports.size() > 1) {
        return RunOnEveryPort(request, arguments);
    }
    BeginOutput(request, request.ports.empty() ? std::string() : request.ports.front().label);
    if (request.command == Command::Ports) {
        return EndOutput(ListPorts(request));
    }
    return EndOutput(RunOnOnePort(request));
}

}  // namespace

int RunZelkctl(int argc, char** argv) {
    // QtCore only: the port, the files and the child processes need no window system.
    std::unique_ptr<QCoreApplication> application;
    if (QCoreApplication::instance() == nullptr) {
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    const std::vector<std::string> arguments(argv, argv + argc);
    const CommandLine line = ParseCommandLine(arguments);
    switch (line.kind) {
        case CommandLine::Kind::Help:
            return Answer(line.text);
        case CommandLine::Kind::Version:
            return Answer(std::string("zelkctl ") + ZELK_VERSION + "\n");
        case CommandLine::Kind::Usage:
            std::fprintf(stderr, "zelkctl: %s (see zelkctl help)\n", line.text.c_str());
            return kExitUsage;
        case CommandLine::Kind::Run:
            break;
    }
    return Run(line.request, arguments);
}
