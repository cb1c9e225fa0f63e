// The real serial ports behind the serial runtime: Qt SerialPort on every platform, in a
// module of its own (zelkserial) that the runtime loads on the first serial step, so that a
// program that starts without touching a port does not load Qt SerialPort as it starts.
// Internal to runtime/.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "runtime/serial/serial_seam.h"

namespace serial_backend {

// Opens deviceName as a QSerialPort.
std::unique_ptr<Device> OpenQtSerialPort(const std::string& deviceName, const Settings& settings,
                                         int* error, std::string* reason);
// The ports QSerialPortInfo reports, unordered.
std::vector<PortInfo> ListSystemPorts();

// What the module hands the runtime. Both come from one build, but a module left over from
// another installation must be refused rather than called with another layout.
constexpr int kSerialModuleAbi = 1;
struct SerialModule {
    int abi;
    std::unique_ptr<Device> (*open)(const std::string& deviceName, const Settings& settings,
                                    int* error, std::string* reason);
    std::vector<PortInfo> (*list)();
};
// The module's one exported function, by this name, returns its SerialModule.
constexpr const char* kSerialModuleEntry = "ZelkSerialModule";

// The runtime's side: the module's two functions, the module loaded on the first call. When
// it cannot be loaded, the open fails with RS232_OPEN_FAILED and the reason, which names the
// module's path and the system's words, and the list is empty; the reason goes to stderr
// once as well, so that an empty port list never hides a broken installation.
std::unique_ptr<Device> OpenThroughModule(const std::string& deviceName, const Settings& settings,
                                          int* error, std::string* reason);
std::vector<PortInfo> ListThroughModule();

}  // namespace serial_backend
