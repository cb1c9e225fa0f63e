#include "core/link/command_mode.h"

#include <algorithm>
#include <cstdio>

#include "core/link/connection.h"
#include "core/product/series.h"
#include "runtime/serial/serial_ports.h"
#include "runtime/timing/clock.h"

volatile std::sig_atomic_t exchangeStopRequested = 0;

namespace {

constexpr int kEscapeCharacter = '+';
constexpr int kPrompt = '>';
constexpr int kCarriageReturn = 13;

// The module answers the escape within a few characters; 60 polls leave room for a slow
// one without freezing the window for more than three seconds.
constexpr int kEscapePolls = 60;
constexpr double kEscapePollInterval = 0.05;
// A set command is acknowledged at once; a second is plenty.
constexpr int kPromptPolls = 50;
constexpr double kPromptPollInterval = 0.02;
// After a failed escape the module may sit in the middle of a line: a pause, a lone
// carriage return to end whatever it took as a command, and a pause before leaving.
constexpr double kBeforeCarriageReturn = 0.3;
constexpr double kAfterCarriageReturn = 0.1;

// Each wait starts from now, never from an earlier mark: the module needs the silence
// itself, not a point on a schedule.
void Wait(double seconds) {
    SyncWait(Timer(), seconds);
}

// The module recognises "+" as part of the escape only after a silence of its own guard
// time, which is a few character times; slow lines need a longer silence.
double GuardTime(uint32_t baudRate) {
    if (baudRate < 1200) {
        return 0.3;
    }
    if (baudRate < 2400) {
        return 0.2;
    }
    return 0.1;
}

}  // namespace

Exchange EnterCommandMode(ProductSeries series) {
    if (!connection.connected) {
        return Exchange::NotConnected;
    }

    ComTraceStep("escape");
    const int port = connection.comPort;
    FlushInQ(port);
    FlushOutQ(port);

    const double guardTime = GuardTime(connection.comBaudRate);
    const char escape = kEscapeCharacter;
    for (int i = 0; i < 3; ++i) {
        Wait(guardTime);
        if (!SendCommand(&escape, 1)) {
            return Exchange::DeviceGone;
        }
    }

    // One byte per poll: a line break in front of the prompt is normal, but a module that
    // chatters for the whole polling time is taken as not answering.
    for (int poll = 0; poll < kEscapePolls; ++poll) {
        Wait(kEscapePollInterval);
        const int waiting = WaitingBytes();
        if (waiting < 0) {
            return Exchange::DeviceGone;
        }
        if (waiting > 0 && ComRdByte(port) == kPrompt) {
            FlushInQ(port);
            FlushOutQ(port);
            return Exchange::Done;
        }
    }

    ComTraceStep("escape not answered: carriage return");
    Wait(kBeforeCarriageReturn);
    const char carriageReturn = kCarriageReturn;
    if (!SendCommand(&carriageReturn, 1)) {
        return Exchange::DeviceGone;
    }
    Wait(kAfterCarriageReturn);
    LeaveCommandMode(series);
    return Exchange::NoPrompt;
}

Answer WaitForPrompt() {
    const int port = connection.comPort;
    Answer answer = Answer::Silence;
    for (int poll = 0; poll < kPromptPolls; ++poll) {
        Wait(kPromptPollInterval);
        const int waiting = WaitingBytes();
        if (waiting < 0) {
            return Answer::DeviceGone;
        }
        if (waiting > 0) {
            // Only a reply that starts with the prompt counts; an echo or status text is
            // dropped whole, so that its own prompt cannot be taken for an acknowledgement.
            const int byte = ComRdByte(port);
            FlushInQ(port);
            if (byte == kPrompt) {
                return Answer::Prompt;
            }
            answer = Answer::Other;
        }
    }
    return answer;
}

void LeaveCommandMode(ProductSeries series) {
    // Which command returns a module to data mode depends on its firmware family.
    const char* command = ProfileOf(series).leaveCommand;
    char step[4];
    std::snprintf(step, sizeof step, "%.3s", command);
    ComTraceStep(step);
    SendCommand(command, 4);
}

bool SendCommand(const char* text, int length) {
    return ComWrt(connection.comPort, text, length) != RS232_DEVICE_GONE;
}

int WaitingBytes() {
    const int waiting = GetInQLen(connection.comPort);
    return waiting == RS232_DEVICE_GONE ? -1 : std::max(waiting, 0);
}
