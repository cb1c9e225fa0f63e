#include "link/version.h"

#include <cstddef>

#include "app/app.h"
#include "link/command_mode.h"
#include "link/connection.h"
#include "params/parameters.h"
#include "runtime/rs232.h"
#include "runtime/userint.h"
#include "runtime/utility.h"
#include "ui/panel_ids.h"

namespace {

constexpr std::size_t kMaxVersionLength = 99;
// Collection runs for at most five seconds from the command, whether or not bytes keep
// arriving: a module that trickles its text is not waited for beyond that.
constexpr int kCollectCycles = 50;
constexpr double kCycleInterval = 0.1;

}  // namespace

int ShowVerCallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                    int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }

    SetWaitCursor(1);
    if (!EnterCommandMode()) {
        return 0;
    }

    const int port = connection.comPort;
    ComWrt(port, "AT/V\n", 5);

    char versionReply[kMaxVersionLength + 1] = {};
    std::size_t length = 0;
    bool complete = false;
    for (int cycle = 0; cycle < kCollectCycles && !complete; ++cycle) {
        while (!complete && GetInQLen(port) > 0) {
            const int byte = ComRdByte(port);
            if (byte < 0) {
                break;
            }
            // A text that fills the buffer is shown as far as it goes rather than lost.
            if (byte == '>' || length == kMaxVersionLength) {
                versionReply[length] = '\0';
                complete = true;
                FlushInQ(port);
                FlushOutQ(port);
            } else {
                versionReply[length++] = static_cast<char>(byte);
            }
        }
        Delay(kCycleInterval);
    }

    GetCtrlVal(panelHandle, PRODUCT, &parameters.productIndex);
    LeaveCommandMode(parameters.productIndex);
    SetWaitCursor(0);
    if (complete) {
        MessagePopup("FirmWare Verion", versionReply);
    } else {
        ReportCommunicationError();
    }
    return 0;
}
