// Transfer steps against a scripted meter: what the simulator cannot be made
// to do on cue (blocks between other exchanges, a failing serial component,
// calls from inside progress events) and the windowed-mode switches.
#include "CommandsFixture.h"

#include "link/LinkClock.h"
#include "link/Z960Port.h"
#include "serial/SerTypes.h"
#include "support/ScriptedPrompter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

using namespace CommandTest;

namespace {

struct Block {
    int code;
    QByteArray payload;
};

// Frames the PC sent that are not requests, as "8B" or "94:04".
std::vector<std::string> transferFrames(const ScriptedMeter &meter)
{
    std::vector<std::string> out;
    for (const Request &r : meter.requests) {
        if (r.kind != Request::Quillmere || r.control == 0x80)
            continue;
        std::string s = QByteArray(1, static_cast<char>(r.control)).toHex().toUpper().toStdString();
        if (!r.payload.isEmpty())
            s += ":" + r.payload.toHex('.').toUpper().toStdString();
        out.push_back(s);
    }
    return out;
}

class TransferSteps : public testing::Test {
protected:
    const LinkClock::Scoped fast{20.0}; // before the link: its timers take the speed
    Z960Port port{nullptr, 1};
    ScriptedMeter meter{port};
    TestSupport::ScriptedPrompter prompter;
    QTemporaryDir dir;
    std::vector<int> faults;
    int progressEvents = 0;
    // Groups of frames the meter sends, one group after each transfer frame of the PC.
    std::deque<std::vector<Block>> groups;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        port.OnPortDebugEvent = [this](QObject *, std::string text) {
            faults.push_back(std::stoi(text.substr(text.rfind(' ') + 1)));
        };
        port.OnDownLoadEvent = [this](QObject *, int, int, int) { ++progressEvents; };
        // Requests get [done, echo, 4 spare bytes, the size of the script's
        // data]; the transfer follows the script.
        meter.respond = [this](const Request &r) {
            if (r.kind != Request::Quillmere)
                return QByteArray();
            if (r.control == 0x80) {
                const unsigned size = scriptedSize();
                return reply(bytesOf({0x80, static_cast<unsigned char>(r.payload[0]), 0, 0, 0, 0,
                                      static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8), 0, 0}));
            }
            return r.control == 0x8E ? QByteArray() : nextGroup();
        };
    }

    // The bytes the script's data blocks carry.
    unsigned scriptedSize() const
    {
        unsigned size = 0;
        for (const auto &group : groups)
            for (const Block &b : group)
                if (b.code == 0x87 || b.code == 0x88 || b.code == 0x8F || b.code == 0x91 || b.code == 0x93)
                    size += static_cast<unsigned>(b.payload.size());
        return size;
    }

    QByteArray nextGroup()
    {
        QByteArray out;
        if (groups.empty())
            return out;
        for (const Block &b : groups.front())
            out += quillmereFrame(1, b.payload, static_cast<unsigned char>(b.code));
        groups.pop_front();
        return out;
    }

    std::string path(const char *name) const { return dir.filePath(QString::fromLatin1(name)).toStdString(); }
    static QByteArray contents(const std::string &p)
    {
        QFile f(QString::fromStdString(p));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

} // namespace

TEST_F(TransferSteps, NoDataBlockEndsWindowedModeAndAbortReplacesTheNextAck)
{
    const struct {
        bool windowed;
        int abortAtEvent; // OnDownLoadEvent number that calls abortFileTransfer (0: none)
        std::vector<std::vector<Block>> script;
        std::vector<std::string> acks;
        bool result;
        QByteArray file;
    } cases[] = {
        {true, 0, {{{0x91, "ab"}}, {{0x95, ""}}, {{0x91, "cd"}}, {{0x97, ""}}}, {"8B", "94:04", "96", "92"}, true, "abcd"},
        {false, 0, {{{0x8F, "ab"}}, {{0x89, ""}}, {{0x88, "cd"}}, {{0x93, "e"}}, {{0x97, "not data"}}},
         {"8B", "8B", "96", "90", "94"}, true, "abcde"},
        {false, 2, {{{0x91, "ab"}}, {{0x93, "cd"}}}, {"8B", "8E"}, false, "ab"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.windowed << " abort at " << c.abortAtEvent);
        meter.requests.clear();
        groups.assign(c.script.begin(), c.script.end());
        progressEvents = 0;
        port.OnDownLoadEvent = [this, &c](QObject *, int, int, int) {
            if (++progressEvents == c.abortAtEvent)
                port.abortFileTransfer();
        };
        const std::string file = path("f.csv");
        EXPECT_EQ(port.getLogFile("\\f.csv", file.c_str(), c.windowed), c.result);
        EXPECT_EQ(transferFrames(meter), c.acks);
        EXPECT_EQ(contents(file), c.file);
        EXPECT_FALSE(port.windowedAck && c.result) << "a no-data block ends windowed mode";
    }
}

TEST_F(TransferSteps, BlockOutsideATransferGetsTheAbortAndLeavesAWaitingPingAlone)
{
    const struct {
        int code;
        bool answered;
    } cases[] = {{0x91, true}, {0x89, true}, {0x97, true}, {0x8D, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        meter.requests.clear();
        progressEvents = 0;
        port.lastAckCode = 0x42;
        // The late block arrives just before the ping's reply, in one delivery.
        meter.respond = [&c](const Request &r) {
            if (r.kind != Request::Quillmere || r.control != 0x80)
                return QByteArray();
            return quillmereFrame(1, "late", static_cast<unsigned char>(c.code)) + reply(bytesOf({0x80, 0}));
        };
        EXPECT_TRUE(port.sendNullCommand());
        EXPECT_EQ(transferFrames(meter), c.answered ? std::vector<std::string>{"8E"} : std::vector<std::string>{});
        EXPECT_EQ(progressEvents, 0);
        EXPECT_EQ(port.lastAckCode, 0x42);
        EXPECT_FALSE(port.fileTransferTimer->isActive());
        EXPECT_EQ(port.transferFile, nullptr);
    }
}

TEST_F(TransferSteps, BlockBeforeTheOpeningIsDroppedAndTakenWhenSentAgain)
{
    // Block 1 comes too early: with the request's reply (just before it), or
    // while the opening step is under way. The opening brings it again.
    for (bool duringOpening : {false, true}) {
        SCOPED_TRACE(duringOpening);
        meter.requests.clear();
        faults.clear();
        groups = {{{0x91, "first"}}, {{0x97, ""}}};
        const QByteArray early = quillmereFrame(1, "first", 0x91);
        meter.respond = [this, early, duringOpening](const Request &r) {
            if (r.kind != Request::Quillmere || r.control == 0x8E)
                return QByteArray();
            if (r.control != 0x80)
                return nextGroup();
            const QByteArray answer = reply(bytesOf({0x80, 2, 0, 0, 0, 0, 5, 0, 0, 0}));
            return duringOpening ? answer : early + answer;
        };
        progressEvents = 0;
        port.OnDownLoadEvent = [&](QObject *, int, int, int) {
            if (progressEvents++ == 0 && duringOpening)
                meter.line.deliver(port, early);
        };
        const std::string file = path("early.csv");
        ASSERT_TRUE(port.getLogFile("\\early.csv", file.c_str(), false));
        EXPECT_EQ(contents(file), QByteArray("first"));
        EXPECT_EQ(transferFrames(meter), (std::vector<std::string>{"8B", "92"}));
        EXPECT_TRUE(faults.empty());
    }
}

TEST_F(TransferSteps, SerialErrorDuringTheTransferIsShownAndEndsIt)
{
    groups = {{{0x91, "abc"}}};
    const auto record = meter.line.onWrite;
    // The port fails once the request is out: the opening cannot be sent.
    meter.line.onWrite = [this, record](TestSupport::ScriptedTransport &t) {
        if (!meter.requests.empty())
            throw ESerCommError("Write error (5), Input/output error");
        record(t);
    };
    const std::string file = path("e.csv");
    EXPECT_FALSE(port.getLogFile("\\e.csv", file.c_str(), false));
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("Write error (5), Input/output error")});
    EXPECT_EQ(port.transferFile, nullptr);
    EXPECT_FALSE(port.fileTransferTimer->isActive());
    EXPECT_FALSE(port.commsTimer->isActive());
}

TEST_F(TransferSteps, SecondTransferFromInsideTheFirstIsRefused)
{
    groups = {{{0x91, "abc"}}, {{0x97, ""}}};
    bool inner = true;
    port.OnDownLoadEvent = [this, &inner](QObject *, int, int, int) {
        if (progressEvents++ == 0)
            inner = port.getFile(path("other.csv").c_str());
    };
    const std::string file = path("outer.csv");
    EXPECT_TRUE(port.getLogFile("\\outer.csv", file.c_str(), false));
    EXPECT_FALSE(inner);
    EXPECT_EQ(contents(file), QByteArray("abc"));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path("other.csv"))));
}

TEST_F(TransferSteps, RequestsThatCannotBeBuiltSendNothing)
{
    const std::string longName(1023, 'x');
    const std::string file = path("n.csv");
    Z960Data::sTimestamp stamp;
    EXPECT_FALSE(port.getLogFile(longName.c_str(), file.c_str(), false));
    EXPECT_FALSE(port.getLogFile(nullptr, file.c_str(), false));
    EXPECT_FALSE(port.getRTLogFile(nullptr, file.c_str(), false, 0, nullptr, &stamp));
    EXPECT_FALSE(port.getRTLogFile(nullptr, file.c_str(), false, 0, &stamp, nullptr));
    EXPECT_TRUE(meter.requests.empty());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(file)));
}

TEST_F(TransferSteps, StopInsideAWindowSendsTheAbortAtOnceAndNothingAfterIt)
{
    // Block 1 is acknowledged at once; blocks 2 and 3 open a window of four,
    // after which the meter waits for the acknowledgement that never comes.
    groups = {{{0x91, "ab"}}, {{0x93, "cd"}, {0x91, "ef"}}};
    port.OnDownLoadEvent = [this](QObject *, int, int, int) {
        if (++progressEvents == 4) // block 3: the stop comes once its step is over
            QTimer::singleShot(0, &port, [this] { port.stop(); });
    };
    const std::string file = path("w.csv");
    EXPECT_FALSE(port.getLogFile("\\w.csv", file.c_str(), true));
    EXPECT_EQ(transferFrames(meter), (std::vector<std::string>{"8B", "94:04", "8E"}));
    EXPECT_EQ(contents(file), QByteArray("abcdef"));
    EXPECT_TRUE(prompter.messages.empty());
    EXPECT_FALSE(port.fileTransferTimer->isActive());

    meter.requests.clear();
    EXPECT_FALSE(port.sendNullCommand());
    EXPECT_FALSE(port.getStucture(0));
    EXPECT_FALSE(port.getLogFileIndex(path("index.txt").c_str(), 0));
    EXPECT_TRUE(meter.requests.empty()) << "a stopped link sends nothing new";
    EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(TransferSteps, StopWhileTheRequestWaitsAbortsInsteadOfOpening)
{
    // The stop arrives while the request waits for its reply: the reply still
    // counts, and the meter, which has readied the file, is told to drop it.
    const struct {
        const char *what;
        unsigned char command;
        bool (*fetch)(Z960Port &, const char *path);
    } cases[] = {
        {"log file", 2, [](Z960Port &p, const char *path) { return p.getLogFile("\\f.csv", path, true); }},
        {"file list", 80, [](Z960Port &p, const char *path) { return p.getLogFileIndex(path, 0); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Z960Port link(nullptr, 1);
        ScriptedMeter m(link);
        m.respond = [&link, &c](const Request &r) {
            if (r.kind != Request::Quillmere || r.control != 0x80)
                return QByteArray();
            link.stop();
            return reply(bytesOf({0x80, c.command, 0, 0, 0, 0, 5, 0, 0, 0}));
        };
        const std::string file = path("stopped.txt");
        EXPECT_FALSE(c.fetch(link, file.c_str()));
        EXPECT_EQ(m.count(c.command), 1);
        EXPECT_EQ(transferFrames(m), std::vector<std::string>{"8E"});
        EXPECT_FALSE(QFile::exists(QString::fromStdString(file)));
        EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    }
}
