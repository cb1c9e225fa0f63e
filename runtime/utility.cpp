#include "runtime/utility.h"

#include <chrono>
#include <thread>

#include "runtime/serial_backend.h"

double Timer() {
    return serial_backend::CurrentClock().now();
}

int SyncWait(double beginTime, double interval) {
    serial_backend::CurrentClock().waitUntil(beginTime + interval);
    return 0;
}

void Delay(double seconds) {
    serial_backend::Clock& clock = serial_backend::CurrentClock();
    clock.waitUntil(clock.now() + seconds);
}

#ifndef _WIN32
void Sleep(unsigned int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
#endif
