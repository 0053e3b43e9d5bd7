// How the link ends its work: a stop ends every wait at once, whatever it
// waits for, and sends nothing more but the one abort a transfer needs; a
// wind-down lets the work under way finish with one try each, within its time.
#include "CommandsFixture.h"

#include "link/LinkClock.h"
#include "link/Z960Port.h"
#include "support/ScriptedPrompter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using namespace CommandTest;

namespace {

// The command byte of a request (-1 when it has none).
int commandOf(const Request &r) { return r.payload.isEmpty() ? -1 : static_cast<unsigned char>(r.payload[0]); }

// What the PC sent, as "0" for a ping request, "19" for a structure read,
// "ascii" for a Modbus ASCII frame and "8E" for a transfer frame.
std::vector<std::string> sent(const ScriptedMeter &meter, std::size_t from = 0)
{
    std::vector<std::string> out;
    for (std::size_t i = from; i < meter.requests.size(); ++i) {
        const Request &r = meter.requests[i];
        if (r.kind != Request::Quillmere)
            out.push_back("ascii");
        else if (r.control == 0x80)
            out.push_back(std::to_string(commandOf(r)));
        else
            out.push_back(QByteArray(1, static_cast<char>(r.control)).toHex().toUpper().toStdString());
    }
    return out;
}

std::string joined(const std::vector<std::string> &v)
{
    std::string s;
    for (const auto &x : v)
        s += (s.empty() ? "" : " ") + x;
    return s;
}

class PortStop : public testing::Test {
protected:
    TestSupport::ScriptedPrompter prompter;
    QTemporaryDir dir;

    std::string path(const char *name) const { return dir.filePath(QString::fromLatin1(name)).toStdString(); }
};

} // namespace

TEST_F(PortStop, EveryWaitEndsAtOnceAndNothingMoreIsSentButTheAbortOfATransfer)
{
    // Real link time: a wait that ran on would take its time-out in earnest
    // (1 s a ping try, 10 s a structure read, 120 s a log file).
    const LinkClock::Scoped realTime(1.0);
    constexpr int kStopAfterMs = 200; // the opening of a transfer has gone out by then
    constexpr qint64 kAtOnceMs = 500;
    const auto answered = [](const Request &r) {
        return bytesOf({0x80, commandOf(r), 0, 0, 0, 0, 9, 0, 0, 0});
    };
    const struct {
        const char *what;
        std::function<void(Z960Port &, const std::string &file)> run;
        // The request the meter answers (-1: none); everything else goes unanswered.
        int answers;
        std::string afterStop; // what the PC sends once stopped
    } cases[] = {
        {"ping and its retries", [](Z960Port &p, const std::string &) { p.sendNullCommand(); }, -1, ""},
        {"structure read", [](Z960Port &p, const std::string &) { p.getStucture(0); }, -1, ""},
        {"structure write", [](Z960Port &p, const std::string &) { p.putStucture(5); }, -1, ""},
        {"state change", [](Z960Port &p, const std::string &) { p.setState(0); }, -1, ""},
        {"clearing the logs (120 s)", [](Z960Port &p, const std::string &) { p.ClearAllDataFlashLogs(); }, -1, ""},
        {"backup to the card", [](Z960Port &p, const std::string &) { p.backupLogsToSdcard(); }, 0, ""},
        {"register read",
         [](Z960Port &p, const std::string &) {
             unsigned char buf[Z960Port::kCommandBufferSize] = {};
             unsigned short len = 0;
             p.readRegisters(116, 40, buf, &len, 5);
         },
         -1, ""},
        {"access level", [](Z960Port &p, const std::string &) { p.getCommsAccessLevel(); }, -1, ""},
        {"a pause", [](Z960Port &p, const std::string &) { p.DelayTicks(5000); }, -1, ""},
        {"log file request", [](Z960Port &p, const std::string &f) { p.getLogFile("\\f.csv", f.c_str(), true); }, -1,
         "8E"},
        {"log by time request",
         [](Z960Port &p, const std::string &f) {
             const Z960Data::sTimestamp stamp;
             p.getRTLogFile(nullptr, f.c_str(), true, 0, &stamp, &stamp);
         },
         -1, "8E"},
        {"file list request and its retries", [](Z960Port &p, const std::string &f) { p.getLogFileIndex(f.c_str(), 0); },
         -1, "8E"},
        {"opening of a transfer", [](Z960Port &p, const std::string &f) { p.getLogFile("\\f.csv", f.c_str(), true); },
         2, "8E"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Z960Port port(nullptr, 1);
        ScriptedMeter meter(port);
        meter.respond = [&](const Request &r) {
            const bool answer = r.kind == Request::Quillmere && r.control == 0x80 && c.answers >= 0
                                && commandOf(r) == c.answers;
            return answer ? reply(answered(r)) : QByteArray();
        };
        std::size_t sentBefore = 0;
        QElapsedTimer sinceStop;
        QTimer::singleShot(kStopAfterMs, &port, [&] {
            sentBefore = meter.requests.size();
            sinceStop.start();
            port.stop();
        });
        const std::string file = path("stopped.csv");
        c.run(port, file);
        ASSERT_TRUE(sinceStop.isValid()) << "the operation ended before the stop";
        EXPECT_LT(sinceStop.elapsed(), kAtOnceMs);
        EXPECT_EQ(joined(sent(meter, sentBefore)), c.afterStop) << "before the stop: " << joined(sent(meter));
        EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
        QFile::remove(QString::fromStdString(file));
    }
}

TEST_F(PortStop, AWindDownLetsTheWorkFinishWithOneTryEachWithinItsTime)
{
    const LinkClock::Scoped fast(20.0); // 1 s of link time lasts 50 ms
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port); // a meter that has stopped answering
    constexpr unsigned long kWithinMs = 4000;

    // Asked to wind down while the write's first ping waits: that ping ends
    // at its own time-out and no further try follows.
    QTimer::singleShot(LinkClock::timerInterval(300), &port, [&] { port.windDown(kWithinMs); });
    EXPECT_FALSE(port.putStucture(5));
    EXPECT_EQ(joined(sent(meter)), "0");
    EXPECT_TRUE(port.windingDown());

    // The restart is still sent, and its 10 s wait ends with the time given.
    const LinkClock::Tick start = LinkClock::now();
    EXPECT_FALSE(port.setState(1));
    const LinkClock::Tick took = LinkClock::since(start);
    EXPECT_EQ(joined(sent(meter)), "0 69");
    EXPECT_LT(took, kWithinMs);
    EXPECT_GT(took, 1000u) << "it waited for the reply while there was time";

    // Time is up: nothing waits any more, and the stop still ends the link.
    EXPECT_FALSE(port.getStucture(0));
    EXPECT_EQ(joined(sent(meter)), "0 69 19");
    port.stop();
    EXPECT_FALSE(port.sendNullCommand());
    EXPECT_EQ(joined(sent(meter)), "0 69 19");
}

TEST_F(PortStop, AShorterWindDownTakesOverAndOneOfNoTimeStillSends)
{
    const LinkClock::Scoped fast(20.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    port.windDown(60000);
    port.windDown(0); // the program ends
    port.windDown(60000); // no later than that
    const LinkClock::Tick start = LinkClock::now();
    EXPECT_FALSE(port.setState(1));
    EXPECT_LT(LinkClock::since(start), 1000u) << "the 10 s reply was waited for";
    EXPECT_EQ(joined(sent(meter)), "69");
}

TEST_F(PortStop, AStopWhileAPlainAcknowledgementGoesOutSendsOneAbort)
{
    // The list of files travels in plain mode: every block is acknowledged,
    // and the meter sends the next one as soon as it has the acknowledgement.
    const LinkClock::Scoped fast(20.0);
    Z960Port port(nullptr, 1);
    ScriptedMeter meter(port);
    std::deque<QByteArray> blocks = {quillmereFrame(1, "Name\r\n", 0x91), quillmereFrame(1, "A.CSV\r\n", 0x93),
                                     quillmereFrame(1, "B.CSV\r\n", 0x91), quillmereFrame(1, "", 0x97)};
    meter.respond = [&](const Request &r) {
        if (r.control == 0x80)
            return reply(bytesOf({0x80, commandOf(r)}));
        if (r.control == 0x8E || blocks.empty())
            return QByteArray();
        const QByteArray next = blocks.front();
        blocks.pop_front();
        return next;
    };
    // The stop comes while the acknowledgement of the second block is on the line.
    int progress = 0;
    bool armed = false;
    port.OnDownLoadEvent = [&](QObject *, int, int, int) { armed = ++progress == 3; };
    port.OnTxEvent = [&](QObject *) {
        if (std::exchange(armed, false))
            QTimer::singleShot(0, &port, [&] { port.stop(); });
    };
    const std::string file = path("index.txt");
    EXPECT_FALSE(port.getLogFileIndex(file.c_str(), 0));
    // Whatever still arrives of the meter's next block.
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(joined(sent(meter)), "80 8B 92 94 8E");
    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
}
