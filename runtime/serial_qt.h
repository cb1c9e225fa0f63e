// The real serial ports behind the serial runtime: Qt SerialPort on every platform.
// Internal to runtime/.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "runtime/serial_backend.h"

namespace serial_backend {

// Opens deviceName (the port's own device when empty) as a QSerialPort.
std::unique_ptr<Device> OpenQtSerialPort(int port, const std::string& deviceName,
                                         const Settings& settings, int* error, std::string* reason);
// The ports QSerialPortInfo reports, unordered.
std::vector<PortInfo> ListSystemPorts();
// The ports of the current lister, in COM-number order.
std::vector<PortInfo> ListedPorts();

}  // namespace serial_backend
