#include "runtime/serial/rs232.h"

#include <array>
#include <cstdlib>
#include <memory>
#include <string>

#include "runtime/serial/serial_seam.h"

namespace {

constexpr int kPortCount = 12;
constexpr int kDefaultQueueSize = 512;

struct OpenPort {
    std::unique_ptr<serial_backend::Device> device;
    std::string deviceName;
    bool gone = false;  // the device went away; only CloseCom is left to do
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
        lastError = openPorts[port].deviceName + ": the device is gone (unplugged or hung up)";
    }
    return result;
}

bool ValidSettings(long baudRate, int parity, int dataBits, int stopBits) {
    return baudRate > 0 && parity >= RS232_PARITY_NONE && parity <= RS232_PARITY_EVEN &&
           dataBits >= 5 && dataBits <= 8 && (stopBits == 1 || stopBits == 2);
}

}  // namespace

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
    openPorts[port] = OpenPort{std::move(opened), device, false};
    return RS232_NO_ERROR;
}

int CloseCom(int port) {
    if (!ValidPort(port)) {
        return RS232_BAD_PORT;
    }
    if (!openPorts[port].device) {
        return RS232_NOT_OPEN;
    }
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
    return Checked(port, device->write(reinterpret_cast<const uint8_t*>(buffer), count));
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
    return device->readByte();
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
    device->discardInput();
    return RS232_NO_ERROR;
}

int FlushOutQ(int port) {
    int error = 0;
    serial_backend::Device* device = OpenDevice(port, &error);
    if (device == nullptr) {
        return error;
    }
    device->discardOutput();
    return RS232_NO_ERROR;
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
#ifdef _WIN32
    name = "COM" + std::to_string(port);
#else
    const std::string variable = "ZELK_COM" + std::to_string(port);
    const char* alias = std::getenv(variable.c_str());
    if (alias != nullptr && alias[0] != '\0') {
        name = alias;
    } else {
        const std::vector<serial_backend::PortInfo> ports = serial_backend::ListedPorts();
        const std::size_t index = static_cast<std::size_t>(port - 1);
        name = index < ports.size() ? ports[index].systemLocation : std::string();
    }
#endif
    return name.c_str();
}

const char* DescribeComPorts() {
    portDescription.clear();
    const std::vector<serial_backend::PortInfo> ports = serial_backend::ListedPorts();
    for (int port = 1; port <= kPortCount; ++port) {
        const std::string comName = "COM" + std::to_string(port);
        std::string line = comName + " = ";
#ifdef _WIN32
        // The number is the system's own; say whether the system reports such a port.
        bool found = false;
        for (const serial_backend::PortInfo& info : ports) {
            if (info.name == comName) {
                found = true;
                line += comName;
                if (!info.description.empty()) {
                    line += " (" + info.description + ")";
                }
            }
        }
        if (!found) {
            line += "no device";
        }
#else
        const std::string variable = "ZELK_" + comName;
        const char* alias = std::getenv(variable.c_str());
        const std::size_t index = static_cast<std::size_t>(port - 1);
        if (alias != nullptr && alias[0] != '\0') {
            line += std::string(alias) + " (set by " + variable + ")";
        } else if (index < ports.size()) {
            line += ports[index].systemLocation;
            if (!ports[index].description.empty()) {
                line += " (" + ports[index].description + ")";
            }
        } else {
            line += "no device";
        }
#endif
        portDescription += line + "\n";
    }
    if (!portDescription.empty()) {
        portDescription.pop_back();
    }
    return portDescription.c_str();
}
