// File downloads end to end: the real link on a pseudo-terminal against the
// simulated meter, with the simulator's recorder checking every frame the
// PC sent. Link time runs 20 times faster than real time (a 7 s re-send
// takes 350 ms) and the simulator's own delays are scaled to match. A fetch
// that the line left in doubt is followed by another request for the file.
#include "LinkSimFixture.h"
#include "link/LinkClock.h"
#include "link/Z960Port.h"
#include "platform/PortMap.h"
#include "serial/SerComm.h"
#include "support/ScriptedPrompter.h"
#include "z960sim/Z960Sim.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using z960sim::Bytes;
using z960sim::Fault;
using z960sim::Injection;

constexpr int kCom = 93;              // a COM number of this test's own
constexpr double kLinkSpeed = 20.0;   // link ms per real ms
constexpr double kSimScale = 1.0 / kLinkSpeed;

struct Progress {
    int size, downloaded, temp;
};

Bytes pattern(std::size_t n, unsigned seed)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>((i * 31 + seed * 7) ^ (i >> 7));
    return b;
}

// Lines of a log, cut after n bytes: time stamps with colons, CR LF at the
// ends, 33 bytes a line so that blocks of 512 end inside a line.
Bytes logLines(std::size_t n)
{
    std::string text;
    for (int i = 0; text.size() < n; ++i)
        text += "2025-01-" + std::to_string(10 + i % 20) + ",0" + std::to_string(i % 10) + ":00:00,12.345,6.78\r\n";
    return Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
}

// An acknowledgement as "8B" or "94:04" (control, then the payload bytes).
std::string ackText(const z960sim::Frame &f)
{
    static const char *hex = "0123456789ABCDEF";
    std::string s{hex[f.control >> 4], hex[f.control & 15]};
    for (std::size_t i = 0; i < f.payload.size(); ++i) {
        s += i == 0 ? ':' : '.';
        s += hex[f.payload[i] >> 4];
        s += hex[f.payload[i] & 15];
    }
    return s;
}

class TransferAgainstSim : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        const char *old = std::getenv(Platform::PortMapVariable);
        hadMap = old != nullptr;
        savedMap = old ? old : "";
    }
    void TearDown() override
    {
        port.reset();
        sim.reset();
        if (hadMap)
            ::setenv(Platform::PortMapVariable, savedMap.c_str(), 1);
        else
            ::unsetenv(Platform::PortMapVariable);
    }

    // A fresh meter and link; the link is created under the fast clock so
    // that its timers run at the same speed.
    void start(z960sim::Options o = {})
    {
        port.reset();
        o.timeScale = kSimScale;
        sim = std::make_unique<z960sim::Simulator>(o);
        ::setenv(Platform::PortMapVariable, (std::to_string(kCom) + "=" + sim->slavePath()).c_str(), 1);
        port = std::make_unique<Z960Port>(nullptr, 1);
        ASSERT_TRUE(port->OpenPort("Com" + std::to_string(kCom), 9600));
        port->comm->SetClosePause(0);
        port->OnPortDebugEvent = [this](QObject *, std::string text) {
            faults.push_back(std::stoi(text.substr(text.rfind(' ') + 1)));
        };
        port->OnDownLoadEvent = [this](QObject *, int size, int downloaded, int temp) {
            progress.push_back({size, downloaded, temp});
        };
        faults.clear();
        progress.clear();
    }

    std::string local(const char *name) const { return dir.filePath(QString::fromLatin1(name)).toStdString(); }

    static Bytes contents(const std::string &path) { return linksim::fileBytes(path); }

    // The transfer frames the PC sent (everything but requests).
    std::vector<std::string> acks() const
    {
        std::vector<std::string> out;
        for (const z960sim::Frame &f : sim->received())
            if (f.kind == z960sim::Frame::Quillmere && f.control != 0x80)
                out.push_back(ackText(f));
        return out;
    }
    std::vector<Bytes> requests() const
    {
        std::vector<Bytes> out;
        for (const z960sim::Frame &f : sim->received())
            if (f.kind == z960sim::Frame::Quillmere && f.control == 0x80)
                out.push_back(f.payload);
        return out;
    }
    bool faulted(int line) const { return std::count(faults.begin(), faults.end(), line) > 0; }

    // Pumps the link's events for the given link time.
    void idle(unsigned linkMs) { port->DelayTicks(linkMs); }

    QTemporaryDir dir;
    const LinkClock::Scoped fast{kLinkSpeed};
    TestSupport::ScriptedPrompter prompter;
    std::unique_ptr<z960sim::Simulator> sim;
    std::unique_ptr<Z960Port> port;
    std::vector<int> faults;
    std::vector<Progress> progress;
    std::string savedMap;
    bool hadMap = false;
};

std::vector<std::string> split(const std::string &s)
{
    std::vector<std::string> out;
    std::string word;
    for (char c : s + ' ') {
        if (c != ' ') {
            word += c;
        } else if (!word.empty()) {
            out.push_back(word);
            word.clear();
        }
    }
    return out;
}

} // namespace

TEST_F(TransferAgainstSim, FilesOfEveryBlockCountWithTheirAcknowledgements)
{
    // Blocks of 512 bytes; data blocks alternate 0x91/0x93, or are all 0x88.
    const struct {
        std::size_t size;
        bool windowed;
        bool code88;
        const char *acks;
    } cases[] = {
        {0, false, false, "8B"},
        {0, true, false, "8B"},
        {1, false, false, "8B 92"},
        {1, true, false, "8B 94:04"},
        {2048, false, false, "8B 92 94 92 94"},
        {2048, true, false, "8B 94:04"},
        {2049, false, false, "8B 92 94 92 94 92"},
        {2049, true, false, "8B 94:04 94:04"},
        {4608, false, false, "8B 92 94 92 94 92 94 92 94 92"},
        {4608, true, false, "8B 94:04 94:04 94:04"},
        {2560, false, true, "8B 90 90 90 90 90"},
        {2560, true, true, "8B 94:04 94:04"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes" << (c.windowed ? " windowed" : " plain")
                                        << (c.code88 ? " 0x88" : ""));
        z960sim::Options o;
        o.blockCodes = c.code88 ? z960sim::BlockCodes::All0x88 : z960sim::BlockCodes::Alternating;
        start(o);
        const Bytes content = pattern(c.size, static_cast<unsigned>(c.size));
        sim->addFile("LOG1.CSV", content);
        const std::string path = local("LOG1.CSV");

        ASSERT_TRUE(port->getLogFile("\\LOG1.CSV", path.c_str(), c.windowed));
        EXPECT_EQ(contents(path), content);
        EXPECT_EQ(requests(), (std::vector<Bytes>{{2, '\\', 'L', 'O', 'G', '1', '.', 'C', 'S', 'V', 0}}));
        EXPECT_EQ(acks(), split(c.acks));
        EXPECT_EQ(port->expectedSize, c.size);
        EXPECT_TRUE(faults.empty());

        // Progress: the opening step first, the end block last, never backwards.
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.front().size, static_cast<int>(c.size));
        EXPECT_EQ(progress.front().downloaded, 0);
        EXPECT_EQ(progress.front().temp, 0);
        EXPECT_EQ(progress.back().downloaded, static_cast<int>(c.size));
        for (std::size_t i = 1; i < progress.size(); ++i)
            EXPECT_LE(progress[i - 1].downloaded, progress[i].downloaded);
    }
}

TEST_F(TransferAgainstSim, FramingBytesArriveByteIdentical)
{
    z960sim::Options o;
    o.blockSize = 300;
    start(o);
    Bytes content(2000, 0x10);
    for (std::size_t i = 0; i < content.size(); i += 3)
        content[i] = static_cast<std::uint8_t>(i % 2 ? 0x90 : 0x03);
    content[1000] = 0x02;
    sim->addFile("dle.bin", content, z960sim::DiagnosticFile);
    for (bool windowed : {false, true}) {
        const std::string path = local(windowed ? "w.bin" : "p.bin");
        ASSERT_TRUE(port->getLogFile("\\dle.bin", path.c_str(), windowed));
        EXPECT_EQ(contents(path), content) << windowed;
    }
}

TEST_F(TransferAgainstSim, AlikeBlocksInARowAreAllKeptAndFetchedTwice)
{
    // A block alike the one before it may be that one sent twice, whatever
    // its code: the file is fetched again, and the two fetches agree.
    const Bytes content(5 * 512, 0x20);
    for (bool code88 : {false, true}) {
        for (bool windowed : {false, true}) {
            SCOPED_TRACE(testing::Message() << (code88 ? "0x88" : "alternating")
                                            << (windowed ? " windowed" : " plain"));
            z960sim::Options o;
            o.blockCodes = code88 ? z960sim::BlockCodes::All0x88 : z960sim::BlockCodes::Alternating;
            start(o);
            sim->addFile("blank.csv", content);
            const std::string path = local("blank.csv");
            ASSERT_TRUE(port->getLogFile("\\blank.csv", path.c_str(), windowed));
            EXPECT_EQ(contents(path), content);
            EXPECT_EQ(requests().size(), 2u);
            const std::string once = windowed ? "8B 94:04 94:04" : code88 ? "8B 90 90 90 90 90" : "8B 92 94 92 94 92";
            EXPECT_EQ(acks(), split(once + " " + once));
            EXPECT_TRUE(faults.empty());
        }
    }
}

TEST_F(TransferAgainstSim, MeterAbortKeepsWhatArrived)
{
    start();
    const Bytes content = pattern(4000, 3);
    sim->addFile("a.csv", content);
    sim->inject({Fault::AbortTransfer, 2, z960sim::kAny, 3});
    const std::string path = local("a.csv");

    EXPECT_FALSE(port->getLogFile("\\a.csv", path.c_str(), false));
    EXPECT_EQ(contents(path), Bytes(content.begin(), content.begin() + 1024)); // blocks 1 and 2
    EXPECT_EQ(acks(), split("8B 92 94")); // the abort itself is not acknowledged
    idle(8000);
    EXPECT_EQ(acks().size(), 3u) << "nothing is sent after the transfer ended";
}

TEST_F(TransferAgainstSim, SilenceResendsAfterSevenSecondsThenGivesUpAndFetchesAgain)
{
    // The meter falls silent at block 3 of every fetch: each is given up 11 s
    // after its last block, the meter is told to stop, and the next follows.
    start();
    const Bytes content = pattern(4000, 4);
    sim->addFile("s.csv", content);
    sim->inject({Fault::StallTransfer, 2, z960sim::kAny, 3, 1, 0});
    const std::string path = local("s.csv");

    const auto began = std::chrono::steady_clock::now();
    EXPECT_FALSE(port->getLogFile("\\s.csv", path.c_str(), false));
    const double linkSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count() * kLinkSpeed;
    EXPECT_GE(linkSeconds, 3 * 10.0);
    EXPECT_LT(linkSeconds, 3 * 20.0);

    EXPECT_EQ(contents(path), Bytes(content.begin(), content.begin() + 1024));
    // In each fetch the last acknowledgement (block 2, 0x93) went out once
    // more after 7 s, and the abort when it was given up.
    // The last abort is queued when the download returns; the line may still carry it.
    sim->waitForFrames(3 + 15, std::chrono::seconds(2));
    EXPECT_EQ(requests().size(), 3u);
    EXPECT_EQ(acks(), split("8B 92 94 94 8E  8B 92 94 94 8E  8B 92 94 94 8E"));
    EXPECT_TRUE(faulted(Z960Fault::TransferTimeout));

    // Both timers stopped with the transfer: no later re-send, no later fault.
    const std::size_t faultsAtEnd = faults.size();
    EXPECT_FALSE(port->fileTransferTimer->isActive());
    EXPECT_FALSE(port->commsTimer->isActive());
    idle(15000);
    EXPECT_EQ(acks().size(), 15u);
    EXPECT_EQ(faults.size(), faultsAtEnd);
}

TEST_F(TransferAgainstSim, CorruptBlockIsAskedForBeforeTheMeterSendsItUnaskedThenFetchedAgain)
{
    start();
    const Bytes content = pattern(2000, 5);
    sim->addFile("c.csv", content);
    sim->inject({Fault::BadCrc, 2, z960sim::kAny, 2});
    const std::string path = local("c.csv");

    // The PC repeats the acknowledgement of block 1 after 7 s, before the
    // meter's own 8 s; block 2 then comes once, not twice. What the line
    // left in doubt is fetched again, and that fetch needs nothing.
    ASSERT_TRUE(port->getLogFile("\\c.csv", path.c_str(), false));
    EXPECT_EQ(contents(path), content);
    EXPECT_EQ(requests().size(), 2u);
    EXPECT_EQ(acks(), split("8B 92 92 94 92 94  8B 92 94 92 94"));
    EXPECT_EQ(std::count(faults.begin(), faults.end(), Z960Fault::TransferTimeout), 1);
    EXPECT_TRUE(faulted(Z960Fault::QuillmereCrc));
}

TEST_F(TransferAgainstSim, ALostWindowBlockIsAskedForWithTheCountOfWhatCameSinceTheLastAcknowledgement)
{
    start();
    const Bytes content = pattern(9 * 512, 6);
    sim->addFile("w.csv", content);
    sim->inject({Fault::Silence, 2, z960sim::kAny, 5}); // block 5, the one that ends the window, is lost
    const std::string path = local("w.csv");

    ASSERT_TRUE(port->getLogFile("\\w.csv", path.c_str(), true));
    EXPECT_EQ(contents(path), content);
    // After 7 s the acknowledgement of block 1 is repeated with the 1536 bytes
    // of blocks 2 to 4 that came since; the meter goes on with block 5, which
    // is acknowledged at once. Then the file is fetched again.
    EXPECT_EQ(acks(), split("8B 94:04 94:01.00.06 94:04 94:04  8B 94:04 94:04 94:04"));
    // Progress: the opening, blocks 1 to 4, the re-send, then block 5: nothing is cut back.
    ASSERT_GE(progress.size(), 7u);
    EXPECT_EQ(progress[5].downloaded, 4 * 512);
    EXPECT_EQ(progress[5].temp, 512);
    EXPECT_EQ(progress[6].downloaded, 4 * 512);
}

TEST_F(TransferAgainstSim, OneSpoiledOrLostBlockCostsOneReSendFromAMeterThatWaitsAndASecondFetch)
{
    // A log of nine blocks of 512 bytes; windowed, the PC acknowledges blocks
    // 1, 5 and 9, so the windows are block 1, blocks 2 to 5, 6 to 9 and the end
    // block 10. A lost start leaves the rest of the frame on the line, without
    // a CRC error, where a colon of the log reads as the start of a Modbus
    // frame. The meter sends at a hundred times the line rate, so that its bytes
    // arrive in small pieces as from a line.
    const auto bad = [](int block) { return Injection{Fault::BadCrc, 2, z960sim::kAny, block}; };
    const auto lost = [](int block) { return Injection{Fault::LostStart, 2, z960sim::kAny, block}; };
    const struct {
        const char *what;
        bool windowed;
        std::vector<Injection> faults;
        int resends;
    } cases[] = {
        {"plain, first block corrupted", false, {bad(1)}, 1},
        {"plain, middle block corrupted", false, {bad(5)}, 1},
        {"plain, last block corrupted", false, {bad(9)}, 1},
        {"plain, end block corrupted", false, {bad(10)}, 1},
        {"plain, two corrupted in a row", false, {bad(4), bad(5)}, 2},
        {"windowed, first block corrupted", true, {bad(1)}, 1},
        {"windowed, first of a window corrupted", true, {bad(2)}, 1},
        {"windowed, middle of a window corrupted", true, {bad(7)}, 1},
        {"windowed, last of a window corrupted", true, {bad(9)}, 1},
        {"windowed, end block corrupted", true, {bad(10)}, 1},
        {"windowed, two corrupted in a row", true, {bad(3), bad(4)}, 1},
        {"windowed, two corrupted across windows", true, {bad(5), bad(6)}, 2},
        {"windowed, start of the first of a window lost", true, {lost(2)}, 1},
        {"windowed, start of the middle of a window lost", true, {lost(7)}, 1},
        {"windowed, start of the last of a window lost", true, {lost(5)}, 1},
    };
    const Bytes content = logLines(9 * 512);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        z960sim::Options o;
        o.resendOnlyWhenAsked = true;
        o.paced = true;
        o.baudRate = 960000;
        start(o);
        sim->addFile("r.csv", content);
        for (const Injection &i : c.faults)
            sim->inject(i);
        const std::string path = local("r.csv");

        ASSERT_TRUE(port->getLogFile("\\r.csv", path.c_str(), c.windowed));
        EXPECT_EQ(contents(path), content);
        // The re-sends all fall in the first fetch; the second one needs none.
        EXPECT_EQ(requests().size(), 2u);
        EXPECT_EQ(std::count(faults.begin(), faults.end(), Z960Fault::TransferTimeout), c.resends);
        // Windowed, a repeated acknowledgement counts the bytes that came since the last one.
        const auto sent = acks();
        const auto repeated = std::count_if(sent.begin(), sent.end(),
                                            [](const std::string &a) { return a.compare(2, 4, ":01.") == 0; });
        EXPECT_EQ(repeated, c.windowed ? c.resends : 0);
    }
}

TEST_F(TransferAgainstSim, EndBlockBeforeTheAnnouncedSizeIsFetchedAgain)
{
    // Eight blocks of 512 bytes; windowed, the last window is blocks 6 to 8 and the end block.
    const auto block = [](Fault f, int k, int times = 1, int value = -1, int occurrence = 1) {
        return Injection{f, 2, z960sim::kAny, k, occurrence, times, value};
    };
    const struct {
        const char *what;
        bool windowed;
        std::vector<Injection> faults;
        std::size_t stored; // bytes in the local file afterwards; stored as good at the announced size only
        std::size_t requests;
    } cases[] = {
        {"plain, a block cut short", false, {block(Fault::ShortPayload, 2, 1, 100)}, 8 * 512, 2},
        {"windowed, a block of the last window lost", true, {block(Fault::Silence, 7)}, 8 * 512, 2},
        {"windowed, the first of the last window lost", true, {block(Fault::Silence, 6)}, 8 * 512, 2},
        {"windowed, another block of the last window lost in each of two fetches", true,
         {block(Fault::Silence, 7), block(Fault::Silence, 6, 1, -1, 2)}, 8 * 512, 3},
        // A meter that sends the same shorter file every time: short, however often alike, never stands.
        {"windowed, a block cut short every time", true, {block(Fault::ShortPayload, 7, 0, 100)}, 7 * 512 + 100, 3},
        // Longer than announced is in doubt too: the next fetch, at its size, stands.
        {"plain, a block longer than it should be", false, {block(Fault::Oversize, 2, 1, 20)}, 8 * 512, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        z960sim::Options o;
        o.resendOnlyWhenAsked = true;
        start(o);
        sim->addFile("s.csv", pattern(8 * 512, 13));
        for (const Injection &i : c.faults)
            sim->inject(i);
        const std::string path = local("s.csv");

        EXPECT_EQ(port->getLogFile("\\s.csv", path.c_str(), c.windowed), c.stored == 8 * 512);
        EXPECT_EQ(contents(path).size(), c.stored);
        if (c.stored == 8 * 512) {
            EXPECT_EQ(contents(path), pattern(8 * 512, 13));
        }
        EXPECT_EQ(requests().size(), c.requests);
        EXPECT_FALSE(faulted(Z960Fault::TransferTimeout)) << "the end block came: fetched again at once";
    }
}

TEST_F(TransferAgainstSim, ALogThatGrowsWhileSentIsStoredAsTheMeterHeldIt)
{
    // The meter appends 700 bytes of log lines once its size went out, once
    // or at every request, so a fetch is longer than announced. That is doubt
    // too: it stands when a later fetch begins with all its bytes and the
    // meter, asked again, announced just as many. What is stored is the log as
    // the meter announced it at some request, never one with a block missing
    // or twice.
    //
    // Windowed, a lost block makes the meter send the one after it twice, so
    // the first fetch is wrong. A log with three blocks of zeros (alike in a
    // row) never has a fetch without doubt.
    Bytes padded(3 * 512, 0);
    const Bytes lines = logLines(6 * 512); // 3772 bytes once grown: seven blocks and one of 188
    padded.insert(padded.end(), lines.begin(), lines.end());
    Bytes endsAlike = lines; // alike blocks that end close to what an earlier fetch held
    endsAlike.insert(endsAlike.end(), 3 * 512, 0);
    const auto inFirst = [](Fault f, int block) { return Injection{f, 2, z960sim::kAny, block, 1, 1, -1, 1}; };
    const Injection lost{Fault::Silence, 2, z960sim::kAny, 3};
    const Injection lostEveryTime{Fault::Silence, 2, z960sim::kAny, 3, 1, 0};
    const Injection growsOnce{Fault::GrowWhileSent, 2, z960sim::kAny, 0, 1, 1, 700};
    const Injection growsEveryTime{Fault::GrowWhileSent, 2, z960sim::kAny, 0, 1, 0, 700};
    const struct {
        const char *what;
        const Bytes &content;
        bool windowed;
        bool code88;
        std::vector<Injection> faults;
        std::size_t requests;
        std::size_t stored; // the log's first bytes stored; 0: the download fails
    } cases[] = {
        // Once grown, the next fetch is clean at its size and stands alone.
        {"unique, plain, nothing lost", lines, false, false, {growsOnce}, 2, 3772},
        {"unique, windowed, nothing lost", lines, true, false, {growsOnce}, 2, 3772},
        {"unique, windowed, a block lost", lines, true, false, {growsOnce, lost}, 2, 3772},
        {"unique, windowed, a block of the last window lost", lines, true, false,
         {growsOnce, inFirst(Fault::Silence, 7)}, 2, 3772},
        // Growing at every request: the second fetch begins with all of the
        // first, and the meter then announced what the first brought.
        {"alike blocks, plain, nothing lost", padded, false, false, {growsEveryTime}, 2, 5308},
        {"alike blocks, windowed, nothing lost", padded, true, false, {growsEveryTime}, 2, 5308},
        {"alike blocks a window from the end, nothing lost", endsAlike, true, false, {growsEveryTime}, 2, 5308},
        // A wrong first fetch: the third bears the second out.
        {"alike blocks, windowed, a block lost", padded, true, false, {growsEveryTime, lost}, 3, 6008},
        {"unique, windowed, a block of the last window lost", lines, true, false,
         {growsEveryTime, inFirst(Fault::Silence, 7)}, 3, 4472},
        {"unique, windowed, a block doubled", lines, true, false, {growsEveryTime, inFirst(Fault::DuplicateBlock, 2)},
         3, 4472},
        {"unique, plain, a block doubled", lines, false, false, {growsEveryTime, inFirst(Fault::DuplicateBlock, 2)},
         3, 4472},
        // The first fetch lacks its last block: the second begins with it, but the
        // meter announced more than it brought. The third bears the second out.
        {"unique, windowed, the last block lost", lines, true, false, {growsEveryTime, inFirst(Fault::Silence, 8)}, 3,
         4472},
        // The meter takes the repeated acknowledgement for the lost block's and goes on:
        // every fetch lacks that block, and their doubt lies at the same place.
        {"alike blocks, plain 0x88, a block lost every time", padded, false, true, {growsEveryTime, lostEveryTime}, 3,
         0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        z960sim::Options o;
        o.resendOnlyWhenAsked = true;
        o.blockCodes = c.code88 ? z960sim::BlockCodes::All0x88 : z960sim::BlockCodes::Alternating;
        start(o);
        sim->addFile("g.csv", c.content);
        for (const Injection &i : c.faults)
            sim->inject(i);
        const std::string path = local("g.csv");

        EXPECT_EQ(port->getLogFile("\\g.csv", path.c_str(), c.windowed), c.stored > 0);
        EXPECT_EQ(requests().size(), c.requests);
        EXPECT_EQ(port->expectedSize, c.content.size() + 700 * (c.requests - 1)) << "announced before it grew";
        const Bytes log = sim->files().at(0).data;
        EXPECT_GT(log.size(), c.content.size());
        if (c.stored > 0) {
            EXPECT_TRUE(contents(path) == Bytes(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(c.stored)))
                << contents(path).size() << " bytes stored";
        }
    }
}

TEST_F(TransferAgainstSim, AFileListThatNeededARecoveryStandsOnlyWhenFetchedAgainAlike)
{
    // Blocks of 64 bytes, all 0x88: a lost block makes the meter take the repeated
    // acknowledgement for the lost one's and go on, so the list arrives short.
    const auto lose = [](int block, int occurrence) {
        return Injection{Fault::Silence, 80, z960sim::kAny, block, occurrence, 1};
    };
    const struct {
        const char *what;
        bool code88;
        std::vector<Injection> faults;
        std::size_t requests;
        bool result;
    } cases[] = {
        {"nothing lost: fetched once", true, {}, 1, true},
        {"a block lost: the second fetch needs nothing", true, {lose(3, 1)}, 2, true},
        {"recovered twice, alike", false, {lose(3, 1), lose(5, 2)}, 2, true},
        {"short twice, not alike", true, {lose(3, 1), lose(5, 2)}, 2, false},
        {"the second fetch not answered", true, {lose(3, 1), {Fault::Silence, 80, z960sim::kAny, 0, 2, 4}}, 5, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        z960sim::Options o;
        o.resendOnlyWhenAsked = true;
        o.blockSize = 64;
        o.blockCodes = c.code88 ? z960sim::BlockCodes::All0x88 : z960sim::BlockCodes::Alternating;
        start(o);
        prompter.messages.clear();
        for (int i = 0; i < 40; ++i)
            sim->addFile("LOG" + std::to_string(1000 + i) + ".CSV", {1});
        for (const Injection &i : c.faults)
            sim->inject(i);
        const std::string index = local("index.txt");

        EXPECT_EQ(port->getLogFileIndex(index.c_str(), z960sim::LogFile, false), c.result);
        EXPECT_EQ(requests().size(), c.requests);
        if (c.result) {
            EXPECT_EQ(contents(index), sim->indexFile(z960sim::LogFile));
        }
        EXPECT_EQ(prompter.texts(), c.result ? QStringList{} : QStringList{QStringLiteral("getFile failed")});
    }
}

TEST_F(TransferAgainstSim, ControlCodesTheMeterNeverSendsAreFaults)
{
    const struct {
        int code;
        unsigned short fault;
    } cases[] = {{0x8A, Z960Fault::PcControlCode},
                 {0x96, Z960Fault::PcControlCode},
                 {0x84, Z960Fault::UnknownControlCode},
                 {0x98, Z960Fault::UnknownControlCode}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        start();
        const Bytes content = pattern(1500, 7);
        sim->addFile("x.csv", content);
        sim->inject({Fault::ExtraFrame, 2, z960sim::kAny, 2, 1, 1, c.code});
        const std::string path = local("x.csv");
        ASSERT_TRUE(port->getLogFile("\\x.csv", path.c_str(), false));
        EXPECT_EQ(contents(path), content);
        EXPECT_EQ(faults, std::vector<int>{c.fault});
        EXPECT_EQ(acks(), split("8B 92 94 92"));
    }
}

TEST_F(TransferAgainstSim, ImageFilesReplaceTheirImages)
{
    start();
    const struct {
        int image;
        bool (Z960Port::*get)(const std::string &);
        const unsigned char *(*bytes)(const Z960Port &);
    } cases[] = {
        {5, &Z960Port::getConfigFile, [](const Z960Port &p) { return p.configImage.data(); }},
        {4, &Z960Port::getCalFile, [](const Z960Port &p) { return p.calImage.data(); }},
        {6, &Z960Port::getBasicCalFile, [](const Z960Port &p) { return p.basicCalImage.data(); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.image);
        const Bytes image = sim->image(c.image);
        const std::string path = local("image.bin");
        ASSERT_TRUE((port.get()->*c.get)(path));
        EXPECT_EQ(Bytes(c.bytes(*port), c.bytes(*port) + image.size()), image);
        EXPECT_EQ(contents(path), image);
    }
}

TEST_F(TransferAgainstSim, AnImageFileOfAnotherSizeIsFetchedAgainOrRejected)
{
    // The image's size is known: a fetch of 331 bytes never stands.
    const struct {
        const char *what;
        int times; // fetches cut short (0: every one)
        bool result;
        std::size_t requests;
    } cases[] = {{"cut short once", 1, true, 2}, {"cut short every time", 0, false, 3}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        start();
        const Z960Data::sConfig before = port->configImage;
        sim->inject({Fault::ShortPayload, 4, z960sim::kAny, 1, 1, c.times, 331});
        const std::string path = local("config.bin");

        EXPECT_EQ(port->getConfigFile(path), c.result);
        EXPECT_EQ(requests().size(), c.requests);
        if (c.result) {
            EXPECT_EQ(Bytes(port->configImage.data(), port->configImage.data() + 332), sim->image(5));
        } else {
            EXPECT_TRUE(port->configImage == before);
            EXPECT_EQ(contents(path).size(), 331u); // the download stays on disk
        }
    }
}

TEST_F(TransferAgainstSim, IndexListsTheFilesAndKeepsTheLastAnnouncedSize)
{
    start();
    sim->addFile("first.csv", pattern(700, 1), z960sim::LogFile);
    sim->addFile("alarm.csv", pattern(10, 2), z960sim::AlarmFile);
    const std::string index = local("index.txt");

    ASSERT_TRUE(port->getLogFileIndex(index.c_str(), z960sim::LogFile, false));
    EXPECT_EQ(contents(index), sim->indexFile(z960sim::LogFile));
    EXPECT_EQ(progress.front().size, 0) << "no log file announced its size yet";

    ASSERT_TRUE(port->getLogFile("\\first.csv", local("first.csv").c_str(), true));
    progress.clear();
    ASSERT_TRUE(port->getLogFileIndex(index.c_str(), z960sim::AlarmFile, false));
    EXPECT_EQ(contents(index), sim->indexFile(z960sim::AlarmFile));
    EXPECT_EQ(progress.front().size, 700);
    EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(TransferAgainstSim, IndexRequestTriesFourTimes)
{
    const struct {
        int silentReplies;
        bool result;
        std::size_t requests;
        QStringList messages;
    } cases[] = {
        {3, true, 4, {}},
        {4, false, 4, {QStringLiteral("getLogFileIndex failed")}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.silentReplies);
        start();
        prompter.messages.clear();
        sim->inject({Fault::Silence, 80, z960sim::kAny, 0, 1, c.silentReplies});
        const std::string index = local("tries.txt");
        QFile::remove(QString::fromStdString(index));

        EXPECT_EQ(port->getLogFileIndex(index.c_str(), z960sim::LogFile, false), c.result);
        EXPECT_EQ(requests(), std::vector<Bytes>(c.requests, Bytes{80, 0}));
        EXPECT_EQ(prompter.texts(), c.messages);
        EXPECT_EQ(QFile::exists(QString::fromStdString(index)), c.result) << "no file without an answer";
    }
}

TEST_F(TransferAgainstSim, FailedIndexTransferSaysSo)
{
    start();
    sim->addFile("first.csv", pattern(10, 1));
    sim->inject({Fault::AbortTransfer, 80, z960sim::kAny, 1});
    EXPECT_FALSE(port->getLogFileIndex(local("index.txt").c_str(), z960sim::LogFile, false));
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("getFile failed")});
}

TEST_F(TransferAgainstSim, RealTimeLogSendsTypeAndRange)
{
    start();
    const Bytes content = pattern(1200, 8);
    sim->addFile("old.csv", pattern(50, 9), z960sim::SystemFile);
    sim->addFile("new.csv", content, z960sim::SystemFile);
    Z960Data::sTimestamp from, to;
    const unsigned char f[6] = {24, 1, 2, 3, 4, 5}, t[6] = {24, 2, 3, 4, 5, 6};
    from.assign(f, 6);
    to.assign(t, 6);
    const std::string path = local("rt.csv");

    ASSERT_TRUE(port->getRTLogFile("ignored", path.c_str(), true, z960sim::SystemFile, &from, &to));
    EXPECT_EQ(contents(path), content);
    EXPECT_EQ(requests(), (std::vector<Bytes>{{100, 1, 24, 1, 2, 3, 4, 5, 24, 2, 3, 4, 5, 6}}));
    EXPECT_EQ(port->expectedSize, content.size());
}

TEST_F(TransferAgainstSim, StaleFrameErrorDoesNotBlockTheNextDownload)
{
    start();
    const Bytes content = pattern(600, 10);
    sim->addFile("f.csv", content);
    port->frameError = true; // left over from an earlier exchange
    const std::string path = local("f.csv");
    ASSERT_TRUE(port->getLogFile("\\f.csv", path.c_str(), false));
    EXPECT_EQ(contents(path), content);
    EXPECT_TRUE(faults.empty());
}

TEST_F(TransferAgainstSim, LocalWriteErrorAbortsTheTransfer)
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "no /dev/full here";
    start();
    sim->addFile("big.csv", pattern(3000, 11));
    EXPECT_FALSE(port->getLogFile("\\big.csv", "/dev/full", false));
    // The abort is queued when the download returns; the line may still carry it.
    sim->waitForFrames(3, std::chrono::seconds(2)); // the request, the opening and the abort
    EXPECT_EQ(acks(), split("8B 8E")); // the first block could not be stored
    EXPECT_EQ(port->transferFile, nullptr);
    const std::size_t sentAtEnd = sim->sent().size();
    idle(9000); // past the meter's own 8 s re-send
    EXPECT_EQ(sim->sent().size(), sentAtEnd) << "the meter stopped on the abort";
    EXPECT_EQ(acks().size(), 2u);
}

TEST_F(TransferAgainstSim, LocalFileThatCannotBeCreatedSendsNothing)
{
    start();
    sim->addFile("f.csv", pattern(10, 1));
    const std::string path = local("no/such/folder/f.csv");
    EXPECT_FALSE(port->getLogFile("\\f.csv", path.c_str(), false));
    EXPECT_TRUE(faulted(Z960Fault::LocalFileOpen));
    EXPECT_TRUE(acks().empty());
}
