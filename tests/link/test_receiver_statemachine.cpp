// The receive state machine fed from a table of wire images, whole, byte by
// byte and in bursts, and the frame receivers behind it.
#include "link/Z960Port.h"
#include "support/ScriptedTransport.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using TestSupport::hexBytes;
using TestSupport::hexText;
using TestSupport::ScriptedTransport;

namespace {

// Wire images are built here on their own (bit-wise CRCs), not with the
// link's code, so a shared mistake cannot pass.
unsigned short kermit(const QByteArray &bytes)
{
    unsigned short crc = 0;
    for (char ch : bytes) {
        crc ^= static_cast<unsigned char>(ch);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<unsigned short>((crc >> 1) ^ 0x8408) : static_cast<unsigned short>(crc >> 1);
    }
    return crc;
}

unsigned short modbusCrc(const QByteArray &bytes)
{
    unsigned short crc = 0xFFFF;
    for (char ch : bytes) {
        crc ^= static_cast<unsigned char>(ch);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<unsigned short>((crc >> 1) ^ 0xA001) : static_cast<unsigned short>(crc >> 1);
    }
    return crc;
}

QByteArray stuffed(const QByteArray &raw, int controlAt)
{
    QByteArray out;
    for (int i = 0; i < raw.size(); ++i) {
        out.append(raw[i]);
        if (raw[i] == '\x10' && i != controlAt)
            out.append('\x90');
    }
    return out;
}

// DLE STX address control payload CRC DLE ETX, stuffed; crcXor spoils the CRC.
QByteArray quillmere(unsigned char address, unsigned char control, const QByteArray &payload, unsigned short crcXor = 0)
{
    QByteArray raw;
    raw.append(static_cast<char>(address)).append(static_cast<char>(control)).append(payload);
    const unsigned short crc = kermit(raw) ^ crcXor;
    raw.append(static_cast<char>(crc & 0xFF)).append(static_cast<char>(crc >> 8));
    return hexBytes("10 02") + stuffed(raw, 1) + hexBytes("10 03");
}

QByteArray ascii(const char *body) // ":" + body + LRC + CR LF, LRC over the body's bytes
{
    const QByteArray bin = QByteArray::fromHex(body);
    unsigned sum = 0;
    for (char ch : bin)
        sum += static_cast<unsigned char>(ch);
    return QByteArray(":") + body + QByteArray::number(((0x100 - (sum & 0xFF)) & 0xFF) | 0x100, 16).mid(1).toUpper()
           + "\r\n";
}

QByteArray rtu(const char *hex, unsigned short crcXor = 0)
{
    QByteArray frame = hexBytes(hex);
    const unsigned short crc = modbusCrc(frame) ^ crcXor;
    return frame.append(static_cast<char>(crc & 0xFF)).append(static_cast<char>(crc >> 8));
}

struct Link {
    ScriptedTransport line;
    Z960Port port;
    std::vector<int> faults;
    int rxEvents = 0;

    explicit Link(unsigned short address) : port(nullptr, address)
    {
        port.attachTransport(&line);
        port.OnPortDebugEvent = [this](QObject *, std::string text) {
            const std::string prefix = "file:Z960Port line: ";
            ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0) << text;
            faults.push_back(std::stoi(text.substr(prefix.size())));
        };
        port.OnRxEvent = [this](QObject *) { ++rxEvents; };
    }

    // Lets the receive timer tick up to n times while it runs.
    void silence(int n)
    {
        for (int i = 0; i < n && port.rxTimeoutTimer->isActive(); ++i)
            port.rxTimeoutTimerEvent(port.rxTimeoutTimer);
    }
};

enum class Delivery { Whole, EachByte, Bursts };
const Delivery kDeliveries[] = {Delivery::Whole, Delivery::EachByte, Delivery::Bursts};
const char *name(Delivery d) { return d == Delivery::Whole ? "whole" : d == Delivery::EachByte ? "byte by byte" : "bursts of 3"; }

void deliver(Link &link, const QByteArray &bytes, Delivery how)
{
    switch (how) {
    case Delivery::Whole: link.line.deliver(link.port, bytes); break;
    case Delivery::EachByte: link.line.deliverEach(link.port, bytes); break;
    case Delivery::Bursts: link.line.deliverInChunks(link.port, bytes, 3); break;
    }
}

struct RxCase {
    const char *what;
    unsigned short address;
    QByteArray bytes;
    int silenceTicks;         // receive timer ticks after the last delivery
    bool ready;
    std::vector<int> faults;
    bool frameError;
    int function;             // -1: not checked
    int exceptionCode;        // -1: not checked
    QByteArray data;          // checked against the first frame.length data bytes when ready
};

std::vector<RxCase> cases()
{
    const QByteArray pingReply = quillmere(1, 0x81, hexBytes("80 00"));
    std::vector<RxCase> t = {
        {"ping reply", 1, pingReply, 0, true, {}, false, 0, 0, hexBytes("80 00")},
        {"reply with data", 1, quillmere(1, 0x81, hexBytes("80 13 05 AA")), 0, true, {}, false, 0x13, 0, hexBytes("80 13 05 AA")},
        {"0x10 in payload and CRC", 1, quillmere(1, 0x81, hexBytes("80 10 10 01")), 0, true, {}, false, 0x10, 0, hexBytes("80 10 10 01")},
        {"reply from address 16", 16, quillmere(16, 0x81, hexBytes("80 00")), 0, true, {}, false, 0, 0, hexBytes("80 00")},
        {"bad CRC", 1, quillmere(1, 0x81, hexBytes("80 00"), 0x0100), 0, false, {416}, true, -1, -1, {}},
        {"too short for address, control and CRC", 1, hexBytes("10 02 01 81 00 10 03"), 0, false, {416}, true, -1, -1, {}},
        {"lone DLE pair", 1, hexBytes("10 02 01 81 80 10 10 00 47 C6 10 03"), 0, false, {421}, false, -1, -1, {}},
        {"request echoed by a PC-only code", 1, quillmere(1, 0x8B, QByteArray()), 0, false, {1572}, false, -1, -1, {}},
        {"unused control code", 1, quillmere(1, 0x84, QByteArray()), 0, false, {1577}, false, -1, -1, {}},
        {"two replies in one burst: the newer one counts", 1,
         quillmere(1, 0x81, hexBytes("80 01")) + quillmere(1, 0x81, hexBytes("80 02 07")), 0, true, {}, false, 2, 0, hexBytes("80 02 07")},
        {"noise before a frame is ignored", 1, hexBytes("00 FF 03 90") + pingReply, 0, true, {}, false, 0, 0, hexBytes("80 00")},

        {"ASCII register reply", 1, ascii("0103020003"), 0, true, {}, false, 3, 0, hexBytes("02 00 03")},
        {"ASCII in lower case", 1, ascii("0103020003").toLower(), 0, true, {}, false, 3, 0, hexBytes("02 00 03")},
        {"ASCII reply from another address", 2, ascii("0103020003"), 0, false, {459}, false, -1, -1, {}},
        {"ASCII with a wrong LRC", 1, QByteArray(":010302000300\r\n"), 0, false, {459}, false, -1, -1, {}},
        {"ASCII without a data byte", 1, QByteArray(":0103\r\n"), 0, false, {459}, false, -1, -1, {}},
        {"ASCII CR without LF", 1, QByteArray(":0103020003F7\rX"), 0, false, {}, false, -1, -1, {}},
        {"ASCII exception reply", 1, ascii("018302"), 0, true, {}, false, 0x83, 2, hexBytes("02")},
        // Addresses 160-175 and 192-239 begin with A, C, D or E: still ASCII.
        {"ASCII reply from address 0xC8", 0xC8, ascii("C803020007"), 0, true, {}, false, 3, 0, hexBytes("02 00 07")},
        {"ASCII reply from address 0xA1", 0xA1, ascii("A103020007"), 0, true, {}, false, 3, 0, hexBytes("02 00 07")},
        {"ASCII reply from address 0xEF", 0xEF, ascii("EF03020007"), 0, true, {}, false, 3, 0, hexBytes("02 00 07")},
        {"ASCII reply from address 0xDD", 0xDD, ascii("DD06000100FF"), 0, true, {}, false, 6, 0, hexBytes("00 01 00 FF")},

        {"RTU reply", 1, rtu("01 03 04 00 01 00 02"), 10, true, {}, false, 3, 0, hexBytes("00 01 00 02 2A")},
        {"RTU reply, bad CRC", 1, rtu("01 03 04 00 01 00 02", 0x0001), 10, false, {308}, false, -1, -1, {}},
        {"idle address byte alone", 1, hexBytes("01"), 10, false, {308}, false, -1, -1, {}},
        {"RTU exception reply", 1, rtu("01 83 02"), 10, true, {}, false, 0x83, 2, {}},
        {"RTU single register write echo", 1, rtu("01 06 00 58 00 03"), 10, true, {}, false, 6, 0, {}},
        {"RTU unknown function", 1, rtu("01 07 00"), 10, false, {1349, 308}, false, -1, -1, {}},
        // The CRC low byte counts as the last data byte of an RTU reply.
        {"RTU reply from address 16", 16, rtu("10 03 02 00 05"), 10, true, {}, false, 3, 0, hexBytes("00 05 84")},
        {"RTU frame from address 16 to another meter", 1, rtu("10 03 02 00 05"), 0, false, {}, false, -1, -1, {}},
        {"RTU reply from address 58", 58, rtu("3A 03 02 00 05"), 10, true, {}, false, 3, 0, hexBytes("00 05 9D")},
        {"RTU reply from address 58, function E", 58, rtu("3A 45 00 01"), 10, true, {}, false, 0x45, 0, hexBytes("00 01 DC")},
        // Out of step after a dropped frame: its DLE ETX tail is noise.
        {"tail of a dropped frame, then a reply", 1, hexBytes("AA 10 03") + pingReply, 0, true, {}, false, 0, 0, hexBytes("80 00")},
        {"RTU still waiting before its silence", 1, rtu("01 03 04 00 01 00 02"), 9, false, {}, false, -1, -1, {}},
    };
    return t;
}

} // namespace

TEST(ReceiveStateMachine, TableOfFramesInEveryDelivery)
{
    for (const RxCase &c : cases()) {
        for (Delivery how : kDeliveries) {
            SCOPED_TRACE(std::string(c.what) + ", " + name(how) + ": " + hexText(c.bytes).toStdString());
            Link link(c.address);
            deliver(link, c.bytes, how);
            link.silence(c.silenceTicks);
            EXPECT_EQ(link.port.frame.frameReady, c.ready);
            EXPECT_EQ(link.faults, c.faults);
            EXPECT_EQ(link.port.frameError, c.frameError);
            if (c.function >= 0) {
                EXPECT_EQ(link.port.frame.function, c.function);
            }
            if (c.exceptionCode >= 0) {
                EXPECT_EQ(link.port.frame.exceptionCode, c.exceptionCode);
            }
            if (c.ready && !c.data.isEmpty()) {
                EXPECT_EQ(link.port.frame.length, c.data.size());
                EXPECT_EQ(hexText(QByteArray(reinterpret_cast<const char *>(link.port.frame.data), c.data.size())),
                          hexText(c.data));
            }
            EXPECT_TRUE(link.line.incoming.empty()) << "every reported byte is read";
            if (c.silenceTicks == 0 || c.ready || !c.faults.empty()) {
                EXPECT_EQ(link.port.rxState, Z960Port::RX_IDLE);
            }
        }
    }
}

TEST(ReceiveStateMachine, QuillmereFrameAtTheLengthLimitAndOneByteOver)
{
    // 1022 unstuffed bytes (address, control, 1018 payload bytes, CRC) fit;
    // one more reaches the 1023-byte buffer limit and the frame is dropped.
    for (int payloadSize : {1018, 1019}) {
        SCOPED_TRACE(payloadSize);
        QByteArray payload(payloadSize, '\x55');
        payload[0] = '\x80';
        payload[1] = '\x13';
        Link link(1);
        link.line.deliver(link.port, quillmere(1, 0x81, payload));
        const bool fits = payloadSize == 1018;
        EXPECT_EQ(link.port.frame.frameReady, fits);
        EXPECT_TRUE(link.faults.empty()) << "an overlong frame is dropped silently";
        if (fits) {
            EXPECT_EQ(link.port.frame.length, 1018);
        }
        // The state machine is ready for the next frame either way.
        link.line.deliver(link.port, quillmere(1, 0x81, hexBytes("80 00")));
        EXPECT_TRUE(link.port.frame.frameReady);
    }
}

TEST(ReceiveStateMachine, AsciiFrameLongerThanTheBufferIsDroppedSilently)
{
    Link link(1);
    QByteArray frame(":0103");
    frame.append(QByteArray(1100, '0'));
    frame.append("\r\n");
    link.line.deliver(link.port, frame);
    EXPECT_FALSE(link.port.frame.frameReady);
    EXPECT_TRUE(link.faults.empty());
    EXPECT_EQ(link.port.rxState, Z960Port::RX_IDLE);
}

TEST(ReceiveStateMachine, AsciiFrameWithMoreThan256DataBytesFailsItsCheck)
{
    Link link(1);
    QByteArray body("0103");
    body.append(QByteArray(257 * 2, '0'));
    link.line.deliver(link.port, ascii(body.constData()));
    EXPECT_FALSE(link.port.frame.frameReady);
    EXPECT_EQ(link.faults, std::vector<int>{459});
}

TEST(ReceiveStateMachine, StalledFrameIsDroppedAfterItsCountDown)
{
    Link link(1);
    const QByteArray reply = quillmere(1, 0x81, hexBytes("80 00"));
    link.line.deliver(link.port, reply.left(5));
    EXPECT_EQ(link.port.rxState, Z960Port::RX_QUILLMERE);
    EXPECT_EQ(link.port.rxCountdown, 1500);
    EXPECT_TRUE(link.port.rxTimeoutTimer->isActive());
    EXPECT_EQ(link.port.rxTimeoutTimer->interval(), 10);

    link.silence(1499);
    EXPECT_EQ(link.port.rxState, Z960Port::RX_QUILLMERE) << "still waiting one tick before the end";
    link.silence(1);
    EXPECT_EQ(link.port.rxState, Z960Port::RX_IDLE);
    EXPECT_FALSE(link.port.rxTimeoutTimer->isActive());
    EXPECT_TRUE(link.faults.empty());

    // The rest of the old frame is noise now; a new frame is taken.
    link.line.deliver(link.port, reply.mid(5));
    EXPECT_FALSE(link.port.frame.frameReady);
    link.line.deliver(link.port, reply);
    EXPECT_TRUE(link.port.frame.frameReady);
}

TEST(ReceiveStateMachine, EachDeliveryRestartsTheCountDown)
{
    Link link(1);
    const QByteArray reply = quillmere(1, 0x81, hexBytes("80 00"));
    link.line.deliver(link.port, reply.left(3));
    link.silence(1400);
    link.line.deliver(link.port, reply.mid(3, 2));
    EXPECT_EQ(link.port.rxCountdown, 1500);
    link.silence(1400);
    link.line.deliver(link.port, reply.mid(5));
    EXPECT_TRUE(link.port.frame.frameReady);
    EXPECT_EQ(link.port.rxCountdown, 0);
    EXPECT_FALSE(link.port.rxTimeoutTimer->isActive());
}

TEST(ReceiveStateMachine, StaleRtuFlagDoesNotCutAQuillmereFrameShort)
{
    // An RTU frame was open when a transaction reset the record; the
    // Quillmere reply that follows, split over deliveries, must still wait
    // its full count-down and not be taken for an RTU frame.
    Link link(1);
    link.line.deliver(link.port, hexBytes("01 03"));
    ASSERT_TRUE(link.port.rxIsRtu);
    link.port.resetRxTxFrame(true);
    link.port.rxIsRtu = true; // as if it had survived the reset

    const QByteArray reply = quillmere(1, 0x81, hexBytes("80 00"));
    link.line.deliver(link.port, reply.left(4));
    EXPECT_FALSE(link.port.rxIsRtu);
    EXPECT_EQ(link.port.rxCountdown, 1500);
    link.silence(10);
    EXPECT_EQ(link.port.rxState, Z960Port::RX_QUILLMERE);
    link.line.deliver(link.port, reply.mid(4));
    EXPECT_TRUE(link.port.frame.frameReady);
    EXPECT_TRUE(link.faults.empty());
}

TEST(ReceiveStateMachine, AddressByteStartsRtuOnlyWhenNoFrameWasOpen)
{
    Link link(1);
    link.line.deliver(link.port, hexBytes("10 02 01")); // a Quillmere frame opens
    link.port.resetRxTxFrame(true);                    // a transaction starts: idle, count-down still running
    link.line.deliver(link.port, hexBytes("01 03"));
    EXPECT_EQ(link.port.rxState, Z960Port::RX_IDLE);
    EXPECT_FALSE(link.port.rxIsRtu);
}

TEST(ReceiveStateMachine, RxEventOncePerDeliveryBeforeAnyByteIsRead)
{
    Link link(1);
    std::size_t waitingAtEvent = 0;
    link.port.OnRxEvent = [&](QObject *sender) {
        EXPECT_EQ(sender, &link.port);
        ++link.rxEvents;
        waitingAtEvent = link.line.incoming.size();
    };
    link.line.deliver(link.port, quillmere(1, 0x81, hexBytes("80 00")));
    EXPECT_EQ(link.rxEvents, 1);
    EXPECT_EQ(waitingAtEvent, 10u);
}

TEST(ReceiveStateMachine, CountOfZeroReadsNothingAndReArmsAnOpenFrame)
{
    Link link(1);
    link.port.rxInterruptTask(nullptr, 0);
    EXPECT_EQ(link.rxEvents, 0);
    EXPECT_FALSE(link.port.rxTimeoutTimer->isActive());

    link.line.deliver(link.port, hexBytes("10 02 01"));
    link.silence(100);
    link.line.incoming.push_back(0x55); // waiting but not reported
    link.port.rxInterruptTask(nullptr, 0);
    EXPECT_EQ(link.rxEvents, 1);
    EXPECT_EQ(link.line.incoming.size(), 1u);
    EXPECT_EQ(link.port.rxCountdown, 1500);
    EXPECT_TRUE(link.port.rxTimeoutTimer->isActive());
}

TEST(ReceiveStateMachine, UnknownStateIsAFaultAndReturnsToIdle)
{
    Link link(1);
    link.port.rxState = 7;
    link.line.deliver(link.port, hexBytes("10"));
    EXPECT_EQ(link.faults, std::vector<int>{477});
    EXPECT_EQ(link.port.rxState, Z960Port::RX_IDLE);
}

TEST(ReceiveStateMachine, TransactionResetDiscardsAHalfReceivedFrame)
{
    Link link(1);
    const QByteArray reply = quillmere(1, 0x81, hexBytes("80 00"));
    link.line.deliver(link.port, reply.left(6));
    link.port.resetRxTxFrame(true);
    EXPECT_EQ(link.port.rxState, Z960Port::RX_IDLE);
    link.line.deliver(link.port, reply.mid(6));
    EXPECT_FALSE(link.port.frame.frameReady);
}

TEST(FrameReceivers, CalledDirectlyWithFramesAndWithTooLittle)
{
    Link link(1);
    const QByteArray frame = ascii("0103020003");
    EXPECT_TRUE(link.port.frameReceiverAscii(reinterpret_cast<const unsigned char *>(frame.constData()),
                                             static_cast<unsigned short>(frame.size())));
    EXPECT_TRUE(link.faults.empty());
    EXPECT_FALSE(link.port.frameReceiverRtu(nullptr, 0));
    EXPECT_FALSE(link.port.frameReceiverQuillmere(reinterpret_cast<const unsigned char *>("\x01\x81\x00"), 3));
}

TEST(FrameReceivers, RtuCrcHighByteIsMissing)
{
    Link link(1);
    const QByteArray frame = rtu("01 03 02 00 05").chopped(1);
    EXPECT_FALSE(link.port.frameReceiverRtu(reinterpret_cast<const unsigned char *>(frame.constData()),
                                            static_cast<unsigned short>(frame.size())));
}

TEST(FrameReceivers, RtuByteCountLongerThanTheFrameFailsWithoutOverrun)
{
    Link link(1);
    const QByteArray frame = rtu("01 03 FF 00 05");
    EXPECT_FALSE(link.port.frameReceiverRtu(reinterpret_cast<const unsigned char *>(frame.constData()),
                                            static_cast<unsigned short>(frame.size())));
}
