// Seam of the serial runtime: tests put a simulated port and port list in place of the real
// ones. The program never includes this header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace serial_backend {

struct Settings {
    long baudRate = 9600;
    int parity = 0;
    int dataBits = 8;
    int stopBits = 1;
    int inputQueueSize = 512;
    int outputQueueSize = 512;
};

// One open port.
class Device {
  public:
    virtual ~Device() = default;
    // Sends the bytes on their way before returning; returns the count or a negative
    // Rs232Error (RS232_DEVICE_GONE when the device went away).
    virtual int write(const uint8_t* data, int count) = 0;
    // Bytes received by now and not yet read, or RS232_DEVICE_GONE.
    virtual int bytesWaiting() = 0;
    // Next received byte; only called when bytesWaiting() > 0.
    virtual int readByte() = 0;
    virtual void discardInput() = 0;
    virtual void discardOutput() = 0;
    // Returns once every byte written has left the port.
    virtual void drainOutput() = 0;
    // Why the device went away, once an operation has returned RS232_DEVICE_GONE, in the
    // words of whoever said so; empty where the runtime's own words say it.
    virtual std::string goneReason() const { return {}; }
    // What the program should know of the open port although nothing failed; empty for most.
    virtual std::string note() const { return {}; }
};

// Opens a device by its name (already resolved from the port number). On failure returns
// nullptr and a negative Rs232Error in *error, with a reason in *reason.
using DeviceFactory = std::function<std::unique_ptr<Device>(
    const std::string& deviceName, const Settings& settings, int* error, std::string* reason)>;

// Replaces how ports are opened; an empty factory restores the real serial ports.
void SetDeviceFactory(DeviceFactory factory);
// The factory in use (the real one when none was set).
DeviceFactory CurrentDeviceFactory();

// A serial port as the system reports it.
struct PortInfo {
    std::string name;            // "ttyUSB0"
    std::string systemLocation;  // "/dev/ttyUSB0", what is opened
    std::string description;     // "FT232R USB UART"; empty when the system has none
    std::string manufacturer;    // empty when unknown
    std::string serialNumber;    // empty when unknown
    int vendorId = -1;           // USB vendor and product ID; -1 when unknown
    int productId = -1;
};
using PortLister = std::function<std::vector<PortInfo>()>;
// Replaces how the system's ports are listed; an empty lister restores the real one.
void SetPortLister(PortLister lister);
// The ports of the current lister, in COM-number order.
std::vector<PortInfo> ListedPorts();
// The listed ports in COM-number order: USB adapters (ttyUSB*, ttyACM*) first, then the
// rest, each group in name order (numbers compared as numbers, so ttyUSB2 < ttyUSB10).
std::vector<PortInfo> OrderPorts(std::vector<PortInfo> ports);

}  // namespace serial_backend
