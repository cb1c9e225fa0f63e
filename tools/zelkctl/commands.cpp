#include "tools/zelkctl/commands.h"

#include <QJsonArray>
#include <QJsonObject>
#include <cstdio>

#include "core/link/connection.h"
#include "core/params/write.h"
#include "core/product/series.h"
#include "runtime/files/whole_files.h"
#include "runtime/serial/serial_ports.h"
#include "tools/zelkctl/output.h"
#include "tools/zelkctl/session.h"
#include "tools/zelkctl/write_command.h"

namespace {

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

int Read(const Request& request) {
    ModuleList module;
    int status = kExitDone;
    if (!ReadModuleAndVersion(request, &module, &status)) {
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

}  // namespace

namespace {

int Diff(const Request& request, const Plan& plan) {
    ModuleList module;
    int status = kExitDone;
    if (!ReadModuleAndVersion(request, &module, &status)) {
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
    return ReportVersion(request);
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
        const auto hex = [](int id) {
            return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
        };
        if (!entry.serialNumber.empty()) {
            usb[QStringLiteral("serialNumber")] = QString::fromStdString(entry.serialNumber);
        }
        if (entry.vendorId >= 0 && entry.productId >= 0) {
            usb[QStringLiteral("vendorId")] = hex(entry.vendorId);
            usb[QStringLiteral("productId")] = hex(entry.productId);
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
            status = WriteCommand(request, plan);
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
            // A register the module does not list is its serial format, the port's own.
            kept += (kept.empty() ? "" : ", ") + Name(row.number) +
                    (ProfileOf(request.series).unlisted.Contains(row.number)
                         ? " (as the port's format, -f)"
                         : "");
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
