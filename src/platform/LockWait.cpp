#include "platform/LockWait.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <sys/file.h>
#include <unistd.h>

namespace Platform {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kWakeInterval = 10ms;

// The signal that ends a lock wait. Its handler does nothing and is set
// without SA_RESTART, so it interrupts the blocked flock of the thread it is
// sent to.
int wakeSignal()
{
    static const int signal = [] {
        const int number = SIGRTMAX - 3;
        struct sigaction action {};
        action.sa_handler = +[](int) {};
        sigemptyset(&action.sa_mask);
        ::sigaction(number, &action, nullptr);
        return number;
    }();
    return signal;
}

timespec toTimespec(std::chrono::nanoseconds span)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(span);
    return {time_t(seconds.count()), long((span - seconds).count())};
}

// Signals this thread once `after` has passed, and again every few
// milliseconds, in case the first signal came just before the wait began.
class WakeTimer {
public:
    explicit WakeTimer(std::chrono::milliseconds after)
    {
        sigevent event {};
        event.sigev_notify = SIGEV_THREAD_ID;
        event.sigev_signo = wakeSignal();
        event._sigev_un._tid = ::gettid();
        armed_ = ::timer_create(CLOCK_MONOTONIC, &event, &timer_) == 0;
        const itimerspec when{toTimespec(kWakeInterval), toTimespec(std::max(after, 1ms))};
        armed_ = armed_ && ::timer_settime(timer_, 0, &when, nullptr) == 0;
    }
    ~WakeTimer()
    {
        if (armed_)
            ::timer_delete(timer_);
    }
    WakeTimer(const WakeTimer &) = delete;
    WakeTimer &operator=(const WakeTimer &) = delete;
    bool armed() const { return armed_; }

private:
    timer_t timer_{};
    bool armed_ = false;
};

} // namespace

HeldLock &HeldLock::operator=(HeldLock &&other) noexcept
{
    release();
    fd_ = std::exchange(other.fd_, -1);
    return *this;
}

void HeldLock::release()
{
    if (fd_ >= 0)
        ::flock(fd_, LOCK_UN);
    fd_ = -1;
}

HeldLock lockUntil(int fd, int operation, Deadline deadline)
{
    if (::flock(fd, operation | LOCK_NB) == 0)
        return HeldLock(fd);
    if (errno != EWOULDBLOCK || Clock::now() >= deadline)
        return {};
    const WakeTimer timer(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()));
    if (!timer.armed())
        return {};
    while (::flock(fd, operation) != 0)
        if (errno != EINTR || Clock::now() >= deadline)
            return {};
    return HeldLock(fd);
}

} // namespace Platform
