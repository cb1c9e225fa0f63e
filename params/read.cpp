#include "params/read.h"

#include <cstdint>

#include "app/app.h"
#include "link/command_mode.h"
#include "link/connection.h"
#include "params/config_text.h"
#include "params/parameters.h"
#include "product/option_lists.h"
#include "runtime/rs232.h"
#include "runtime/userint.h"
#include "runtime/utility.h"
#include "ui/panel_ids.h"

namespace {

// The longest register list the module sends is well below this; a reply that reaches it
// is taken as it is, and whatever follows is thrown away.
constexpr int kMaxReplyLength = 300;
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

// Collects the register list into configText. True when it ended with ">" or filled the
// reply's 300 characters.
bool CollectRegisterList() {
    const int port = connection.comPort;
    const double interval = PollInterval(connection.comBaudRate);
    int stored = 0;
    int idleCycles = 0;
    bool complete = false;
    configText[0] = '\0';

    for (int cycle = 0; cycle < kMaxPollCycles; ++cycle) {
        while (!complete && GetInQLen(port) > 0) {
            int byte = ComRdByte(port);
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
        ++idleCycles;
        // The cycle that saw the end still ends with its wait.
        SyncWait(Timer(), interval);
        if (complete || idleCycles > kMaxIdleCycles) {
            break;
        }
    }
    // A reply cut at its size limit may stop inside a value ("S130=10" of "S130=100"); its
    // unfinished last line is dropped rather than shown as a wrong number.
    if (complete && configText[stored - 1] != '>') {
        while (stored > 0 && configText[stored - 1] != '\n' && configText[stored - 1] != '\r') {
            configText[--stored] = '\0';
        }
    }
    return complete;
}

}  // namespace

int ReadCallBack(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    // The exchange blocks the window for up to several seconds. On failure
    // EnterCommandMode has turned the busy cursor off before telling the user.
    SetWaitCursor(1);
    if (!EnterCommandMode()) {
        return 0;
    }
    GetCtrlVal(panelHandle, PRODUCT, &parameters.productIndex);

    ComWrt(connection.comPort, "AT/L\n", 5);
    if (!CollectRegisterList()) {
        LeaveCommandMode(parameters.productIndex);
        SetWaitCursor(0);
        ReportCommunicationError();
        return 0;
    }

    ParseConfigText();
    if (parameters.productIndex == 4) {
        // The M5 reports its modulation, and the radio rates on offer depend on it. The
        // rebuilt list selects its own default, so the rate read is put back afterwards.
        GetCtrlVal(panelHandle, S113, &parameters.s113);
        GetCtrlVal(panelHandle, S110, &parameters.s110);
        // The rate comes from the reply itself: the list the scan set it into may still
        // be the one the series set-up cut at 38.4 kbps, which has no item for the LoRa
        // rates 6 and 7, and the control would then show the rate from before the read.
        FindRegisterValue(110, &parameters.s110);
        RebuildRadioRateList(parameters.s113);
        SetCtrlVal(panelHandle, S110, parameters.s110);
    }
    LeaveCommandMode(parameters.productIndex);
    SetWaitCursor(0);
    MessagePopup("Command Ok", "Done! Reading successfull! ");
    return 0;
}
