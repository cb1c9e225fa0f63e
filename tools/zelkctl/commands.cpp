#include "tools/zelkctl/commands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <array>
#include <cstdio>
#include <cstring>

#include "core/link/command_mode.h"
#include "core/link/connection.h"
#include "core/link/version.h"
#include "core/params/config_text.h"
#include "core/params/read.h"
#include "core/params/write.h"
#include "core/product/series.h"
#include "runtime/files/formatio.h"
#include "runtime/serial/rs232.h"
#include "runtime/timing/utility.h"

namespace {

// Messages name the port they are about; several ports may run at once.
std::string portLabel;

void Say(const std::string& text) {
    std::fprintf(stderr, "zelkctl: %s: %s\n", portLabel.c_str(), text.c_str());
}

void Print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

std::string RateAndFormat() {
    return std::to_string(connection.comBaudRate) + " bit/s " +
           serialFormats[connection.comFormat % kSerialFormatCount].name;
}

int Open(const Request& request, uint32_t baudRate, uint8_t format) {
    connection =
        ConnectionState{static_cast<uint8_t>(request.port.comPort), false, baudRate, format};
    const int result = OpenModulePort(request.port.device.c_str());
    if (result == 0) {
        return kExitDone;
    }
    std::string why = GetComErrorText();
    if (result == RS232_NO_DEVICE && request.port.device.empty()) {
        why += " (\"zelkctl ports\" lists the ports and their COM numbers)";
    } else if (result == RS232_PORT_BUSY) {
        why += "; close that program and try again";
    }
    Say("cannot open the port: " + why);
    return kExitCannotOpen;
}

// Every exchange starts by discarding what waits to go out; one that follows another in
// the same run must not throw away the end of the last one's leave command, or the module
// stays in command mode. Once the system has sent the bytes, a USB adapter may still hold
// them in its own buffer and a pty's other end may not have taken them yet, so they are
// given the time four characters take on the line, and a little more. The window never
// runs two exchanges this close together.
bool sentBefore = false;  // an exchange of this run has sent something

void FinishSending() {
    if (sentBefore) {
        ComDrainOutQ(connection.comPort);
        Delay(40.0 / connection.comBaudRate + 0.05);
    }
    sentBefore = true;
}

// Unlike the window's disconnect, the output is not discarded: the leave command written
// last may still be on its way, and a module that never gets it stays in command mode.
void Close() {
    if (connection.connected) {
        FinishSending();
        FlushInQ(connection.comPort);
        CloseCom(connection.comPort);
        connection.connected = false;
    }
}

// Says why an exchange was not done; returns its exit status. `details` says what did not
// come, or what a write got done.
int Failed(Exchange result, const std::string& details) {
    switch (result) {
        case Exchange::NoPrompt:
            Say("no \">\" came back after the escape \"+++\" at " + RateAndFormat() +
                ": check that -b and -f match the module's serial setting (factory setting "
                "9600 bit/s 8N1), that -s names its series, and its power and wiring");
            return kExitNoCommandMode;
        case Exchange::DeviceGone:
            Say(std::string(GetComErrorText()) + (details.empty() ? "" : "\n" + details));
            return kExitDeviceGone;
        case Exchange::NotAcknowledged:
            Say(details);
            return kExitRefused;
        case Exchange::NoReply:
            Say(details);
            return kExitNoReply;
        case Exchange::NotConnected:
        case Exchange::Done:
            break;
    }
    return kExitCannotOpen;
}

// The register values a text gives over a base set, and which registers (and low parts)
// it gave, as a window load would take them.
struct Values {
    ParameterSet set{};
    std::array<bool, 256> high{};
    std::array<bool, 256> low{};
    bool twoByteIds = false;
};

Values Scan(const char* text, std::size_t length, const ParameterSet& base) {
    Values values;
    values.set = base;
    values.twoByteIds = ScanConfigText(
        text, length,
        [](void* context, const AppliedRecord& record) {
            Values& into = *static_cast<Values*>(context);
            into.set.*record.row->high = record.high;
            into.high[record.row->number] = true;
            if (record.setsLow) {
                into.set.*record.row->low = record.low;
                into.low[record.row->number] = true;
            }
        },
        &values);
    return values;
}

// Reads the module's register list into values over the series' starting set.
int ReadModule(ProductSeries series, Values* values) {
    std::size_t length = 0;
    FinishSending();
    const Exchange result = ReadRegisterList(series, &length);
    if (result != Exchange::Done) {
        return Failed(result, "the register list (\"AT/L\") did not come whole: " +
                                  std::to_string(length) + " characters and no \">\"");
    }
    *values = Scan(configText, length, StartingParameters(series));
    return kExitDone;
}

std::string ValueText(const ParameterSet& set, const RegisterRow& row, bool twoPart) {
    std::string text = std::to_string(set.*row.high);
    if (twoPart) {
        text += "." + std::to_string(set.*row.low);
    }
    return text;
}

// What the series offers for a register, for a message.
std::string Offered(const AllowedValues& allowed) {
    if (allowed.list == nullptr) {
        return std::to_string(allowed.minimum) + " to " + std::to_string(allowed.maximum);
    }
    std::string text = "one of";
    for (std::size_t i = 0; i < allowed.count; ++i) {
        text += std::string(i == 0 ? " " : ", ") + std::to_string(allowed.list->items[i].value) +
                " (" + allowed.list->items[i].text + ")";
    }
    return text;
}

int ReadFile(const std::string& path, char* text, std::size_t capacity, std::size_t* length) {
    const int error = FileToArray(path.c_str(), text, capacity, length);
    if (error == FILEIO_NO_ERROR) {
        return kExitDone;
    }
    Say("cannot read " + path + ": " +
        (error == FILEIO_TOO_LARGE
             ? "it holds more than a setting file can (" + std::to_string(capacity) + " bytes)"
             : FileIoErrorText(error)));
    return kExitFile;
}

int Version(const Request& request) {
    char reply[kMaxVersionLength + 1];
    const Exchange result = QueryFirmwareVersion(request.series, reply);
    if (result != Exchange::Done) {
        return Failed(result,
                      "the firmware version (\"AT/V\") did not come: no \">\" within 5 "
                      "seconds");
    }
    Print(std::string(reply) + "\n");
    return kExitDone;
}

int Read(const Request& request) {
    Values module;
    int status = ReadModule(request.series, &module);
    if (status != kExitDone) {
        return status;
    }
    module.set.idLength = request.idBytes != 0 ? request.idBytes - 1 : module.twoByteIds ? 1 : 0;
    char version[kMaxVersionLength + 1] = "";
    if (request.withVersion) {
        FinishSending();
        const Exchange result = QueryFirmwareVersion(request.series, version);
        if (result != Exchange::Done) {
            return Failed(result,
                          "the firmware version (\"AT/V\") did not come: no \">\" "
                          "within 5 seconds");
        }
    }

    std::string text;
    if (request.json) {
        // Only what the module listed: a register it does not have is not made up.
        QJsonObject registers;
        for (const RegisterRow& row : kRegisterTable) {
            if (!module.high[row.number]) {
                continue;
            }
            const QString name = QStringLiteral("S%1").arg(row.number);
            if (row.idForm == IdForm::None) {
                registers[name] = module.set.*row.high;
            } else {
                registers[name] =
                    QString::fromStdString(ValueText(module.set, row, module.low[row.number]));
            }
        }
        QJsonObject document;
        document[QStringLiteral("port")] = QString::fromStdString(portLabel);
        document[QStringLiteral("device")] =
            QString::fromLocal8Bit(ComPortDeviceName(connection.comPort));
        document[QStringLiteral("series")] =
            QString::fromLatin1(ProfileOf(request.series).shortName);
        document[QStringLiteral("idBytes")] = module.set.idLength + 1;
        document[QStringLiteral("registers")] = registers;
        if (request.withVersion) {
            document[QStringLiteral("version")] = QString::fromLocal8Bit(version);
        }
        text = QJsonDocument(document).toJson(QJsonDocument::Indented).toStdString();
    } else {
        // Exactly what the window saves for the series, registers the module did not list
        // at the values the window starts with.
        char saved[CONFIG_TEXT_SIZE];
        text.assign(saved, FormatConfigText(module.set, saved, sizeof saved));
        if (request.withVersion && request.output.empty()) {
            Say(std::string("firmware version: ") + version);
        }
    }

    if (request.output.empty()) {
        Print(text);
        return kExitDone;
    }
    const int error = ArrayToFile(request.output.c_str(), text.data(), text.size());
    if (error != FILEIO_NO_ERROR) {
        Say("cannot write " + request.output + ": " + FileIoErrorText(error));
        return kExitFile;
    }
    return kExitDone;
}

// A --set assignment: "S110=5", "110=5" or, for an ID register, "S121=10.20".
bool ParseAssignment(const std::string& text, const RegisterRow** row, int* high, int* low) {
    int number = 0;
    int consumed = 0;
    const char* start = text.c_str() + ((text[0] == 'S' || text[0] == 's') ? 1 : 0);
    *low = -1;
    if (std::sscanf(start, "%3d=%3d%n", &number, high, &consumed) != 2) {
        return false;
    }
    if (start[consumed] == '.') {
        int more = 0;
        if (std::sscanf(start + consumed, ".%3d%n", low, &more) != 1) {
            return false;
        }
        consumed += more;
    }
    *row = FindRegister(number);
    return start[consumed] == '\0' && *row != nullptr && *high >= 0 && *high <= 255 &&
           *low <= 255 && (*low < 0 || (*row)->idForm != IdForm::None);
}

// The values to write: the file's and the assignments over what the module holds, read
// only when the file and the assignments leave a register of the write open.
int GatherWrite(const Request& request, ParameterSet* set) {
    char fileText[CONFIG_TEXT_SIZE];
    std::size_t fileLength = 0;
    if (!request.file.empty()) {
        const int status = ReadFile(request.file, fileText, sizeof fileText - 1, &fileLength);
        if (status != kExitDone) {
            return status;
        }
    }
    struct Assignment {
        const RegisterRow* row;
        int high;
        int low;
    };
    std::vector<Assignment> assignments;
    bool twoPartId = false;
    for (const std::string& text : request.assignments) {
        Assignment assignment{};
        if (!ParseAssignment(text, &assignment.row, &assignment.high, &assignment.low)) {
            Say("--set " + text +
                ": not a register of the set with a value 0 to 255 (an ID "
                "register may take two parts, as S121=10.20)");
            return kExitUsage;
        }
        twoPartId =
            twoPartId || (assignment.low >= 0 && assignment.row->idForm == IdForm::FollowsIdLength);
        assignments.push_back(assignment);
    }

    // Over a base: the file, then the assignments; the ID length by precedence.
    const auto build = [&](const Values& base, bool baseKnowsIds) {
        Values values = request.file.empty() ? base : Scan(fileText, fileLength, base.set);
        if (!request.file.empty()) {
            for (std::size_t i = 0; i < values.high.size(); ++i) {
                values.high[i] = values.high[i] || base.high[i];
                values.low[i] = values.low[i] || base.low[i];
            }
        }
        for (const Assignment& assignment : assignments) {
            values.set.*assignment.row->high = static_cast<uint8_t>(assignment.high);
            values.high[assignment.row->number] = true;
            if (assignment.low >= 0) {
                values.set.*assignment.row->low = static_cast<uint8_t>(assignment.low);
                values.low[assignment.row->number] = true;
            }
        }
        const bool fileTwoByte = !request.file.empty() && values.twoByteIds;
        values.set.idLength = request.idBytes != 0              ? request.idBytes - 1
                              : twoPartId || fileTwoByte        ? 1
                              : baseKnowsIds && base.twoByteIds ? 1
                                                                : 0;
        return values;
    };
    const auto complete = [&](const Values& values, bool idsKnown) {
        if (!idsKnown) {
            return false;
        }
        for (const RegisterRow& row : kRegisterTable) {
            if (WriteSends(request.series, row.number) &&
                (!values.high[row.number] ||
                 (WriteSendsTwoParts(values.set, row) && !values.low[row.number]))) {
                return false;
            }
        }
        return true;
    };

    Values start;
    start.set = StartingParameters(request.series);
    Values values = build(start, false);
    const bool idsKnown = request.idBytes != 0 || twoPartId || !request.file.empty();
    if (!complete(values, idsKnown)) {
        Values module;
        const int status = ReadModule(request.series, &module);
        if (status != kExitDone) {
            return status;
        }
        values = build(module, true);
    }

    int status = kExitDone;
    for (const RegisterRow& row : kRegisterTable) {
        const uint8_t value = values.set.*row.high;
        const AllowedValues allowed = AllowedFor(request.series, values.set.s113, row);
        if (WriteSends(request.series, row.number) && !IsAllowed(allowed, value)) {
            Say("S" + std::to_string(row.number) + "=" + std::to_string(value) +
                " is not offered for " + ProfileOf(request.series).name + ": it takes " +
                Offered(allowed));
            status = kExitUsage;
        }
    }
    *set = values.set;
    return status;
}

// Reads the module back and compares every register the write sent; returns kExitDone or
// kExitDifferent.
int Verify(const Request& request, const ParameterSet& written, const WriteReport& report) {
    Values module;
    const int status = ReadModule(request.series, &module);
    if (status != kExitDone) {
        return status;
    }
    int differences = 0;
    for (int i = 0; i < report.writtenCount; ++i) {
        const RegisterRow& row = *FindRegister(report.written[i]);
        const bool twoPart = WriteSendsTwoParts(written, row);
        const std::string wrote = ValueText(written, row, twoPart);
        const std::string holds = module.high[row.number] ? ValueText(module.set, row, twoPart)
                                                          : std::string("nothing (not listed)");
        if (wrote != holds) {
            Print("S" + std::to_string(row.number) + ": wrote " + wrote + ", module holds " +
                  holds + "\n");
            ++differences;
        }
    }
    if (differences > 0) {
        return kExitDifferent;
    }
    Say("verified: the module holds all " + std::to_string(report.writtenCount) +
        " registers written");
    return kExitDone;
}

int Write(const Request& request) {
    ParameterSet set{};
    int status = GatherWrite(request, &set);
    if (status != kExitDone) {
        return status;
    }
    WriteReport report;
    FinishSending();
    const Exchange result = WriteParameters(set, set.s113, &report);
    // Whatever the module still sends is of no use to the next exchange.
    if (result == Exchange::Done || result == Exchange::NotAcknowledged) {
        FlushInQ(connection.comPort);
    }
    if (result != Exchange::Done) {
        char details[512];
        DescribeWriteFailure(report, details, sizeof details);
        return Failed(result, result == Exchange::NoPrompt ? "" : details);
    }
    Say("wrote " + std::to_string(report.writtenCount) + " registers");
    return request.verify ? Verify(request, set, report) : kExitDone;
}

int Diff(const Request& request) {
    char fileText[CONFIG_TEXT_SIZE];
    std::size_t fileLength = 0;
    int status = ReadFile(request.file, fileText, sizeof fileText - 1, &fileLength);
    if (status != kExitDone) {
        return status;
    }
    const Values file = Scan(fileText, fileLength, StartingParameters(request.series));
    Values module;
    status = ReadModule(request.series, &module);
    if (status != kExitDone) {
        return status;
    }
    // Registers the module does not list are not compared: a file of another series may
    // hold them.
    int differences = 0;
    for (const RegisterRow& row : kRegisterTable) {
        if (!file.high[row.number] || !module.high[row.number]) {
            continue;
        }
        const bool twoPart = row.idForm == IdForm::AlwaysTwoPart || file.low[row.number];
        const std::string inModule = ValueText(module.set, row, twoPart);
        const std::string inFile = ValueText(file.set, row, twoPart);
        if (inModule != inFile) {
            Print("S" + std::to_string(row.number) + ": module " + inModule + ", file " + inFile +
                  "\n");
            ++differences;
        }
    }
    return differences > 0 ? kExitDifferent : kExitDone;
}

int Detect(const Request& request) {
    for (const uint8_t format : request.formats) {
        for (const uint32_t rate : request.rates) {
            const int status = Open(request, rate, format);
            if (status != kExitDone) {
                return status;
            }
            Say("trying " + RateAndFormat());
            const Exchange result = EnterCommandMode(request.series);
            if (result == Exchange::Done) {
                LeaveCommandMode(request.series);
                sentBefore = true;
                FinishSending();
                char version[kMaxVersionLength + 1] = "";
                const Exchange asked = QueryFirmwareVersion(request.series, version);
                const std::string found = RateAndFormat();
                Close();
                if (asked != Exchange::Done) {
                    Print(found + "\n");
                    return Failed(asked, "the module answered at " + found +
                                             " but its firmware version (\"AT/V\") did not come");
                }
                Print(found + ", firmware " + version + "\n");
                return kExitDone;
            }
            Close();
            if (result == Exchange::DeviceGone) {
                return Failed(result, "");
            }
        }
    }
    Say("no rate and format tried brought the module into command mode: check that -s names "
        "its series, and its power and wiring");
    return kExitNoCommandMode;
}

}  // namespace

int RunPortCommand(const Request& request) {
    portLabel = request.port.label;
    sentBefore = false;
    if (request.command == "detect") {
        return Detect(request);
    }
    int status = Open(request, request.baudRate, request.format);
    if (status != kExitDone) {
        return status;
    }
    if (request.command == "version") {
        status = Version(request);
    } else if (request.command == "read") {
        status = Read(request);
    } else if (request.command == "write") {
        status = Write(request);
    } else if (request.command == "diff") {
        status = Diff(request);
    }
    Close();
    return status;
}

int ListPorts(bool json) {
    const std::vector<ComPortEntry> ports = ListComPorts();
    const auto usb = [](const ComPortEntry& entry) {
        char text[24] = "";
        if (entry.vendorId >= 0 && entry.productId >= 0) {
            std::snprintf(text, sizeof text, "%04x:%04x", entry.vendorId, entry.productId);
        }
        return std::string(text);
    };
    if (json) {
        QJsonArray list;
        for (const ComPortEntry& entry : ports) {
            QJsonObject port;
            port[QStringLiteral("com")] = entry.port;
            port[QStringLiteral("device")] = QString::fromStdString(entry.device);
            port[QStringLiteral("alias")] = QString::fromStdString(entry.alias);
            port[QStringLiteral("description")] = QString::fromStdString(entry.description);
            port[QStringLiteral("manufacturer")] = QString::fromStdString(entry.manufacturer);
            port[QStringLiteral("serialNumber")] = QString::fromStdString(entry.serialNumber);
            port[QStringLiteral("usbId")] = QString::fromStdString(usb(entry));
            port[QStringLiteral("canOpen")] = entry.access == 0;
            port[QStringLiteral("problem")] = QString::fromStdString(entry.problem);
            list.append(port);
        }
        Print(QJsonDocument(list).toJson(QJsonDocument::Indented).toStdString());
        return kExitDone;
    }
    if (ports.empty()) {
        Print("No serial ports found. Plug the adapter in, or name a device with -p PATH.\n");
        return kExitDone;
    }
    for (const ComPortEntry& entry : ports) {
        std::string line = entry.port > 0 ? "COM" + std::to_string(entry.port) : "-";
        line.resize(6, ' ');
        line += entry.device;
        if (!entry.alias.empty()) {
            line += " (" + entry.alias + ")";
        }
        std::string about = entry.description;
        for (const std::string& part : {entry.manufacturer, usb(entry), entry.serialNumber}) {
            if (!part.empty() && about.find(part) == std::string::npos) {
                about += (about.empty() ? "" : ", ") + part;
            }
        }
        if (!about.empty()) {
            line += "  " + about;
        }
        line +=
            entry.access == 0 ? "\n      ready\n" : "\n      cannot open: " + entry.problem + "\n";
        Print(line);
    }
    return kExitDone;
}
