#include "link/LinkClock.h"

#include <chrono>
#include <cmath>
#include <mutex>

namespace LinkClock {
namespace {

using Clock = std::chrono::steady_clock;

// now() = base + (real time since epoch) * speed; rebased whenever the
// speed or the tick is set, so the tick never jumps by accident.
struct State {
    std::mutex lock;
    Clock::time_point epoch = Clock::now();
    double baseMs = 0.0;
    double speed = 1.0;

    double linkMsLocked() const
    {
        const std::chrono::duration<double, std::milli> real = Clock::now() - epoch;
        return baseMs + real.count() * speed;
    }
};

State &state()
{
    static State s;
    return s;
}

Tick toTick(double ms)
{
    // Keep the low 32 bits of the millisecond count, as a system tick does.
    const double wrapped = std::fmod(std::floor(ms), 4294967296.0);
    return static_cast<Tick>(static_cast<std::uint64_t>(wrapped));
}

} // namespace

Tick now()
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return toTick(s.linkMsLocked());
}

double speed()
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.speed;
}

void setSpeed(double linkMsPerRealMs)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.baseMs = s.linkMsLocked();
    s.epoch = Clock::now();
    s.speed = linkMsPerRealMs > 0.0 ? linkMsPerRealMs : 1.0;
}

void setNow(Tick value)
{
    State &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.baseMs = static_cast<double>(value);
    s.epoch = Clock::now();
}

int timerInterval(int ms)
{
    const double real = std::ceil(static_cast<double>(ms) / speed());
    return real < 1.0 ? 1 : static_cast<int>(real);
}

Scoped::Scoped(double linkMsPerRealMs) : savedSpeed_(speed()) { setSpeed(linkMsPerRealMs); }

Scoped::Scoped(double linkMsPerRealMs, Tick startTick) : Scoped(linkMsPerRealMs) { setNow(startTick); }

Scoped::~Scoped() { setSpeed(savedSpeed_); }

} // namespace LinkClock
