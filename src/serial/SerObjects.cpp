#include "serial/SerObjects.h"

TSerEvent::TSerEvent(const void *, bool ManualReset, bool InitialState, const std::string &)
    : FEvent(std::make_unique<Platform::Event>(ManualReset, InitialState))
{
    FHandle = FEvent->nativeHandle();
}

TSerEventWaitResult TSerEvent::WaitFor(uint32_t Timeout)
{
    return FEvent->wait(Timeout) ? wrSignaled : wrTimeout;
}

void TSerEvent::SetEvent()
{
    FEvent->set();
}

void TSerEvent::ResetEvent()
{
    FEvent->reset();
}

bool TSerEvent::IsSet() const
{
    return FEvent->isSet();
}

void StartTimeout(TSerTimeout &Timeout, uint32_t Duration)
{
    Timeout.Start = Platform::tickCount();
    Timeout.Duration = Duration;
}

bool TimedOut(const TSerTimeout &Timeout)
{
    return Platform::ticksElapsed(Timeout.Start, Platform::tickCount()) > Timeout.Duration;
}

uint32_t TimeLeft(const TSerTimeout &Timeout)
{
    const uint32_t elapsed = Platform::ticksElapsed(Timeout.Start, Platform::tickCount());
    return elapsed >= Timeout.Duration ? 0 : Timeout.Duration - elapsed;
}
