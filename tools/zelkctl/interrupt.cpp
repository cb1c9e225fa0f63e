#include "tools/zelkctl/interrupt.h"

#include <csignal>
#include <cstdlib>

#include "core/link/command_mode.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

volatile std::sig_atomic_t caught = 0;

extern "C" void OnStopSignal(int signal) {
    caught = signal;
    exchangeStopRequested = 1;
}

#ifdef _WIN32
// The number a closed console stands for, as POSIX numbers the hang-up: scripts know 129.
constexpr int kHangUp = 1;

// Windows tells a console program of Ctrl+C, Ctrl+Break and its console window closing (or
// the session ending) on a thread of its own. The first two stop it as SIGINT and SIGTERM
// do elsewhere. After a closing Windows ends the process as soon as the handler returns, so
// the handler waits, for the few seconds Windows grants, until the program has finished
// the command on the wire, left command mode and said so.
HANDLE finished = nullptr;

void SayFinished() {
    SetEvent(finished);
}

BOOL WINAPI ConsoleEventHandler(DWORD event) {
    return OnConsoleEvent(event) != 0 ? TRUE : FALSE;
}
#endif

}  // namespace

#ifdef _WIN32
int OnConsoleEvent(unsigned long event) {
    switch (event) {
        case CTRL_C_EVENT:
            OnStopSignal(SIGINT);
            return 1;
        case CTRL_BREAK_EVENT:
            OnStopSignal(SIGTERM);
            return 1;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            OnStopSignal(kHangUp);
            WaitForSingleObject(finished, 4500);
            return 1;
        default:
            return 0;
    }
}
#endif

void CatchStopSignals() {
    // A run starts with no stop pending, whatever an earlier one in this process caught.
    caught = 0;
    exchangeStopRequested = 0;
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
#ifdef SIGHUP
    std::signal(SIGHUP, OnStopSignal);
#endif
#ifdef _WIN32
    if (finished == nullptr) {
        finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::atexit(SayFinished);
        SetConsoleCtrlHandler(ConsoleEventHandler, TRUE);
    }
#endif
}

int StopSignal() {
    return caught;
}

const char* StopSignalName() {
#ifdef _WIN32
    switch (caught) {
        case SIGINT:
            return "Ctrl+C";
        case SIGTERM:
            return "Ctrl+Break";
        case kHangUp:
            return "the closing of its console";
        default:
            return "a signal";
    }
#else
    switch (caught) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a signal";
    }
#endif
}

int StopStatus() {
    return 128 + caught;
}
