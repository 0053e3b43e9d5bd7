// The link's waits sleep in the event loop until something happens: each
// ends on its own condition (a received frame, a deadline, a flag that an
// event sets) after a handful of wake-ups, where a polling loop would wake
// once a millisecond. The wake-ups are counted, not the time.
#include "CommandsFixture.h"

#include "link/LinkClock.h"
#include "link/LinkWait.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace CommandTest;

namespace {

// The waits' wake-ups since it was made.
class WakeUps {
public:
    std::uint64_t operator()() const { return LinkWait::sleeps() - start_; }

private:
    std::uint64_t start_ = LinkWait::sleeps();
};

constexpr unsigned char kPing = 0;

} // namespace

TEST(LinkWait, ReplyEndsTheTransactionWaitWithOneWakeUpPerDelivery)
{
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    const QByteArray answer = reply(bytesOf({0x80, kPing}));
    constexpr int kDeliveries = 4;
    const int chunk = (answer.size() + kDeliveries - 1) / kDeliveries;
    // The reply comes in four deliveries 10 ms apart, well inside the 1 s time-out.
    meter.respond = [&](const Request &) {
        for (int i = 0; i < kDeliveries; ++i)
            QTimer::singleShot(10 * (i + 1), &port, [&, i] { meter.line.deliver(port, answer.mid(i * chunk, chunk)); });
        return QByteArray();
    };
    const WakeUps wakeUps;
    unsigned char buf[Z960Port::kCommandBufferSize] = {};
    unsigned short len = 0;
    EXPECT_TRUE(port.sendQuillmereFrame(kPing, buf, &len, 1));
    EXPECT_EQ(len, 2);
    EXPECT_LE(wakeUps(), kDeliveries + 2u);
}

TEST(LinkWait, DownloadSleepsUntilTheNextBlock)
{
    const LinkClock::Scoped fast(20.0); // the give-up after 11 link seconds is 550 ms away
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    constexpr int kGapMs = 200; // of real time before each block
    const QByteArray blocks[] = {quillmereFrame(1, "ab", 0x91), quillmereFrame(1, "", 0x97)};
    int sent = 0;
    meter.respond = [&](const Request &r) {
        if (r.control == 0x80) // the request: done, 2 bytes to come
            return reply(bytesOf({0x80, r.payload[0], 0, 0, 0, 0, 2, 0, 0, 0}));
        if (sent < 2) {
            const QByteArray block = blocks[sent++];
            QTimer::singleShot(kGapMs, &port, [&, block] { meter.line.deliver(port, block); });
        }
        return QByteArray();
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.csv"));
    const WakeUps wakeUps;
    ASSERT_TRUE(port.getLogFile("\\f.csv", path.toLocal8Bit().constData(), true));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "ab");
    // The transfer timer's ticks and the two acknowledgements' byte pauses
    // wake it; a loop polling through the two gaps would wake over a hundred times.
    EXPECT_LE(wakeUps(), 50u);
}

TEST(LinkWait, DeadlinesUnderTheScaledClockEndTheWaitsWithoutPolling)
{
    LinkClock::Scoped fast(20.0); // a link second is 50 ms
    struct Case {
        const char *wait;
        std::function<bool(Z960Port &)> run;
        bool result;
        std::uint64_t mostWakeUps; // a few per deadline; polling would take one a millisecond
    };
    const Case cases[] = {
        {"a 2 s delay", [](Z960Port &p) { p.DelayTicks(2000); return true; }, true, 3},
        {"five 1 s tries of a ping nobody answers", [](Z960Port &p) { return p.sendNullCommand(); }, false, 15},
        {"a 5 s wait for a flag that stays down",
         [](Z960Port &) { return LinkWait::until([] { return false; }, LinkClock::now(), 5000); }, false, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.wait);
        Z960Port port(nullptr, 1);
        ScriptedMeter meter(port); // answers nothing
        const LinkClock::Tick start = LinkClock::now();
        const WakeUps wakeUps;
        EXPECT_EQ(c.run(port), c.result);
        EXPECT_GE(LinkClock::since(start), 2000u);
        EXPECT_LE(wakeUps(), c.mostWakeUps);
    }
}

TEST(LinkWait, SpeedingUpTheClockDuringAWaitEndsItPromptly)
{
    const LinkClock::Scoped realTime(1.0);
    Z960Port port(nullptr, 1);
    QTimer::singleShot(20, &port, [] { LinkClock::setSpeed(1000.0); });
    QElapsedTimer real;
    real.start();
    port.DelayTicks(60000); // a minute of link time, nearly all of it at the fast speed
    EXPECT_LT(real.elapsed(), 2000);
}

TEST(LinkWait, FlagSetByAnEventEndsTheWaitAtOnce)
{
    // As a click's handler sets a flag: the wait ends on the event that set it.
    struct Case {
        const char *wait;
        std::function<bool(const std::function<bool()> &)> run;
    };
    const Case cases[] = {
        {"with a deadline",
         [](const std::function<bool()> &done) { return LinkWait::until(done, LinkClock::now(), 60000); }},
        {"without one",
         [](const std::function<bool()> &done) {
             LinkWait::until(done);
             return done();
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.wait);
        bool clicked = false;
        QObject context;
        QTimer::singleShot(30, &context, [&] { clicked = true; });
        const WakeUps wakeUps;
        EXPECT_TRUE(c.run([&] { return clicked; }));
        EXPECT_LE(wakeUps(), 3u);
    }
}
