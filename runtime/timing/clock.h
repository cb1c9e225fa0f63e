// Timing operations. All waits run on the runtime's clock, so tests can put a virtual
// clock in place.
#pragma once

// Seconds from a fixed origin.
double Timer();
// Returns when interval seconds have passed since beginTime (a Timer value).
int SyncWait(double beginTime, double interval);
// Returns after the given number of seconds.
void Delay(double seconds);
