// Small kernel objects for the serial library's threads: events that poll()
// can wait on, waiting for the first of several events, a re-entrant lock,
// the 32-bit millisecond tick and a plain sleep.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <vector>

namespace Platform {

// Wait without a time limit.
constexpr uint32_t InfiniteWait = 0xFFFFFFFFu;

// An event on an eventfd. A manual-reset event stays signalled until reset();
// an auto-reset event is consumed by the one wait that reports it (several
// set() calls before a wait count as one). Every member is thread-safe.
class Event {
public:
    explicit Event(bool manualReset = true, bool initialState = false);
    ~Event();
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;

    void set();
    void reset();
    // True when the event was (or became) signalled within timeoutMs
    // (InfiniteWait: no limit); an auto-reset event is consumed by it.
    bool wait(uint32_t timeoutMs);
    // Signalled now, without consuming an auto-reset event.
    bool isSet() const;
    bool manualReset() const { return m_manual; }
    // Readable (POLLIN) exactly while signalled; for poll() beside other fds.
    // An auto-reset event seen ready this way should be taken with tryConsume().
    int nativeHandle() const { return m_fd; }
    // For auto-reset: takes the signal if it is there; for manual-reset: isSet().
    bool tryConsume();

private:
    int m_fd = -1;
    bool m_manual = true;
};

// Waits until one of the events is signalled and returns the index of the
// first signalled one in list order (consuming it when it is auto-reset), or
// -1 when timeoutMs passed first. Null entries are never ready.
int waitForAny(const std::vector<Event *> &events, uint32_t timeoutMs);
inline int waitForAny(std::initializer_list<Event *> events, uint32_t timeoutMs)
{
    return waitForAny(std::vector<Event *>(events), timeoutMs);
}

// A lock the owning thread may take again; each enter needs its leave.
class CriticalSection {
public:
    void enter() { m_mutex.lock(); }
    void leave() { m_mutex.unlock(); }
    bool tryEnter() { return m_mutex.try_lock(); }

    class Guard {
    public:
        explicit Guard(CriticalSection &cs) : m_cs(cs) { m_cs.enter(); }
        ~Guard() { m_cs.leave(); }
        Guard(const Guard &) = delete;
        Guard &operator=(const Guard &) = delete;

    private:
        CriticalSection &m_cs;
    };

private:
    std::recursive_mutex m_mutex;
};

// Milliseconds of the monotonic clock, truncated to 32 bits: wraps about
// every 49.7 days, so compare ticks only through ticksElapsed().
uint32_t tickCount();
// Milliseconds from `start` to `now`, correct across one wrap of the tick.
inline uint32_t ticksElapsed(uint32_t start, uint32_t now) { return now - start; }
// Test seam: an offset added to every tickCount() (0 by default), so that
// a test can place the tick just below the wrap.
void setTickOffset(uint32_t offset);
uint32_t tickOffset();

// Sleeps at least ms milliseconds (resumed after signals).
void sleepMs(uint32_t ms);

} // namespace Platform
