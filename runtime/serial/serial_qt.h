// The real serial ports behind the serial runtime: Qt SerialPort on every platform.
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

}  // namespace serial_backend
