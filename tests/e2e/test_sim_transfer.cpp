// Block transfers of the simulated meter: plain and windowed mode, the index,
// image files, re-sent acknowledgements and the meter's own re-sends.
#include "SimTransferPc.h"

#include <gtest/gtest.h>

using namespace simtest;
using z960sim::Simulator;

namespace {

Bytes nameArg(const std::string &name)
{
    Bytes b = text(name);
    b.push_back(0);
    return b;
}

z960sim::Options fastResends()
{
    z960sim::Options o;
    o.timeScale = 0.01;  // re-send after 80 ms instead of 8 s
    return o;
}

// Requests a file of two blocks, opens the transfer and takes block 1.
bool openAndTakeFirstBlock(Simulator &sim, Client &pc, Reply &block)
{
    sim.addFile("f", pattern(600));
    pc.request(1, 2, nameArg("f"));
    pc.write(qframe(1, 0x8B, {}));
    return pc.next(block);
}

}  // namespace

TEST(SimTransfer, FilesOfEveryBlockCountInBothModes)
{
    // blocks of 512: 0, 1, 1, 4, 5 and 9 data blocks
    const size_t sizes[] = {0, 1, 512, 2048, 2049, 4608};
    for (bool windowed : {false, true}) {
        for (size_t size : sizes) {
            Simulator sim;
            Client pc(sim.slavePath());
            const Bytes content = pattern(size, static_cast<unsigned>(size));
            sim.addFile("LOG1.CSV", content);
            const Download d = download(pc, 2, nameArg("\\LOG1.CSV"), windowed);
            SCOPED_TRACE(testing::Message() << "size " << size << (windowed ? " windowed" : " plain"));

            // Reply: status, echo, four spare bytes, the size little-endian.
            const Bytes announce{0x80, 2, 0, 0, 0, 0, static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8), 0, 0};
            EXPECT_EQ(d.reply.payload, announce);
            EXPECT_TRUE(d.complete);
            EXPECT_EQ(d.data, content);

            const size_t blocks = (size + 511) / 512;
            ASSERT_EQ(d.codes.size(), blocks + 1);
            for (size_t i = 0; i < blocks; ++i)
                EXPECT_EQ(d.codes[i], i % 2 ? 0x93 : 0x91) << i;
            // The PC acknowledged the opening and then every block, or blocks 1, 5, 9 windowed.
            size_t acked = windowed ? (blocks + 3) / 4 : blocks;
            EXPECT_EQ(d.acks.size(), 1 + acked);
            EXPECT_TRUE(pc.quiet(100ms));
        }
    }
}

TEST(SimTransfer, BytesOfTheFramingArriveUnchanged)
{
    Simulator sim;
    Client pc(sim.slavePath());
    Bytes content(1500, 0x10);
    content[700] = 0x90;
    content[701] = 0x03;
    sim.addFile("dle.bin", content, z960sim::DiagnosticFile);
    const Download d = download(pc, 2, nameArg("DLE.BIN"), true);  // any case, no backslash
    EXPECT_TRUE(d.complete);
    EXPECT_EQ(d.data, content);
}

TEST(SimTransfer, IndexListsTheFilesOfOneType)
{
    Simulator sim;
    Client pc(sim.slavePath());
    sim.addFile("first.csv", text("a"), z960sim::LogFile);
    sim.addFile("alarm.csv", text("b"), z960sim::AlarmFile);
    sim.addFile("second.csv", text("c"), z960sim::LogFile);
    const struct { uint8_t type; std::string index; } cases[] = {
        {0, "Name\r\nfirst.csv\r\nsecond.csv\r\n"},
        {6, "Name\r\nalarm.csv\r\n"},
        {2, "Name\r\n"},
    };
    for (const auto &c : cases) {
        const Download d = download(pc, 80, {c.type}, false);
        EXPECT_TRUE(d.complete);
        EXPECT_EQ(std::string(d.data.begin(), d.data.end()), c.index);
        EXPECT_EQ(sim.indexFile(c.type), text(c.index));
    }
}

TEST(SimTransfer, ImagesTravelAsFiles)
{
    Simulator sim;
    Client pc(sim.slavePath());
    const struct { uint8_t cmd; int image; } cases[] = {{4, 5}, {6, 4}, {8, 6}};
    for (const auto &c : cases) {
        const Download d = download(pc, c.cmd, {}, false);
        EXPECT_TRUE(d.complete);
        EXPECT_EQ(d.data, sim.image(c.image));
    }
}

TEST(SimTransfer, UnknownFileIsRefusedAndItsOpeningAborted)
{
    Simulator sim;
    Client pc(sim.slavePath());
    const Download d = download(pc, 2, nameArg("\\nothing.csv"), true);
    EXPECT_EQ(d.reply.payload, (Bytes{0x00, 2}));
    EXPECT_TRUE(d.aborted);
    EXPECT_EQ(d.codes, Bytes{0x8D});
}

TEST(SimTransfer, PlainReSentAckGetsTheOutstandingBlockAgain)
{
    Simulator sim;
    Client pc(sim.slavePath());
    const Bytes content = pattern(1300);
    sim.addFile("f", content);
    pc.request(1, 2, nameArg("f"));
    pc.write(qframe(1, 0x8B, {}));
    Reply b1, b2, again;
    ASSERT_TRUE(pc.next(b1));
    pc.write(qframe(1, 0x92, {}));  // block 1 (0x91) acknowledged
    ASSERT_TRUE(pc.next(b2));
    EXPECT_EQ(b2.control, 0x93);
    pc.write(qframe(1, 0x92, {}));  // the same ack again: block 2 did not arrive
    ASSERT_TRUE(pc.next(again));
    EXPECT_EQ(again.raw, b2.raw);
    pc.write(qframe(1, 0x8E, {}));  // the PC aborts: the meter stops
    EXPECT_TRUE(pc.quiet(150ms));
}

TEST(SimTransfer, WindowedReSendResumesAfterTheBytesThatArrived)
{
    z960sim::Options o;
    o.blockSize = 100;
    Simulator sim(o);
    Client pc(sim.slavePath());
    const Bytes content = pattern(1000);
    sim.addFile("f", content);
    pc.request(1, 2, nameArg("f"));
    pc.write(qframe(1, 0x8B, {}));
    Reply r;
    ASSERT_TRUE(pc.next(r));                 // block 1
    pc.write(qframe(1, 0x94, {4}));          // windowed ack: blocks 2..5 follow
    std::vector<Reply> window(4);
    for (Reply &w : window)
        ASSERT_TRUE(pc.next(w));
    EXPECT_EQ(Bytes(window[3].payload), Bytes(content.begin() + 400, content.begin() + 500));
    pc.write(qframe(1, 0x94, {1, 200, 0}));  // only 200 bytes (blocks 2, 3) arrived since the last ack
    ASSERT_TRUE(pc.next(r));
    EXPECT_EQ(r.payload, Bytes(content.begin() + 300, content.begin() + 400));  // block 4 again
    EXPECT_TRUE(pc.quiet(100ms));            // one block until the next windowed ack
    pc.write(qframe(1, 0x94, {4}));
    ASSERT_TRUE(pc.next(r));
    EXPECT_EQ(r.payload, Bytes(content.begin() + 400, content.begin() + 500));
}

TEST(SimTransfer, MeterReSendsAfterSilenceThenGivesUp)
{
    Simulator sim(fastResends());
    Client pc(sim.slavePath());
    Reply first, r;
    ASSERT_TRUE(openAndTakeFirstBlock(sim, pc, first));
    for (int i = 0; i < 3; ++i) {  // maxResends
        ASSERT_TRUE(pc.next(r, 1000ms));
        EXPECT_EQ(r.raw, first.raw);
    }
    ASSERT_TRUE(pc.next(r, 1000ms));
    EXPECT_EQ(r.control, 0x8D);
    EXPECT_TRUE(pc.quiet(200ms));
}

TEST(SimTransfer, MeterThatWaitsSendsAgainOnlyWhenAsked)
{
    z960sim::Options o = fastResends();
    o.resendOnlyWhenAsked = true;
    Simulator sim(o);
    Client pc(sim.slavePath());
    Reply first, r;
    ASSERT_TRUE(openAndTakeFirstBlock(sim, pc, first));
    EXPECT_TRUE(pc.quiet(500ms));  // past several of its own re-send times and the abort
    pc.write(qframe(1, 0x8B, {}));  // the opening again: block 1 did not arrive
    ASSERT_TRUE(pc.next(r));
    EXPECT_EQ(r.raw, first.raw);
    pc.write(qframe(1, 0x92, {}));
    ASSERT_TRUE(pc.next(r));
    EXPECT_EQ(r.control, 0x93);
}

TEST(SimTransfer, NewRequestEndsARunningTransfer)
{
    Simulator sim(fastResends());
    Client pc(sim.slavePath());
    sim.addFile("f", pattern(3000));
    pc.request(1, 2, nameArg("f"));
    pc.write(qframe(1, 0x8B, {}));
    Reply r;
    ASSERT_TRUE(pc.next(r));
    EXPECT_EQ(pc.request(1, 0).payload, (Bytes{0x80, 0}));
    EXPECT_TRUE(pc.quiet(300ms));  // no re-sends of the abandoned transfer
    pc.write(qframe(1, 0x92, {}));  // a late ack outside a transfer is ignored
    EXPECT_TRUE(pc.quiet(100ms));
}

TEST(SimTransfer, BlockCodesOption)
{
    const struct {
        z960sim::BlockCodes codes;
        Bytes sent;
        uint8_t firstAck;
    } cases[] = {
        {z960sim::BlockCodes::All0x88, {0x88, 0x88, 0x88, 0x97}, 0x90},
        {z960sim::BlockCodes::All0x91, {0x91, 0x91, 0x91, 0x97}, 0x92},
        {z960sim::BlockCodes::All0x93, {0x93, 0x93, 0x93, 0x97}, 0x94},
        {z960sim::BlockCodes::Alternating, {0x91, 0x93, 0x91, 0x97}, 0x92},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.codes));
        z960sim::Options o;
        o.blockCodes = c.codes;
        Simulator sim(o);
        Client pc(sim.slavePath());
        sim.addFile("f", pattern(1100));
        const Download d = download(pc, 2, nameArg("f"), false);
        EXPECT_EQ(d.codes, c.sent);
        EXPECT_EQ(d.data, pattern(1100)) << "every block acknowledged by its code";
        ASSERT_EQ(d.acks.size(), 4u);
        EXPECT_EQ(d.acks[1], Bytes{c.firstAck});
    }
}

TEST(SimTransfer, RealTimeLogServesTheNewestFileOfItsType)
{
    Simulator sim;
    Client pc(sim.slavePath());
    sim.addFile("old.csv", text("old"));
    sim.addFile("new.csv", text("new"));
    Bytes args{0};
    args.resize(13, 0);
    const Download d = download(pc, 100, args, false);
    EXPECT_EQ(d.data, text("new"));
}
