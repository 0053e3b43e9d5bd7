// The simulated meter seen from a raw pty client: framing against the worked
// frames, the command set, structures, registers, login and the recorder.
#include "SimPtyClient.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

using namespace simtest;
using z960sim::Simulator;

namespace {

Bytes u16le(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }

struct SimFixture : ::testing::Test {
    Simulator sim;
    Client pc{sim.slavePath()};

    Reply embedded(uint8_t function, const Bytes &rest)
    {
        Bytes args{1, function};
        args.insert(args.end(), rest.begin(), rest.end());
        return pc.request(1, 81, args);
    }
    uint16_t level() // register 88 through the embedded carrier, as the PC reads it
    {
        const Reply r = embedded(3, {0, 88, 0, 1, 2, 0, 0});
        EXPECT_EQ(r.payload.size(), 7u);
        return static_cast<uint16_t>(r.payload[5] << 8 | r.payload[6]);
    }
    Reply ascii(const Bytes &functionAndData)
    {
        pc.write(aframe(1, functionAndData));
        Reply r;
        EXPECT_TRUE(pc.next(r));
        return r;
    }
};

}  // namespace

TEST(SimFraming, ChecksumsAndFramesMatchTheWorkedValues)
{
    const Bytes digits = text("123456789");
    EXPECT_EQ(z960sim::crcKermit(digits.data(), digits.size()), 0x2189);
    EXPECT_EQ(kermit(digits), 0x2189);

    const Bytes read40 = {0x01, 0x03, 0x00, 0x74, 0x00, 0x28};
    EXPECT_EQ(z960sim::lrc(read40.data(), read40.size()), 0x60);
    EXPECT_EQ(z960sim::asciiFrame(1, {0x03, 0x00, 0x74, 0x00, 0x28}), text(":010300740028" "60\r\n"));

    // Hand-built frames (byte-wise CRC) must equal the simulator's (bit-wise CRC).
    const struct { uint8_t address, control; Bytes payload; } cases[] = {
        {0x01, 0x81, {}},                        // empty payload: address and control only
        {0x10, 0x81, {0x80, 0x00}},              // address 16 is stuffed, the CRC covers it once
        {0x01, 0x81, {0x80, 0x13, 0x10, 0x10}},  // payload 0x10s stuffed
        {0x01, 0x90, {}},                        // control 0x90 is never stuffed
    };
    for (const auto &c : cases)
        EXPECT_EQ(z960sim::quillmereFrame(c.address, c.control, c.payload), qframe(c.address, c.control, c.payload));
    EXPECT_EQ(z960sim::quillmereFrame(0x10, 0x81, {}).at(2), 0x10);
    EXPECT_EQ(z960sim::quillmereFrame(0x10, 0x81, {}).at(3), 0x90);
    EXPECT_EQ(z960sim::quillmereFrame(0x10, 0x81, {}).at(4), 0x81);

    // A CRC byte of 0x10 is stuffed too: find a payload whose CRC has one.
    for (int b = 0; b < 256; ++b) {
        const Bytes p{static_cast<uint8_t>(b)};
        const uint16_t crc = kermit(Bytes{1, 0x81, static_cast<uint8_t>(b)});
        if ((crc & 0xFF) != 0x10 && (crc >> 8) != 0x10)
            continue;
        const Bytes f = z960sim::quillmereFrame(1, 0x81, p);
        EXPECT_EQ(f, qframe(1, 0x81, p));
        EXPECT_EQ(f.size(), 9u + (b == 0x10 ? 1 : 0) + ((crc & 0xFF) == 0x10) + ((crc >> 8) == 0x10));
        break;
    }
}

TEST_F(SimFixture, PingAnswersWithTheExactReplyFrame)
{
    pc.write(qframe(1, 0x80, {0}));
    Reply r;
    ASSERT_TRUE(pc.next(r));
    EXPECT_EQ(r.raw, qframe(1, 0x81, {0x80, 0x00}));

    ASSERT_TRUE(sim.waitForFrames(1, 1000ms));
    const auto rx = sim.received();
    ASSERT_EQ(rx.size(), 1u);
    EXPECT_EQ(rx[0].kind, z960sim::Frame::Quillmere);
    EXPECT_TRUE(rx[0].valid);
    EXPECT_EQ(rx[0].control, 0x80);
    EXPECT_EQ(rx[0].payload, Bytes{0});
    EXPECT_EQ(rx[0].raw, qframe(1, 0x80, {0}));
    ASSERT_TRUE(sim.waitForIdle(1000ms));
    ASSERT_EQ(sim.sent().size(), 1u);
    EXPECT_EQ(sim.sent()[0].raw, r.raw);
}

TEST_F(SimFixture, FramesNotForItOrBrokenAreRecordedButNotAnswered)
{
    const Bytes inputs[] = {
        qframe(2, 0x80, {0}),                 // another address
        qframe(1, 0x80, {0}, true),           // bad CRC
        {0x10, 0x02, 0x01, 0x80, 0x00, 0x10, 0x10, 0x10, 0x03},  // DLE DLE inside
        aframe(1, {3, 0, 88, 0, 1}, true),    // bad LRC
        aframe(2, {3, 0, 88, 0, 1}),          // another address
    };
    for (const Bytes &in : inputs)
        pc.write(in);
    EXPECT_TRUE(pc.quiet(200ms));
    ASSERT_TRUE(sim.waitForFrames(5, 1000ms));
    for (const auto &f : sim.received())
        EXPECT_TRUE(!f.valid || f.address == 2);
    // Still in step: the next good request is answered.
    EXPECT_EQ(pc.request(1, 0).payload, (Bytes{0x80, 0}));
}

TEST_F(SimFixture, AnswersAddressSixteenWithStuffing)
{
    Simulator s16(z960sim::Options{16});
    Client c(s16.slavePath());
    c.write(qframe(16, 0x80, {0}));
    Reply r;
    ASSERT_TRUE(c.next(r));
    EXPECT_EQ(r.raw, qframe(16, 0x81, {0x80, 0}));
    EXPECT_EQ(r.raw.at(3), 0x90);
}

TEST_F(SimFixture, StructureReadsCarryWholeImages)
{
    for (int n = 0; n < 8; ++n) {
        const Reply r = pc.request(1, 19, {static_cast<uint8_t>(n)});
        ASSERT_TRUE(r.crcOk);
        ASSERT_EQ(r.payload.size(), 2 + z960sim::kImageSizes[static_cast<size_t>(n)]) << n;
        EXPECT_EQ(r.payload[0], 0x80);
        EXPECT_EQ(r.payload[1], 19);
        if (n != 0) {  // the status image carries the live clock
            EXPECT_EQ(Bytes(r.payload.begin() + 2, r.payload.end()), sim.image(n)) << n;
        }
    }
    EXPECT_EQ(pc.request(1, 19, {8}).payload, (Bytes{0x00, 19}));
}

TEST_F(SimFixture, StatusClockFollowsTheOffsetAndTheSetClockCommand)
{
    auto meterMinusPc = [&] {
        const Reply r = pc.request(1, 19, {0});
        const uint8_t *t = &r.payload[2 + 2];
        std::tm tm{};
        tm.tm_year = 100 + t[0];
        tm.tm_mon = t[1] - 1;
        tm.tm_mday = t[2];
        tm.tm_hour = t[3];
        tm.tm_min = t[4];
        tm.tm_sec = t[5];
        const std::time_t now = std::time(nullptr);
        std::tm pc{};
        localtime_r(&now, &pc);
        return static_cast<long>(timegm(&tm) - timegm(&pc));
    };
    sim.setClockOffset(3600);
    EXPECT_NEAR(meterMinusPc(), 3600, 1);

    sim.setAccessLevel(2);
    const Reply set = embedded(65, {17, 1, 2, 3, 4, 5});  // 2017-01-02 03:04:05
    EXPECT_EQ(set.payload, (Bytes{0x80, 81, 1, 65, 6, 17, 1, 2, 3, 4, 5}));
    const long expected = static_cast<long>(sim.clockOffset());
    EXPECT_LT(expected, -200L * 86400);
    EXPECT_NEAR(meterMinusPc(), expected, 1);

    const Reply bad = embedded(65, {17, 2, 29, 0, 0, 0});  // no 29 February in 2017
    EXPECT_EQ(bad.payload, (Bytes{0x80, 81, 1, 65 | 0x80, 3}));
    EXPECT_EQ(sim.clockOffset(), expected);

    sim.setLiveClock(false);
    sim.patchImage(0, 2, {0, 0, 0, 0, 0, 0});
    const Reply frozen = pc.request(1, 19, {0});
    EXPECT_EQ(Bytes(frozen.payload.begin() + 4, frozen.payload.begin() + 10), Bytes(6, 0));
}

TEST_F(SimFixture, StructureWritesNeedTheirLevelAndTheExactSize)
{
    const struct { uint8_t n; int level; int size; bool accepted; } cases[] = {
        {5, 1, 332, false}, {5, 2, 332, true}, {4, 2, 158, false}, {4, 3, 158, true},
        {6, 3, 222, true},  {6, 3, 221, false}, {0, 3, 351, false}, {7, 3, 69, false},
    };
    for (const auto &c : cases) {
        sim.setImage(c.n, Simulator::defaultImage(c.n));
        sim.setAccessLevel(c.level);
        Bytes args{c.n};
        for (int i = 0; i < c.size; ++i)
            args.push_back(static_cast<uint8_t>(i * 7 + 1));
        const Reply r = pc.request(1, 20, args);
        EXPECT_EQ(r.payload, (Bytes{static_cast<uint8_t>(c.accepted ? 0x80 : 0x00), 20})) << int(c.n) << " " << c.level;
        const Bytes now = sim.image(c.n);
        if (c.accepted) {
            EXPECT_EQ(now, Bytes(args.begin() + 1, args.end()));
        } else if (c.n != 0) {
            EXPECT_EQ(now, Simulator::defaultImage(c.n)) << int(c.n);
        }
    }
    // A written image reads back byte for byte, reserved bytes included.
    const Reply r = pc.request(1, 19, {6});
    EXPECT_EQ(Bytes(r.payload.begin() + 2, r.payload.end()), sim.image(6));
}

TEST_F(SimFixture, LoginWithEachCommsCodeAndLogout)
{
    // Default comms codes 1234, 2345, 3456 give levels 1, 2, 3; anything else logs out.
    const struct { uint16_t code; uint16_t level; } cases[] = {{1234, 1}, {2345, 2}, {3456, 3}, {0, 0}, {9999, 0}};
    for (const auto &c : cases) {
        const Reply r = embedded(68, {static_cast<uint8_t>(c.code >> 8), static_cast<uint8_t>(c.code)});
        EXPECT_EQ(r.payload, (Bytes{0x80, 81, 1, 68, 2, static_cast<uint8_t>(c.code >> 8), static_cast<uint8_t>(c.code)}));
        EXPECT_EQ(level(), c.level) << c.code;
    }
    // Codes come from the configuration image as it stands.
    sim.patchImage(5, 106, u16le(77));
    embedded(68, {0, 77});
    EXPECT_EQ(level(), 1);
    EXPECT_EQ(pc.request(1, 75, {3}).payload, (Bytes{0x80, 75}));
    EXPECT_EQ(level(), 3);
    EXPECT_EQ(pc.request(1, 75, {4}).payload, (Bytes{0x00, 75}));
    EXPECT_EQ(sim.accessLevel(), 3);
}

TEST_F(SimFixture, RegistersOverAsciiAndTheEmbeddedCarrier)
{
    // Forty registers from 116: the first total is the forward total as float32, high half first.
    Reply r = ascii({3, 0, 116, 0, 40});
    ASSERT_TRUE(r.crcOk);
    ASSERT_EQ(r.payload.size(), 2u + 80u);
    EXPECT_EQ(r.payload[0], 3);
    EXPECT_EQ(r.payload[1], 80);
    uint32_t bits = uint32_t(r.payload[2]) << 24 | uint32_t(r.payload[3]) << 16 | uint32_t(r.payload[4]) << 8 | r.payload[5];
    float forward;
    std::memcpy(&forward, &bits, 4);
    EXPECT_FLOAT_EQ(forward, 12345.678f);
    EXPECT_EQ(r.payload[6] | r.payload[7] | r.payload[8] | r.payload[9], 0);  // registers 118, 119

    // Serial number 00 1A 2B 3C 4D 5E backwards in 56..58, through the carrier.
    r = embedded(3, {0, 56, 0, 3, 6, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(r.payload, (Bytes{0x80, 81, 1, 3, 6, 0x5E, 0x4D, 0x3C, 0x2B, 0x1A, 0x00}));

    // Up-time from the last power-up, 12 days and 5 hours before start.
    r = ascii({3, 0, 1, 0, 2});
    EXPECT_EQ(r.payload, (Bytes{3, 4, 0, 12, 0, 5}));

    // Lower-case hex is read as well.
    pc.write(text(":01030058000" "1a3\r\n"));
    ASSERT_TRUE(pc.next(r));
    EXPECT_EQ(r.payload, (Bytes{3, 2, 0, 0}));

    sim.setRegister(88, 0x0203);
    r = ascii({3, 0, 88, 0, 1});
    EXPECT_EQ(r.payload, (Bytes{3, 2, 0x02, 0x03}));
    sim.clearRegisters();

    const struct { Bytes request; Bytes reply; } exceptions[] = {
        {{3, 0, 200, 0, 1}, {0x83, 2}},   // outside the map
        {{3, 0, 116, 0, 0}, {0x83, 3}},   // no registers
        {{3, 0, 116, 0, 126}, {0x83, 3}}, // too many
        {{6, 0, 88, 0, 3}, {0x86, 1}},    // writes are not offered
        {{67, 0xFF, 0xFF}, {0xC3, 1}},    // zeroing needs level 2
    };
    for (const auto &e : exceptions) {
        r = ascii(e.request);
        EXPECT_TRUE(r.crcOk);
        EXPECT_EQ(r.payload, e.reply);
    }
}

TEST_F(SimFixture, ZeroTotalsClearsTheMaskedTotals)
{
    sim.setAccessLevel(2);
    Reply r = embedded(67, {0x00, 0x01});
    EXPECT_EQ(r.payload, (Bytes{0x80, 81, 1, 67, 2, 0x00, 0x01}));
    EXPECT_EQ(sim.readRegister(116), 0);
    EXPECT_NE(sim.readRegister(120), 0);
    embedded(67, {0xFF, 0xFF});
    for (uint16_t reg = 116; reg < 156; ++reg)
        EXPECT_EQ(sim.readRegister(reg), 0) << reg;
}

TEST_F(SimFixture, CommandsChangeTheMeterAsDocumented)
{
    auto sys = [&] { return sim.image(1); };
    EXPECT_EQ(pc.request(1, 69, {4}).payload, (Bytes{0x80, 69}));
    EXPECT_EQ(sim.meterState(), 4);
    EXPECT_EQ(sys()[121], 1);
    EXPECT_EQ(pc.request(1, 69, {3}).payload, (Bytes{0x00, 69}));
    EXPECT_EQ(pc.request(1, 69, {0}).payload, (Bytes{0x80, 69}));
    EXPECT_EQ(sys()[121], 0);

    EXPECT_EQ(pc.request(1, 72).payload, (Bytes{0x80, 72}));
    EXPECT_EQ(sim.image(0)[0] | sim.image(0)[1], 0);

    // Signal reads: byte 2 is 0, then the float32.
    const struct { uint8_t cmd; size_t off; } signals[] = {{71, 236}, {73, 268}, {74, 256}};
    const Bytes status = sim.image(0);
    for (const auto &s : signals) {
        const Reply r = pc.request(1, s.cmd);
        ASSERT_EQ(r.payload.size(), 7u);
        EXPECT_EQ(r.payload[2], 0);
        EXPECT_EQ(Bytes(r.payload.begin() + 3, r.payload.end()),
                  Bytes(status.begin() + static_cast<long>(s.off), status.begin() + static_cast<long>(s.off) + 4));
    }
    EXPECT_EQ(pc.request(1, 68, {1, 0, 0, 0, 0, 0}).payload.size(), 7u);
    EXPECT_EQ(pc.request(1, 68, {22, 0, 0, 0, 0, 0}).payload, (Bytes{0x00, 68}));

    const Reply bounds = pc.request(1, 1, {0});
    EXPECT_EQ(bounds.payload.size(), 14u);

    // Clearing the logs needs level 3 and reboots the meter.
    EXPECT_EQ(pc.request(1, 102).payload, (Bytes{0x00, 102}));
    sim.setAccessLevel(3);
    EXPECT_EQ(pc.request(1, 102).payload, (Bytes{0x80, 102}));
    EXPECT_EQ(sim.accessLevel(), 0);
    EXPECT_EQ(sim.image(0)[0], 1);  // reset count after the reboot

    EXPECT_EQ(pc.request(1, 99).payload, (Bytes{0x80, 99}));
    EXPECT_EQ(sim.files().size(), 3u);
    EXPECT_EQ(pc.request(1, 200).payload, (Bytes{0x00, 200}));
}

TEST_F(SimFixture, SurvivesThePcClosingAndReopeningTheSlave)
{
    EXPECT_EQ(pc.request(1, 0).payload, (Bytes{0x80, 0}));
    for (int i = 0; i < 3; ++i) {
        Client again(sim.slavePath());
        EXPECT_EQ(again.request(1, 0).payload, (Bytes{0x80, 0}));
    }
}

TEST_F(SimFixture, WaitForFramesTimesOutAndClearRecordEmpties)
{
    EXPECT_FALSE(sim.waitForFrames(1, 30ms));
    pc.request(1, 0);
    EXPECT_TRUE(sim.waitForFrames(1, 1000ms));
    sim.clearRecord();
    EXPECT_EQ(sim.receivedCount(), 0u);
    EXPECT_TRUE(sim.sent().empty());
}

TEST(SimPacing, RepliesTakeTheLineTime)
{
    z960sim::Options o;
    o.paced = true;
    Simulator sim(o);
    Client pc(sim.slavePath());
    const auto start = std::chrono::steady_clock::now();
    const Reply r = pc.request(1, 19, {5});  // 332 bytes of image: about 0.35 s at 9600 baud
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(static_cast<int>(r.raw.size() * 1.04 * 0.9)));
    EXPECT_LT(took, 3s);
}

TEST(SimApi, RejectsImagesOfTheWrongSize)
{
    Simulator sim;
    EXPECT_THROW(sim.setImage(5, Bytes(331)), std::invalid_argument);
    EXPECT_THROW(sim.setImage(8, Bytes(10)), std::invalid_argument);
    EXPECT_THROW(sim.patchImage(3, 40, Bytes(7)), std::out_of_range);
    sim.stop();
    sim.stop();
}
