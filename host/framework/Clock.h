#pragma once
// The clock behind PCTime. Real time by default. A test switches the process onto virtual
// time: Tick then reads a counter, Sleep advances it at once, and timers scheduled on the
// clock run on the clock's own thread when virtual time passes their due tick. A Sleep returns
// only after every timer due by its end has run, so a reply scheduled "150 ms after the send"
// has been delivered (from another thread) before a 200 ms pause ends.
//
// On virtual time every Sleep moves the one shared clock, so two threads sleeping 100 ms at
// once move it 200 ms. A timer must not wait for a thread that may be sleeping on the clock
// (that Sleep waits for the timer). Tick is the low 32 bits of the clock and wraps.
#include <cstdint>
#include <functional>

namespace kw::host {

class Clock {
public:
    static uint32_t now();
    static void sleep(long ms);

    // Switches onto virtual time starting at startTick. Timers left from before are dropped
    // (one running is waited for).
    static void useVirtual(uint32_t startTick = 0);
    static void useReal();
    static bool isVirtual();
    // Virtual time only (nothing on real time): moves time forward and waits for the timers
    // due by then.
    static void advance(uint32_t ms);

    // Runs fn on the clock's timer thread once delayMs have passed on the current clock.
    static void schedule(uint32_t delayMs, std::function<void()> fn);
    // Waits until no timer is due or running (real time: until every timer has run).
    static void drain();
};

// Puts the clock on virtual time for a scope (a test), and back on real time after it.
class VirtualClockScope {
public:
    explicit VirtualClockScope(uint32_t startTick = 0) { Clock::useVirtual(startTick); }
    ~VirtualClockScope() { Clock::useReal(); }
    VirtualClockScope(const VirtualClockScope&) = delete;
    VirtualClockScope& operator=(const VirtualClockScope&) = delete;
};

}  // namespace kw::host
