// Z960Port over the real serial component on a pseudo-terminal.
#include "link/Z960Port.h"
#include "serial/SerComm.h"
#include "support/PtyPair.h"
#include "support/ScriptedPrompter.h"
#include "support/ScriptedTransport.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

using TestSupport::hexBytes;
using TestSupport::hexText;

namespace {

// COM numbers of their own, so tests of other folders running in parallel
// never share a mapping.
constexpr int kCom = 41;

std::unique_ptr<Z960Port> openLink(const std::string &portName, unsigned short address = 1)
{
    auto port = std::make_unique<Z960Port>(nullptr, address);
    port->OpenPort(portName, 9600);
    if (port->comm)
        port->comm->SetClosePause(0);
    return port;
}

void sendPing(Z960Port &port)
{
    port.resetRxTxFrame(true);
    port.frame.control = 0x80;
    port.frame.data[0] = 0; // the null command
    port.frame.length = 1;
    port.frame.index = 0;
    port.PutChar(Z960Frames::DLE);
    while (!(port.frame.status & Z960Frames::TX_DONE))
        port.frameTransmitterQuillmere();
}

bool waitFor(Z960Port &port, const std::function<bool()> &done, int ms = 3000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        port.ProcessCommunications();
    return done();
}

} // namespace

TEST(PortOnPty, OpensAt9600EightNoneOneWithoutHandshake)
{
    TestSupport::PtyPair pty(kCom);
    ASSERT_TRUE(pty.ok()) << pty.error();
    TestSupport::ScriptedPrompter prompter;
    auto port = openLink("Com" + std::to_string(kCom), 1);
    ASSERT_TRUE(port->portOpen);
    ASSERT_NE(port->comm, nullptr);
    TSerComm &comm = *port->comm;
    EXPECT_EQ(comm.parent(), port.get());
    EXPECT_TRUE(comm.Active());
    EXPECT_EQ(comm.PortNum(), kCom);
    EXPECT_EQ(comm.Baudrate(), br9600);
    EXPECT_EQ(comm.Parity(), paNone);
    EXPECT_EQ(comm.Databits(), db8);
    EXPECT_EQ(comm.Stopbits(), sb1);
    EXPECT_EQ(comm.Buffers().ReadSize(), 4096);
    EXPECT_EQ(comm.Buffers().WriteSize(), 4096);
    EXPECT_FALSE(comm.FlowControl().OutCtsFlow());
    EXPECT_FALSE(comm.FlowControl().OutDsrFlow());
    EXPECT_EQ(comm.FlowControl().ControlDtr(), dtrDisabled);
    EXPECT_EQ(comm.FlowControl().ControlRts(), rtsDisabled);
    EXPECT_FALSE(comm.FlowControl().XonXoffIn());
    EXPECT_FALSE(comm.FlowControl().XonXoffOut());
    EXPECT_FALSE(comm.DirectWrite());
    EXPECT_EQ(comm.EventPriority(), tpHigher);
    EXPECT_EQ(comm.WritePriority(), tpHigher);
    EXPECT_TRUE(comm.SyncThreads());
    EXPECT_TRUE(prompter.messages.empty());
}

TEST(PortOnPty, PingFrameArrivesByteExactAndTheReplyIsReceived)
{
    TestSupport::PtyPair pty(kCom + 1);
    ASSERT_TRUE(pty.ok()) << pty.error();
    auto port = openLink(pty.comName().replace(0, 3, "Com"));
    ASSERT_TRUE(port->portOpen);
    int txEvents = 0;
    int rxEvents = 0;
    port->OnTxEvent = [&](QObject *) { ++txEvents; };
    port->OnRxEvent = [&](QObject *) { ++rxEvents; };

    sendPing(*port);
    const QByteArray wire = pty.readMaster(10, 3000);
    EXPECT_EQ(hexText(wire), "10 02 01 80 00 10 90 D6 10 03");
    EXPECT_EQ(txEvents, 10);
    EXPECT_TRUE(pty.readAvailable(20).isEmpty()) << "nothing more is sent";

    ASSERT_TRUE(pty.writeMaster(hexBytes("10 02 01 81 80 00 47 C6 10 03")));
    EXPECT_TRUE(waitFor(*port, [&] { return port->frame.frameReady; }));
    EXPECT_EQ(port->frame.control, 0x81);
    EXPECT_EQ(port->frame.function, 0);
    EXPECT_GE(rxEvents, 1);
}

TEST(PortOnPty, PortTextThatIsNoNumberThrowsBeforeAnythingIsCreated)
{
    for (const char *text : {"Com", "ComX", "Com3x", ""}) {
        Z960Port port(nullptr, 1);
        EXPECT_THROW(port.OpenPort(text, 9600), std::runtime_error) << text;
        EXPECT_EQ(port.comm, nullptr) << text;
        EXPECT_FALSE(port.portOpen) << text;
    }
    Z960Port port(nullptr, 1);
    try {
        port.OpenPort("ComX", 9600);
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "'X' is not a valid integer value");
    }
}

TEST(PortOnPty, MissingOrBusyPortGivesFalseWithoutAMessageButKeepsTheReason)
{
    TestSupport::PtyPair pty(kCom + 2);
    ASSERT_TRUE(pty.ok()) << pty.error();
    TestSupport::ScriptedPrompter prompter;

    auto missing = openLink("Com" + std::to_string(kCom + 50));
    EXPECT_FALSE(missing->portOpen);
    EXPECT_NE(missing->comm, nullptr) << "the component stays with the link";
    EXPECT_EQ(missing->openFailure, "Specified device not found (COM" + std::to_string(kCom + 50) + ").");
    EXPECT_FALSE(missing->openDenied);

    auto first = openLink("Com" + std::to_string(kCom + 2));
    ASSERT_TRUE(first->portOpen);
    EXPECT_EQ(first->openFailure, "");
    auto second = openLink("Com" + std::to_string(kCom + 2));
    EXPECT_FALSE(second->portOpen);
    EXPECT_EQ(second->openFailure,
              "Can't open specified device " + pty.slavePath() + " (Error 16, Device or resource busy)");
    EXPECT_FALSE(second->openDenied);
    EXPECT_TRUE(prompter.messages.empty());

    // A later open that succeeds forgets the reason.
    first.reset();
    EXPECT_TRUE(second->OpenPort("Com" + std::to_string(kCom + 2), 9600));
    EXPECT_EQ(second->openFailure, "");
    second->comm->SetClosePause(0);
}

TEST(PortOnPty, ScriptedTransportStaysInPlaceAcrossOpenPort)
{
    // A test channel attached before OpenPort keeps carrying the bytes.
    TestSupport::PtyPair pty(kCom + 3);
    ASSERT_TRUE(pty.ok()) << pty.error();
    TestSupport::ScriptedTransport line;
    Z960Port port(nullptr, 1);
    port.attachTransport(&line);
    ASSERT_TRUE(port.OpenPort("Com" + std::to_string(kCom + 3), 9600));
    port.comm->SetClosePause(0);
    port.PutChar(0x42);
    EXPECT_EQ(line.written, QByteArray("\x42"));
    EXPECT_TRUE(pty.readAvailable(20).isEmpty());
}
