#include "tools/zelkctl/plan.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <map>

#include "core/params/config_text.h"
#include "core/params/write.h"
#include "core/product/series.h"
#include "runtime/files/whole_files.h"
#include "runtime/serial/serial_ports.h"
#include "tools/zelkctl/output.h"
#include "tools/zelkctl/setting_file.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

std::string FileName(const Request& request) {
    return request.file == "-" ? "standard input" : request.file;
}

// Why the setting file cannot be read, without its name: the caller gives that.
std::string ReadFailure(int error, long long size, std::size_t limit) {
    const std::string most = " the " + std::to_string(limit) + " bytes a setting file may have";
    switch (error) {
        case FILEIO_IS_FOLDER:
            return "it is a folder, not a file";
        case FILEIO_IS_DEVICE:
            return "it is a device, not a file";
        case FILEIO_TOO_LARGE:
            // A pipe has no size of its own; a growing file shows at least this much.
            return size >= 0 ? "the file is " + std::to_string(size) + " bytes, more than" + most
                             : "the file is longer than" + most;
        default:
            return FileIoReason(error);
    }
}

int TakeFile(const Request& request, Plan* plan) {
    std::string bytes;
    long long size = -1;
    const std::string name = FileName(request);
    // No file this program writes comes near the text buffer; one that does is not a
    // setting file.
    constexpr std::size_t kLimit = CONFIG_TEXT_SIZE - 1;
    const int error = ReadWholeFile(request.file.c_str(), kLimit, &bytes, &size);
    if (error != FILEIO_NO_ERROR) {
        return Failure(kExitFile, "cannot read " + name + ": " + ReadFailure(error, size, kLimit));
    }
    if (request.file == "-") {
        plan->standardInput = bytes;
    }
    const SettingFile file = ParseSettingFile(bytes);
    for (const auto& [line, text] : file.errors) {
        Failure(kExitFile, name + (line > 0 ? ":" + std::to_string(line) : "") + ": " + text);
    }
    if (!file.errors.empty()) {
        return kExitFile;
    }
    for (const SettingRecord& record : file.records) {
        plan->values[static_cast<std::size_t>(record.number)] =
            PlannedValue{true,       record.high, record.twoPart,
                         record.low, false,       name + ":" + std::to_string(record.line)};
    }
    return kExitDone;
}

int TakeAssignments(const Request& request, Plan* plan) {
    for (const Assignment& assignment : request.assignments) {
        PlannedValue& value = plan->values[static_cast<std::size_t>(assignment.number)];
        value = PlannedValue{true, assignment.high,           assignment.twoPart, assignment.low,
                             true, "--set " + assignment.text};
        if (!assignment.counter.empty()) {
            std::string error;
            if (!PeekId(assignment.counter, &plan->nextId, &error)) {
                return Failure(kExitFile, "--set " + assignment.text + ": " + error);
            }
            plan->counter = assignment.counter;
            plan->counterRegister = assignment.number;
            value.high = plan->nextId.high;
            value.twoPart = plan->nextId.twoPart;
            value.low = plan->nextId.low;
        }
    }
    return kExitDone;
}

// The modulations a value of S110 may be meant for: the one the plan gives, or else every
// one the series can be in, since the module's own decides once it is read.
std::vector<uint8_t> PossibleModulations(const Request& request, const Plan& plan) {
    const PlannedValue& modulation = plan.values[113];
    if (modulation.given) {
        return {modulation.high};
    }
    if (ProfileOf(request.series).modulation == Modulation::FskOnly) {
        return {0};
    }
    return {0, 1};
}

int CheckRegister(const Request& request, const Plan& plan, const RegisterRow& row) {
    const PlannedValue& value = plan.values[static_cast<std::size_t>(row.number)];
    const SeriesProfile& profile = ProfileOf(request.series);
    const std::string name = "S" + std::to_string(row.number);
    const bool written = WriteSends(request.series, row.number);
    // A file may hold what the series' own texts and lists hold; --set only what is sent.
    const bool known =
        written || !profile.unlisted.Contains(row.number) || !profile.unsaved.Contains(row.number);
    if (!known || (value.fromSet && !written)) {
        return Failure(kExitUsage, value.source + ": a " + profile.name + " has no " + name +
                                       (known ? " that a write sends" : ""));
    }
    if (value.fromSet && value.twoPart && row.idForm == IdForm::FollowsIdLength &&
        !profile.writesTwoPartIds) {
        return Failure(kExitUsage,
                       value.source + ": a " + profile.name + " takes its IDs in one part");
    }
    if (!value.fromSet || !plan.counter.empty()) {
        return kExitDone;  // a file's value the module may hold already: decided once read
    }
    std::string offered;
    for (const uint8_t modulation : PossibleModulations(request, plan)) {
        if (Offered(request.series, modulation, row, value.high, &offered)) {
            return kExitDone;
        }
    }
    return Failure(kExitUsage, value.source + ": " + name + "=" + std::to_string(value.high) +
                                   " is not offered for " + profile.name + ": it takes " + offered);
}

std::string Describe(const AllowedValues& allowed) {
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

// What the same-device check compares: a device's canonical path, or, when there are
// several ports to tell apart, each address a network port's name stands for, so that
// rfc2217://localhost:4001 and socket://127.0.0.1:4001 meet.
std::vector<std::string> DeviceKeys(const std::string& device, bool severalPorts) {
    if (IsNetworkPortName(device)) {
        return severalPorts ? NetworkPortAddresses(device) : std::vector<std::string>{device};
    }
#ifdef _WIN32
    // COM17, com17 and \\.\COM17 are one port, and a COM port is no file to resolve.
    QString name = QString::fromStdString(device);
    if (name.startsWith(QLatin1String("\\\\.\\"))) {
        name = name.mid(4);
    }
    bool number = false;
    if (name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) &&
        name.mid(3).toInt(&number) > 0 && number) {
        return {name.toUpper().toStdString()};
    }
#endif
    const QString canonical = QFileInfo(QString::fromStdString(device)).canonicalFilePath();
    return {canonical.isEmpty() ? device : canonical.toStdString()};
}

// A network port that a ZELK_COMn variable names is checked as one given with -p. Detect
// cannot try rates on a raw TCP port: only its server sets the line.
int CheckNetworkPort(const Request& request, const PortChoice& port, const std::string& device) {
    NetworkPortName network;
    std::string problem;
    if (!ParseNetworkPortName(device, &network, &problem)) {
        return Failure(kExitUsage, port.label + ": " + problem);
    }
    if (request.command == Command::Detect && !network.rfc2217) {
        return Failure(kExitUsage, device +
                                       " is a raw TCP port, whose rate and format only its "
                                       "server sets: detect has nothing to try there (name it "
                                       "rfc2217:// if its server takes RFC 2217)");
    }
    return kExitDone;
}

int CheckPorts(const Request& request) {
    std::map<std::string, const PortChoice*> devices;
    std::map<std::string, const PortChoice*> files;
    for (const PortChoice& port : request.ports) {
        const std::string device =
            port.device.empty() ? ComPortDeviceName(port.comPort) : port.device;
        if (IsNetworkPortName(device)) {
            const int status = CheckNetworkPort(request, port, device);
            if (status != kExitDone) {
                return status;
            }
        }
        for (const std::string& key : DeviceKeys(device, request.ports.size() > 1)) {
            if (!key.empty() && !devices.emplace(key, &port).second) {
                return Failure(kExitUsage, devices[key]->label + " and " + port.label +
                                               " are the same device (" + key + "): give it once");
            }
        }
        for (const std::string& name : {request.output, request.trace}) {
            if (!name.empty() && request.ports.size() > 1 &&
                !files.emplace(ForPort(name, port), &port).second) {
                return Failure(kExitUsage, files[ForPort(name, port)]->label + " and " +
                                               port.label + " would both write " +
                                               ForPort(name, port));
            }
        }
    }
    return kExitDone;
}

// Whether the file can be written: an existing one that is no folder and may be written,
// or a new one in a folder that takes it.
bool Writable(const std::string& path, std::string* why) {
    const QFileInfo info(QString::fromStdString(path));
    if (info.isDir()) {
        *why = "it is a folder";
        return false;
    }
#ifndef _WIN32
    const std::string folder = info.exists() ? path : info.absolutePath().toStdString();
    if (access(folder.c_str(), info.exists() ? W_OK : W_OK | X_OK) != 0) {
        *why = info.exists() || QFileInfo::exists(info.absolutePath())
                   ? std::string(std::strerror(errno))
                   : "no folder " + info.absolutePath().toStdString();
        return false;
    }
    return true;
#else
    *why = "it cannot be written";
    return info.exists() ? info.isWritable() : QFileInfo(info.absolutePath()).isWritable();
#endif
}

}  // namespace

int MakePlan(const Request& request, Plan* plan) {
    *plan = Plan{};
    int status = request.file.empty() ? kExitDone : TakeFile(request, plan);
    if (status == kExitDone) {
        status = TakeAssignments(request, plan);
    }
    for (const RegisterRow& row : kRegisterTable) {
        if (status == kExitDone && plan->values[static_cast<std::size_t>(row.number)].given) {
            status = CheckRegister(request, *plan, row);
        }
    }
    if (status == kExitDone && PlannedIdBytes(request, *plan) < 0) {
        status = kExitUsage;
    }
    return status;
}

int PlannedIdBytes(const Request& request, const Plan& plan) {
    const PlannedValue* first = nullptr;
    for (const RegisterRow& row : kRegisterTable) {
        const PlannedValue& value = plan.values[static_cast<std::size_t>(row.number)];
        if (row.idForm != IdForm::FollowsIdLength || !value.given) {
            continue;
        }
        if (first != nullptr && first->twoPart != value.twoPart) {
            Failure(kExitUsage, value.source + " is in " +
                                    (value.twoPart ? "two parts" : "one part") + " but " +
                                    first->source + " in " + (first->twoPart ? "two" : "one") +
                                    ": the IDs S121, S122, S123 and S130 share one length");
            return -1;
        }
        first = first != nullptr ? first : &value;
    }
    const int planned = first == nullptr ? 0 : first->twoPart ? 2 : 1;
    if (request.idBytes != 0 && planned != 0 && planned != request.idBytes &&
        ProfileOf(request.series).writesTwoPartIds) {
        Failure(kExitUsage, "--ids " + std::to_string(request.idBytes) + " but " + first->source +
                                " is in " + (first->twoPart ? "two parts" : "one part"));
        return -1;
    }
    return request.idBytes != 0 ? request.idBytes : planned;
}

bool Offered(ProductSeries series, uint8_t modulation, const RegisterRow& row, uint8_t value,
             std::string* offered) {
    const AllowedValues allowed = AllowedFor(series, modulation, row);
    if (IsAllowed(allowed, value)) {
        return true;
    }
    *offered = Describe(allowed);
    return false;
}

int CheckBeforeOpening(const Request& request) {
    const int status = CheckPorts(request);
    if (status != kExitDone) {
        return status;
    }
    std::vector<PortChoice> ports = request.ports;
    if (ports.empty()) {
        ports.emplace_back();
    }
    for (const PortChoice& port : ports) {
        for (const std::string& name : {request.output, request.trace, request.log}) {
            std::string why;
            if (!name.empty() && name != "-" && !Writable(ForPort(name, port), &why)) {
                return Failure(kExitFile, "cannot write " + ForPort(name, port) + ": " + why);
            }
        }
    }
    return kExitDone;
}

int CheckRequest(const Request& request, Plan* plan) {
    const int status = MakePlan(request, plan);
    return status != kExitDone ? status : CheckBeforeOpening(request);
}
