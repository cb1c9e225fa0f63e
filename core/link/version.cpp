#include "core/link/version.h"

#include "core/link/connection.h"
#include "runtime/serial/serial_ports.h"
#include "runtime/timing/clock.h"

namespace {

// Collection runs for at most five seconds from the command, whether or not bytes keep
// arriving: a module that trickles its text is not waited for beyond that.
constexpr int kCollectCycles = 50;
constexpr double kCycleInterval = 0.1;

}  // namespace

Exchange QueryFirmwareVersion(ProductSeries series, char (&reply)[kMaxVersionLength + 1]) {
    reply[0] = '\0';
    const Exchange entered = EnterCommandMode(series);
    if (entered != Exchange::Done) {
        return entered;
    }

    const int port = connection.comPort;
    ComTraceStep("AT/V");
    if (!SendCommand("AT/V\n", 5)) {
        return Exchange::DeviceGone;
    }

    std::size_t length = 0;
    bool complete = false;
    for (int cycle = 0; cycle < kCollectCycles && !complete; ++cycle) {
        int waiting = 0;
        while (!complete && (waiting = WaitingBytes()) > 0) {
            const int byte = ComRdByte(port);
            if (byte < 0) {
                break;
            }
            // A text that fills the buffer is shown as far as it goes rather than lost.
            if (byte == '>' || length == kMaxVersionLength) {
                reply[length] = '\0';
                complete = true;
                FlushInQ(port);
                FlushOutQ(port);
            } else {
                reply[length++] = static_cast<char>(byte);
            }
        }
        if (waiting < 0) {
            return Exchange::DeviceGone;
        }
        Delay(kCycleInterval);
    }

    LeaveCommandMode(series);
    if (!complete) {
        reply[0] = '\0';
        return Exchange::NoReply;
    }
    return Exchange::Done;
}
