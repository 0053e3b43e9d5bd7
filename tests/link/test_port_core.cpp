// Z960Port itself: construction, fault texts, byte output, waits, flushes,
// the scaled clock and the deferred release.
#include "link/DateTime.h"
#include "link/LinkClock.h"
#include "link/Z960Port.h"
#include "support/ScriptedPrompter.h"
#include "support/ScriptedTransport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using TestSupport::hexBytes;
using TestSupport::ScriptedTransport;

namespace {

bool allZero(const unsigned char *p, std::size_t n)
{
    return std::all_of(p, p + n, [](unsigned char b) { return b == 0; });
}

template <class Image> bool imageZero(const Image &image)
{
    std::vector<unsigned char> bytes(image.size());
    image.copyTo(bytes.data());
    return allZero(bytes.data(), bytes.size());
}

} // namespace

TEST(PortConstruction, StartsIdleWithItsTimersOffAndNothingOpen)
{
    QObject owner;
    auto *port = new Z960Port(&owner, 17);
    EXPECT_EQ(port->parent(), &owner);
    EXPECT_EQ(port->modbusAddress, 17);
    EXPECT_EQ(port->rxState, Z960Port::RX_IDLE);
    EXPECT_FALSE(port->abortFlag);
    EXPECT_FALSE(port->portOpen);
    EXPECT_EQ(port->comm, nullptr);
    EXPECT_EQ(port->configDialog, nullptr);
    EXPECT_EQ(port->deviceDateTime, 0.0);
    EXPECT_EQ(port->clockOffset, 0);
    EXPECT_FALSE(port->OnPortDebugEvent || port->OnDownLoadEvent || port->OnRxEvent || port->OnTxEvent);

    struct TimerCase { QTimer *timer; int interval; };
    for (const TimerCase &t : {TimerCase{port->rxTimeoutTimer, 10}, TimerCase{port->fileTransferTimer, 7000},
                               TimerCase{port->commsTimer, 1000}}) {
        ASSERT_NE(t.timer, nullptr);
        EXPECT_EQ(t.timer->parent(), port);
        EXPECT_FALSE(t.timer->isActive());
        EXPECT_EQ(t.timer->interval(), t.interval);
    }

    EXPECT_TRUE(allZero(port->rxBuffer, sizeof port->rxBuffer));
    EXPECT_TRUE(imageZero(port->statusImage));
    EXPECT_TRUE(imageZero(port->systemImage));
    EXPECT_TRUE(imageZero(port->structure2Image));
    EXPECT_TRUE(imageZero(port->structure3Image));
    EXPECT_TRUE(imageZero(port->calImage));
    EXPECT_TRUE(imageZero(port->configImage));
    EXPECT_TRUE(imageZero(port->basicCalImage));
    EXPECT_TRUE(imageZero(port->structure7Image));
    // Freed with its owner.
}

TEST(PortConstruction, ImagesHaveTheStructureSizes)
{
    Z960Port port(nullptr, 1);
    EXPECT_EQ(port.statusImage.size(), 351u);
    EXPECT_EQ(port.systemImage.size(), 941u);
    EXPECT_EQ(port.structure2Image.size(), 82u);
    EXPECT_EQ(port.structure3Image.size(), 46u);
    EXPECT_EQ(port.calImage.size(), 158u);
    EXPECT_EQ(port.configImage.size(), 332u);
    EXPECT_EQ(port.basicCalImage.size(), 222u);
    EXPECT_EQ(port.structure7Image.size(), 69u);
}

TEST(PortConstruction, TimerIntervalsFollowTheLinkClock)
{
    LinkClock::Scoped fast(1000.0);
    Z960Port port(nullptr, 1);
    EXPECT_EQ(port.rxTimeoutTimer->interval(), 1);
    EXPECT_EQ(port.fileTransferTimer->interval(), 7);
    EXPECT_EQ(port.commsTimer->interval(), 1);
}

TEST(PortFaults, TextIsFileSourceLineNumber)
{
    Z960Port port(nullptr, 1);
    port.showFault("Z960Port", 416); // no handler: nothing visible, no crash

    std::vector<std::pair<QObject *, std::string>> seen;
    port.OnPortDebugEvent = [&](QObject *sender, std::string text) { seen.emplace_back(sender, text); };
    port.showFault("Z960Port", 416);
    port.showFault("Z960Port", 2710);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, &port);
    EXPECT_EQ(seen[0].second, "file:Z960Port line: 416");
    EXPECT_EQ(seen[1].second, "file:Z960Port line: 2710");
}

TEST(PortByteIo, EveryByteGoesToTheTransportWithOneTxEvent)
{
    ScriptedTransport line;
    Z960Port port(nullptr, 1);
    int txEvents = 0;
    port.OnTxEvent = [&](QObject *) { ++txEvents; };

    port.PutChar(0x55); // no transport yet: dropped, still counted as activity
    port.attachTransport(&line);
    for (unsigned char c : {0x10, 0x02, 0x90})
        port.PutChar(c);
    EXPECT_EQ(line.written, hexBytes("10 02 90"));
    EXPECT_EQ(txEvents, 4);

    line.incoming = {0xAB};
    EXPECT_EQ(port.GetChar(), 0xAB);
    port.attachTransport(nullptr);
    EXPECT_EQ(port.GetChar(), 0);
}

TEST(PortWaits, DelayOfZeroReturnsWithoutPumping)
{
    Z960Port port(nullptr, 1);
    bool ran = false;
    QTimer::singleShot(0, &port, [&] { ran = true; });
    port.DelayTicks(0);
    EXPECT_FALSE(ran);
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran);
}

TEST(PortWaits, DelayPumpsMessagesAndWaitsItsLinkTime)
{
    LinkClock::Scoped fast(100.0);
    Z960Port port(nullptr, 1);
    bool ran = false;
    QTimer::singleShot(0, &port, [&] { ran = true; });
    const LinkClock::Tick start = LinkClock::now();
    port.DelayTicks(500); // 5 ms of real time
    EXPECT_GE(LinkClock::since(start), 500u);
    EXPECT_TRUE(ran);
}

TEST(PortWaits, DelayAcrossTheTickWrapWaitsItsFullTime)
{
    // A deadline of start + ms would wrap to a small value and end the wait
    // at once; elapsed time is compared instead.
    for (LinkClock::Tick startTick : {0xFFFFFFF0u, 0xFFFFFFFFu, 0x7FFFFFF0u}) {
        LinkClock::Scoped fast(100.0, startTick);
        Z960Port port(nullptr, 1);
        const LinkClock::Tick start = LinkClock::now();
        port.DelayTicks(300);
        const LinkClock::Tick waited = LinkClock::since(start);
        EXPECT_GE(waited, 300u) << startTick;
        EXPECT_LT(waited, 60000u) << startTick << ": the wait must not run for the whole wrap";
    }
}

TEST(PortFlush, PurgesQueuedInputAndOutput)
{
    ScriptedTransport line;
    Z960Port port(nullptr, 1);
    port.attachTransport(&line);
    line.incoming = {1, 2, 3};
    line.queuedOutput = 5;
    port.FlushCommsBuffers();
    EXPECT_TRUE(line.incoming.empty());
    EXPECT_EQ(line.queuedOutput, 0);
    EXPECT_EQ(line.purgeReads, 1);
    EXPECT_EQ(line.purgeWrites, 1);

    port.FlushCommsBuffers(); // nothing pending: no purge at all
    EXPECT_EQ(line.purgeReads, 1);
    EXPECT_EQ(line.purgeWrites, 1);
}

TEST(PortFlush, EndsInBoundedTimeWhileBytesKeepArriving)
{
    LinkClock::Scoped fast(50.0); // the 250 ms bound takes 5 ms
    ScriptedTransport line;
    line.endlessInput = true;
    Z960Port port(nullptr, 1);
    port.attachTransport(&line);
    QElapsedTimer real;
    real.start();
    const LinkClock::Tick start = LinkClock::now();
    port.FlushInBuffer();
    EXPECT_GE(LinkClock::since(start), Z960Port::kFlushLimitMs);
    EXPECT_LT(real.elapsed(), 2000);
    EXPECT_GE(line.purgeReads, 1);
}

TEST(PortFlush, WithoutATransportDoesNothing)
{
    Z960Port port(nullptr, 1);
    port.FlushCommsBuffers();
    SUCCEED();
}

TEST(PortRelease, IdleLinkIsFreedAtOnce)
{
    QPointer<Z960Port> port = new Z960Port(nullptr, 1);
    port->release();
    EXPECT_TRUE(port.isNull());
}

TEST(PortRelease, LinkWaitingIsFreedOnlyAfterTheWaitReturned)
{
    LinkClock::Scoped fast(100.0);
    auto *owner = new QObject;
    QPointer<Z960Port> port = new Z960Port(owner, 1);
    bool aliveAfterRelease = false;
    QTimer::singleShot(0, port, [&] {
        // The window closes while the link waits: it releases the link and
        // is itself freed.
        port->release();
        delete owner;
        aliveAfterRelease = !port.isNull();
    });
    Z960Port *raw = port.data();
    raw->DelayTicks(300);
    EXPECT_TRUE(aliveAfterRelease);
    ASSERT_FALSE(port.isNull()) << "still alive when its wait returns";
    EXPECT_EQ(raw->rxState, Z960Port::RX_IDLE); // usable until control is back in the event loop
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(port.isNull());
}

TEST(PortReceiveTimer, RtuFrameEndsOnRealTimerTicks)
{
    LinkClock::Scoped fast(10.0); // 1 ms ticks
    ScriptedTransport line;
    Z960Port port(nullptr, 1);
    port.attachTransport(&line);
    line.deliver(port, hexBytes("01 03 04 00 01 00 02 2A 32"));
    ASSERT_TRUE(port.rxTimeoutTimer->isActive());
    QElapsedTimer real;
    real.start();
    while (!port.frame.frameReady && real.elapsed() < 2000)
        port.ProcessCommunications();
    EXPECT_TRUE(port.frame.frameReady);
    EXPECT_FALSE(port.rxTimeoutTimer->isActive());
}

TEST(PortClock, StatusClockGivesDeviceTimeAndOffset)
{
    // Meter clock 2024-02-29 12:00:10 against a PC clock of 12:00:00.
    const double pcNow = *DateTime::encodeDate(2024, 2, 29) + *DateTime::encodeTime(12, 0, 0, 0);
    DateTime::setNowSource([pcNow] { return pcNow; });
    Z960Port port(nullptr, 1);
    Z960Data::Timestamp ts;
    ts.setYear(24);
    ts.setMonth(2);
    ts.setDay(29);
    ts.setHour(12);
    ts.setMinute(0);
    ts.setSecond(10);
    port.statusImage.setDateTime(ts);
    port.loadStatusValues();
    EXPECT_TRUE(port.clockValid);
    EXPECT_EQ(port.clockOffset, 10);
    EXPECT_NEAR(port.deviceDateTime, pcNow + 10.0 / 86400.0, 1e-9);

    port.statusImage.setDateTime(Z960Data::Timestamp()); // zero record: invalid
    port.loadStatusValues();
    EXPECT_FALSE(port.clockValid);
    EXPECT_EQ(port.deviceDateTime, 0.0);
    DateTime::setNowSource(nullptr);
}
