// The link's one time source: a 32-bit millisecond tick from the monotonic
// clock. Every wait, deadline and timer interval of the link goes through it,
// so tests can run link time faster than real time while the program keeps
// the real values.
#pragma once

#include <cstdint>

namespace LinkClock {

using Tick = std::uint32_t;

// Link milliseconds since an arbitrary start; wraps after 2^32 ms like the
// system tick, so compare only differences (elapsed), never absolute values.
Tick now();

// Milliseconds of link time since start; correct across the 32-bit wrap.
inline Tick since(Tick start) { return static_cast<Tick>(now() - start); }

// True once at least ms link milliseconds have passed since start.
inline bool elapsed(Tick start, Tick ms) { return since(start) >= ms; }

// Real interval in milliseconds for a timer of ms link milliseconds (at least 1).
int timerInterval(int ms);

// How many link milliseconds pass per real millisecond (1 in the program).
double speed();

// Sets the speed; now() stays continuous. A speed of 1000 makes a 10 s
// time-out take 10 ms. Values below or equal to 0 are taken as 1.
void setSpeed(double linkMsPerRealMs);

// Moves now() to the given value (tests of the 32-bit wrap).
void setNow(Tick value);

// Sets the speed (and optionally the tick) for a scope and restores both.
class Scoped {
public:
    explicit Scoped(double linkMsPerRealMs);
    Scoped(double linkMsPerRealMs, Tick startTick);
    ~Scoped();
    Scoped(const Scoped &) = delete;
    Scoped &operator=(const Scoped &) = delete;

private:
    double savedSpeed_;
};

} // namespace LinkClock
