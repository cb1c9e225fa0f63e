#include "tools/zelkctl/commands.h"

#include <QJsonArray>
#include <QJsonObject>
#include <cstdio>

#include "core/link/connection.h"
#include "core/params/write.h"
#include "core/product/series.h"
#include "runtime/files/formatio.h"
#include "runtime/serial/rs232.h"
#include "tools/zelkctl/output.h"
#include "tools/zelkctl/session.h"

namespace {

std::string Name(int registerNumber) {
    return "S" + std::to_string(registerNumber);
}

QString JsonName(int registerNumber) {
    return QString::fromStdString(Name(registerNumber));
}

// The registers the module listed as records, ended by lineEnd each.
std::string Records(const ModuleList& module, const char* lineEnd) {
    std::string text;
    for (const RegisterRow& row : kRegisterTable) {
        const auto number = static_cast<std::size_t>(row.number);
        if (module.listed[number]) {
            text += Name(row.number) + "=" + ValueText(module.set, row, module.lowListed[number]) +
                    lineEnd;
        }
    }
    return text;
}

// Values the series would not offer are printed as the module holds them: a read shows
// what is there, and write takes them back unchanged.
void WarnNotOffered(const Request& request, const ModuleList& module) {
    for (const RegisterRow& row : kRegisterTable) {
        std::string offered;
        const uint8_t value = module.set.*row.high;
        if (module.listed[static_cast<std::size_t>(row.number)] &&
            !Offered(request.series, module.set.s113, row, value, &offered)) {
            Warn(Name(row.number) + "=" + std::to_string(value) + " is not offered for a " +
                 ProfileOf(request.series).name + " (it takes " + offered +
                 "); it is shown as the module holds it");
        }
    }
}

int Version(const Request& request) {
    std::string version;
    const int status = AskVersion(request, &version);
    if (status == kExitDone) {
        Result()[QStringLiteral("version")] = QString::fromStdString(version);
        Print(version + "\n");
    }
    return status;
}

int VersionToo(const Request& request) {
    if (!request.withVersion) {
        return kExitDone;
    }
    std::string version;
    const int status = AskVersion(request, &version);
    if (status == kExitDone) {
        Result()[QStringLiteral("version")] = QString::fromStdString(version);
        Say("firmware version: " + version);
    }
    return status;
}

int Read(const Request& request) {
    ModuleList module;
    int status = ReadModule(request, &module);
    if (status == kExitDone) {
        status = VersionToo(request);
    }
    if (status != kExitDone || StopRequested("after the read", &status)) {
        return status;
    }
    WarnNotOffered(request, module);
    QJsonObject registers;
    for (const RegisterRow& row : kRegisterTable) {
        const auto number = static_cast<std::size_t>(row.number);
        if (module.listed[number]) {
            registers[JsonName(row.number)] =
                row.idForm == IdForm::None ? QJsonValue(module.set.*row.high)
                                           : QJsonValue(QString::fromStdString(ValueText(
                                                 module.set, row, module.lowListed[number])));
        }
    }
    Result()[QStringLiteral("registers")] = registers;
    Result()[QStringLiteral("idBytes")] = module.twoByteIds ? 2 : 1;
    if (request.output.empty() || request.output == "-") {
        Print(Records(module, "\n"));
        return kExitDone;
    }
    // The window's own file format, which the window loads and write takes back.
    const std::string text = Records(module, "\r\n") + ">";
    const std::string path = ForPort(request.output, request.ports.front());
    const int error = ArrayToFile(path.c_str(), text.data(), text.size());
    if (error != FILEIO_NO_ERROR) {
        return Failure(kExitFile, "cannot write " + path + ": " + FileIoErrorText(error));
    }
    return kExitDone;
}

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
            set->*row.high = value.high;
            set->*row.low = value.twoPart ? value.low : set->*row.low;
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
int TakeCounterId(const Request& request, const Plan& plan, ParameterSet* set, DeviceId* id) {
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
    set->*row.high = id->high;
    set->*row.low = id->twoPart ? id->low : set->*row.low;
    Result()[QStringLiteral("id")] = QString::fromStdString(IdText(*id));
    (void)request;
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

}  // namespace

namespace {

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

int Write(const Request& request, const Plan& plan) {
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
        status = VersionToo(request);
    }
    DeviceId id{};
    if (status != kExitDone || StopRequested("before the write; nothing was written", &status) ||
        (status = TakeCounterId(request, plan, &set, &id)) != kExitDone) {
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

int Diff(const Request& request, const Plan& plan) {
    ModuleList module;
    int status = ReadModule(request, &module);
    if (status == kExitDone) {
        status = VersionToo(request);
    }
    if (status != kExitDone || StopRequested("after the read", &status)) {
        return status;
    }
    // Registers the module does not list are not compared: a file of another series, or
    // the window's file of this one, may hold them.
    QJsonArray differences;
    for (const RegisterRow& row : kRegisterTable) {
        const auto number = static_cast<std::size_t>(row.number);
        const PlannedValue& value = plan.values[number];
        if (!value.given || !module.listed[number]) {
            continue;
        }
        const bool twoPart = row.idForm == IdForm::AlwaysTwoPart || value.twoPart;
        const std::string inModule = ValueText(module.set, row, twoPart);
        const std::string inFile =
            std::to_string(value.high) + (twoPart ? "." + std::to_string(value.low) : "");
        if (inModule != inFile) {
            Print(Name(row.number) + ": module " + inModule + ", file " + inFile + "\n");
            differences.append(
                QJsonObject{{QStringLiteral("register"), JsonName(row.number)},
                            {QStringLiteral("module"), QString::fromStdString(inModule)},
                            {QStringLiteral("file"), QString::fromStdString(inFile)}});
        }
    }
    Result()[QStringLiteral("differences")] = differences;
    return differences.isEmpty() ? kExitDone : kExitDifferent;
}

// One try of detect: the escape at the open port's rate and format, then the version.
int TryDetect(const Request& request, bool* found) {
    Say("trying " + RateAndFormat());
    const Exchange entered = RunExchange(request.series, [&] {
        const Exchange result = EnterCommandMode(request.series);
        if (result == Exchange::Done) {
            LeaveCommandMode(request.series);
        }
        return result;
    });
    *found = entered == Exchange::Done;
    if (entered == Exchange::DeviceGone) {
        return ExchangeFailed(entered, "");
    }
    if (!*found) {
        return kExitDone;
    }
    const std::string options = "-b " + std::to_string(connection.comBaudRate) + " -f " +
                                serialFormats[connection.comFormat].name;
    Result()[QStringLiteral("baud")] = static_cast<int>(connection.comBaudRate);
    Result()[QStringLiteral("format")] =
        QString::fromLatin1(serialFormats[connection.comFormat].name);
    Print(options + "\n");
    Say("the module answers at " + RateAndFormat());
    std::string version;
    const int status = AskVersion(request, &version);
    if (status == kExitDone) {
        Result()[QStringLiteral("version")] = QString::fromStdString(version);
        Say("firmware version: " + version);
    }
    return status;
}

int Detect(const Request& request) {
    bool opened = false;
    for (const uint8_t format : request.formats) {
        for (const uint32_t rate : request.rates) {
            int status = kExitDone;
            if (StopRequested("while detecting", &status)) {
                return status;
            }
            bool skippable = false;
            status = OpenPort(request, rate, format, &skippable);
            if (status != kExitDone && skippable) {
                Say(std::string("the device cannot take ") + std::to_string(rate) + " bit/s " +
                    serialFormats[format].name + " (" + GetComErrorText() + "): skipped");
                continue;
            }
            if (status != kExitDone) {
                return status;
            }
            opened = true;
            bool found = false;
            status = TryDetect(request, &found);
            ClosePort();
            if (found || status != kExitDone) {
                return status;
            }
        }
    }
    if (!opened) {
        return Failure(kExitCannotOpen, "the device took none of the rates and formats tried");
    }
    return Failure(kExitNoCommandMode,
                   "no rate and format tried brought the module into command mode: check its "
                   "power and wiring");
}

// Where the log and the JSON name the module's port: its device and what the system knows
// of it.
void DescribeDevice() {
    const std::string device = ComPortDeviceName(connection.comPort);
    Result()[QStringLiteral("device")] = QString::fromStdString(device);
    for (const ComPortEntry& entry : ListComPorts(false)) {
        if (entry.device != device) {
            continue;
        }
        QJsonObject usb;
        char id[8];
        if (!entry.serialNumber.empty()) {
            usb[QStringLiteral("serialNumber")] = QString::fromStdString(entry.serialNumber);
        }
        if (entry.vendorId >= 0 && entry.productId >= 0) {
            std::snprintf(id, sizeof id, "%04x", entry.vendorId);
            usb[QStringLiteral("vendorId")] = QString::fromLatin1(id);
            std::snprintf(id, sizeof id, "%04x", entry.productId);
            usb[QStringLiteral("productId")] = QString::fromLatin1(id);
        }
        if (!usb.isEmpty()) {
            Result()[QStringLiteral("usb")] = usb;
        }
        return;
    }
}

}  // namespace

int RunPortCommand(const Request& request, const Plan& plan) {
    if (request.command == Command::Detect) {
        return Detect(request);
    }
    int status = OpenPort(request, request.baudRate, request.format);
    if (status != kExitDone) {
        return status;
    }
    if (request.json || !request.log.empty()) {
        DescribeDevice();
    }
    switch (request.command) {
        case Command::Version:
            status = Version(request);
            break;
        case Command::Read:
            status = Read(request);
            break;
        case Command::Write:
            status = Write(request, plan);
            break;
        case Command::Diff:
            status = Diff(request, plan);
            break;
        case Command::Ports:
        case Command::Detect:
        case Command::Check:
            break;
    }
    ClosePort();
    return status;
}

int CheckCommand(const Request& request, const Plan& plan) {
    int order[std::size(kRegisterTable)];
    const int count = WriteOrder(request.series, order);
    const int idBytes = PlannedIdBytes(request, plan);
    QJsonObject values;
    std::string kept;
    for (int i = 0; i < count; ++i) {
        const RegisterRow& row = *FindRegister(order[i]);
        const PlannedValue& value = plan.values[static_cast<std::size_t>(row.number)];
        if (!value.given) {
            kept += (kept.empty() ? "" : ", ") + Name(row.number);
            continue;
        }
        const bool twoPart = row.idForm == IdForm::AlwaysTwoPart ||
                             (value.twoPart && ProfileOf(request.series).writesTwoPartIds);
        const std::string text =
            std::to_string(value.high) + (twoPart ? "." + std::to_string(value.low) : "");
        values[JsonName(row.number)] = QString::fromStdString(text);
        Print(
            Name(row.number) + "=" + text +
            (row.number == plan.counterRegister ? "  (the next ID of " + plan.counter + ")" : "") +
            "\n");
        std::string offered;
        if (!value.fromSet &&
            !Offered(request.series, plan.values[113].high, row, value.high, &offered)) {
            Warn(value.source + ": " + Name(row.number) + "=" + std::to_string(value.high) +
                 " is not offered for a " + ProfileOf(request.series).name + " (it takes " +
                 offered + "): write takes it only where the module holds it already");
        }
    }
    Result()[QStringLiteral("values")] = values;
    Result()[QStringLiteral("idBytes")] = idBytes;
    if (!kept.empty()) {
        Say("write keeps what the module holds for " + kept);
    }
    return kExitDone;
}

int ListPorts(const Request& request) {
    const std::vector<ComPortEntry> ports = ListComPorts(request.probe);
    QJsonArray list;
    for (const ComPortEntry& entry : ports) {
        char usb[24] = "";
        if (entry.vendorId >= 0 && entry.productId >= 0) {
            std::snprintf(usb, sizeof usb, "%04x:%04x", entry.vendorId, entry.productId);
        }
        QJsonObject port{
            {QStringLiteral("com"), entry.port},
            {QStringLiteral("device"), QString::fromStdString(entry.device)},
            {QStringLiteral("alias"), QString::fromStdString(entry.alias)},
            {QStringLiteral("description"), QString::fromStdString(entry.description)},
            {QStringLiteral("manufacturer"), QString::fromStdString(entry.manufacturer)},
            {QStringLiteral("serialNumber"), QString::fromStdString(entry.serialNumber)},
            {QStringLiteral("usbId"), QString::fromLatin1(usb)}};
        std::string line = entry.port > 0 ? "COM" + std::to_string(entry.port) : "-";
        line.resize(6, ' ');
        line += entry.device + (entry.alias.empty() ? "" : " (" + entry.alias + ")");
        std::string about = entry.description;
        for (const std::string& part : {entry.manufacturer, std::string(usb), entry.serialNumber}) {
            if (!part.empty() && about.find(part) == std::string::npos) {
                about += (about.empty() ? "" : ", ") + part;
            }
        }
        line += about.empty() ? "" : "  " + about;
        if (request.probe) {
            port[QStringLiteral("canOpen")] = entry.access == 0;
            port[QStringLiteral("problem")] = QString::fromStdString(entry.problem);
            line += entry.access == 0 ? "\n      ready" : "\n      cannot open: " + entry.problem;
        }
        list.append(port);
        Print(line + "\n");
    }
    Result()[QStringLiteral("ports")] = list;
    if (ports.empty()) {
        Say("no serial ports found: plug the adapter in, or name a device with -p PATH");
    }
    return kExitDone;
}
