// A simulated module attached as a COM port, in process, on a virtual clock: every wait of
// the program advances virtual time and the module answers at exact virtual instants.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "runtime/serial/serial_ports.h"
#include "runtime/serial/serial_seam.h"
#include "runtime/timing/clock_seam.h"
#include "tools/zelksim/module_model.h"

namespace sim {

class VirtualClock : public timing::Clock {
  public:
    double now() override { return now_; }
    // Time jumps to `when`; it never goes back.
    void waitUntil(double when) override;

  private:
    double now_ = 1000.0;
};

struct WireByte {
    double time;
    bool fromHost;  // true: host to module; false: module to host
    uint8_t byte;
};

// The port's side of the line, shared by the test's handle and the device the runtime opens.
struct PortState {
    PortState(const ModuleOptions& options, int portNumber) : model(options), port(portNumber) {}
    // Moves the reply bytes due by now from the module into the host's input queue.
    void deliverDue();

    ModuleModel model;
    VirtualClock clock;
    int port;
    std::vector<WireByte> wire;
    std::deque<uint8_t> input;
    serial_backend::Settings settings;
    int opens = 0;
    int closes = 0;
    bool open = false;
    int nextOpenError = 0;
    double unplugTime = -1.0;  // the adapter is pulled at this instant; negative: never

    bool unplugged() { return unplugTime >= 0.0 && clock.now() >= unplugTime; }
};

// The device the runtime opens for the simulated module on COM`port`: "/dev/ttySIM1", or on
// Windows "COM1".
std::string DevicePath(int port);

// While it lives, port `port` is the simulated module and the runtime runs on the virtual
// clock; every other port number stands for no device. The destructor closes the port if
// the program left it open and puts the real ports and clock back. One at a time.
//
// Bytes the host writes reach the module at the instant of the write. The module's reply
// bytes land in the host's input queue at the instants the model makes them due; a flush
// of the input discards what has landed by then, not what the module sends later.
class SimulatedModule {
  public:
    explicit SimulatedModule(const ModuleOptions& options = {}, int port = 1);
    ~SimulatedModule();
    SimulatedModule(const SimulatedModule&) = delete;
    SimulatedModule& operator=(const SimulatedModule&) = delete;

    ModuleModel& module() { return state_->model; }
    VirtualClock& clock() { return state_->clock; }

    // Everything on the line so far, both directions, in time order. A module byte shows
    // once its instant has come and the host has looked at the port since.
    const std::vector<WireByte>& wire() const {
        state_->deliverDue();
        return state_->wire;
    }
    std::string sentByHost() const;
    std::vector<double> hostByteTimes(uint8_t byte) const;
    void clearWire() {
        state_->deliverDue();
        state_->wire.clear();
    }

    // How the port was last opened, and how often it was opened and closed.
    serial_backend::Settings lastSettings() const { return state_->settings; }
    int openCount() const { return state_->opens; }
    int closeCount() const { return state_->closes; }
    bool isOpen() const { return state_->open; }
    // The next open of the port fails with this error, as if the device were missing or busy.
    void failNextOpen(int error = RS232_OPEN_FAILED) { state_->nextOpenError = error; }
    // The adapter is pulled at this virtual instant: from then on the device answers every
    // call with RS232_DEVICE_GONE, until a new open.
    void unplugAt(double when) { state_->unplugTime = when; }

  private:
    PortState* state_;
};

}  // namespace sim
