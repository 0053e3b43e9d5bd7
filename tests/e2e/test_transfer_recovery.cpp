// Downloads that the line leaves in doubt, end to end: the real link on a
// pseudo-terminal against the simulated meter, over contents that repeat
// (erased flash, zeros, blocks ABAB, a few alike blocks among unique ones) and
// unique content, in every code the meter may give its data blocks, plain
// and windowed, with every single fault and pairs of faults in one window.
// A download either stores the identical file or fails: never another file.
//
// The meter sends a block again only when the PC repeats its
// acknowledgement. Link time runs 100 times faster than real time (a 7 s
// re-send takes 70 ms), so that the whole table takes well under a minute.
#include "LinkSimFixture.h"

#include "link/LinkClock.h"
#include "support/ScriptedPrompter.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using z960sim::BlockCodes;
using z960sim::Bytes;
using z960sim::Fault;
using z960sim::Injection;

constexpr double kLinkSpeed = 100.0;
constexpr std::size_t kBlock = 64;
// Six blocks of 64 bytes and one of 30: windowed, the PC acknowledges blocks 1
// and 5, so the windows are block 1, blocks 2 to 5, and blocks 6 and 7 with the
// end block, which has no acknowledgement of its own. The opening is
// acknowledgement 1.
constexpr std::size_t kSize = 6 * kBlock + 30;

// Lines of a log: no two blocks of 64 bytes alike.
Bytes logLines(std::size_t n, int day = 10)
{
    std::string text;
    for (int i = 0; text.size() < n; ++i)
        text += "2025-04-" + std::to_string(day + i % 18) + ",0" + std::to_string(i % 10) + ":" +
                std::to_string(10 + i % 50) + ":00,12.345,6.78\r\n";
    return Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
}

Bytes blockOf(const Bytes &from, std::size_t k) // block k (0-based) of a file
{
    return Bytes(from.begin() + static_cast<std::ptrdiff_t>(k * kBlock),
                 from.begin() + static_cast<std::ptrdiff_t>(std::min(from.size(), (k + 1) * kBlock)));
}

// Block k of the content is block source[k] of `from`.
Bytes blocksOf(const Bytes &from, std::initializer_list<std::size_t> source)
{
    Bytes out;
    for (std::size_t k : source) {
        const Bytes b = blockOf(from, k);
        out.insert(out.end(), b.begin(), b.end());
    }
    out.resize(kSize);
    return out;
}

struct Content {
    const char *name;
    Bytes bytes;
    bool alike; // holds two alike blocks in a row
};

std::vector<Content> contents()
{
    const Bytes lines = logLines(8 * kBlock);
    return {
        {"unique", logLines(kSize), false},
        {"erased flash", Bytes(kSize, 0xFF), true},
        {"zeros", Bytes(kSize, 0x00), true},
        {"blocks ABAB", blocksOf(lines, {0, 1, 0, 1, 0, 1, 0}), false},
        {"a few alike among unique", blocksOf(lines, {0, 1, 2, 2, 3, 4, 5}), true},
    };
}

Injection lost(int block) { return {Fault::Silence, 2, z960sim::kAny, block}; }
Injection spoiled(int block) { return {Fault::BadCrc, 2, z960sim::kAny, block}; }
Injection doubled(int block) { return {Fault::DuplicateBlock, 2, z960sim::kAny, block}; }
// Acknowledgement n of the transfer never heard; the meter then sends again
// from the last one it heard, or takes the next one for it and goes on.
Injection unheard(int ack, int behaviour) { return {Fault::IgnoreAck, 2, z960sim::kAny, ack, 1, 1, behaviour}; }
// The fault in fetch n of the download only.
Injection inFetch(int n, Injection i)
{
    i.transfer = n;
    return i;
}

struct Strike {
    std::string what;
    std::vector<Injection> faults;
};

// Every single fault at the first, a middle and the last block (or the
// acknowledgement that follows it), and pairs of faults in one window.
std::vector<Strike> strikes(bool windowed)
{
    using z960sim::kGoOn;
    using z960sim::kSendAgain;
    const int blocks[] = {1, windowed ? 3 : 4, 7};
    // Windowed, block 7 is in the window of the end block, which no acknowledgement ends.
    const std::vector<int> acks = windowed ? std::vector<int>{2, 3} : std::vector<int>{2, 5, 8};
    std::vector<Strike> out{{"nothing", {}}};
    for (int b : blocks) {
        const std::string at = " " + std::to_string(b);
        out.push_back({"lost" + at, {lost(b)}});
        out.push_back({"spoiled" + at, {spoiled(b)}});
        out.push_back({"doubled" + at, {doubled(b)}});
    }
    for (int a : acks) {
        const std::string at = " " + std::to_string(a);
        out.push_back({"ack unheard, sent again" + at, {unheard(a, kSendAgain)}});
        out.push_back({"ack unheard, goes on" + at, {unheard(a, kGoOn)}});
    }
    // Across fetches: the same fault at the same block in the first two
    // fetches, and the same kind of fault at another block in the second.
    const int middle = blocks[1];
    for (const auto &[kind, fault] : {std::pair<const char *, Injection (*)(int)>{"lost", lost},
                                      {"spoiled", spoiled},
                                      {"doubled", doubled}}) {
        for (int b : {middle, 7}) {
            const std::string at = " " + std::to_string(b);
            out.push_back({std::string(kind) + at + " in two fetches", {inFetch(1, fault(b)), inFetch(2, fault(b))}});
        }
        out.push_back({std::string(kind) + " " + std::to_string(middle) + ", then 7 in the next fetch",
                       {inFetch(1, fault(middle)), inFetch(2, fault(7))}});
    }
    if (windowed) {
        // The middle window is blocks 2 to 5 (its acknowledgement is number 3),
        // the last one blocks 6 and 7 with the end block.
        out.push_back({"doubled 2, lost 3", {doubled(2), lost(3)}});
        out.push_back({"lost 2, doubled 5 (the window's count still right)", {lost(2), doubled(5)}});
        out.push_back({"doubled 6, lost 7", {doubled(6), lost(7)}});
        out.push_back({"lost 3, spoiled 4", {lost(3), spoiled(4)}});
        out.push_back({"spoiled 6, lost 7", {spoiled(6), lost(7)}});
        out.push_back({"doubled 3, its ack unheard, sent again", {doubled(3), unheard(3, kSendAgain)}});
        out.push_back({"doubled 1, its ack unheard, goes on", {doubled(1), unheard(2, kGoOn)}});
    } else {
        out.push_back({"doubled 3, lost 4", {doubled(3), lost(4)}});
        out.push_back({"lost 3, doubled 4", {lost(3), doubled(4)}});
        out.push_back({"lost 3, spoiled 4", {lost(3), spoiled(4)}});
        out.push_back({"doubled 4, its ack unheard, sent again", {doubled(4), unheard(5, kSendAgain)}});
        out.push_back({"doubled 4, its ack unheard, goes on", {doubled(4), unheard(5, kGoOn)}});
    }
    return out;
}

class RecoveryAgainstSim : public testing::Test {
protected:
    const LinkClock::Scoped fast{kLinkSpeed}; // before the link: its timers take the speed
    TestSupport::ScriptedPrompter prompter;
    QTemporaryDir dir;

    static z960sim::Options waitingMeter(BlockCodes codes)
    {
        z960sim::Options o;
        o.blockSize = kBlock;
        o.resendOnlyWhenAsked = true;
        o.timeScale = 1.0 / kLinkSpeed;
        o.blockCodes = codes;
        return o;
    }
    std::string local(const char *name) const { return dir.filePath(QString::fromLatin1(name)).toStdString(); }
    static Bytes read(const std::string &path) { return linksim::fileBytes(path); }
    static int fileRequests(const z960sim::Simulator &sim)
    {
        const auto frames = sim.received();
        return static_cast<int>(std::count_if(frames.begin(), frames.end(), [](const z960sim::Frame &f) {
            return f.kind == z960sim::Frame::Quillmere && f.control == 0x80 && !f.payload.empty()
                   && f.payload[0] == 2;
        }));
    }
    // Downloads "R.CSV" into path and tells how many fetches it took.
    static bool download(linksim::Session &s, const std::string &path, bool windowed, int &fetches)
    {
        s.sim.clearRecord();
        const bool stored = s.port->getLogFile("\\R.CSV", path.c_str(), windowed);
        fetches = fileRequests(s.sim);
        return stored;
    }
};

} // namespace

// The table by the codes of the meter's data blocks: all 0x88, alternating
// 0x91/0x93, or all 0x91. Each code is a test of its own, so that they can run
// side by side (the build runs this program in one shard per code).
class RecoveryTable : public RecoveryAgainstSim, public testing::WithParamInterface<BlockCodes> {};

TEST_P(RecoveryTable, EveryCaseStoresTheIdenticalFileOrFails)
{
    linksim::Session s(waitingMeter(GetParam()));
    ASSERT_TRUE(s.port->portOpen);
    for (const Content &content : contents()) {
        ASSERT_EQ(content.bytes.size(), kSize) << content.name;
        s.sim.addFile("R.CSV", content.bytes);
        for (bool windowed : {false, true}) {
            for (const Strike &strike : strikes(windowed)) {
                SCOPED_TRACE(testing::Message() << content.name << ", " << (windowed ? "windowed" : "plain") << ", "
                                                << strike.what);
                s.sim.clearInjections();
                for (const Injection &i : strike.faults)
                    s.sim.inject(i);
                const std::string path = local("R.CSV");
                int fetches = 0;
                const bool stored = download(s, path, windowed, fetches);
                if (stored) {
                    EXPECT_TRUE(read(path) == content.bytes) << read(path).size() << " bytes stored";
                }
                EXPECT_LE(fetches, 3);
                const bool acrossFetches = std::any_of(strike.faults.begin(), strike.faults.end(),
                                                       [](const Injection &i) { return i.transfer > 1; });
                if (acrossFetches) {
                    // The third fetch is clean; alone it stands only without alike blocks.
                    if (!content.alike) {
                        EXPECT_TRUE(stored);
                    }
                } else if (strike.faults.size() == 1) {
                    // Each fault strikes one fetch only: a later one bears the file out.
                    EXPECT_TRUE(stored);
                } else if (strike.faults.empty()) {
                    // A clean line: alike blocks in a row cost a second fetch, which agrees.
                    EXPECT_TRUE(stored);
                    EXPECT_EQ(fetches, content.alike ? 2 : 1);
                }
            }
        }
    }
    EXPECT_TRUE(prompter.messages.empty());
}

// A log the meter appends to once its size went out, by 80 bytes of lines:
// eight blocks, the last three in the last window when windowed. Grown at
// every request, no fetch is at its size; grown once, the second one is.
TEST_P(RecoveryTable, AGrowingLogIsStoredAsTheMeterHeldItOrFails)
{
    constexpr int kGrowth = 80;
    linksim::Session s(waitingMeter(GetParam()));
    ASSERT_TRUE(s.port->portOpen);
    const Bytes content = logLines(kSize);
    const std::vector<Strike> faults = {
        {"nothing", {}},
        {"lost 7, in the last window", {inFetch(1, lost(7))}},
        {"lost 8, the last block", {inFetch(1, lost(8))}},
        {"doubled 3", {inFetch(1, doubled(3))}},
        {"doubled 7", {inFetch(1, doubled(7))}},
        {"spoiled 3", {inFetch(1, spoiled(3))}},
        {"lost 7 in two fetches", {inFetch(1, lost(7)), inFetch(2, lost(7))}},
    };
    for (bool everyTime : {false, true}) {
        for (bool windowed : {false, true}) {
            for (const Strike &strike : faults) {
                SCOPED_TRACE(testing::Message() << (everyTime ? "grows every time, " : "grows once, ")
                                                << (windowed ? "windowed, " : "plain, ") << strike.what);
                s.sim.addFile("R.CSV", content);
                s.sim.clearInjections();
                s.sim.inject({Fault::GrowWhileSent, 2, z960sim::kAny, 0, 1, everyTime ? 0 : 1, kGrowth});
                for (const Injection &i : strike.faults)
                    s.sim.inject(i);
                const std::string path = local("R.CSV");
                int fetches = 0;
                const bool stored = download(s, path, windowed, fetches);
                EXPECT_LE(fetches, 3);
                const Bytes log = s.sim.files().at(0).data;
                const Bytes got = read(path);
                if (stored) {
                    // The log as the meter announced it at one of the requests.
                    EXPECT_EQ((got.size() - kSize) % kGrowth, 0u) << got.size() << " bytes stored";
                    EXPECT_TRUE(got.size() <= log.size() && std::equal(got.begin(), got.end(), log.begin()))
                        << got.size() << " bytes stored";
                }
                if (strike.faults.size() <= 1) {
                    EXPECT_TRUE(stored);
                }
            }
        }
    }
    EXPECT_TRUE(prompter.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Codes, RecoveryTable,
                         testing::Values(BlockCodes::All0x88, BlockCodes::Alternating, BlockCodes::All0x91),
                         [](const testing::TestParamInfo<BlockCodes> &info) {
                             switch (info.param) {
                             case BlockCodes::All0x88: return "All0x88";
                             case BlockCodes::Alternating: return "Alternating";
                             case BlockCodes::All0x91: return "All0x91";
                             case BlockCodes::All0x93: break;
                             }
                             return "All0x93";
                         });

// A fetch that breaks off is one of the three: the PC tells the meter to stop
// with one abort, and the next fetch follows. Only the meter's own abort ends
// the download at once. This meter sends a block again on its own after 8 s
// without an acknowledgement, as a meter left alone would go on doing.
TEST_F(RecoveryAgainstSim, AFetchThatBreaksOffIsFetchedAgainAndTheMeterIsLeftIdle)
{
    z960sim::Options o;
    o.blockSize = kBlock;
    o.timeScale = 1.0 / kLinkSpeed;
    linksim::Session s(o);
    ASSERT_TRUE(s.port->portOpen);
    const Bytes content = logLines(kSize);
    s.sim.addFile("R.CSV", content);
    const auto every = [](Injection i) {
        i.times = 0;
        return i;
    };
    const Injection stalls{Fault::StallTransfer, 2, z960sim::kAny, 3};
    const Injection replyLost{Fault::Silence, 2, z960sim::kAny, 0, 2}; // the second request's
    const Injection meterAborts{Fault::AbortTransfer, 2, z960sim::kAny, 2};
    const struct {
        const char *what;
        bool windowed;
        std::vector<Injection> faults;
        bool stored;
        int fetches;
        int aborts; // 0x8E sent by the PC
    } cases[] = {
        // Block 1 spoiled, and the meter's re-send of it too: 11 s without a good block.
        {"the countdown runs out", true, {inFetch(1, spoiled(1)), inFetch(1, {Fault::BadCrc, 2, z960sim::kAny, 1, 2})},
         true, 2, 1},
        {"the meter falls silent", false, {inFetch(1, stalls)}, true, 2, 1},
        {"the end block never comes whole", true, {inFetch(1, every(spoiled(8)))}, true, 2, 1},
        {"the reply is lost after a fetch in doubt", true, {inFetch(1, spoiled(3)), replyLost}, true, 3, 1},
        {"every fetch breaks off", false, {every(stalls)}, false, 3, 3},
        {"the meter aborts after a fetch in doubt", true, {inFetch(1, spoiled(3)), inFetch(2, meterAborts)}, false, 2,
         0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        s.sim.clearInjections();
        for (const Injection &i : c.faults)
            s.sim.inject(i);
        const std::string path = local("R.CSV");
        int fetches = 0;
        EXPECT_EQ(download(s, path, c.windowed, fetches), c.stored);
        if (c.stored) {
            EXPECT_TRUE(read(path) == content) << read(path).size() << " bytes stored";
        }
        EXPECT_EQ(fetches, c.fetches);
        const auto aborts = [&s] {
            const auto frames = s.sim.received();
            return std::count_if(frames.begin(), frames.end(), [](const z960sim::Frame &f) { return f.control == 0x8E; });
        };
        // The last abort may still be on the line when the download returns.
        for (int waited = 0; aborts() < c.aborts && waited < 2000; waited += 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(aborts(), c.aborts);
        // Idle afterwards: past the meter's own re-send and its giving up,
        // nothing more on the line either way.
        const std::size_t sent = s.sim.sent().size();
        const std::size_t received = s.sim.received().size();
        s.port->DelayTicks(40000);
        EXPECT_EQ(s.sim.sent().size(), sent) << "the meter still sends";
        EXPECT_EQ(s.sim.received().size(), received);
    }
    EXPECT_TRUE(prompter.messages.empty());
}
