#include "tools/zelkctl/session.h"

#include <QJsonArray>
#include <QJsonObject>
#include <cstring>
#include <vector>

#include "core/link/connection.h"
#include "core/link/messages.h"
#include "core/link/version.h"
#include "core/params/config_text.h"
#include "core/params/read.h"
#include "core/product/series.h"
#include "runtime/serial/serial_ports.h"
#include "runtime/timing/clock.h"
#include "tools/zelkctl/interrupt.h"
#include "tools/zelkctl/output.h"

namespace {

// Whether an exchange of this run has sent something that may still be on its way.
bool sentBefore = false;
// Whether this port's run has named the registers its module lists beyond the series'.
bool extraReported = false;

// Reads what the module sends until it has been quiet for quiet seconds, or limit seconds
// have passed; returns how many bytes came.
int ReadUntilQuiet(double quiet, double limit) {
    const double start = Timer();
    double last = start;
    int count = 0;
    while (Timer() - start < limit && Timer() - last < quiet) {
        const int waiting = WaitingBytes();
        if (waiting < 0) {
            break;
        }
        for (int i = 0; i < waiting; ++i) {
            ComRdByte(connection.comPort);
            ++count;
            last = Timer();
        }
        Delay(0.02);
    }
    return count;
}

std::string Shown(const char* text, std::size_t length) {
    std::string shown;
    for (std::size_t i = 0; i < length && shown.size() < 60; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        shown += c == '\r'               ? "\\r"
                 : c == '\n'             ? "\\n"
                 : c >= 0x20 && c < 0x7f ? std::string(1, static_cast<char>(c))
                                         : "?";
    }
    return "\"" + shown + "\"";
}

// "S105, S129, S130".
std::string RegisterNames(const std::vector<int>& numbers) {
    std::string text;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        text += (i == 0 ? "" : ", ") + Name(numbers[i]);
    }
    return text;
}

// The series whose register list the module's is exactly.
std::vector<const char*> SeriesListing(const ModuleList& module) {
    std::vector<const char*> fitting;
    for (int index = 0; index < kProductSeriesCount; ++index) {
        const SeriesProfile& other = ProfileOf(static_cast<ProductSeries>(index));
        bool fits = true;
        for (const RegisterRow& row : kRegisterTable) {
            fits = fits && other.unlisted.Contains(row.number) !=
                               module.listed[static_cast<std::size_t>(row.number)];
        }
        if (fits) {
            fitting.push_back(other.shortName);
        }
    }
    return fitting;
}

std::string ListIsThatOf(const std::vector<const char*>& fitting) {
    std::string text;
    for (const char* name : fitting) {
        text += (text.empty() ? "; its list is that of -s " : " or ") + std::string(name);
    }
    return text;
}

// Registers the series does not use are taken as if the module had not listed them, so
// that nothing of theirs is printed, compared or decides what a write sends. Which
// registers a module of each series lists is our own reading of the modules we have seen;
// one more is no reason to stop a production line, but it is said, once per port.
void LeaveOutExtra(const Request& request, const std::vector<int>& extra,
                   const std::vector<const char*>& fitting, ModuleList* module) {
    const ParameterSet starting = StartingParameters(request.series);
    for (const int number : extra) {
        const RegisterRow& row = *FindRegister(number);
        module->listed[static_cast<std::size_t>(number)] = false;
        module->lowListed[static_cast<std::size_t>(number)] = false;
        SetRegister(&module->set, row, starting.*row.high, row.low != nullptr,
                    row.low != nullptr ? starting.*row.low : 0);
    }
    if (extraReported) {
        return;
    }
    extraReported = true;
    QJsonArray registers;
    for (const int number : extra) {
        registers.append(JsonName(number));
    }
    QJsonArray listOf;
    for (const char* name : fitting) {
        listOf.append(QString::fromLatin1(name));
    }
    Result()[QStringLiteral("extra")] =
        QJsonObject{{QStringLiteral("registers"), registers}, {QStringLiteral("listOf"), listOf}};
    Warn("the module's register list also holds " + RegisterNames(extra) + ", which a " +
         ProfileOf(request.series).name + " does not use: left out" + ListIsThatOf(fitting));
}

// The register list must hold every register of the series: a module of another series,
// one that answers "ERROR", or a list that lacks registers would otherwise be read,
// compared or written as if it were.
int CheckListFitsSeries(const Request& request, ModuleList* module, std::size_t length) {
    const SeriesProfile& profile = ProfileOf(request.series);
    std::vector<int> lacks;
    std::vector<int> extra;
    bool any = false;
    for (const RegisterRow& row : kRegisterTable) {
        const bool expected = !profile.unlisted.Contains(row.number);
        const bool listed = module->listed[static_cast<std::size_t>(row.number)];
        any = any || listed;
        if (expected != listed) {
            (expected ? lacks : extra).push_back(row.number);
        }
    }
    if (!any) {
        return Failure(kExitWrongModule,
                       "the module's register list (\"AT/L\") holds no register: it answered " +
                           Shown(configText, length));
    }
    const std::vector<const char*> fitting = SeriesListing(*module);
    if (lacks.empty()) {
        if (!extra.empty()) {
            LeaveOutExtra(request, extra, fitting, module);
        }
        return kExitDone;
    }
    std::string text = std::string("the module's register list does not fit a ") + profile.name +
                       ": it lacks " + RegisterNames(lacks);
    text += extra.empty() ? "" : " and it lists " + RegisterNames(extra);
    return Failure(kExitWrongModule, text + ListIsThatOf(fitting));
}

// A firmware version is text: not an error, not the command coming back.
bool IsVersion(const std::string& reply) {
    const std::size_t start = reply.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) {
        return false;
    }
    std::string upper = reply.substr(start);
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return !upper.starts_with("ERROR") && upper.find("AT/V") == std::string::npos;
}

}  // namespace

namespace session_detail {

// Every exchange starts by discarding what waits to go out; one that follows another in
// the same run must not throw away the end of the last one's leave command, or the module
// stays in command mode. Once the system has sent the bytes, a USB adapter may still hold
// them in its own buffer and a pty's other end may not have taken them yet, so they are
// given the time four characters take on the line, and a little more. The window never
// runs two exchanges this close together.
void WaitForEarlierOutput() {
    if (sentBefore) {
        ComDrainOutQ(connection.comPort);
        Delay(40.0 / connection.comBaudRate + 0.05);
    }
    sentBefore = true;
}

bool AnsweredAfterFailedEscape() {
    ComTraceStep("answer after the failed escape");
    if (ReadUntilQuiet(0.3, 2.0) == 0) {
        return false;
    }
    Say("the module answers, but not the escape: it seems to be in command mode still; "
        "trying again");
    return true;
}

void EndCommandModeLine(ProductSeries series) {
    Say("ending the line the module holds and leaving command mode before the next escape");
    ComTraceStep("end of line");
    SendCommand("\n", 1);
    ReadUntilQuiet(0.3, 2.0);
    LeaveCommandMode(series);
    ReadUntilQuiet(0.3, 2.0);
}

}  // namespace session_detail

std::string RateAndFormat() {
    return std::to_string(connection.comBaudRate) + " bit/s " +
           serialFormats[connection.comFormat % kSerialFormatCount].name;
}

int OpenPort(const Request& request, uint32_t baudRate, uint8_t format, bool* skippable) {
    const PortChoice& port = request.ports.front();
    connection = ConnectionState{static_cast<uint8_t>(port.comPort), false, baudRate, format};
    sentBefore = false;
    extraReported = false;
    const int result = OpenModulePort(port.device.c_str());
    if (result == 0) {
        // A raw TCP port takes the bytes but not the line settings; the exchange goes on at
        // whatever the server set.
        if (*GetComNoteText(connection.comPort) != '\0') {
            Warn(GetComNoteText(connection.comPort));
        }
        return kExitDone;
    }
    std::string why = GetComErrorText();
    if (result == RS232_NO_DEVICE && port.device.empty()) {
        why += " (\"zelkctl ports\" lists the ports and their COM numbers)";
    } else if (result == RS232_PORT_BUSY) {
        why += "; close that program and try again";
    }
    if (skippable != nullptr) {
        *skippable = result == RS232_BAD_SETTINGS || result == RS232_OPEN_FAILED;
        if (*skippable) {
            return kExitCannotOpen;
        }
    }
    return Failure(kExitCannotOpen, "cannot open the port: " + why);
}

// Unlike the window's disconnect, the output is not discarded: the leave command written
// last may still be on its way, and a module that never gets it stays in command mode.
void ClosePort() {
    if (connection.connected) {
        session_detail::WaitForEarlierOutput();
        FlushInQ(connection.comPort);
        CloseCom(connection.comPort);
        connection.connected = false;
    }
}

int ExchangeFailed(Exchange result, const std::string& details) {
    switch (result) {
        case Exchange::NoPrompt:
            return Failure(kExitNoCommandMode,
                           "no \">\" came back after the escape \"+++\" at " + RateAndFormat() +
                               ": check that -b and -f match the module's serial setting "
                               "(factory setting 9600 bit/s 8N1), its power and wiring");
        case Exchange::DeviceGone:
            return Failure(kExitDeviceGone, std::string(GetComErrorText()) +
                                                (details.empty() ? "" : "; " + details));
        case Exchange::NotAcknowledged:
            return Failure(kExitRefused, details);
        case Exchange::NoReply:
            return Failure(kExitNoReply, details);
        case Exchange::Stopped:
            return Failure(StopStatus(), std::string("stopped by ") + StopSignalName() +
                                             " after the command on the wire was answered; "
                                             "the module left command mode and holds the new "
                                             "values of the registers written, its old ones "
                                             "for the rest");
        case Exchange::NotConnected:
        case Exchange::Done:
            break;
    }
    return Failure(kExitCannotOpen, "the port is not open");
}

bool StopRequested(const std::string& whatWasDone, int* status) {
    if (StopSignal() == 0) {
        return false;
    }
    *status = Failure(StopStatus(), std::string("stopped by ") + StopSignalName() + " " +
                                        whatWasDone + "; the module is out of command mode");
    return true;
}

int ReadModule(const Request& request, ModuleList* module) {
    std::size_t length = 0;
    const Exchange result =
        RunExchange(request.series, [&] { return ReadRegisterList(request.series, &length); });
    if (result != Exchange::Done) {
        char details[128];
        DescribeCutRegisterList(length, details, sizeof details);
        return ExchangeFailed(result, result == Exchange::NoReply ? details : "");
    }
    *module = ModuleList{};
    module->set = StartingParameters(request.series);
    module->twoByteIds = ScanConfigText(
        configText, length,
        [](void* context, const AppliedRecord& record) {
            ModuleList& into = *static_cast<ModuleList*>(context);
            const auto number = static_cast<std::size_t>(record.row->number);
            into.set.*record.row->high = record.high;
            into.listed[number] = true;
            if (record.setsLow) {
                into.set.*record.row->low = record.low;
                into.lowListed[number] = true;
            }
        },
        module);
    module->set.idLength = module->twoByteIds ? 1 : 0;
    return CheckListFitsSeries(request, module, length);
}

std::string ValueText(const ParameterSet& set, const RegisterRow& row, bool twoPart) {
    std::string text = std::to_string(set.*row.high);
    if (twoPart) {
        text += "." + std::to_string(set.*row.low);
    }
    return text;
}

int AskVersion(const Request& request, std::string* version) {
    char reply[kMaxVersionLength + 1] = "";
    const Exchange result =
        RunExchange(request.series, [&] { return QueryFirmwareVersion(request.series, reply); });
    if (result != Exchange::Done) {
        return ExchangeFailed(result, kVersionDidNotCome);
    }
    if (!IsVersion(reply)) {
        return Failure(kExitNoReply, "the module answered \"AT/V\" with " +
                                         Shown(reply, std::strlen(reply)) +
                                         ", which is no firmware version");
    }
    *version = reply;
    return kExitDone;
}

int ReportVersionIfAsked(const Request& request) {
    return request.withVersion ? ReportVersion(request) : kExitDone;
}

int ReportVersion(const Request& request) {
    std::string version;
    const int status = AskVersion(request, &version);
    if (status == kExitDone) {
        Result()[QStringLiteral("version")] = QString::fromStdString(version);
        Say("firmware version: " + version);
    }
    return status;
}

std::string Name(int registerNumber) {
    return "S" + std::to_string(registerNumber);
}

QString JsonName(int registerNumber) {
    return QString::fromStdString(Name(registerNumber));
}

bool ReadModuleAndVersion(const Request& request, ModuleList* module, int* status) {
    *status = ReadModule(request, module);
    if (*status == kExitDone) {
        *status = ReportVersionIfAsked(request);
    }
    return *status == kExitDone && !StopRequested("after the read", status);
}
