// Fault injection of the simulated meter: what each fault does to a reply or a
// block, and which exchanges an injection hits.
#include "SimTransferPc.h"

#include <gtest/gtest.h>

using namespace simtest;
using z960sim::Fault;
using z960sim::Injection;
using z960sim::Simulator;

namespace {

Injection on(Fault f, int command, int value = -1)
{
    Injection i{f};
    i.command = command;
    i.value = value;
    return i;
}

Injection onBlock(Fault f, int block, int value = -1)
{
    Injection i{f};
    i.block = block;
    i.value = value;
    return i;
}

Bytes nameArg(const std::string &name)
{
    Bytes b = text(name);
    b.push_back(0);
    return b;
}

}  // namespace

TEST(SimFaults, RepliesAreSpoiledAsAsked)
{
    const Bytes good = qframe(1, 0x81, {0x80, 0});
    const struct { const char *what; Injection inj; bool arrives; bool crcOk; uint8_t address; Bytes payload; size_t noise; } cases[] = {
        {"bad crc", on(Fault::BadCrc, 0), true, false, 1, {0x80, 0}, 0},
        {"wrong echo", on(Fault::WrongEcho, 0), true, true, 1, {0x80, 0x40}, 0},
        {"wrong echo value", on(Fault::WrongEcho, 0, 19), true, true, 1, {0x80, 19}, 0},
        {"wrong address", on(Fault::WrongAddress, 0), true, true, 2, {0x80, 0}, 0},
        {"refused", on(Fault::Exception, 0), true, true, 1, {0x00, 0}, 0},
        {"short", on(Fault::ShortPayload, 0, 1), true, true, 1, {0x80}, 0},
        {"garbage first", on(Fault::Garbage, 0, 5), true, true, 1, {0x80, 0}, 5},
        {"silence", on(Fault::Silence, 0), false, false, 0, {}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Simulator sim;
        Client pc(sim.slavePath());
        sim.inject(c.inj);
        pc.write(qframe(1, 0x80, {0}));
        Reply r;
        ASSERT_EQ(pc.next(r, c.arrives ? 1000ms : 150ms), c.arrives);
        if (!c.arrives)
            continue;
        EXPECT_EQ(r.crcOk, c.crcOk);
        EXPECT_EQ(r.address, c.address);
        EXPECT_EQ(r.payload, c.payload);
        ASSERT_EQ(pc.noise().size(), c.noise);
        for (uint8_t b : pc.noise())
            EXPECT_TRUE(b != 0x10 && b != ':' && b != 1);
        EXPECT_EQ(pc.request(1, 0).raw, good);  // one occurrence only
    }
}

TEST(SimFaults, TruncationLostStartOversizeAndDelay)
{
    z960sim::Options o;
    o.timeScale = 0.1;
    Simulator sim(o);
    Client pc(sim.slavePath());

    sim.inject(on(Fault::Truncate, 0, 4));
    pc.write(qframe(1, 0x80, {0}));
    Reply r;
    EXPECT_FALSE(pc.next(r, 150ms));
    const Bytes whole = qframe(1, 0x81, {0x80, 0});
    EXPECT_EQ(pc.pendingBytes(), Bytes(whole.begin(), whole.begin() + 4));

    // A lost start: everything after DLE STX arrives, and no frame in it.
    Simulator sim3;
    Client pc3(sim3.slavePath());
    sim3.inject(on(Fault::LostStart, 0));
    pc3.write(qframe(1, 0x80, {0}));
    EXPECT_FALSE(pc3.next(r, 150ms));
    Bytes arrived = pc3.noise();
    const Bytes unread = pc3.pendingBytes();
    arrived.insert(arrived.end(), unread.begin(), unread.end());
    EXPECT_EQ(arrived, Bytes(whole.begin() + 2, whole.end()));
    EXPECT_FALSE(sim3.sent().at(0).valid);

    Simulator sim2;
    Client pc2(sim2.slavePath());
    sim2.inject(on(Fault::Oversize, 19, 1000));
    r = pc2.request(1, 19, {3});
    EXPECT_TRUE(r.crcOk);
    EXPECT_EQ(r.payload.size(), 2u + 46u + 1000u);

    sim.inject(on(Fault::Delay, 0, 1000));  // scaled to 100 ms
    const auto start = std::chrono::steady_clock::now();
    pc.write(qframe(1, 0x80, {0}));
    EXPECT_FALSE(pc.next(r, 60ms));
    ASSERT_TRUE(pc.next(r, 1000ms));
    EXPECT_GE(r.at - start, 95ms);
}

TEST(SimFaults, OccurrenceTimesAndFilters)
{
    Simulator sim;
    Client pc(sim.slavePath());
    Injection i = on(Fault::Silence, 0);
    i.occurrence = 2;
    i.times = 2;
    sim.inject(i);
    Injection login = on(Fault::Exception, 81, 4);
    login.function = 68;
    sim.inject(login);

    Reply r;
    const bool expected[] = {true, false, false, true, true};
    for (bool answered : expected) {
        pc.write(qframe(1, 0x80, {0}));
        EXPECT_EQ(pc.next(r, answered ? 1000ms : 120ms), answered);
    }
    // Other commands and functions are untouched; the refused login changes nothing.
    EXPECT_EQ(pc.request(1, 81, {1, 3, 0, 88, 0, 1, 2, 0, 0}).payload, (Bytes{0x80, 81, 1, 3, 2, 0, 0}));
    EXPECT_EQ(pc.request(1, 81, {1, 68, 0x0D, 0x80}).payload, (Bytes{0x80, 81, 1, 68 | 0x80, 4}));
    EXPECT_EQ(sim.accessLevel(), 0);

    sim.clearInjections();
    Injection every = on(Fault::Exception, z960sim::kModbusAscii);
    every.times = 0;
    sim.inject(every);
    for (int k = 0; k < 3; ++k) {
        pc.write(aframe(1, {3, 0, 88, 0, 1}));
        ASSERT_TRUE(pc.next(r));
        EXPECT_EQ(r.payload, (Bytes{0x83, 2}));
    }
}

TEST(SimFaults, TransferFaultsByBlock)
{
    // 1300 bytes: blocks 1..3 of 512, 512 and 276 bytes, then the end block (number 4).
    const Bytes content = pattern(1300);
    const struct { const char *what; Injection inj; Bytes codes; bool complete; } cases[] = {
        {"abort at 2", onBlock(Fault::AbortTransfer, 2), {0x91, 0x8D}, false},
        // The PC acknowledges both copies; the second ack reads as a re-sent one, so every
        // later block comes twice as well.
        {"duplicate 1", onBlock(Fault::DuplicateBlock, 1), {0x91, 0x91, 0x93, 0x93, 0x91, 0x91, 0x97}, true},
        {"code of 2", onBlock(Fault::BlockCode, 2, 0x8F), {0x91, 0x8F, 0x91, 0x97}, true},
        {"extra before 3", onBlock(Fault::ExtraFrame, 3, 0x8C), {0x91, 0x93, 0x8C, 0x91, 0x97}, true},
        {"end block spoiled", onBlock(Fault::BlockCode, 4, 0x83), {0x91, 0x93, 0x91, 0x83}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Simulator sim;
        Client pc(sim.slavePath());
        sim.addFile("f", content);
        sim.inject(c.inj);
        const Download d = download(pc, 2, nameArg("f"), false, 300ms);
        EXPECT_EQ(d.codes, c.codes);
        EXPECT_EQ(d.complete, c.complete);
    }
}

TEST(SimFaults, AnInjectionForOneTransferLeavesTheOthersAlone)
{
    // The meter aborts at block 2 in the second request's transfer only; the
    // index transfers between them are another command and do not count.
    const Bytes content = pattern(1300);
    Simulator sim;
    Client pc(sim.slavePath());
    sim.addFile("f", content);
    Injection second = onBlock(Fault::AbortTransfer, 2);
    second.command = 2;
    second.transfer = 2;
    sim.inject(second);
    const bool aborted[] = {false, true, false};
    for (bool expected : aborted) {
        const Download d = download(pc, 2, nameArg("f"), false, 300ms);
        EXPECT_EQ(d.aborted, expected);
        EXPECT_EQ(d.complete, !expected);
        EXPECT_EQ(download(pc, 80, {0}, false, 300ms).complete, true);
    }
}

TEST(SimFaults, SpoiledOrLostBlocksComeAgainAfterTheMetersTimeOut)
{
    z960sim::Options o;
    o.timeScale = 0.01;  // 80 ms re-send
    const struct { const char *what; Injection inj; } cases[] = {
        {"bad crc", onBlock(Fault::BadCrc, 2)},
        {"dropped", onBlock(Fault::Silence, 2)},
        {"truncated", onBlock(Fault::Truncate, 2, 20)},
        {"oversized", onBlock(Fault::Oversize, 2)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Simulator sim(o);
        Client pc(sim.slavePath());
        const Bytes content = pattern(1300);
        sim.addFile("f", content);
        sim.inject(c.inj);
        pc.request(1, 2, nameArg("f"));
        pc.write(qframe(1, 0x8B, {}));
        Reply r;
        ASSERT_TRUE(pc.next(r));
        pc.write(qframe(1, 0x92, {}));
        // The spoiled copy (if any arrives) is not usable; the re-send is the real block 2.
        for (;;) {
            ASSERT_TRUE(pc.next(r, 1000ms));
            if (r.crcOk && r.payload.size() == 512)
                break;
        }
        EXPECT_EQ(r.payload, Bytes(content.begin() + 512, content.begin() + 1024));
    }
}

TEST(SimFaults, StallIgnoredAckAndEarlyBlock)
{
    z960sim::Options o;
    o.timeScale = 0.01;
    {
        Simulator sim(o);
        Client pc(sim.slavePath());
        sim.addFile("f", pattern(1300));
        sim.inject(onBlock(Fault::StallTransfer, 2));
        const Download d = download(pc, 2, nameArg("f"), false, 300ms);
        EXPECT_EQ(d.codes, Bytes{0x91});  // nothing after block 1, not even re-sends or an abort
    }
    {
        Simulator sim(o);
        Client pc(sim.slavePath());
        sim.addFile("f", pattern(1300));
        Injection ignore{Fault::IgnoreAck};
        ignore.block = 2;  // the ack of block 1 (the opening is ack 1)
        sim.inject(ignore);
        pc.request(1, 2, nameArg("f"));
        pc.write(qframe(1, 0x8B, {}));
        Reply first, r;
        ASSERT_TRUE(pc.next(first));
        pc.write(qframe(1, 0x92, {}));
        ASSERT_TRUE(pc.next(r, 1000ms));
        EXPECT_EQ(r.raw, first.raw);  // the meter never saw the ack and sends block 1 again
    }
    {
        Simulator sim;
        Client pc(sim.slavePath());
        sim.addFile("f", pattern(10));
        sim.inject(on(Fault::BlockBeforeOpen, 2));
        const Reply reply = pc.request(1, 2, nameArg("f"));
        EXPECT_EQ(reply.payload[0], 0x80);
        Reply r;
        ASSERT_TRUE(pc.next(r, 500ms));  // without any opening ack
        EXPECT_EQ(r.control, 0x91);
    }
}

TEST(SimFaults, RecorderShowsWhatWasSentSpoiled)
{
    Simulator sim;
    Client pc(sim.slavePath());
    sim.inject(on(Fault::BadCrc, 0));
    pc.write(qframe(1, 0x80, {0}));
    Reply r;
    ASSERT_TRUE(pc.next(r));
    ASSERT_TRUE(sim.waitForIdle(1000ms));
    const auto sent = sim.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_FALSE(sent[0].valid);
    EXPECT_FALSE(sent[0].fromPc);
    EXPECT_EQ(sent[0].raw, r.raw);
    EXPECT_EQ(sent[0].payload, (Bytes{0x80, 0}));
}

TEST(SimFaults, AnAcknowledgementNeverHeardIsAnsweredAsTheMeterWould)
{
    // Blocks of 100 bytes. Windowed, the lost acknowledgement is the one after blocks 2 to 5;
    // plain, the one of block 1. The PC then repeats it: a meter that sends again starts from
    // the last acknowledgement it heard, one that goes on takes the repeat for the lost one.
    const struct {
        bool windowed;
        int behaviour;
        size_t offset; // where the block after the repeat starts in the file
    } cases[] = {
        {true, z960sim::kSendAgain, 100},
        {true, z960sim::kGoOn, 500},
        {false, z960sim::kSendAgain, 0},
        {false, z960sim::kGoOn, 100},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.windowed ? "windowed" : "plain") << " behaviour " << c.behaviour);
        z960sim::Options o;
        o.blockSize = 100;
        o.resendOnlyWhenAsked = true;
        Simulator sim(o);
        Client pc(sim.slavePath());
        const Bytes content = pattern(1000);
        sim.addFile("f", content);
        Injection lost{Fault::IgnoreAck};
        lost.block = c.windowed ? 3 : 2; // the opening is acknowledgement 1
        lost.value = c.behaviour;
        sim.inject(lost);
        pc.request(1, 2, nameArg("f"));
        pc.write(qframe(1, 0x8B, {}));
        Reply r;
        ASSERT_TRUE(pc.next(r)); // block 1
        if (c.windowed) {
            pc.write(qframe(1, 0x94, {4}));
            for (int k = 0; k < 4; ++k)
                ASSERT_TRUE(pc.next(r)); // blocks 2 to 5
            pc.write(qframe(1, 0x94, {4})); // never heard
            EXPECT_TRUE(pc.quiet(100ms));
            pc.write(qframe(1, 0x94, {1, 0, 0})); // repeated: nothing arrived since it
        } else {
            pc.write(qframe(1, 0x92, {})); // never heard
            EXPECT_TRUE(pc.quiet(100ms));
            pc.write(qframe(1, 0x92, {}));
        }
        ASSERT_TRUE(pc.next(r));
        EXPECT_EQ(r.payload, Bytes(content.begin() + static_cast<std::ptrdiff_t>(c.offset),
                                   content.begin() + static_cast<std::ptrdiff_t>(c.offset + 100)));
        EXPECT_TRUE(pc.quiet(100ms)) << "one block until the next acknowledgement";
    }
}

TEST(SimFaults, ALogGrowsAfterItsSizeWasAnnounced)
{
    Simulator sim;
    Client pc(sim.slavePath());
    const Bytes content = pattern(700);
    sim.addFile("grow.csv", content);
    sim.inject({Fault::GrowWhileSent, 2, z960sim::kAny, 0, 1, 1, 40});
    const Download d = download(pc, 2, nameArg("grow.csv"), true);
    EXPECT_EQ(d.reply.payload, (Bytes{0x80, 2, 0, 0, 0, 0, 700 & 0xFF, 700 >> 8, 0, 0}));
    EXPECT_TRUE(d.complete);
    ASSERT_EQ(d.data.size(), 740u);
    EXPECT_EQ(Bytes(d.data.begin(), d.data.begin() + 700), content);
    EXPECT_EQ(sim.files().at(0).data, d.data) << "the card holds the longer file";
}
