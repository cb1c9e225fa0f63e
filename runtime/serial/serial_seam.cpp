#include "runtime/serial/serial_seam.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "runtime/serial/serial_network.h"
#include "runtime/serial/serial_ports.h"
#include "runtime/serial/serial_qt.h"

namespace serial_backend {

namespace {

DeviceFactory currentFactory;
PortLister currentLister;

// A name with a scheme is a network port; every other name a local device.
std::unique_ptr<Device> OpenSystemPort(const std::string& deviceName, const Settings& settings,
                                       int* error, std::string* reason) {
    return IsNetworkPortName(deviceName) ? OpenNetworkPort(deviceName, settings, error, reason)
                                         : OpenQtSerialPort(deviceName, settings, error, reason);
}

bool IsUsbAdapter(const std::string& name) {
    return name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0 ||
           name.rfind("cu.usb", 0) == 0;
}

// Name order with digit runs compared by value: ttyUSB2 before ttyUSB10.
bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitA = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool digitB = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (digitA && digitB) {
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && std::isdigit(static_cast<unsigned char>(a[endA]))) {
                ++endA;
            }
            while (endB < b.size() && std::isdigit(static_cast<unsigned char>(b[endB]))) {
                ++endB;
            }
            // Compare the runs by value without overflow: strip leading zeros, then the
            // longer run is larger, then compare digit by digit.
            std::size_t startA = i;
            std::size_t startB = j;
            while (startA + 1 < endA && a[startA] == '0') {
                ++startA;
            }
            while (startB + 1 < endB && b[startB] == '0') {
                ++startB;
            }
            const std::size_t lengthA = endA - startA;
            const std::size_t lengthB = endB - startB;
            if (lengthA != lengthB) {
                return lengthA < lengthB;
            }
            const int order = a.compare(startA, lengthA, b, startB, lengthB);
            if (order != 0) {
                return order < 0;
            }
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) {
            return a[i] < b[j];
        }
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

}  // namespace

void SetDeviceFactory(DeviceFactory factory) {
    currentFactory = std::move(factory);
}

DeviceFactory CurrentDeviceFactory() {
    if (currentFactory) {
        return currentFactory;
    }
    return OpenSystemPort;
}

void SetPortLister(PortLister lister) {
    currentLister = std::move(lister);
}

std::vector<PortInfo> OrderPorts(std::vector<PortInfo> ports) {
    std::stable_sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        const bool usbA = IsUsbAdapter(a.name);
        const bool usbB = IsUsbAdapter(b.name);
        if (usbA != usbB) {
            return usbA;
        }
        return NaturalLess(a.name, b.name);
    });
    return ports;
}

std::vector<PortInfo> ListedPorts() {
    return OrderPorts(currentLister ? currentLister() : ListSystemPorts());
}

}  // namespace serial_backend
