#include "tools/zelkctl/write_command.h"

#include <QJsonArray>
#include <QJsonObject>

#include "core/link/connection.h"
#include "core/params/write.h"
#include "core/product/series.h"
#include "runtime/serial/serial_ports.h"
#include "tools/zelkctl/output.h"
#include "tools/zelkctl/session.h"

namespace {

// The ID length of the write and the low parts it needs: a two-part ID goes out only with
// a low part that the file, --set or the module's own list gives.
int ComposeIds(const Request& request, const Plan& plan, const ModuleList& module,
               ParameterSet* set) {
    const int planned = PlannedIdBytes(request, plan);
    set->idLength = planned != 0 ? static_cast<uint8_t>(planned - 1) : module.twoByteIds ? 1 : 0;
    for (const RegisterRow& row : kRegisterTable) {
        const auto number = static_cast<std::size_t>(row.number);
        const PlannedValue& value = plan.values[number];
        if (WriteSends(request.series, row.number) && WriteSendsTwoParts(*set, row) &&
            !(value.given && value.twoPart) && !module.lowListed[number]) {
            return Failure(kExitUsage,
                           "with two-byte IDs " + Name(row.number) +
                               " needs its low part, which neither the file, --set nor the "
                               "module's list gives: give it as " +
                               Name(row.number) + "=HIGH.LOW");
        }
    }
    return kExitDone;
}

// What the write sends: the module's list, the file and --set over it. A register the
// module does not list but the write sends is its serial format, which is the port's own
// as long as the module answers on it.
int ComposeWrite(const Request& request, const Plan& plan, const ModuleList& module,
                 ParameterSet* set) {
    *set = module.set;
    for (const RegisterRow& row : kRegisterTable) {
        const PlannedValue& value = plan.values[static_cast<std::size_t>(row.number)];
        if (value.given) {
            SetRegister(set, row, value.high, value.twoPart, value.low);
        } else if (WriteSends(request.series, row.number) &&
                   !module.listed[static_cast<std::size_t>(row.number)]) {
            if (row.values != ValueRule::FixedList || row.list != &serialFormatList) {
                return Failure(kExitUsage, "the module does not list " + Name(row.number) +
                                               ", which the write sends: give it");
            }
            set->*row.high = request.format;
        }
    }
    return ComposeIds(request, plan, module, set);
}

// A value the series would not offer goes out only where the module holds it already:
// what read saved comes back unchanged, and nothing new that the window would not offer.
int CheckWriteValues(const Request& request, const Plan& plan, const ModuleList& module,
                     const ParameterSet& set) {
    int status = kExitDone;
    for (const RegisterRow& row : kRegisterTable) {
        const auto number = static_cast<std::size_t>(row.number);
        const uint8_t value = set.*row.high;
        std::string offered;
        if (!WriteSends(request.series, row.number) ||
            Offered(request.series, set.s113, row, value, &offered) ||
            (module.listed[number] && module.set.*row.high == value)) {
            continue;
        }
        const std::string source =
            plan.values[number].given ? plan.values[number].source + ": " : "";
        status = Failure(kExitUsage, source + Name(row.number) + "=" + std::to_string(value) +
                                         " is not offered for a " + ProfileOf(request.series).name +
                                         ": it takes " + offered + "; nothing was written");
    }
    return status;
}

// Takes the module's ID from the counter file, now that nothing else can stop the write.
int TakeCounterId(const Plan& plan, ParameterSet* set, DeviceId* id) {
    if (plan.counter.empty()) {
        return kExitDone;
    }
    std::string error;
    if (!TakeId(plan.counter, id, &error)) {
        return Failure(kExitFile, "cannot take an ID from " + plan.counter + ": " + error);
    }
    const RegisterRow& row = *FindRegister(plan.counterRegister);
    if (id->twoPart != plan.nextId.twoPart) {
        GiveBackId(plan.counter, *id, &error);
        return Failure(kExitUsage, plan.counter +
                                       " changed from one-part to two-part IDs "
                                       "or back while this write was checked");
    }
    SetRegister(set, row, id->high, id->twoPart, id->low);
    Result()[QStringLiteral("id")] = QString::fromStdString(IdText(*id));
    return kExitDone;
}

// What the write got done, for the JSON object and, unless all went, on stderr.
void ReportWritten(const Request& request, const WriteReport& report, bool done) {
    int order[std::size(kRegisterTable)];
    const int count = WriteOrder(request.series, order);
    QJsonArray written;
    QJsonArray notWritten;
    std::string names[2];
    for (int i = 0; i < count; ++i) {
        const bool wasWritten = i < report.writtenCount;
        (wasWritten ? written : notWritten).append(JsonName(order[i]));
        std::string& into = names[wasWritten ? 0 : 1];
        into += (into.empty() ? "" : ", ") + Name(order[i]);
    }
    Result()[QStringLiteral("written")] = written;
    Result()[QStringLiteral("notWritten")] = notWritten;
    if (done) {
        Say("wrote " + std::to_string(report.writtenCount) + " registers");
    } else {
        Say("written: " + (names[0].empty() ? std::string("none") : names[0]) +
            "; not written: " + (names[1].empty() ? std::string("none") : names[1]));
    }
}

// Reads the module back and compares every register the write got done.
int Verify(const Request& request, const ParameterSet& written, const WriteReport& report) {
    ModuleList module;
    int status = ReadModule(request, &module);
    if (status != kExitDone) {
        return status;
    }
    QJsonArray differences;
    int verified = 0;
    for (int i = 0; i < report.writtenCount; ++i) {
        const RegisterRow& row = *FindRegister(report.written[i]);
        const auto number = static_cast<std::size_t>(row.number);
        if (!module.listed[number]) {
            Say(Name(row.number) + " is not in a " + ProfileOf(request.series).name +
                "'s register list: not verified");
            continue;
        }
        const bool twoPart = WriteSendsTwoParts(written, row);
        const std::string wrote = ValueText(written, row, twoPart);
        const std::string holds = twoPart && !module.lowListed[number]
                                      ? ValueText(module.set, row, false) + " (one part)"
                                      : ValueText(module.set, row, twoPart);
        ++verified;
        if (wrote != holds) {
            Print(Name(row.number) + ": wrote " + wrote + ", module holds " + holds + "\n");
            differences.append(
                QJsonObject{{QStringLiteral("register"), JsonName(row.number)},
                            {QStringLiteral("wrote"), QString::fromStdString(wrote)},
                            {QStringLiteral("module"), QString::fromStdString(holds)}});
        }
    }
    Result()[QStringLiteral("verified")] = differences.isEmpty();
    Result()[QStringLiteral("differences")] = differences;
    if (!differences.isEmpty()) {
        return Failure(kExitDifferent, std::to_string(differences.size()) +
                                           " registers differ from what was written");
    }
    Say("verified: the module holds all " + std::to_string(verified) + " registers checked");
    return kExitDone;
}

// The ID taken for this module goes back to the counter unless the module got it.
void KeepOrGiveBack(const Plan& plan, const DeviceId& id, const WriteReport& report) {
    if (plan.counter.empty()) {
        return;
    }
    for (int i = 0; i < report.writtenCount; ++i) {
        if (report.written[i] == plan.counterRegister) {
            return;
        }
    }
    std::string error;
    if (!GiveBackId(plan.counter, id, &error)) {
        Warn("cannot give ID " + IdText(id) + " back to " + plan.counter + ": " + error);
    }
    Result().remove(QStringLiteral("id"));
}

}  // namespace

int WriteCommand(const Request& request, const Plan& plan) {
    ModuleList module;
    ParameterSet set{};
    int status = ReadModule(request, &module);
    if (status == kExitDone) {
        status = ComposeWrite(request, plan, module, &set);
    }
    if (status == kExitDone) {
        status = CheckWriteValues(request, plan, module, set);
    }
    if (status == kExitDone) {
        status = ReportVersionIfAsked(request);
    }
    DeviceId id{};
    if (status != kExitDone || StopRequested("before the write; nothing was written", &status) ||
        (status = TakeCounterId(plan, &set, &id)) != kExitDone) {
        return status;
    }
    WriteReport report;
    const Exchange result =
        RunExchange(request.series, [&] { return WriteParameters(set, set.s113, &report); });
    // Whatever the module still sends is of no use to the next exchange.
    if (result == Exchange::Done || result == Exchange::NotAcknowledged ||
        result == Exchange::Stopped) {
        FlushInQ(connection.comPort);
    }
    KeepOrGiveBack(plan, id, report);
    ReportWritten(request, report, result == Exchange::Done);
    if (result != Exchange::Done) {
        char details[512];
        DescribeWriteFailure(report, details, sizeof details);
        return ExchangeFailed(result, result == Exchange::NoPrompt ? "" : details);
    }
    if (!request.verify || StopRequested("after the write, before --verify", &status)) {
        return status;
    }
    return Verify(request, set, report);
}
