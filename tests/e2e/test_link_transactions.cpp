// Transactions end to end: the real Z960Port and serial component on a pty
// against the simulated meter, with the simulator's recorder as the witness.
#include "LinkSimFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

using namespace linksim;
using z960sim::Bytes;
using z960sim::Fault;
using z960sim::Injection;
using namespace std::chrono_literals;

namespace {

Bytes bytes(std::initializer_list<int> v)
{
    Bytes b;
    for (int x : v)
        b.push_back(static_cast<uint8_t>(x));
    return b;
}

} // namespace

TEST(LinkE2E, ConnectionSequenceIsByteExactBothWays)
{
    Session s;
    ASSERT_TRUE(s.port->portOpen);
    ASSERT_TRUE(s.port->sendNullCommand());
    for (int n : {5, 4, 6, 0, 1})
        ASSERT_TRUE(s.port->getStucture(static_cast<unsigned char>(n))) << n;

    const std::vector<Bytes> expected = {bytes({0}), bytes({19, 5}), bytes({19, 4}), bytes({19, 6}), bytes({19, 0}),
                                         bytes({19, 1})};
    const auto received = s.sim.received();
    const auto sent = s.sim.sent();
    ASSERT_EQ(received.size(), expected.size());
    ASSERT_EQ(sent.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(received[i].valid);
        // What went out is exactly the frame the simulator's own code builds.
        EXPECT_EQ(received[i].raw, z960sim::quillmereFrame(1, 0x80, expected[i]));
        EXPECT_EQ(received[i].payload, expected[i]);
        if (i == 0)
            continue;
        // And each image holds exactly the structure that came back.
        const int n = expected[i][1];
        const Bytes &reply = sent[i].payload;
        ASSERT_EQ(reply.size(), 2 + z960sim::kImageSizes[n]);
        EXPECT_EQ(imageOf(*s.port, n), Bytes(reply.begin() + 2, reply.end()));
    }
    EXPECT_EQ(imageOf(*s.port, 5), s.sim.image(5));
    EXPECT_TRUE(s.port->clockValid);
    EXPECT_LE(std::abs(s.port->clockOffset), 1);
}

TEST(LinkE2E, StructureWrittenAndReadBackKeepsItsReservedBytes)
{
    Session s;
    ASSERT_TRUE(s.port->getStucture(5));
    const Bytes before = s.sim.image(5);
    ASSERT_EQ(imageOf(*s.port, 5), before);

    // Below level 2 the meter refuses the write: that is no success.
    s.port->configImage.setSiteID(424242);
    EXPECT_FALSE(s.port->putStucture(5));
    EXPECT_EQ(s.sim.image(5), before);

    ASSERT_TRUE(s.port->setAccessLevel(3));
    ASSERT_TRUE(s.port->putStucture(5));
    const Bytes written = s.sim.image(5);
    EXPECT_EQ(written, imageOf(*s.port, 5));
    std::size_t changed = 0;
    for (std::size_t i = 0; i < before.size(); ++i)
        changed += before[i] != written[i];
    EXPECT_LE(changed, 4u) << "only the site ID's bytes change";

    s.port->configImage.clear();
    ASSERT_TRUE(s.port->getStucture(5));
    EXPECT_EQ(imageOf(*s.port, 5), written);
    EXPECT_EQ(s.port->configImage.SiteID(), 424242u);
}

TEST(LinkE2E, LoginWithEachCodeAndARefusedCodeSendsNothing)
{
    Session s;
    ASSERT_TRUE(s.port->getStucture(5)); // the codes come with the configuration
    struct Case { unsigned short code; unsigned short level; };
    for (const Case &c : {Case{1234, 1}, Case{2345, 2}, Case{3456, 3}}) {
        EXPECT_EQ(s.port->loggin(c.code), c.level) << c.code;
        EXPECT_EQ(s.sim.accessLevel(), c.level);
    }
    const std::size_t before = s.sim.receivedCount();
    EXPECT_EQ(s.port->loggin(1111), 0);
    EXPECT_EQ(s.sim.receivedCount(), before);
    EXPECT_EQ(s.sim.accessLevel(), 3);
    EXPECT_EQ(s.port->logout(), 0);
    EXPECT_EQ(s.sim.accessLevel(), 0);
    EXPECT_EQ(s.sim.received().at(before).payload, bytes({81, 1, 68, 0, 0}));
}

TEST(LinkE2E, RegisterReadsInModbusAsciiAndEmbedded)
{
    Session s;
    unsigned char buf[Z960Port::kCommandBufferSize] = {};
    unsigned short len = 0;
    ASSERT_TRUE(s.port->readRegisters(116, 40, buf, &len, 5));
    ASSERT_EQ(len, 81);
    EXPECT_EQ(buf[0], 80);
    for (int r = 0; r < 40; ++r)
        EXPECT_EQ(buf[1 + 2 * r] << 8 | buf[2 + 2 * r], s.sim.readRegister(static_cast<uint16_t>(116 + r))) << r;

    s.sim.setAccessLevel(2);
    EXPECT_EQ(s.port->getCommsAccessLevel(), 2);
    ASSERT_TRUE(s.port->getStucture(1));
    EXPECT_TRUE(s.port->verifySerialNumber());

    // A register outside the map: the exception code comes back alone.
    len = 0;
    EXPECT_FALSE(s.port->readRegisters(3000, 1, buf, &len, 5));
    EXPECT_EQ(len, 1);
    EXPECT_EQ(buf[0], 2);
}

TEST(LinkE2E, ReplyJustInsideAndJustOutsideTheTimeOut)
{
    // Link time runs 10 times faster: a 1 s time-out lasts 100 ms.
    LinkClock::Scoped fast(10.0);
    struct Case { int delayMs; bool answered; };
    for (const Case &c : {Case{40, true}, Case{250, false}}) {
        SCOPED_TRACE(c.delayMs);
        Session s;
        s.sim.inject({Fault::Delay, 0, z960sim::kAny, 0, 1, 1, c.delayMs});
        unsigned char buf[Z960Port::kCommandBufferSize] = {};
        unsigned short len = 0;
        EXPECT_EQ(s.port->sendQuillmereFrame(0, buf, &len, 1), c.answered);
    }
}

TEST(LinkE2E, NoMeterPingGivesUpAfterItsTries)
{
    LinkClock::Scoped fast(20.0);
    z960sim::Options other;
    other.address = 2; // the meter on the line answers another address
    Session s(other);
    EXPECT_FALSE(s.port->sendNullCommand());
    ASSERT_TRUE(s.sim.waitForFrames(5, 1000ms));
    EXPECT_EQ(s.sim.receivedCount(), 5u);
    EXPECT_TRUE(s.sim.sent().empty());
}

TEST(LinkE2E, DamagedRepliesSpendATryAndTheReadRecovers)
{
    LinkClock::Scoped fast(50.0); // the 10 s structure time-out lasts 200 ms
    struct Case { const char *name; Fault fault; int value; int tries; };
    const std::vector<Case> cases = {
        {"garbage first", Fault::Garbage, -1, 1},
        {"bad CRC", Fault::BadCrc, -1, 2},
        {"wrong echo", Fault::WrongEcho, -1, 2},
        {"truncated", Fault::Truncate, -1, 2},
        {"short payload", Fault::ShortPayload, 100, 2},
        {"refused", Fault::Exception, -1, 2},
        {"late", Fault::Delay, 300, 2}, // arrives during the second try and answers it
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        s.sim.inject({c.fault, 19, z960sim::kAny, 0, 1, 1, c.value});
        ASSERT_TRUE(s.port->getStucture(1));
        int requests = 0;
        for (const Bytes &p : s.receivedPayloads())
            requests += p.size() == 2 && p[0] == 19;
        EXPECT_EQ(requests, c.tries);
        EXPECT_EQ(imageOf(*s.port, 1), s.sim.image(1));
    }
}

TEST(LinkE2E, CommandsTheMeterRefusesReportFailure)
{
    Session s;
    EXPECT_FALSE(s.port->ClearAllDataFlashLogs()); // needs level 3
    EXPECT_FALSE(s.port->setState(3));             // no such state
    EXPECT_TRUE(s.port->setState(4));
    EXPECT_TRUE(s.port->sendSimpleCommand(72));
    float value = 0;
    EXPECT_TRUE(s.port->readECSignal(&value));
    ASSERT_TRUE(s.port->setAccessLevel(3));
    EXPECT_TRUE(s.port->ClearAllDataFlashLogs());
}
