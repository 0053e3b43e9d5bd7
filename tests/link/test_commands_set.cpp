// The command set: each method's request, time-out and reply handling, the
// ping, the access-level operations and the clock, against a scripted meter.
#include "CommandsFixture.h"

#include "link/DateTime.h"
#include "link/LinkClock.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

using namespace CommandTest;
using TestSupport::hexText;

namespace {

struct CommandCase {
    const char *name;
    std::function<bool(Z960Port &)> call;
    const char *request;        // the request payload
    unsigned short timeoutSeconds;
};

const std::vector<CommandCase> &commandCases()
{
    static const unsigned char totals[3] = {0x01, 0x10, 0xFF};
    static const std::vector<CommandCase> cases = {
        {"jumpToBootCode", [](Z960Port &p) { return p.jumpToBootCode(); }, "0C", 2},
        {"setID", [](Z960Port &p) { return p.setID(7); }, "3E 07", 2},
        {"sendLcdPlusCommand", [](Z960Port &p) { return p.sendLcdPlusCommand(); }, "3F", 2},
        {"sendLcdMinusCommand", [](Z960Port &p) { return p.sendLcdMinusCommand(); }, "40", 2},
        {"sendTotalsUpdateCommand", [](Z960Port &p) { return p.sendTotalsUpdateCommand(totals, 3); }, "41 01 10 FF", 3},
        {"setModemPower", [](Z960Port &p) { return p.setModemPower(1); }, "42 01", 2},
        {"setState", [](Z960Port &p) { return p.setState(4); }, "45 04", 10},
        {"setCoilCurrent", [](Z960Port &p) { return p.setCoilCurrent(5, 0x1234); }, "46 05 34 12", 5},
        {"ClearDataFlashLog", [](Z960Port &p) { return p.ClearDataFlashLog(2); }, "65 02", 120},
        {"ClearAllDataFlashLogs", [](Z960Port &p) { return p.ClearAllDataFlashLogs(); }, "66", 120},
        {"sendSimpleCommand", [](Z960Port &p) { return p.sendSimpleCommand(72); }, "48", 5},
    };
    return cases;
}

QByteArray payloadOf(const char *hex) { return hexBytes(hex); }

unsigned char commandOf(const CommandCase &c) { return static_cast<unsigned char>(payloadOf(c.request)[0]); }

QByteArray floatBytes(float v)
{
    unsigned char b[4];
    std::memcpy(b, &v, 4); // little-endian host
    return QByteArray(reinterpret_cast<const char *>(b), 4);
}

} // namespace

TEST(CommandSet, EachCommandSendsItsRequestAndTakesADoneReply)
{
    for (const CommandCase &c : commandCases()) {
        SCOPED_TRACE(c.name);
        LinkClock::Scoped fast(20.0);
        Z960Port port(nullptr, 1);
        ScriptedMeter meter(port);
        meter.answer(commandOf(c), bytesOf({0x80, commandOf(c)}));
        port.abortFlag = true; // every command clears it when it starts
        EXPECT_TRUE(c.call(port));
        EXPECT_FALSE(port.abortFlag);
        ASSERT_EQ(meter.requests.size(), 1u);
        EXPECT_EQ(meter.requests[0].control, 0x80);
        EXPECT_EQ(hexText(meter.requests[0].payload), hexText(payloadOf(c.request)));
    }
}

TEST(CommandSet, ARefusedCommandIsNotReportedAsDone)
{
    for (const CommandCase &c : commandCases()) {
        SCOPED_TRACE(c.name);
        LinkClock::Scoped fast(20.0);
        Z960Port port(nullptr, 1);
        ScriptedMeter meter(port);
        meter.answer(commandOf(c), bytesOf({0x00, commandOf(c)}));
        EXPECT_FALSE(c.call(port));
        EXPECT_EQ(meter.requests.size(), 1u) << "no command but the ping is tried again";
    }
}

TEST(CommandSet, EachCommandGivesUpAfterItsTimeOut)
{
    for (const CommandCase &c : commandCases()) {
        SCOPED_TRACE(c.name);
        LinkClock::Scoped fast(100.0);
        Z960Port port(nullptr, 1);
        ScriptedMeter meter(port);
        const LinkClock::Tick start = LinkClock::now();
        EXPECT_FALSE(c.call(port));
        const LinkClock::Tick took = LinkClock::since(start);
        EXPECT_GE(took, c.timeoutSeconds * 1000u);
        // Slack for a loaded machine; a wrong time-out is off by far more.
        EXPECT_LT(took, c.timeoutSeconds * 1250u + 3000u);
    }
}

TEST(CommandSet, ArgumentsLongerThanTheFrameAreRefusedWithoutSending)
{
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    std::vector<unsigned char> data(1024, 1);
    EXPECT_FALSE(port.sendTotalsUpdateCommand(data.data(), 1024));
    EXPECT_FALSE(port.sendTotalsUpdateCommand(nullptr, 4));
    EXPECT_TRUE(meter.line.written.isEmpty());
}

// ---- float and date replies ---------------------------------------------------

TEST(SignalReads, TakeTheFloatFromReplyBytesThreeToSix)
{
    struct Case { const char *name; std::function<bool(Z960Port &, float *)> call; unsigned char command; const char *request; };
    const std::vector<Case> cases = {
        {"readInputSignal", [](Z960Port &p, float *v) { return p.readInputSignal(v); }, 71, "47"},
        {"readPNFSignal", [](Z960Port &p, float *v) { return p.readPNFSignal(v); }, 73, "49"},
        {"readECSignal", [](Z960Port &p, float *v) { return p.readECSignal(v); }, 74, "4A"},
        {"readChannel", [](Z960Port &p, float *v) { return p.readChannel(0x0203, v); }, 68, "44 03 02 00 00 00 00"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LinkClock::Scoped fast(20.0);
        Z960Port port(nullptr, 1);
        ScriptedMeter meter(port);
        // Byte 2 is 0x99 so that a read from the wrong offset shows.
        meter.answer(c.command, bytesOf({0x80, c.command, 0x99}) + floatBytes(-12.75f));
        float value = 0;
        ASSERT_TRUE(c.call(port, &value));
        EXPECT_FLOAT_EQ(value, -12.75f);
        EXPECT_EQ(hexText(meter.requests.at(0).payload), hexText(hexBytes(c.request)));
    }
}

TEST(SignalReads, ShortOrRefusedRepliesGiveNoValue)
{
    for (const QByteArray &payload : {bytesOf({0x80, 71, 0, 1, 2, 3}), bytesOf({0x80, 71}),
                                      QByteArray(bytesOf({0x00, 71, 0})) + floatBytes(1.0f)}) {
        SCOPED_TRACE(hexText(payload).toStdString());
        LinkClock::Scoped fast(20.0);
        Z960Port port(nullptr, 1);
        ScriptedMeter meter(port);
        meter.answer(71, payload);
        float value = 42.0f;
        EXPECT_FALSE(port.readInputSignal(&value));
        EXPECT_EQ(value, 42.0f);
    }
}

TEST(DateBounds, BothTimestampsComeFromTheReply)
{
    LinkClock::Scoped fast(20.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    meter.answer(1, hexBytes("80 01 18 02 1D 0A 0B 0C 18 03 01 00 00 01"));
    Z960Data::sTimestamp first, last;
    ASSERT_TRUE(port.GetDateTimeBounds(6, &first, &last));
    EXPECT_EQ(hexText(meter.requests.at(0).payload), "01 06");
    EXPECT_EQ(first.year(), 24);
    EXPECT_EQ(first.day(), 29);
    EXPECT_EQ(first.second(), 12);
    EXPECT_EQ(last.month(), 3);
    EXPECT_EQ(last.second(), 1);
}

TEST(DateBounds, ShortOrRefusedReplyLeavesTheTimestamps)
{
    for (const char *payload : {"80 01 18 02 1D 0A 0B 0C 18 03 01 00 00", "00 01 18 02 1D 0A 0B 0C 18 03 01 00 00 01"}) {
        SCOPED_TRACE(payload);
        LinkClock::Scoped fast(20.0);
        Z960Port port(nullptr, 1);
        ScriptedMeter meter(port);
        meter.answer(1, hexBytes(payload));
        Z960Data::sTimestamp first, last;
        first.setYear(99);
        EXPECT_FALSE(port.GetDateTimeBounds(0, &first, &last));
        EXPECT_EQ(first.year(), 99);
        EXPECT_EQ(last.year(), 0);
    }
}

// ---- the ping ---------------------------------------------------------------------

TEST(NullCommand, AnsweredAtOnceFlushesFirstAndSendsOnePing)
{
    LinkClock::Scoped fast(20.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    meter.line.incoming.push_back(0x55); // stale input
    meter.answer(0, bytesOf({0x80, 0}));
    EXPECT_TRUE(port.sendNullCommand());
    EXPECT_GE(meter.line.purgeReads, 1);
    EXPECT_EQ(hexText(meter.line.written), "10 02 01 80 00 10 90 D6 10 03");
}

TEST(NullCommand, NoMeterGivesUpAfterFiveTriesOfOneSecond)
{
    LinkClock::Scoped fast(50.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    const LinkClock::Tick start = LinkClock::now();
    EXPECT_FALSE(port.sendNullCommand());
    const LinkClock::Tick took = LinkClock::since(start);
    EXPECT_EQ(meter.count(0), 5);
    EXPECT_GE(took, 5000u);
    EXPECT_LT(took, 8500u); // slack for a loaded machine
}

TEST(NullCommand, LaterTryAnsweredSucceeds)
{
    LinkClock::Scoped fast(200.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    meter.respond = [&meter](const Request &) {
        return meter.requests.size() == 3 ? reply(bytesOf({0x80, 0})) : QByteArray();
    };
    EXPECT_TRUE(port.sendNullCommand());
    EXPECT_EQ(meter.count(0), 3);
}

TEST(NullCommand, AbortEndsTheTriesOfAWaitingPingOnly)
{
    LinkClock::Scoped fast(200.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port); // silent: every try runs out
    // An abort while the first try waits for its answer: no further try.
    QTimer::singleShot(1, &port, [&port] { port.abortCommand(); });
    EXPECT_FALSE(port.sendNullCommand());
    EXPECT_EQ(meter.count(0), 1);

    // An abort while no ping runs is forgotten: the next ping makes all five tries.
    port.abortCommand();
    EXPECT_FALSE(port.sendNullCommand());
    EXPECT_EQ(meter.count(0), 1 + 5);
}

TEST(NullCommand, SerialFailureEndsTheTriesWithFalse)
{
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    meter.line.onWrite = [](TestSupport::ScriptedTransport &) { throw std::runtime_error("Write error"); };
    EXPECT_FALSE(port.sendNullCommand());
    EXPECT_EQ(meter.line.written.size(), 1);
}

TEST(NullCommand, SerialFailureOfAnotherCommandReachesItsCaller)
{
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    meter.line.onWrite = [](TestSupport::ScriptedTransport &) { throw std::runtime_error("Write error"); };
    EXPECT_THROW(port.setState(1), std::runtime_error);
    EXPECT_FALSE(port.isBusy());
}

// ---- commands that ping first --------------------------------------------------------

TEST(PingFirst, SetAccessLevelAndBackupPingThenSend)
{
    struct Case { const char *name; std::function<bool(Z960Port &)> call; unsigned char command; const char *request; };
    const std::vector<Case> cases = {
        {"setAccessLevel", [](Z960Port &p) { return p.setAccessLevel(3); }, 75, "4B 03"},
        {"backupLogsToSdcard", [](Z960Port &p) { return p.backupLogsToSdcard(); }, 103, "67"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LinkClock::Scoped fast(200.0);
        {
            Z960Port port(nullptr, 1);
            ScriptedMeter meter(port);
            meter.answerWithPing(c.command, bytesOf({0x80, c.command}));
            EXPECT_TRUE(c.call(port));
            ASSERT_EQ(meter.requests.size(), 2u);
            EXPECT_EQ(hexText(meter.requests[0].payload), "00");
            EXPECT_EQ(hexText(meter.requests[1].payload), hexText(hexBytes(c.request)));
        }
        {
            Z960Port port(nullptr, 1);
            ScriptedMeter meter(port); // silent: the ping fails, the command is never sent
            EXPECT_FALSE(c.call(port));
            EXPECT_EQ(meter.count(c.command), 0);
            EXPECT_EQ(meter.count(0), 5);
        }
    }
}

// ---- clock, totals, access --------------------------------------------------------------

TEST(Clock, SetDateTimePingsThenSendsTheDateWithoutMilliseconds)
{
    LinkClock::Scoped fast(20.0);
    const DateTime::TDateTime when = *DateTime::encode({2017, 3, 4, 5, 6, 7, 890});
    struct Case { const char *name; bool usePcClock; };
    for (const Case &c : {Case{"given date", false}, Case{"PC clock", true}}) {
        SCOPED_TRACE(c.name);
        DateTime::ScopedNow now(c.usePcClock ? when : *DateTime::encode({2030, 1, 1, 0, 0, 0, 0}));
        Z960Port port(nullptr, 1);
        ScriptedMeter meter(port);
        meter.answerWithPing(81, hexBytes("80 51 01 41 06 11 03 04 05 06 07"));
        EXPECT_TRUE(port.setDateTime(c.usePcClock ? 0.0 : when, c.usePcClock));
        ASSERT_EQ(meter.requests.size(), 2u);
        EXPECT_EQ(hexText(meter.requests[1].payload), "51 01 41 11 03 04 05 06 07");
    }
}

TEST(Clock, SetDateTimeWithoutPingSendsNoDate)
{
    LinkClock::Scoped fast(500.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    EXPECT_FALSE(port.setDateTime(45000.5, false));
    EXPECT_EQ(meter.count(81), 0);
}

TEST(Clock, SetTimeByProtocol)
{
    const DateTime::TDateTime when = *DateTime::encode({2024, 12, 31, 23, 59, 58, 0});
    {
        LinkClock::Scoped fast(20.0);
        Z960Port port(nullptr, 1);
        ScriptedMeter meter(port);
        meter.respond = [](const Request &) { return asciiFrame(1, hexBytes("41 06 18 0C 1F 17 3B 3A")); };
        unsigned char buf[Z960Port::kCommandBufferSize] = {};
        unsigned short len = 0;
        EXPECT_TRUE(port.setTime(when, buf, &len, 3, Z960Data::MODBUS_ASCII));
        EXPECT_EQ(meter.line.written, asciiFrame(1, hexBytes("41 18 0C 1F 17 3B 3A")));
    }
    {
        // An unknown protocol sends nothing and fails after the time-out.
        LinkClock::Scoped fast(500.0);
        Z960Port port(nullptr, 1);
        ScriptedMeter meter(port);
        unsigned char buf[Z960Port::kCommandBufferSize] = {};
        unsigned short len = 0;
        const LinkClock::Tick start = LinkClock::now();
        EXPECT_FALSE(port.setTime(when, buf, &len, 3, static_cast<Z960Data::ProtocolType>(3)));
        EXPECT_GE(LinkClock::since(start), 3000u);
        EXPECT_TRUE(meter.line.written.isEmpty());
    }
}

TEST(Totals, ResetTotalisersCarriesTheMaskHighByteFirst)
{
    LinkClock::Scoped fast(20.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    meter.answer(81, hexBytes("80 51 01 43 02 FF FE"));
    unsigned char buf[Z960Port::kCommandBufferSize] = {};
    unsigned short len = 0;
    EXPECT_TRUE(port.resetTotalisers(0xFFFE, buf, &len, 5, Z960Data::MODBUS_EMBEDDED));
    EXPECT_EQ(hexText(meter.requests.at(0).payload), "51 01 43 FF FE");
    EXPECT_EQ(len, 2);
}

namespace {

// Answers function 68 with an echo and register 88 with `level`.
void meterWithLevel(ScriptedMeter &meter, unsigned short level)
{
    meter.respond = [level](const Request &r) {
        if (r.payload.size() < 3 || static_cast<unsigned char>(r.payload[0]) != 81)
            return QByteArray();
        if (static_cast<unsigned char>(r.payload[2]) == 68)
            return reply(QByteArray(bytesOf({0x80, 81, 1, 68, 2})) + r.payload.mid(3, 2));
        return reply(bytesOf({0x80, 81, 1, 3, 2, level >> 8, level & 0xFF}));
    };
}

void setCodes(Z960Port &port, unsigned short c0, unsigned short c1, unsigned short c2)
{
    port.configImage.setPwdC0(c0);
    port.configImage.setPwdC1(c1);
    port.configImage.setPwdC2(c2);
}

} // namespace

TEST(Access, LogginSendsOnlyTheThreeCodes)
{
    LinkClock::Scoped fast(20.0);
    Z960Port port(nullptr, 1);
    setCodes(port, 1234, 2345, 3456);
    ScriptedMeter meter(port);
    meterWithLevel(meter, 3);
    EXPECT_EQ(port.loggin(3456), 3);
    ASSERT_EQ(meter.requests.size(), 2u);
    EXPECT_EQ(hexText(meter.requests[0].payload), "51 01 44 0D 80");
    EXPECT_EQ(hexText(meter.requests[1].payload), "51 01 03 00 58 00 01 02 00 00");
    meter.requests.clear();
    for (unsigned short wrong : {0, 1235, 9999, 65535})
        EXPECT_EQ(port.loggin(wrong), 0) << wrong;
    EXPECT_TRUE(meter.requests.empty());
}

TEST(Access, LogoutSendsTheSmallestValueThatIsNoCode)
{
    struct Case { unsigned short c0, c1, c2; const char *sent; };
    for (const Case &c : {Case{1234, 2345, 3456, "00 00"}, Case{0, 1, 3, "00 02"}, Case{2, 1, 0, "00 03"}}) {
        SCOPED_TRACE(c.sent);
        LinkClock::Scoped fast(20.0);
        Z960Port port(nullptr, 1);
        setCodes(port, c.c0, c.c1, c.c2);
        ScriptedMeter meter(port);
        meterWithLevel(meter, 0);
        EXPECT_EQ(port.logout(), 0);
        ASSERT_EQ(meter.requests.size(), 2u);
        EXPECT_EQ(hexText(meter.requests[0].payload), hexText(hexBytes("51 01 44") + hexBytes(c.sent)));
    }
}

TEST(Access, FailedCodeOrLevelReadGivesZero)
{
    LinkClock::Scoped fast(200.0);
    Z960Port port(nullptr, 1);
    setCodes(port, 1234, 2345, 3456);
    ScriptedMeter meter(port); // silent
    EXPECT_EQ(port.loggin(1234), 0);
    EXPECT_EQ(meter.requests.size(), 1u) << "the level is not read after a failed code";
    EXPECT_EQ(port.getCommsAccessLevel(), 0);
    meter.answer(81, hexBytes("80 51 01 03 01 03")); // a one-byte register value
    EXPECT_EQ(port.getCommsAccessLevel(), 0);
}

TEST(Access, VerifySerialNumberReadsTheRegistersBackwards)
{
    struct Case { const char *reply; bool result; };
    for (const Case &c : {Case{"80 51 01 03 06 5E 4D 3C 2B 1A 00", true}, Case{"80 51 01 03 06 5E 4D 3C 2B 1A 01", false},
                          Case{"80 51 01 03 04 5E 4D 3C 2B", false}}) {
        SCOPED_TRACE(c.reply);
        LinkClock::Scoped fast(20.0);
        Z960Port port(nullptr, 1);
        const unsigned char serial[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
        std::memcpy(port.systemImage.data(), serial, 6);
        ScriptedMeter meter(port);
        meter.answer(81, hexBytes(c.reply));
        EXPECT_EQ(port.verifySerialNumber(), c.result);
        EXPECT_EQ(hexText(meter.requests.at(0).payload), "51 01 03 00 38 00 03 06 00 00 00 00 00 00");
    }
}
