#include "link/LinkWait.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <thread>

namespace LinkWait {
namespace {

std::atomic<std::uint64_t> sleepCount{0};

bool haveEventLoop() { return QAbstractEventDispatcher::instance() != nullptr; }

// Sleeps in the event loop until it has handled at least one event (all
// that are pending then run in the same pass).
void sleepForEvent()
{
    ++sleepCount;
    if (!haveEventLoop()) {
        // No event loop on this thread: only time can end the wait.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return;
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// The timer that wakes a sleeping wait at its deadline. It is set again
// only when it has run out (an inner wait may have taken its tick) or the
// link clock's speed changed since it was set.
class DeadlineTimer {
public:
    DeadlineTimer()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setSingleShot(true);
    }
    void arm(LinkClock::Tick left)
    {
        const double speed = LinkClock::speed();
        if ((timer_.isActive() && speed == speed_) || !haveEventLoop())
            return;
        speed_ = speed;
        timer_.start(LinkClock::timerInterval(static_cast<int>(std::min<LinkClock::Tick>(left, INT_MAX))));
    }

private:
    QTimer timer_;
    double speed_ = 0.0;
};

} // namespace

void pump() { QCoreApplication::processEvents(); }

bool until(const std::function<bool()> &done, LinkClock::Tick start, LinkClock::Tick ms)
{
    if (LinkClock::elapsed(start, ms))
        return false;
    DeadlineTimer deadline;
    pump();
    for (;;) {
        if (done())
            return true;
        // Differences of the 32-bit tick, so a wrap during the wait changes nothing.
        const LinkClock::Tick gone = LinkClock::since(start);
        if (gone >= ms) {
            // Events that queued up while the thread was busy past the
            // deadline (a reply among them) still run before the last test.
            pump();
            return done();
        }
        // A deadline closer than a timer can wake (link time running faster
        // than real time) is slept out on the spot.
        const double realLeftMs = (ms - gone) / LinkClock::speed();
        if (realLeftMs < 1.0) {
            std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long long>(std::ceil(realLeftMs * 1000.0))));
            pump();
            continue;
        }
        deadline.arm(ms - gone);
        sleepForEvent();
    }
}

void until(const std::function<bool()> &done)
{
    if (done())
        return;
    pump();
    while (!done())
        sleepForEvent();
}

void pause(LinkClock::Tick ms)
{
    until([] { return false; }, LinkClock::now(), ms);
}

std::uint64_t sleeps() { return sleepCount; }

} // namespace LinkWait
