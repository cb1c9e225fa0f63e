// A simulated module attached as a COM port, in process, on a virtual clock: every wait of
// the program advances virtual time and the module answers at exact virtual instants.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/serial_backend.h"
#include "tools/module_model.h"

namespace sim {

class VirtualClock : public serial_backend::Clock {
public:
    double now() override { return now_; }
    void waitUntil(double when) override;

private:
    double now_ = 1000.0;
};

struct WireByte {
    double time;
    bool fromHost;  // true: host to module; false: module to host
    uint8_t byte;
};

// While it lives, port `port` is the simulated module and the runtime runs on the virtual
// clock; the destructor puts the real ports and clock back.
class SimulatedModule {
public:
    explicit SimulatedModule(const ModuleOptions& options = {}, int port = 1);
    ~SimulatedModule();
    SimulatedModule(const SimulatedModule&) = delete;
    SimulatedModule& operator=(const SimulatedModule&) = delete;

    ModuleModel& module();
    VirtualClock& clock();

    // Everything on the line so far, both directions, in time order.
    const std::vector<WireByte>& wire() const;
    // The bytes the host sent, concatenated.
    std::string sentByHost() const;
    // Instants at which the host sent the given byte.
    std::vector<double> hostByteTimes(uint8_t byte) const;
    void clearWire();

    // How the port was last opened, and how often it was opened and closed.
    serial_backend::Settings lastSettings() const;
    int openCount() const;
    int closeCount() const;
    // The next open of the port fails as if the device were missing or busy.
    void failNextOpen();

private:
    struct State;
    State* state_;
};

}  // namespace sim
