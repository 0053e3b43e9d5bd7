#include "platform/KernelObjects.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace Platform {

namespace {

std::atomic<uint32_t> g_tickOffset{0};

using Clock = std::chrono::steady_clock;

// The poll() time-out for what is left of a wait; -1 waits for ever.
int remainingMs(uint32_t timeoutMs, Clock::time_point deadline)
{
    if (timeoutMs == InfiniteWait)
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// Empties the eventfd counter; true when it held a signal.
bool drain(int fd)
{
    uint64_t value = 0;
    for (;;) {
        const ssize_t n = ::read(fd, &value, sizeof value);
        if (n == static_cast<ssize_t>(sizeof value))
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        return false; // EAGAIN: nothing signalled (or taken by another waiter)
    }
}

bool readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return (p.revents & POLLIN) != 0;
}

} // namespace

Event::Event(bool manualReset, bool initialState) : m_manual(manualReset)
{
    m_fd = ::eventfd(initialState ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_fd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

Event::~Event()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void Event::set()
{
    const uint64_t one = 1;
    // A full counter (never reached in practice) is still signalled: EAGAIN is fine.
    while (::write(m_fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Event::reset() { drain(m_fd); }

bool Event::isSet() const { return readable(m_fd); }

bool Event::tryConsume() { return m_manual ? readable(m_fd) : drain(m_fd); }

bool Event::wait(uint32_t timeoutMs)
{
    return waitForAny(std::vector<Event *>{this}, timeoutMs) == 0;
}

int waitForAny(const std::vector<Event *> &events, uint32_t timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs == InfiniteWait ? 0 : timeoutMs);
    std::vector<pollfd> fds;
    fds.reserve(events.size());
    for (Event *e : events)
        fds.push_back(pollfd{e ? e->nativeHandle() : -1, POLLIN, 0});

    for (;;) {
        const int rc = ::poll(fds.data(), fds.size(), remainingMs(timeoutMs, deadline));
        if (rc < 0 && errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "poll");
        if (rc > 0) {
            // First ready in list order; an auto-reset event another waiter
            // took meanwhile does not count.
            for (size_t i = 0; i < fds.size(); ++i) {
                if ((fds[i].revents & POLLIN) && events[i]->tryConsume())
                    return static_cast<int>(i);
            }
        }
        if (timeoutMs != InfiniteWait && remainingMs(timeoutMs, deadline) == 0)
            return -1;
    }
}

uint32_t tickCount()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms) + g_tickOffset.load(std::memory_order_relaxed);
}

void setTickOffset(uint32_t offset) { g_tickOffset.store(offset, std::memory_order_relaxed); }

uint32_t tickOffset() { return g_tickOffset.load(std::memory_order_relaxed); }

void sleepMs(uint32_t ms)
{
    timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    timespec rem{};
    while (::nanosleep(&req, &rem) < 0 && errno == EINTR)
        req = rem;
}

} // namespace Platform
