// Seams of the serial and timing runtime. The program never includes this header: tests
// put a simulated port and a virtual clock in place of the real ones.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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
    // Rs232Error.
    virtual int write(const uint8_t* data, int count) = 0;
    // Bytes received by now and not yet read.
    virtual int bytesWaiting() = 0;
    // Next received byte; only called when bytesWaiting() > 0.
    virtual int readByte() = 0;
    virtual void discardInput() = 0;
    virtual void discardOutput() = 0;
};

// Opens the device for a port. On failure returns nullptr and a negative Rs232Error in
// *error, with a reason in *reason.
using DeviceFactory = std::function<std::unique_ptr<Device>(
    int port, const std::string& deviceName, const Settings& settings, int* error,
    std::string* reason)>;

// Replaces how ports are opened; an empty factory restores the real serial ports.
void SetDeviceFactory(DeviceFactory factory);

class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() = 0;
    // Returns once now() >= when.
    virtual void waitUntil(double when) = 0;
};

// Replaces the runtime's clock; nullptr restores the steady clock.
void SetClock(Clock* clock);
Clock& CurrentClock();

}  // namespace serial_backend
