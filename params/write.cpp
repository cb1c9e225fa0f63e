#include "params/write.h"

#include <cstddef>
#include <cstdint>

#include "app/app.h"
#include "link/command_mode.h"
#include "link/connection.h"
#include "params/parameters.h"
#include "runtime/rs232.h"
#include "runtime/userint.h"
#include "runtime/utility.h"
#include "ui/panel_ids.h"

namespace {

enum class SentWhen { Always, OnlyM5, NotM5 };

enum class ValueForm {
    OnePart,     // the field alone
    TwoPart,     // high part "." low part, always
    Id,          // two-part with two-byte IDs, else the high part alone
    S113Control  // the modulation is read from its control when it goes out
};

using Field = uint8_t ParameterSet::*;

struct WriteStep {
    int registerNumber;
    SentWhen when;
    ValueForm form;
    Field high;
    Field low;
};

constexpr uint8_t kProductM5 = 4;

// Sending order. It is not numeric: the network ID goes before the working-mode registers
// and the other IDs go last. Modules in the field have only ever been written in this
// order, so it stays.
constexpr WriteStep kWriteSequence[] = {
    {100, SentWhen::Always, ValueForm::OnePart, &ParameterSet::s100, nullptr},
    {101, SentWhen::Always, ValueForm::OnePart, &ParameterSet::s101, nullptr},
    {102, SentWhen::Always, ValueForm::OnePart, &ParameterSet::s102, nullptr},
    {103, SentWhen::Always, ValueForm::OnePart, &ParameterSet::s103, nullptr},
    {104, SentWhen::Always, ValueForm::OnePart, &ParameterSet::s104, nullptr},
    {105, SentWhen::Always, ValueForm::OnePart, &ParameterSet::s105, nullptr},
    {110, SentWhen::Always, ValueForm::OnePart, &ParameterSet::s110, nullptr},
    {111, SentWhen::Always, ValueForm::OnePart, &ParameterSet::s111, nullptr},
    {112, SentWhen::Always, ValueForm::OnePart, &ParameterSet::s112, nullptr},
    {113, SentWhen::OnlyM5, ValueForm::S113Control, nullptr, nullptr},
    {120, SentWhen::Always, ValueForm::TwoPart, &ParameterSet::s120High, &ParameterSet::s120Low},
    {124, SentWhen::Always, ValueForm::OnePart, &ParameterSet::s124, nullptr},
    {125, SentWhen::Always, ValueForm::OnePart, &ParameterSet::s125, nullptr},
    {126, SentWhen::Always, ValueForm::OnePart, &ParameterSet::s126, nullptr},
    {127, SentWhen::Always, ValueForm::OnePart, &ParameterSet::s127, nullptr},
    {128, SentWhen::Always, ValueForm::OnePart, &ParameterSet::s128, nullptr},
    {129, SentWhen::NotM5, ValueForm::OnePart, &ParameterSet::s129, nullptr},
    {121, SentWhen::Always, ValueForm::Id, &ParameterSet::s121High, &ParameterSet::s121Low},
    {122, SentWhen::Always, ValueForm::Id, &ParameterSet::s122High, &ParameterSet::s122Low},
    {123, SentWhen::Always, ValueForm::Id, &ParameterSet::s123High, &ParameterSet::s123Low},
    {130, SentWhen::NotM5, ValueForm::Id, &ParameterSet::s130High, &ParameterSet::s130Low},
};

bool IsSent(const WriteStep& step) {
    switch (step.when) {
        case SentWhen::Always:
            return true;
        case SentWhen::OnlyM5:
            return parameters.productIndex == kProductM5;
        case SentWhen::NotM5:
            return parameters.productIndex != kProductM5;
    }
    return false;
}

// Composes the set command of one step; returns its length, or -1 when it does not fit.
int ComposeCommand(const WriteStep& step, char* text, std::size_t size) {
    switch (step.form) {
        case ValueForm::OnePart:
            return FormatSetCommand(text, size, step.registerNumber, parameters.*step.high);
        case ValueForm::TwoPart:
            return FormatSetCommand(text, size, step.registerNumber, parameters.*step.high,
                                    parameters.*step.low);
        case ValueForm::Id:
            // The M5 keeps one-byte node IDs whatever the ID length says.
            if (parameters.idLength == 1 && parameters.productIndex != kProductM5) {
                return FormatSetCommand(text, size, step.registerNumber, parameters.*step.high,
                                        parameters.*step.low);
            }
            return FormatSetCommand(text, size, step.registerNumber, parameters.*step.high);
        case ValueForm::S113Control: {
            uint8_t modulation = 0;
            GetCtrlVal(panelHandle, S113, &modulation);
            return FormatSetCommand(text, size, step.registerNumber, modulation);
        }
    }
    return -1;
}

// Sends the sequence one command at a time, each acknowledged before the next; true when
// the last one was acknowledged.
bool SendWriteSequence() {
    const int port = connection.comPort;
    for (const WriteStep& step : kWriteSequence) {
        if (step.form == ValueForm::S113Control) {
            GetCtrlVal(panelHandle, PRODUCT, &parameters.productIndex);
        }
        if (!IsSent(step)) {
            continue;
        }
        char text[32];
        const int length = ComposeCommand(step, text, sizeof text);
        if (length < 0) {
            return false;
        }
        ComWrt(port, text, length);
        // No retry: a register the module did not confirm may or may not have taken, and
        // the user is better placed to decide whether to write again.
        if (!WaitForPrompt()) {
            return false;
        }
    }
    return true;
}

}  // namespace

int UpdateCallBack(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                   int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    if (!connection.connected) {
        ReportNotConnected();
        return 0;
    }

    GatherParameters();
    const int port = connection.comPort;
    FlushInQ(port);
    FlushOutQ(port);

    SetWaitCursor(1);
    if (!EnterCommandMode()) {
        return 0;
    }
    FlushInQ(port);
    FlushOutQ(port);
    // A moment for the module between its prompt and the first set command.
    Delay(0.2);

    if (SendWriteSequence()) {
        // A complete write returns every series to data mode with "ATO", also those that
        // otherwise leave with "ATX".
        ComWrt(port, "ATO\n", 4);
        SetWaitCursor(0);
        MessagePopup("Command Ok", " Done! The Updating is successfull!");
    } else {
        LeaveCommandMode(parameters.productIndex);
        SetWaitCursor(0);
        ReportCommunicationError();
    }

    // Whatever the module sent while the popup was up is of no use to the next exchange.
    // The output is left alone: the only bytes that can still be in it are those of the
    // leave command, and a popup dismissed quickly (or a slow line) would otherwise
    // discard them and leave the module in command mode.
    FlushInQ(port);
    return 0;
}
