// Structure read and write against a scripted meter.
#include "CommandsFixture.h"

#include "link/DateTime.h"
#include "link/LinkClock.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

using namespace CommandTest;
using TestSupport::hexText;

namespace {

QByteArray pattern(int n, int seed)
{
    QByteArray b(n, 0);
    for (int i = 0; i < n; ++i)
        b[i] = static_cast<char>(i * 7 + seed);
    return b;
}

template <class Image> QByteArray bytesOfImage(const Image &image)
{
    return QByteArray(reinterpret_cast<const char *>(image.data()), static_cast<int>(image.size()));
}

QByteArray imageBytes(Z960Port &p, int n)
{
    switch (n) {
    case 0: return bytesOfImage(p.statusImage);
    case 1: return bytesOfImage(p.systemImage);
    case 2: return bytesOfImage(p.structure2Image);
    case 3: return bytesOfImage(p.structure3Image);
    case 4: return bytesOfImage(p.calImage);
    case 5: return bytesOfImage(p.configImage);
    case 6: return bytesOfImage(p.basicCalImage);
    default: return bytesOfImage(p.structure7Image);
    }
}

// Answers pings and structure reads of n with `body` after [status, 19].
void answerReads(ScriptedMeter &meter, const QByteArray &body, unsigned char status = 0x80)
{
    meter.respond = [body, status](const Request &r) {
        if (r.payload.isEmpty())
            return QByteArray();
        const auto c = static_cast<unsigned char>(r.payload[0]);
        if (c == 0)
            return reply(bytesOf({0x80, 0}));
        if (c == 19)
            return reply(bytesOf({status, 19}) + body);
        if (c == 20)
            return reply(bytesOf({status, 20}));
        return QByteArray();
    };
}

} // namespace

TEST(StructureRead, EachStructureFillsExactlyItsImage)
{
    for (int n = 0; n < 8; ++n) {
        SCOPED_TRACE(n);
        LinkClock::Scoped fast(20.0);
        Z960Port port(nullptr, 1);
        ScriptedMeter meter(port);
        const int size = static_cast<int>(Z960Data::structureSize(n));
        answerReads(meter, pattern(size + 5, n)); // a longer reply is cut
        ASSERT_TRUE(port.getStucture(static_cast<unsigned char>(n)));
        EXPECT_EQ(hexText(meter.requests.at(0).payload), hexText(bytesOf({19, n})));
        EXPECT_EQ(imageBytes(port, n), pattern(size, n));
        for (int other = 0; other < 8; ++other)
            if (other != n) {
                EXPECT_EQ(imageBytes(port, other), QByteArray(static_cast<int>(Z960Data::structureSize(other)), 0));
            }
    }
}

TEST(StructureRead, ShortRefusedOrMissingRepliesLeaveTheImageAndTryThreeTimes)
{
    struct Case { const char *name; int bytes; unsigned char status; bool silent; };
    for (const Case &c : {Case{"100 of 351 bytes", 100, 0x80, false}, Case{"refused", 0, 0x00, false},
                          Case{"refused with data", 351, 0x00, false}, Case{"no reply", 0, 0x80, true}}) {
        SCOPED_TRACE(c.name);
        LinkClock::Scoped fast(500.0);
        Z960Port port(nullptr, 1);
        const QByteArray before = pattern(351, 3);
        port.statusImage.assign(reinterpret_cast<const unsigned char *>(before.constData()), 351);
        port.clockOffset = 77;
        ScriptedMeter meter(port);
        if (!c.silent)
            answerReads(meter, pattern(c.bytes, 9), c.status);
        EXPECT_FALSE(port.getStucture(0));
        EXPECT_EQ(meter.count(19), 3);
        EXPECT_EQ(imageBytes(port, 0), before);
        EXPECT_EQ(port.clockOffset, 77);
    }
}

TEST(StructureRead, NumberWithoutAStructureIsAcceptedAndChangesNothing)
{
    LinkClock::Scoped fast(20.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    answerReads(meter, pattern(20, 1));
    EXPECT_TRUE(port.getStucture(8));
    EXPECT_EQ(hexText(meter.requests.at(0).payload), "13 08");
    for (int n = 0; n < 8; ++n)
        EXPECT_EQ(imageBytes(port, n), QByteArray(static_cast<int>(Z960Data::structureSize(n)), 0));
}

TEST(StructureRead, StatusReadDerivesTheMeterClock)
{
    LinkClock::Scoped fast(20.0);
    DateTime::ScopedNow now(*DateTime::encode({2024, 5, 6, 7, 8, 9, 0}));
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    QByteArray status(351, 0);
    const QByteArray clock = bytesOf({24, 5, 6, 7, 8, 19}); // 10 s ahead
    status.replace(2, 6, clock);
    answerReads(meter, status);
    ASSERT_TRUE(port.getStucture(0));
    EXPECT_EQ(port.clockOffset, 10);
    EXPECT_TRUE(port.clockValid);
    EXPECT_DOUBLE_EQ(port.deviceDateTime, *DateTime::encode({2024, 5, 6, 7, 8, 19, 0}));
}

TEST(StructureRead, SerialFailureEndsTheReadWithFalse)
{
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    meter.line.onWrite = [](TestSupport::ScriptedTransport &) { throw std::runtime_error("Write error"); };
    EXPECT_FALSE(port.getStucture(5));
    EXPECT_FALSE(port.isBusy());
}

TEST(StructureWrite, SendsTheWholeImageAfterAPing)
{
    for (int n : {4, 5, 6}) {
        SCOPED_TRACE(n);
        LinkClock::Scoped fast(20.0);
        Z960Port port(nullptr, 1);
        ScriptedMeter meter(port);
        answerReads(meter, {});
        const QByteArray image = pattern(static_cast<int>(Z960Data::structureSize(n)), 40 + n);
        const auto *raw = reinterpret_cast<const unsigned char *>(image.constData());
        (n == 4 ? port.calImage.assign(raw, image.size()) : n == 5 ? port.configImage.assign(raw, image.size())
                                                           : port.basicCalImage.assign(raw, image.size()));
        ASSERT_TRUE(port.putStucture(static_cast<unsigned char>(n)));
        ASSERT_EQ(meter.requests.size(), 2u);
        EXPECT_EQ(hexText(meter.requests[0].payload), "00");
        EXPECT_EQ(meter.requests[1].payload, bytesOf({20, n}) + image);
    }
}

TEST(StructureWrite, OtherNumbersAreRefusedWithoutTraffic)
{
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    for (int n : {0, 1, 2, 3, 7, 8, 255})
        EXPECT_FALSE(port.putStucture(static_cast<unsigned char>(n))) << n;
    EXPECT_TRUE(meter.line.written.isEmpty());
}

TEST(StructureWrite, FailedPingSpendsATryAndTheNextTrySendsOnce)
{
    LinkClock::Scoped fast(500.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    // The first five pings (one sendNullCommand) go unanswered.
    meter.respond = [&meter](const Request &r) {
        const auto c = static_cast<unsigned char>(r.payload[0]);
        if (c == 0)
            return meter.count(0) > 5 ? reply(bytesOf({0x80, 0})) : QByteArray();
        return c == 20 ? reply(bytesOf({0x80, 20})) : QByteArray();
    };
    EXPECT_TRUE(port.putStucture(5));
    EXPECT_EQ(meter.count(20), 1);
    EXPECT_EQ(meter.count(0), 6);
}

TEST(StructureWrite, RefusedWriteIsNoSuccess)
{
    LinkClock::Scoped fast(20.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    answerReads(meter, {}, 0x00);
    meter.respond = [inner = meter.respond](const Request &r) {
        return static_cast<unsigned char>(r.payload[0]) == 0 ? reply(bytesOf({0x80, 0})) : inner(r);
    };
    EXPECT_FALSE(port.putStucture(4));
    EXPECT_EQ(meter.count(20), 3);
}
