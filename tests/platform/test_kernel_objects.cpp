#include "platform/KernelObjects.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace Platform;

TEST(Event, ManualResetStaysSignalledUntilResetAndAutoResetIsTakenByOneWait)
{
    Event manual(true, false);
    EXPECT_FALSE(manual.wait(0));
    manual.set();
    EXPECT_TRUE(manual.wait(0));
    EXPECT_TRUE(manual.wait(0)) << "a manual-reset event is not consumed by a wait";
    manual.reset();
    EXPECT_FALSE(manual.isSet());

    Event automatic(false, true);
    EXPECT_TRUE(automatic.isSet());
    EXPECT_TRUE(automatic.isSet()) << "looking does not consume";
    EXPECT_TRUE(automatic.wait(0));
    EXPECT_FALSE(automatic.wait(0)) << "the wait took the signal";
    automatic.set();
    automatic.set();
    EXPECT_TRUE(automatic.wait(0));
    EXPECT_FALSE(automatic.wait(0)) << "two sets before a wait count as one";
}

TEST(Event, AWaitEndsWhenAnotherThreadSetsTheEventAndTimesOutOtherwise)
{
    Event e(false, false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(e.wait(30));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));

    std::thread setter([&] {
        sleepMs(20);
        e.set();
    });
    EXPECT_TRUE(e.wait(InfiniteWait));
    setter.join();
}

TEST(Event, ItsHandleIsReadableExactlyWhileSignalled)
{
    Event e;
    EXPECT_GE(e.nativeHandle(), 0);
    e.set();
    EXPECT_TRUE(e.isSet());
    e.reset();
    EXPECT_FALSE(e.isSet());
}

TEST(WaitForAny, ReturnsTheFirstSignalledInListOrder)
{
    struct Case {
        bool a, b, c;
        int expected;
    };
    const Case cases[] = {
        {true, true, true, 0}, {false, true, true, 1}, {false, false, true, 2},
        {true, false, true, 0}, {false, false, false, -1},
    };
    for (const Case &c : cases) {
        Event a, b, d;
        if (c.a) a.set();
        if (c.b) b.set();
        if (c.c) d.set();
        EXPECT_EQ(waitForAny({&a, &b, &d}, 0), c.expected) << c.a << c.b << c.c;
    }
}

TEST(WaitForAny, ConsumesOnlyTheAutoResetEventItReports)
{
    Event first(false, true), second(false, true);
    EXPECT_EQ(waitForAny({&first, &second}, 0), 0);
    EXPECT_FALSE(first.isSet());
    EXPECT_TRUE(second.isSet()) << "the later ready event is left for the next wait";
    EXPECT_EQ(waitForAny({&first, &second}, 0), 1);
    EXPECT_EQ(waitForAny({&first, nullptr, &second}, 0), -1);
}

TEST(WaitForAny, WakesWhenAnEventIsSetLaterAndHonoursItsTimeOut)
{
    Event close, flush, write;
    std::thread t([&] {
        sleepMs(10);
        flush.set();
    });
    EXPECT_EQ(waitForAny({&close, &flush, &write}, 2000), 1);
    t.join();
    flush.reset();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waitForAny({&close, &flush, &write}, 20), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(15));
}

TEST(CriticalSection, TheOwnerMayEnterAgainWhileOthersWait)
{
    CriticalSection cs;
    cs.enter();
    {
        CriticalSection::Guard again(cs);
        std::atomic<bool> otherGot{true};
        std::thread other([&] { otherGot = cs.tryEnter(); });
        other.join();
        EXPECT_FALSE(otherGot) << "another thread cannot enter while it is held";
    }
    cs.leave();
    std::atomic<bool> otherGot{false};
    std::thread other([&] {
        otherGot = cs.tryEnter();
        if (otherGot)
            cs.leave();
    });
    other.join();
    EXPECT_TRUE(otherGot);
}

TEST(TickCount, ElapsedTimeIsRightAcrossTheWrap)
{
    struct Case {
        uint32_t start, now, elapsed;
    };
    const Case cases[] = {
        {100, 350, 250},
        {0xFFFFFFF0u, 0x00000005u, 0x15},
        {0xFFFFFFFFu, 0, 1},
        {5, 5, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ticksElapsed(c.start, c.now), c.elapsed) << c.start << " -> " << c.now;
}

TEST(TickCount, TheOffsetSeamPlacesTheTickJustBelowTheWrap)
{
    const uint32_t base = tickCount();
    setTickOffset(0xFFFFFFFFu - base - 5); // now about 2^32 - 6
    const uint32_t before = tickCount();
    EXPECT_GT(before, 0xFFFFFF00u);
    sleepMs(20);
    const uint32_t after = tickCount();
    setTickOffset(0);
    EXPECT_LT(after, before) << "the tick wrapped";
    EXPECT_GE(ticksElapsed(before, after), 15u);
    EXPECT_LT(ticksElapsed(before, after), 2000u);
}

TEST(TickCount, FollowsTheMonotonicClockInMilliseconds)
{
    const uint32_t a = tickCount();
    sleepMs(15);
    const uint32_t b = tickCount();
    EXPECT_GE(ticksElapsed(a, b), 14u);
    EXPECT_LT(ticksElapsed(a, b), 2000u);
}
