#pragma once
// Host framework: millisecond time. Tests can switch the process onto a virtual clock (see
// host/framework/Clock.h) on which Sleep advances time at once.

class PCTime {
public:
    // Milliseconds from an arbitrary origin; wraps modulo 2^32.
    static unsigned int Tick();
    // Sleeps ms milliseconds. The second argument is reserved and is 0.
    static void Sleep(long ms, int reserved);
};
