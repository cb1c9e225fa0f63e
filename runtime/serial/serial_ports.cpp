#include "runtime/serial/serial_ports.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "runtime/serial/serial_seam.h"
#include "runtime/timing/clock.h"

namespace {

constexpr int kPortCount = 12;
constexpr int kDefaultQueueSize = 512;

struct OpenPort {
    std::unique_ptr<serial_backend::Device> device;
    std::string deviceName;
    // How the trace names the port: its COM number, or the device path it was opened by.
    std::string label;
    bool gone = false;  // the device went away; only CloseCom is left to do
    std::string note;   // what the device says of itself although nothing failed
};

std::array<OpenPort, kPortCount + 1> openPorts;
std::array<std::string, kPortCount + 1> deviceNames;
std::string portDescription;
std::string lastError;

bool ValidPort(int port) {
    return port >= 1 && port <= kPortCount;
}

// The open device of a port, or the error that says why there is none.
serial_backend::Device* OpenDevice(int port, int* error) {
    if (!ValidPort(port)) {
        *error = RS232_BAD_PORT;
        return nullptr;
    }
    if (!openPorts[port].device) {
        *error = RS232_NOT_OPEN;
        return nullptr;
    }
    if (openPorts[port].gone) {
        *error = RS232_DEVICE_GONE;
        return nullptr;
    }
    return openPorts[port].device.get();
}

// Passes a device's result on, noting when it says the device has gone: from then on the
// port answers every call with RS232_DEVICE_GONE, without asking the device again.
int Checked(int port, int result) {
    if (result == RS232_DEVICE_GONE && !openPorts[port].gone) {
        openPorts[port].gone = true;
        lastError = openPorts[port].device->goneReason();
        if (lastError.empty()) {
            lastError = openPorts[port].deviceName + ": the device is gone (unplugged or hung up)";
        }
    }
    return result;
}

bool ValidSettings(long baudRate, int parity, int dataBits, int stopBits) {
    return baudRate > 0 && parity >= RS232_PARITY_NONE && parity <= RS232_PARITY_EVEN &&
           dataBits >= 5 && dataBits <= 8 && (stopBits == 1 || stopBits == 2);
}

// The wire trace, when one is written.
struct Trace {
    std::FILE* file = nullptr;
    double origin = 0.0;
    std::string step;
};
Trace trace;
void (*stepListener)(const char* step) = nullptr;

void TraceByte(int port, const char* direction, int byte) {
    if (trace.file == nullptr) {
        return;
    }
    char shown[8];
    if (byte == '\r') {
        std::snprintf(shown, sizeof shown, "\\r");
    } else if (byte == '\n') {
        std::snprintf(shown, sizeof shown, "\\n");
    } else if (byte > 0x20 && byte < 0x7F) {
        std::snprintf(shown, sizeof shown, "%c", byte);
    } else {
        std::snprintf(shown, sizeof shown, "\\x%02x", byte);
    }
    std::fprintf(trace.file, "%12.3f  %-5s  %-9s  %02x  %-4s  %s\n",
                 (Timer() - trace.origin) * 1000.0, openPorts[port].label.c_str(), direction, byte,
                 shown, trace.step.c_str());
    std::fflush(trace.file);
}

void TraceNote(const std::string& note) {
    if (trace.file != nullptr) {
        std::fprintf(trace.file, "%12.3f  # %s\n", (Timer() - trace.origin) * 1000.0, note.c_str());
        std::fflush(trace.file);
    }
}

// The variable that may name the device of port n: ZELK_COMn. On Windows it reaches the
// COM ports above 12 that USB adapters are often given ("ZELK_COM1=COM17").
std::string AliasVariable(int port) {
    return "ZELK_COM" + std::to_string(port);
}

// The device that variable names, or nullptr when it names none.
const char* AliasOf(int port) {
    const char* alias = std::getenv(AliasVariable(port).c_str());
    return alias != nullptr && alias[0] != '\0' ? alias : nullptr;
}

}  // namespace

int ComTraceTo(const char* path) {
    if (trace.file != nullptr) {
        std::fclose(trace.file);
        trace.file = nullptr;
    }
    if (path == nullptr || *path == '\0') {
        return 0;
    }
    trace.file = std::fopen(path, "w");
    if (trace.file == nullptr) {
        return -1;
    }
    trace.origin = Timer();
    trace.step.clear();
    std::fprintf(trace.file,
                 "#         ms  port   direction  hex char  step\n"
                 "# sent: to the module; read: from the module, taken by the program;\n"
                 "# discarded: from the module, dropped unread by a flush of the input\n");
    std::fflush(trace.file);
    return 0;
}

void ComTraceStep(const char* step) {
    if (trace.file != nullptr) {
        trace.step = step != nullptr ? step : "";
    }
    if (stepListener != nullptr && step != nullptr) {
        stepListener(step);
    }
}

void ComStepListener(void (*listener)(const char* step)) {
    stepListener = listener;
}

const char* GetComNoteText(int port) {
    return ValidPort(port) ? openPorts[port].note.c_str() : "";
}

const char* GetComErrorText() {
    return lastError.c_str();
}

int OpenComConfig(int port, const char* deviceName, long baudRate, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int outputQueueSize) {
    lastError.clear();
    if (!ValidPort(port)) {
        lastError = "COM" + std::to_string(port) + " is not a port number (1 to 12)";
        return RS232_BAD_PORT;
    }
    if (openPorts[port].device) {
        lastError = "COM" + std::to_string(port) + " is already open";
        return RS232_ALREADY_OPEN;
    }
    if (!ValidSettings(baudRate, parity, dataBits, stopBits)) {
        lastError = "unsupported baud rate, parity, data or stop bits";
        return RS232_BAD_SETTINGS;
    }
    serial_backend::Settings settings;
    settings.baudRate = baudRate;
    settings.parity = parity;
    settings.dataBits = dataBits;
    settings.stopBits = stopBits;
    settings.inputQueueSize = inputQueueSize > 0 ? inputQueueSize : kDefaultQueueSize;
    settings.outputQueueSize = outputQueueSize > 0 ? outputQueueSize : kDefaultQueueSize;

    // The port number is turned into a device here, once; the device layer below only
    // ever sees names.
    std::string device = deviceName != nullptr ? deviceName : "";
    const std::string label = device.empty() ? "COM" + std::to_string(port) : device;
    if (device.empty()) {
        device = ComPortDeviceName(port);
    }
    if (device.empty()) {
        lastError = "COM" + std::to_string(port) + " stands for no device";
        return RS232_NO_DEVICE;
    }
    int error = RS232_OPEN_FAILED;
    std::string reason;
    auto opened = serial_backend::CurrentDeviceFactory()(device, settings, &error, &reason);
    if (!opened) {
        lastError = reason;
        return error < 0 ? error : RS232_OPEN_FAILED;
    }
    std::string note = opened->note();
    openPorts[port] = OpenPort{std::move(opened), device, label, false, note};
    static const char parityNames[] = {'N', 'O', 'E'};
    TraceNote(label + (label == device ? "" : " opened on " + device) +
              (label == device ? " opened at " : " at ") + std::to_string(baudRate) + " bit/s, " +
              std::to_string(dataBits) + parityNames[parity] + std::to_string(stopBits));
    if (!note.empty()) {
        TraceNote(device + ": " + note);
    }
    return RS232_NO_ERROR;
}

int CloseCom(int port) {
    if (!ValidPort(port)) {
        return RS232_BAD_PORT;
    }
    if (!openPorts[port].device) {
        return RS232_NOT_OPEN;
    }
    TraceNote(openPorts[port].label + " closed");
    openPorts[port] = OpenPort{};
    return RS232_NO_ERROR;
}

int ComWrt(int port, const char* buffer, int count) {
    int error = 0;
    serial_backend::Device* device = OpenDevice(port, &error);
    if (device == nullptr) {
        return error;
    }
    if (buffer == nullptr || count < 0) {
        return RS232_WRITE_FAILED;
    }
    const int result =
        Checked(port, device->write(reinterpret_cast<const uint8_t*>(buffer), count));
    for (int i = 0; i < result; ++i) {
        TraceByte(port, "sent", static_cast<unsigned char>(buffer[i]));
    }
    if (result == RS232_DEVICE_GONE) {
        TraceNote(lastError);
    }
    return result;
}

int ComWrtByte(int port, int byte) {
    const char value = static_cast<char>(byte & 0xFF);
    return ComWrt(port, &value, 1);
}

int ComRdByte(int port) {
    int error = 0;
    serial_backend::Device* device = OpenDevice(port, &error);
    if (device == nullptr) {
        return error;
    }
    const int waiting = Checked(port, device->bytesWaiting());
    if (waiting < 0) {
        return waiting;
    }
    if (waiting == 0) {
        return RS232_NOTHING_WAITING;
    }
    const int byte = device->readByte();
    if (byte >= 0) {
        TraceByte(port, "read", byte);
    }
    return byte;
}

int GetInQLen(int port) {
    int error = 0;
    serial_backend::Device* device = OpenDevice(port, &error);
    return device == nullptr ? error : Checked(port, device->bytesWaiting());
}

int FlushInQ(int port) {
    int error = 0;
    serial_backend::Device* device = OpenDevice(port, &error);
    if (device == nullptr) {
        return error;
    }
    // A trace shows what the flush threw away: often the very reply someone is looking for.
    if (trace.file != nullptr) {
        while (device->bytesWaiting() > 0) {
            const int byte = device->readByte();
            if (byte < 0) {
                break;
            }
            TraceByte(port, "discarded", byte);
        }
    }
    device->discardInput();
    return RS232_NO_ERROR;
}

int FlushOutQ(int port) {
    int error = 0;
    serial_backend::Device* device = OpenDevice(port, &error);
    if (device != nullptr) {
        device->discardOutput();
    }
    return error;
}

int ComDrainOutQ(int port) {
    int error = 0;
    serial_backend::Device* device = OpenDevice(port, &error);
    if (device != nullptr) {
        device->drainOutput();
    }
    return error;
}

const char* ComPortDeviceName(int port) {
    if (!ValidPort(port)) {
        return "";
    }
    std::string& name = deviceNames[port];
    // An open port stands for the device it was opened on, whatever the map says now.
    if (openPorts[port].device) {
        name = openPorts[port].deviceName;
        return name.c_str();
    }
    if (const char* alias = AliasOf(port)) {
        name = alias;
    } else {
#ifdef _WIN32
        name = "COM" + std::to_string(port);
#else
        const std::vector<serial_backend::PortInfo> ports = serial_backend::ListedPorts();
        const std::size_t index = static_cast<std::size_t>(port - 1);
        name = index < ports.size() ? ports[index].systemLocation : std::string();
#endif
    }
    return name.c_str();
}

const char* ComPortAlias(int port) {
    static std::string variable;
    variable.clear();
    if (ValidPort(port) && AliasOf(port) != nullptr) {
        variable = AliasVariable(port);
    }
    return variable.c_str();
}

namespace {

// What the system reports for COM`port` when no variable names its device: the device and
// its description, or that there is none.
std::string DescribeSystemPort(const std::vector<serial_backend::PortInfo>& ports, int port) {
#ifdef _WIN32
    // The number is the system's own; say whether the system reports such a port.
    const std::string name = "COM" + std::to_string(port);
    for (const serial_backend::PortInfo& info : ports) {
        if (info.name == name) {
            return name + (info.description.empty() ? "" : " (" + info.description + ")");
        }
    }
    return "no device";
#else
    const std::size_t index = static_cast<std::size_t>(port - 1);
    if (index >= ports.size()) {
        return "no device";
    }
    const serial_backend::PortInfo& info = ports[index];
    return info.systemLocation + (info.description.empty() ? "" : " (" + info.description + ")");
#endif
}

// How a port that no COM number reaches is named: on Windows "COM17", as zelkctl's -p takes
// it, rather than its \\.\COM17; elsewhere its device.
std::string UnmappedName(const serial_backend::PortInfo& info) {
#ifdef _WIN32
    return info.name;
#else
    return info.systemLocation;
#endif
}

}  // namespace

const char* DescribeComPorts() {
    portDescription.clear();
    const std::vector<serial_backend::PortInfo> ports = serial_backend::ListedPorts();
    for (int port = 1; port <= kPortCount; ++port) {
        std::string line = "COM" + std::to_string(port) + " = ";
        if (const char* alias = AliasOf(port)) {
            line += std::string(alias) + " (set by " + AliasVariable(port) + ")";
        } else {
            line += DescribeSystemPort(ports, port);
        }
        portDescription += line + "\n";
    }
    if (!portDescription.empty()) {
        portDescription.pop_back();
    }
    return portDescription.c_str();
}

std::vector<ComPortEntry> ListComPorts(bool probe) {
    const std::vector<serial_backend::PortInfo> listed = serial_backend::ListedPorts();
    std::vector<bool> mapped(listed.size(), false);
    std::vector<ComPortEntry> entries;
    // Fills in what the system reports of the entry's device; false when it reports nothing.
    const auto describe = [&](ComPortEntry& entry) {
        bool found = false;
        for (std::size_t i = 0; i < listed.size(); ++i) {
            if (listed[i].systemLocation == entry.device || listed[i].name == entry.device) {
                mapped[i] = true;
                found = true;
                entry.description = listed[i].description;
                entry.manufacturer = listed[i].manufacturer;
                entry.serialNumber = listed[i].serialNumber;
                entry.vendorId = listed[i].vendorId;
                entry.productId = listed[i].productId;
            }
        }
        // Only an open tells for sure: a program may hold the device without locking it, and
        // a lock may be held without an open. The settings are put back on close.
        if (probe) {
            const auto opened = serial_backend::CurrentDeviceFactory()(
                entry.device, serial_backend::Settings{}, &entry.access, &entry.problem);
            if (opened) {
                entry.access = RS232_NO_ERROR;
            }
        }
        return found;
    };
    for (int port = 1; port <= kPortCount; ++port) {
        ComPortEntry entry;
        entry.port = port;
        entry.device = ComPortDeviceName(port);
        entry.alias = ComPortAlias(port);
        NetworkPortName network;
        std::string problem;
        if (IsNetworkPortName(entry.device)) {
            entry.description = !ParseNetworkPortName(entry.device, &network, &problem)
                                    ? "a malformed network port name"
                                : network.rfc2217 ? "network port, RFC 2217"
                                                  : "network port, raw TCP";
        }
        // On Windows every number has a name; only those the system reports are ports.
        if (!entry.device.empty() && (describe(entry) || !entry.alias.empty())) {
            entries.push_back(entry);
        }
    }
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (!mapped[i]) {
            ComPortEntry entry;
            entry.device = UnmappedName(listed[i]);
            describe(entry);
            entries.push_back(entry);
        }
    }
    return entries;
}
