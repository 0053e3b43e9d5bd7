// Small kernel-object wrappers of the serial library: events, a re-entrant
// lock and the time-out record.
#pragma once

#include "platform/KernelObjects.h"

#include <cstdint>
#include <memory>
#include <string>

enum TSerEventWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

// Owns a kernel handle (here an eventfd, owned by the platform object).
class TSerHandleObject {
public:
    virtual ~TSerHandleObject() = default;
    int Handle() const { return FHandle; }
    int Error() const { return FError; }

protected:
    int FHandle = -1;
    int FError = 0;
};

class TSerEvent : public TSerHandleObject {
public:
    // Named events are not shared between processes here; the name is ignored.
    TSerEvent(const void *EventAttributes, bool ManualReset, bool InitialState, const std::string &Name);
    TSerEventWaitResult WaitFor(uint32_t Timeout);
    void SetEvent();
    void ResetEvent();
    bool IsSet() const;
    Platform::Event &platformEvent() { return *FEvent; }

private:
    std::unique_ptr<Platform::Event> FEvent;
};

// An unnamed manual-reset event, created non-signalled.
class TSerWaitEvent : public TSerEvent {
public:
    TSerWaitEvent() : TSerEvent(nullptr, true, false, std::string()) {}
};

// A lock the owning thread may take again.
class TSerCriticalSection {
public:
    void Acquire() { FSection.enter(); }
    void Release() { FSection.leave(); }
    void Enter() { Acquire(); }
    void Leave() { Release(); }

    class Guard {
    public:
        explicit Guard(TSerCriticalSection &cs) : m_cs(cs) { m_cs.Acquire(); }
        ~Guard() { m_cs.Release(); }
        Guard(const Guard &) = delete;
        Guard &operator=(const Guard &) = delete;

    private:
        TSerCriticalSection &m_cs;
    };

private:
    Platform::CriticalSection FSection;
};

// A time-out: the start tick and its duration in milliseconds.
struct TSerTimeout {
    uint32_t Start = 0;
    uint32_t Duration = 0;
};

void StartTimeout(TSerTimeout &Timeout, uint32_t Duration);
// True once more than Duration ms have passed since the start; the tick may wrap.
bool TimedOut(const TSerTimeout &Timeout);
// Milliseconds left before the time-out (0 when timed out).
uint32_t TimeLeft(const TSerTimeout &Timeout);
inline bool EventInMask(uint32_t Mask, uint32_t Events) { return (Mask & Events) > 0; }
