// The three transmitters emit exactly the bytes of their framing.
#include "link/Z960Port.h"
#include "support/ScriptedTransport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using TestSupport::hexBytes;
using TestSupport::hexText;
using TestSupport::ScriptedTransport;
using namespace Z960Frames;

namespace {

struct Link {
    ScriptedTransport line;
    Z960Port port;
    std::vector<std::string> faults;
    int txEvents = 0;

    explicit Link(unsigned short address) : port(nullptr, address)
    {
        port.attachTransport(&line);
        port.OnPortDebugEvent = [this](QObject *, std::string text) { faults.push_back(text); };
        port.OnTxEvent = [this](QObject *sender) {
            EXPECT_EQ(sender, &port);
            ++txEvents;
        };
    }

    // Builds a request in the frame record as a transaction does and sends it.
    QByteArray sendQuillmere(unsigned char control, const QByteArray &payload)
    {
        port.resetRxTxFrame(true);
        port.frame.control = control;
        std::memcpy(port.frame.data, payload.constData(), static_cast<std::size_t>(payload.size()));
        port.frame.length = static_cast<unsigned short>(payload.size());
        port.frame.index = 0;
        port.PutChar(DLE);
        return runTransmitter(&Z960Port::frameTransmitterQuillmere, COLON /*unused*/);
    }

    QByteArray sendModbus(void (Z960Port::*transmitter)(), bool ascii, unsigned char function, const QByteArray &data)
    {
        port.resetRxTxFrame(true);
        port.frame.address = static_cast<unsigned char>(port.modbusAddress & 0xFF);
        port.frame.function = function;
        std::memcpy(port.frame.data, data.constData(), static_cast<std::size_t>(data.size()));
        port.frame.length = static_cast<unsigned short>(data.size());
        port.frame.index = 0;
        if (ascii)
            port.PutChar(COLON);
        return runTransmitter(transmitter, 0);
    }

    QByteArray runTransmitter(void (Z960Port::*transmitter)(), unsigned char)
    {
        for (int calls = 0; !(port.frame.status & TX_DONE); ++calls) {
            if (calls > 4000) {
                ADD_FAILURE() << "transmitter never finished";
                break;
            }
            (port.*transmitter)();
        }
        return line.written;
    }
};

} // namespace

TEST(QuillmereTransmitter, WorkedFrames)
{
    struct Case {
        const char *what;
        unsigned short address;
        unsigned char control;
        const char *payload;
        const char *wire;
    };
    const Case cases[] = {
        // The ping of address 1: its CRC low byte is 0x10 and is stuffed.
        {"ping, address 1", 1, 0x80, "00", "10 02 01 80 00 10 90 D6 10 03"},
        // Address 16 is stuffed once on the wire and counted once in the CRC.
        {"ping, address 16", 16, 0x80, "00", "10 02 10 90 80 00 59 09 10 03"},
        {"0x10 in the payload", 1, 0x80, "13 10 05", "10 02 01 80 13 10 90 05 E7 8E 10 03"},
        {"0x10 as CRC high byte", 1, 0x80, "C0", "10 02 01 80 C0 1C 10 90 10 03"},
        {"reply to the ping", 1, 0x81, "80 00", "10 02 01 81 80 00 47 C6 10 03"},
        // The control byte is never stuffed, even when it is 0x10.
        {"control 0x10", 1, 0x10, "", ""},
    };
    for (const Case &c : cases) {
        Link link(c.address);
        const QByteArray sent = link.sendQuillmere(c.control, hexBytes(c.payload));
        if (*c.wire) {
            EXPECT_EQ(hexText(sent), hexText(hexBytes(c.wire))) << c.what;
        } else {
            ASSERT_GE(sent.size(), 4) << c.what;
            EXPECT_EQ(static_cast<unsigned char>(sent[3]), 0x10) << c.what;
            EXPECT_NE(static_cast<unsigned char>(sent[4]), 0x90) << c.what;
        }
        EXPECT_EQ(link.txEvents, sent.size()) << c.what << ": one OnTxEvent per wire byte";
        EXPECT_EQ(link.port.frame.status, TX_DONE) << c.what;
        EXPECT_TRUE(link.faults.empty()) << c.what;
    }
}

TEST(QuillmereTransmitter, EmptyPayloadCoversAddressAndControlOnly)
{
    Link link(1);
    const QByteArray sent = link.sendQuillmere(0x8B, QByteArray());
    unsigned short crc = 0;
    updateCcittCrc(&crc, 0x01);
    updateCcittCrc(&crc, 0x8B);
    QByteArray expected = hexBytes("10 02 01 8B");
    expected.append(static_cast<char>(crc & 0xFF)).append(static_cast<char>(crc >> 8)).append(hexBytes("10 03"));
    EXPECT_EQ(hexText(sent), hexText(expected));
    EXPECT_TRUE(link.faults.empty()) << "no CRC over an empty block is asked for";
}

TEST(QuillmereTransmitter, UnknownStateIsAFaultAndRestarts)
{
    Link link(1);
    link.port.resetRxTxFrame(true);
    link.port.frame.status = TX_STARTED;
    link.port.txState = 0x88;
    link.port.frameTransmitterQuillmere();
    EXPECT_TRUE(link.line.written.isEmpty());
    EXPECT_EQ(link.faults, std::vector<std::string>{"file:Z960Port line: 1261"});
    EXPECT_EQ(link.port.txState, 0x80);
}

TEST(QuillmereTransmitter, LengthBeyondTheDataIsBounded)
{
    Link link(1);
    link.port.resetRxTxFrame(true);
    link.port.frame.control = 0x80;
    link.port.frame.length = 0xFFFF; // never built by the link; must not read past data
    link.port.PutChar(DLE);
    const QByteArray sent = link.runTransmitter(&Z960Port::frameTransmitterQuillmere, 0);
    EXPECT_EQ(sent.size(), 2 + 2 + 1024 + 2 + 2);
}

TEST(AsciiTransmitter, RegisterReadFrameIsExact)
{
    Link link(1);
    const QByteArray sent =
        link.sendModbus(&Z960Port::frameTransmitterAscii, true, 3, hexBytes("00 74 00 28"));
    EXPECT_EQ(sent.toStdString(), ":01030074002860\r\n");
    EXPECT_EQ(link.txEvents, sent.size());
}

TEST(AsciiTransmitter, AddressIsTheLinksOwnAndDigitsAreUpperCase)
{
    Link link(0xC8);
    const QByteArray sent = link.sendModbus(&Z960Port::frameTransmitterAscii, true, 0x44, hexBytes("1A"));
    const unsigned char lrcValue = static_cast<unsigned char>(0x100 - ((0xC8 + 0x44 + 0x1A) & 0xFF));
    char expected[32];
    std::snprintf(expected, sizeof expected, ":C8441A%02X\r\n", lrcValue);
    EXPECT_EQ(sent.toStdString(), expected);
}

TEST(AsciiTransmitter, UnknownStateIsAFault)
{
    Link link(1);
    link.port.frame.status = TX_STARTED;
    link.port.txState = 0x99;
    link.port.frameTransmitterAscii();
    EXPECT_EQ(link.faults, std::vector<std::string>{"file:Z960Port line: 1035"});
    EXPECT_EQ(link.port.txState, 0x80);
    EXPECT_TRUE(link.line.written.isEmpty());
}

TEST(AsciiTransmitter, ZeroLengthStillEndsAfterOneDataByte)
{
    Link link(1);
    const QByteArray sent = link.sendModbus(&Z960Port::frameTransmitterAscii, true, 3, QByteArray());
    EXPECT_EQ(sent.toStdString(), ":010300FC\r\n");
}

TEST(RtuTransmitter, RegisterReadFrameIsExact)
{
    Link link(1);
    const QByteArray sent = link.sendModbus(&Z960Port::frameTransmitterRtu, false, 3, hexBytes("00 74 00 28"));
    EXPECT_EQ(hexText(sent), "01 03 00 74 00 28 05 CE");
    EXPECT_EQ(Z960Port::rtuTxIndex, 4);
    EXPECT_EQ(Z960Port::rtuTxCrc, 0xCE05);
}

TEST(RtuTransmitter, IndexOutOfRangeIsAFaultAndClearsTheRecord)
{
    Link link(1);
    link.port.frame.index = 1024;
    link.port.frame.function = 3;
    link.port.frameTransmitterRtu();
    EXPECT_EQ(link.faults, std::vector<std::string>{"file:Z960Port line: 1443"});
    EXPECT_EQ(link.port.frame.index, 0);
    EXPECT_EQ(link.port.frame.function, 0);
    EXPECT_TRUE(link.line.written.isEmpty());
}

TEST(RtuTransmitter, OverlongDataStopsWhenTheByteIndexWraps)
{
    Link link(1);
    const QByteArray data(300, '\x01');
    const QByteArray sent = link.sendModbus(&Z960Port::frameTransmitterRtu, false, 16, data);
    EXPECT_EQ(sent.size(), 2 + 256 + 2);
}

TEST(FrameRecord, ResetKeepsControlAndFullResetRestartsTheTransmitter)
{
    Z960Port port(nullptr, 1);
    port.frame.control = 0x81;
    port.frame.function = 7;
    port.frame.data[1023] = 9;
    port.frame.frameReady = true;
    port.txState = 0x85;
    port.txCrc = 0x1234;
    port.rxState = Z960Port::RX_QUILLMERE;

    port.resetRxTxFrame(false);
    EXPECT_EQ(port.frame.control, 0x81);
    EXPECT_EQ(port.frame.function, 0);
    EXPECT_EQ(port.frame.data[1023], 0);
    EXPECT_FALSE(port.frame.frameReady);
    EXPECT_EQ(port.rxState, Z960Port::RX_IDLE);
    EXPECT_EQ(port.txState, 0x85) << "only a full reset touches the transmitter";

    port.resetRxTxFrame(true);
    EXPECT_EQ(port.txState, 0);
    EXPECT_EQ(port.txCrc, 0);
    EXPECT_EQ(port.frame.control, 0x81);
}
