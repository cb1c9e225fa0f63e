#include "core/params/read.h"

#include <cstdint>

#include "core/link/connection.h"
#include "core/params/config_text.h"
#include "runtime/serial/serial_ports.h"
#include "runtime/timing/clock.h"

namespace {

// The longest register list the module sends is well below this; a reply that reaches it
// is taken as it is, and whatever follows is thrown away.
constexpr std::size_t kMaxReplyLength = 300;
constexpr int kMaxPollCycles = 80;
// Cycles without a byte after which the module is taken to have nothing more to say.
constexpr int kMaxIdleCycles = 6;

// One poll interval lets a few characters arrive at the line's rate; slow lines get
// longer intervals so that a reply in progress is not mistaken for silence.
double PollInterval(uint32_t baudRate) {
    if (baudRate > 1200) {
        return 0.05;
    }
    if (baudRate > 300) {
        return 0.1;
    }
    return 0.15;
}

// Collects the register list into configText: Done when it ended with ">" or filled the
// reply's 300 characters.
Exchange CollectRegisterList(std::size_t* length) {
    const int port = connection.comPort;
    const double interval = PollInterval(connection.comBaudRate);
    std::size_t stored = 0;
    int idleCycles = 0;
    bool complete = false;
    configText[0] = '\0';

    for (int cycle = 0; cycle < kMaxPollCycles; ++cycle) {
        int waiting = 0;
        while (!complete && (waiting = WaitingBytes()) > 0) {
            const int byte = ComRdByte(port);
            if (byte < 0) {
                break;
            }
            idleCycles = 0;
            configText[stored++] = static_cast<char>(byte);
            configText[stored] = '\0';
            if (byte == '>' || stored == kMaxReplyLength) {
                FlushInQ(port);
                FlushOutQ(port);
                complete = true;
            }
        }
        if (waiting < 0) {
            *length = stored;
            return Exchange::DeviceGone;
        }
        ++idleCycles;
        // The cycle that saw the end still ends with its wait.
        SyncWait(Timer(), interval);
        if (complete || idleCycles > kMaxIdleCycles) {
            break;
        }
    }
    // A reply cut at its size limit may stop inside a value ("S130=10" of "S130=100"); the
    // record the cut runs into is dropped rather than shown as a wrong number, and every
    // whole one before it is kept.
    if (complete && configText[stored - 1] != '>') {
        stored = WholeRecordsLength(configText, stored);
        configText[stored] = '\0';
    }
    *length = stored;
    return complete ? Exchange::Done : Exchange::NoReply;
}

}  // namespace

Exchange ReadRegisterList(ProductSeries series, std::size_t* length) {
    *length = 0;
    const Exchange entered = EnterCommandMode(series);
    if (entered != Exchange::Done) {
        return entered;
    }
    ComTraceStep("AT/L");
    if (!SendCommand("AT/L\n", 5)) {
        return Exchange::DeviceGone;
    }
    const Exchange collected = CollectRegisterList(length);
    if (collected != Exchange::DeviceGone) {
        LeaveCommandMode(series);
    }
    return collected;
}
