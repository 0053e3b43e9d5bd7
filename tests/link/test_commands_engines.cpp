// The transaction engines: the Quillmere command exchange, the Modbus ASCII
// and RTU exchanges and the Modbus carrier inside command 81, against a
// scripted meter.
#include "CommandsFixture.h"

#include "link/LinkClock.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace CommandTest;
using TestSupport::hexText;

namespace {

LinkClock::Tick linkMsOf(const std::function<void()> &f)
{
    const LinkClock::Tick start = LinkClock::now();
    f();
    return LinkClock::since(start);
}

QByteArray bufBytes(const unsigned char *buf, int n) { return QByteArray(reinterpret_cast<const char *>(buf), n); }

} // namespace

// ---- Quillmere engine ---------------------------------------------------------

TEST(QuillmereEngine, SendsTheRequestWholeAndCopiesTheReplyPayload)
{
    LinkClock::Scoped fast(20.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    meter.answer(0x10, bytesOf({0x80, 0x10, 0x10, 0x03, 0x55}));

    unsigned char buf[Z960Port::kCommandBufferSize] = {0x10, 0x02};
    unsigned short len = 2;
    ASSERT_TRUE(port.sendQuillmereFrame(0x10, buf, &len, 2));
    // Command and arguments that are DLE go out stuffed.
    EXPECT_EQ(hexText(meter.line.written), hexText(quillmereFrame(1, bytesOf({0x10, 0x10, 0x02}), 0x80)));
    EXPECT_EQ(len, 5);
    EXPECT_EQ(hexText(bufBytes(buf, len)), "80 10 10 03 55");
}

TEST(QuillmereEngine, FailuresLeaveTheBufferAndLengthUnchanged)
{
    struct Case {
        const char *name;
        QByteArray wire;     // what the meter answers
        std::size_t capacity;
        bool quick;          // ends before the time-out
    };
    const std::vector<Case> cases = {
        {"no reply", {}, 1024, false},
        {"reply echoing another command", reply(bytesOf({0x80, 0x13})), 1024, true},
        {"reply longer than the buffer", reply(QByteArray(40, '\x80')), 16, true},
        {"reply with a bad CRC", [] { QByteArray f = reply(bytesOf({0x80, 0x45})); f[5] = 0x77; return f; }(), 1024,
         false},
        {"payload too short to carry the echo", reply(bytesOf({0x80})), 1024, true},
        {"a Modbus ASCII frame", asciiFrame(1, bytesOf({0x45, 0x00})), 1024, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LinkClock::Scoped fast(100.0);
        Z960Port port(nullptr, 1);
        ScriptedMeter meter(port);
        meter.respond = [&c](const Request &) { return c.wire; };
        unsigned char buf[Z960Port::kCommandBufferSize] = {7, 7, 7};
        unsigned short len = 1;
        bool ok = true;
        const LinkClock::Tick took = linkMsOf([&] { ok = port.sendQuillmereFrame(0x45, buf, &len, 10, c.capacity); });
        EXPECT_FALSE(ok);
        EXPECT_EQ(len, 1);
        EXPECT_EQ(hexText(bufBytes(buf, 3)), "07 07 07");
        if (c.quick)
            EXPECT_LT(took, 5000u);
        else
            EXPECT_GE(took, 10000u);
    }
}

TEST(QuillmereEngine, ArgumentsTheFrameOrBufferCannotCarryAreRefusedWithoutSending)
{
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    std::vector<unsigned char> buf(2048, 0);
    struct Case { unsigned short len; std::size_t capacity; };
    for (const Case &c : {Case{1024, 2048}, Case{1500, 2048}, Case{20, 10}}) {
        unsigned short len = c.len;
        EXPECT_FALSE(port.sendQuillmereFrame(2, buf.data(), &len, 1, c.capacity)) << c.len;
        EXPECT_EQ(len, c.len);
    }
    EXPECT_TRUE(meter.line.written.isEmpty());
}

TEST(QuillmereEngine, LongestArgumentListGoesOut)
{
    LinkClock::Scoped fast(20.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    meter.answer(2, bytesOf({0x80, 2}));
    std::vector<unsigned char> buf(Z960Port::kCommandBufferSize, 0x41);
    unsigned short len = 1023;
    ASSERT_TRUE(port.sendQuillmereFrame(2, buf.data(), &len, 2));
    ASSERT_EQ(meter.requests.size(), 1u);
    EXPECT_EQ(meter.requests[0].payload.size(), 1024);
}

TEST(QuillmereEngine, DeadlineHoldsAcrossTheWrapOfTheTick)
{
    LinkClock::Scoped fast(100.0, 0xFFFFFFFFu - 500u);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    unsigned char buf[Z960Port::kCommandBufferSize] = {};
    unsigned short len = 0;
    const LinkClock::Tick took = linkMsOf([&] { EXPECT_FALSE(port.sendQuillmereFrame(0, buf, &len, 2)); });
    EXPECT_GE(took, 2000u);
    EXPECT_LT(took, 5000u);
}

// ---- Modbus engine ------------------------------------------------------------

TEST(ModbusAscii, RegisterReadRequestAndReply)
{
    LinkClock::Scoped fast(20.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    meter.respond = [](const Request &) { return asciiFrame(1, bytesOf({3, 2, 0x00, 0x03})); };
    unsigned char buf[Z960Port::kCommandBufferSize] = {};
    unsigned short len = 0;
    ASSERT_TRUE(port.readRegisters(88, 1, buf, &len, 5));
    EXPECT_EQ(QString::fromLatin1(meter.line.written), ":010300580001A3\r\n");
    EXPECT_EQ(hexText(bufBytes(buf, len)), "02 00 03"); // byte count, then the register
}

TEST(ModbusAscii, RequestBytesOfEachFunction)
{
    struct Case {
        const char *name;
        std::function<bool(Z960Port &, unsigned char *, unsigned short *)> call;
        QByteArray wire;
    };
    const std::vector<Case> cases = {
        {"write single", [](Z960Port &p, unsigned char *b, unsigned short *l) { return p.writeSingleRegister(0x0102, 0xA0B0, b, l, 1); },
         ":01060102A0B0A6\r\n"},
        {"write multiple",
         [](Z960Port &p, unsigned char *b, unsigned short *l) {
             b[0] = 0x12; b[1] = 0x34; b[2] = 0x56; b[3] = 0x78;
             return p.writeRegisters(116, 2, b, l, 1);
         },
         asciiFrame(1, bytesOf({16, 0, 116, 0, 2, 4, 0x12, 0x34, 0x56, 0x78}))},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LinkClock::Scoped fast(500.0);
        Z960Port port(nullptr, 1);
        ScriptedMeter meter(port);
        unsigned char buf[Z960Port::kCommandBufferSize] = {};
        unsigned short len = 0;
        EXPECT_FALSE(c.call(port, buf, &len)); // nobody answers
        EXPECT_EQ(meter.line.written, c.wire);
    }
}

TEST(ModbusAscii, ExceptionReplyGivesItsCodeAlone)
{
    LinkClock::Scoped fast(20.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    meter.respond = [](const Request &) { return asciiFrame(1, bytesOf({0x83, 0x02})); };
    unsigned char buf[Z960Port::kCommandBufferSize] = {9, 9};
    unsigned short len = 0;
    EXPECT_FALSE(port.readRegisters(300, 1, buf, &len, 5));
    EXPECT_EQ(len, 1);
    EXPECT_EQ(buf[0], 2);
}

TEST(ModbusAscii, OnlyOurFunctionFromOurAddressAnswers)
{
    struct Case { const char *name; QByteArray wire; };
    const std::vector<Case> cases = {
        {"another function", asciiFrame(1, bytesOf({6, 0, 88, 0, 1}))},
        {"another address", asciiFrame(2, bytesOf({3, 2, 0, 3}))},
        {"a Quillmere reply echoing 3", reply(bytesOf({0x80, 3, 0, 0}))},
        {"a bad LRC", [] { QByteArray f = asciiFrame(1, bytesOf({3, 2, 0, 3})); f[f.size() - 3] = '0'; return f; }()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LinkClock::Scoped fast(500.0);
        Z960Port port(nullptr, 1);
        ScriptedMeter meter(port);
        meter.respond = [&c](const Request &) { return c.wire; };
        unsigned char buf[Z960Port::kCommandBufferSize] = {5};
        unsigned short len = 9;
        EXPECT_FALSE(port.readRegisters(88, 1, buf, &len, 2));
        EXPECT_EQ(len, 9);
        EXPECT_EQ(buf[0], 5);
    }
}

TEST(ModbusAscii, AStrayFrameIsSkippedAndTheRealReplyTaken)
{
    LinkClock::Scoped fast(20.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    // A reply of another function first, ours a little later.
    meter.respond = [&](const Request &) {
        QTimer::singleShot(20, &port, [&] { meter.line.deliver(port, asciiFrame(1, bytesOf({3, 2, 0x12, 0x34}))); });
        return asciiFrame(1, bytesOf({6, 0, 1, 0, 2}));
    };
    unsigned char buf[Z960Port::kCommandBufferSize] = {};
    unsigned short len = 0;
    ASSERT_TRUE(port.readRegisters(1, 1, buf, &len, 5));
    EXPECT_EQ(hexText(bufBytes(buf, len)), "02 12 34");
}

TEST(ModbusAscii, ReplyLongerThanTheBufferFailsWithoutCopying)
{
    LinkClock::Scoped fast(20.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    meter.respond = [](const Request &) { return asciiFrame(1, bytesOf({3, 8, 1, 2, 3, 4, 5, 6, 7, 8})); };
    unsigned char buf[8] = {0xEE};
    unsigned short len = 0;
    EXPECT_FALSE(port.readRegisters(1, 4, buf, &len, 5, sizeof buf));
    EXPECT_EQ(len, 0);
    EXPECT_EQ(buf[0], 0xEE);
}

TEST(ModbusAscii, WritesTheFrameCannotCarryAreRefusedWithoutSending)
{
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    unsigned char buf[Z960Port::kCommandBufferSize] = {};
    unsigned short len = 0;
    EXPECT_FALSE(port.writeRegisters(1, 124, buf, &len, 1));      // above the Modbus limit of 123
    EXPECT_FALSE(port.writeRegisters(1, 0, buf, &len, 1));        // nothing to write
    EXPECT_FALSE(port.writeRegisters(1, 10, buf, &len, 1, 19));   // buf holds less than 20 bytes
    EXPECT_FALSE(port.writeRegistersRTU(1, 200, buf, &len, 1));
    EXPECT_TRUE(meter.line.written.isEmpty());
}

TEST(ModbusRtu, RegisterReadRoundTrip)
{
    LinkClock::Scoped fast(5.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    meter.respond = [](const Request &r) {
        return r.kind == Request::Rtu ? rtuFrame(bytesOf({1, 3, 2, 0x00, 0x07})) : QByteArray();
    };
    unsigned char buf[Z960Port::kCommandBufferSize] = {};
    unsigned short len = 0;
    ASSERT_TRUE(port.readRegistersRTU(88, 1, buf, &len, 5));
    EXPECT_EQ(hexText(meter.line.written), hexText(rtuFrame(bytesOf({1, 3, 0, 88, 0, 1}))));
    // The register, then the CRC's low byte (the byte count is not returned).
    ASSERT_EQ(len, 3);
    EXPECT_EQ(buf[0], 0x00);
    EXPECT_EQ(buf[1], 0x07);
}

// ---- the Modbus carrier inside command 81 --------------------------------------

TEST(EmbeddedCarrier, RegisterReadRequestAndReply)
{
    LinkClock::Scoped fast(20.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    meter.answer(81, bytesOf({0x80, 81, 1, 3, 2, 0x00, 0x03}));
    EXPECT_EQ(port.getCommsAccessLevel(), 3);
    ASSERT_EQ(meter.requests.size(), 1u);
    EXPECT_EQ(hexText(meter.requests[0].payload), "51 01 03 00 58 00 01 02 00 00");
}

TEST(EmbeddedCarrier, RepliesByTheirFunctionAndLength)
{
    struct Case {
        const char *name;
        QByteArray payload;
        bool result;
        unsigned short len;       // after the call (start value 77)
        int firstByte;            // buf[0] after the call (start value 0xEE)
        bool fault2710;
    };
    const std::vector<Case> cases = {
        {"normal", bytesOf({0x80, 81, 1, 3, 4, 1, 2, 3, 4}), true, 4, 1, false},
        {"exception", bytesOf({0x80, 81, 1, 0x83, 2}), false, 1, 2, false},
        {"foreign function", bytesOf({0x80, 81, 1, 0x06, 2}), false, 77, 0xEE, true},
        {"four bytes only", bytesOf({0x80, 81, 1, 3}), false, 77, 0xEE, false},
        {"refused, no data", bytesOf({0x00, 81}), false, 77, 0xEE, false},
        {"longer than the caller's buffer", QByteArray(bytesOf({0x80, 81, 1, 3, 40})) + QByteArray(40, 'x'), false,
         77, 0xEE, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LinkClock::Scoped fast(20.0);
        Z960Port port(nullptr, 1);
        std::vector<std::string> faults;
        port.OnPortDebugEvent = [&faults](QObject *, std::string text) { faults.push_back(text); };
        ScriptedMeter meter(port);
        meter.answer(81, c.payload);
        unsigned char buf[32] = {0xEE};
        unsigned short len = 77;
        EXPECT_EQ(port.sendEmbeddedFrame(1, 3, 116, 2, buf, &len, 2, sizeof buf), c.result);
        EXPECT_EQ(len, c.len);
        EXPECT_EQ(buf[0], c.firstByte);
        EXPECT_EQ(!faults.empty() && faults.back() == "file:Z960Port line: 2710", c.fault2710);
    }
}

TEST(EmbeddedCarrier, RequestsNotBuiltHereAreRefusedWithoutSending)
{
    Z960Port port(nullptr, 1);
    std::vector<std::string> faults;
    port.OnPortDebugEvent = [&faults](QObject *, std::string text) { faults.push_back(text); };
    ScriptedMeter meter(port);
    unsigned char buf[Z960Port::kCommandBufferSize] = {};
    unsigned short len = 4;
    EXPECT_FALSE(port.sendEmbeddedFrame(1, 6, 0, 0, buf, &len, 1));
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_EQ(faults[0], "file:Z960Port line: 2690");
    EXPECT_FALSE(port.sendEmbeddedFrame(1, 3, 0, 126, buf, &len, 1));     // more registers than a read carries
    EXPECT_FALSE(port.sendEmbeddedFrame(1, 16, 0, 10, buf, &len, 1, 19)); // values beyond the buffer
    len = 30;
    EXPECT_FALSE(port.sendEmbeddedFrame(1, 68, 0, 0, buf, &len, 1, 20));  // *len beyond the buffer
    EXPECT_TRUE(meter.line.written.isEmpty());
}

// ---- the busy count ---------------------------------------------------------------

TEST(TransactionRelease, LinkReleasedDuringAWaitIsFreedOnlyAfterItAndStartsNothingNew)
{
    LinkClock::Scoped fast(100.0);
    QPointer<Z960Port> port = new Z960Port(nullptr, 1);
    auto meter = std::make_unique<ScriptedMeter>(*port);
    QTimer::singleShot(5, port, [&] { port->release(); });
    Z960Port *raw = port.data();
    EXPECT_FALSE(raw->setState(1)); // nobody answers; the window closes meanwhile
    ASSERT_FALSE(port.isNull());
    const int sent = meter->line.written.size();
    EXPECT_FALSE(raw->sendNullCommand());
    EXPECT_FALSE(raw->getStucture(0));
    EXPECT_EQ(meter->line.written.size(), sent) << "a released link sends nothing";
    meter.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(port.isNull());
}
