// Seam of the timing runtime: tests put a virtual clock in place of the steady one, so that
// every wait of an exchange advances virtual time and timing is checked exactly. The
// program never includes this header.
#pragma once

namespace timing {

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

}  // namespace timing
