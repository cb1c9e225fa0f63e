#include "tests/support/simulated_module.h"

#include <memory>

namespace sim {

void VirtualClock::waitUntil(double when) {
    if (when > now_) {
        now_ = when;
    }
}

void PortState::deliverDue() {
    while (model.due(clock.now()) > 0) {
        const double when = model.nextDueTime();
        const uint8_t byte = model.take(clock.now());
        wire.push_back({when, false, byte});
        input.push_back(byte);
    }
}

namespace {

// The name the system's list gives the port: its device's name on POSIX systems, the COM
// name itself on Windows.
std::string DeviceName(int port) {
#ifdef _WIN32
    return "COM" + std::to_string(port);
#else
    return "ttySIM" + std::to_string(port);
#endif
}

std::string SystemLocation(int port) {
#ifdef _WIN32
    return "\\\\.\\" + DeviceName(port);
#else
    return "/dev/" + DeviceName(port);
#endif
}

class SimulatedDevice : public serial_backend::Device {
  public:
    explicit SimulatedDevice(PortState* state) : state_(state) {}

    ~SimulatedDevice() override {
        state_->open = false;
        ++state_->closes;
    }

    int write(const uint8_t* data, int count) override {
        if (state_->unplugged()) {
            return RS232_DEVICE_GONE;
        }
        state_->deliverDue();
        const double now = state_->clock.now();
        for (int i = 0; i < count; ++i) {
            state_->wire.push_back({now, true, data[i]});
            state_->model.receive(data[i], now);
        }
        return count;
    }

    int bytesWaiting() override {
        if (state_->unplugged()) {
            return RS232_DEVICE_GONE;
        }
        state_->deliverDue();
        return static_cast<int>(state_->input.size());
    }

    int readByte() override {
        state_->deliverDue();
        if (state_->input.empty()) {
            return RS232_NOTHING_WAITING;
        }
        const uint8_t byte = state_->input.front();
        state_->input.pop_front();
        return byte;
    }

    void discardInput() override {
        state_->deliverDue();
        state_->input.clear();
    }

    // Writes reach the module at once, so nothing is ever left to discard or to wait for.
    void discardOutput() override {}
    void drainOutput() override {}

  private:
    PortState* state_;
};

}  // namespace

std::string DevicePath(int port) {
#ifdef _WIN32
    return DeviceName(port);
#else
    return SystemLocation(port);
#endif
}

SimulatedModule::SimulatedModule(const ModuleOptions& options, int port)
    : state_(new PortState(options, port)) {
    PortState* state = state_;
    timing::SetClock(&state->clock);
    // The system reports as many ports as it takes for the module's to be COM`port`.
    serial_backend::SetPortLister([port] {
        std::vector<serial_backend::PortInfo> ports;
        for (int number = 1; number <= port; ++number) {
            serial_backend::PortInfo info;
            info.name = DeviceName(number);
            info.systemLocation = SystemLocation(number);
            info.description = number == port ? "simulated module" : "";
            ports.push_back(info);
        }
        return ports;
    });
    serial_backend::SetDeviceFactory(
        [state](const std::string& deviceName, const serial_backend::Settings& settings, int* error,
                std::string* reason) -> std::unique_ptr<serial_backend::Device> {
            if (deviceName != DevicePath(state->port)) {
                *error = RS232_NO_DEVICE;
                *reason = deviceName + ": no simulated module there";
                return nullptr;
            }
            state->settings = settings;
            if (state->nextOpenError != 0) {
                *error = state->nextOpenError;
                *reason = "simulated open failure";
                state->nextOpenError = 0;
                return nullptr;
            }
            ++state->opens;
            state->open = true;
            state->unplugTime = -1.0;
            // A freshly opened port holds nothing the module sent before.
            state->deliverDue();
            state->input.clear();
            return std::make_unique<SimulatedDevice>(state);
        });
}

SimulatedModule::~SimulatedModule() {
    // A port left open would outlive the state its device points to.
    if (state_->open) {
        CloseCom(state_->port);
    }
    serial_backend::SetDeviceFactory({});
    serial_backend::SetPortLister({});
    timing::SetClock(nullptr);
    delete state_;
}

std::string SimulatedModule::sentByHost() const {
    std::string bytes;
    for (const WireByte& entry : state_->wire) {
        if (entry.fromHost) {
            bytes.push_back(static_cast<char>(entry.byte));
        }
    }
    return bytes;
}

std::vector<double> SimulatedModule::hostByteTimes(uint8_t byte) const {
    std::vector<double> times;
    for (const WireByte& entry : state_->wire) {
        if (entry.fromHost && entry.byte == byte) {
            times.push_back(entry.time);
        }
    }
    return times;
}

}  // namespace sim
