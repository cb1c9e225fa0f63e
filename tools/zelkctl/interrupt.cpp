#include "tools/zelkctl/interrupt.h"

#include <csignal>

#include "core/link/command_mode.h"

namespace {

volatile std::sig_atomic_t caught = 0;

extern "C" void OnStopSignal(int signal) {
    caught = signal;
    exchangeStopRequested = 1;
}

}  // namespace

void CatchStopSignals() {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
#ifdef SIGHUP
    std::signal(SIGHUP, OnStopSignal);
#endif
}

int StopSignal() {
    return caught;
}

const char* StopSignalName() {
    switch (caught) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
#ifdef SIGHUP
        case SIGHUP:
            return "SIGHUP";
#endif
        default:
            return "a signal";
    }
}

int StopStatus() {
    return 128 + caught;
}
