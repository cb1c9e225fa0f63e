#include "core/params/write.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/link/connection.h"
#include "core/params/textual_forms.h"
#include "core/product/series.h"
#include "runtime/serial/serial_ports.h"
#include "runtime/timing/clock.h"

namespace {

// Sending order. It is not numeric: the network ID goes before the working-mode registers
// and the other IDs go last. Modules in the field have only ever been written in this
// order, so it stays. Which of these a series leaves out is its profile's.
constexpr int kWriteSequence[] = {100, 101, 102, 103, 104, 105, 110, 111, 112, 113, 120,
                                  124, 125, 126, 127, 128, 129, 121, 122, 123, 130};

// Composes the set command of one register; returns its length, or -1 when it does not
// fit.
int ComposeCommand(const RegisterRow& row, const ParameterSet& set, uint8_t modulation, char* text,
                   std::size_t size) {
    // The modulation goes out as the panel shows it, whatever the set holds.
    if (row.number == 113) {
        return FormatSetCommand(text, size, row.number, modulation);
    }
    if (WriteSendsTwoParts(set, row)) {
        return FormatSetCommand(text, size, row.number, set.*row.high, set.*row.low);
    }
    return FormatSetCommand(text, size, row.number, set.*row.high);
}

// Sends the sequence one command at a time, each acknowledged before the next: Done when
// the last one was acknowledged.
Exchange SendWriteSequence(const ParameterSet& set, uint8_t modulation, WriteReport* report) {
    for (const int registerNumber : kWriteSequence) {
        if (!WriteSends(set.productIndex, registerNumber)) {
            continue;
        }
        if (exchangeStopRequested != 0) {
            report->failedRegister = 0;
            report->failedCommand[0] = '\0';
            return Exchange::Stopped;
        }
        char text[32];
        const int length =
            ComposeCommand(*FindRegister(registerNumber), set, modulation, text, sizeof text);
        char name[16];
        std::snprintf(name, sizeof name, "ATS%03d=", registerNumber);
        ComTraceStep(name);
        report->failedRegister = registerNumber;
        std::snprintf(report->failedCommand, sizeof report->failedCommand, "%s", text);
        if (length < 0 || !SendCommand(text, length)) {
            report->failedAnswer = Answer::DeviceGone;
            return Exchange::DeviceGone;
        }
        // No retry: a register the module did not confirm may or may not have taken, and
        // the user is better placed to decide whether to write again.
        report->failedAnswer = WaitForPrompt();
        if (report->failedAnswer != Answer::Prompt) {
            return report->failedAnswer == Answer::DeviceGone ? Exchange::DeviceGone
                                                              : Exchange::NotAcknowledged;
        }
        report->written[report->writtenCount++] = registerNumber;
    }
    report->failedRegister = 0;
    report->failedCommand[0] = '\0';
    return Exchange::Done;
}

}  // namespace

bool WriteSends(ProductSeries series, int registerNumber) {
    return FindRegister(registerNumber) != nullptr &&
           !ProfileOf(series).unwritten.Contains(registerNumber);
}

int WriteOrder(ProductSeries series, int (&numbers)[std::size(kRegisterTable)]) {
    int count = 0;
    for (const int registerNumber : kWriteSequence) {
        if (WriteSends(series, registerNumber)) {
            numbers[count++] = registerNumber;
        }
    }
    return count;
}

bool WriteSendsTwoParts(const ParameterSet& set, const RegisterRow& row) {
    return row.idForm == IdForm::AlwaysTwoPart ||
           (row.idForm == IdForm::FollowsIdLength && set.idLength == 1 &&
            ProfileOf(set.productIndex).writesTwoPartIds);
}

Exchange WriteParameters(const ParameterSet& set, uint8_t modulation, WriteReport* report) {
    *report = WriteReport{};
    ComTraceStep("escape");
    const int port = connection.comPort;
    if (connection.connected) {
        FlushInQ(port);
        FlushOutQ(port);
    }
    const Exchange entered = EnterCommandMode(set.productIndex);
    if (entered != Exchange::Done) {
        return entered;
    }
    FlushInQ(port);
    FlushOutQ(port);
    // A moment for the module between its prompt and the first set command.
    Delay(0.2);

    const Exchange sent = SendWriteSequence(set, modulation, report);
    if (sent == Exchange::NotAcknowledged || sent == Exchange::Stopped) {
        LeaveCommandMode(set.productIndex);
    } else if (sent == Exchange::Done) {
        // A complete write returns every series to data mode with "ATO", also those that
        // otherwise leave with "ATX".
        ComTraceStep("ATO");
        SendCommand("ATO\n", 4);
    }
    return sent;
}

// What a write that stopped got done: the command not acknowledged and how the module
// answered it, and the registers it had already taken, since the module now holds new
// values for those and old ones for the rest.
void DescribeWriteFailure(const WriteReport& report, char* text, std::size_t size) {
    // The command as sent, without its line feed.
    const int commandLength = static_cast<int>(std::strcspn(report.failedCommand, "\n"));
    std::size_t length = 0;
    const auto append = [&](const char* format, auto... values) {
        const int added = std::snprintf(text + length, size - length, format, values...);
        length = std::min(size - 1, length + static_cast<std::size_t>(std::max(added, 0)));
    };
    const char* failure = nullptr;
    switch (report.failedAnswer) {
        case Answer::Other:
            failure =
                "The module refused %.*s (register S%d): it answered something other than "
                "\">\".\n";
            break;
        case Answer::Silence:
            failure = "The module did not acknowledge %.*s (register S%d) within 1 second.\n";
            break;
        case Answer::DeviceGone:
            failure =
                "The device went away before the module acknowledged %.*s (register S%d); "
                "it may or may not have taken it.\n";
            break;
        case Answer::Prompt:
            break;
    }
    if (failure != nullptr) {
        append(failure, commandLength, report.failedCommand, report.failedRegister);
    }
    if (report.writtenCount == 0) {
        append("%s", "Nothing was written before it.");
        return;
    }
    append("%s", "Already written:");
    for (int i = 0; i < report.writtenCount; ++i) {
        append("%s S%d", i == 0 ? "" : ",", report.written[i]);
    }
    append("%s",
           ". The module now holds these new values and its old ones for the rest: write again "
           "once the cause is fixed.");
}
