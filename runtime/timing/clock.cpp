#include "runtime/timing/clock.h"

#include <chrono>
#include <thread>

#include "runtime/timing/clock_seam.h"

namespace timing {

namespace {

class SteadyClock : public Clock {
  public:
    double now() override {
        using Seconds = std::chrono::duration<double>;
        return std::chrono::duration_cast<Seconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void waitUntil(double when) override {
        // sleep_for may wake early on some systems; keep sleeping until the instant.
        for (;;) {
            const double remaining = when - now();
            if (remaining <= 0.0) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::duration<double>(remaining));
        }
    }
};

SteadyClock steadyClock;
Clock* currentClock = &steadyClock;

}  // namespace

void SetClock(Clock* clock) {
    currentClock = clock != nullptr ? clock : &steadyClock;
}

Clock& CurrentClock() {
    return *currentClock;
}

}  // namespace timing

double Timer() {
    return timing::CurrentClock().now();
}

int SyncWait(double beginTime, double interval) {
    timing::CurrentClock().waitUntil(beginTime + interval);
    return 0;
}

void Delay(double seconds) {
    timing::Clock& clock = timing::CurrentClock();
    clock.waitUntil(clock.now() + seconds);
}
