// The serial component on a real pseudo-terminal through the termios driver:
// opening by COM number, bytes in both directions, a stalled line, the far
// end hanging up, reopening as another user and descriptor hygiene.
#include "SerTestUtil.h"

#include "support/ProcessProbe.h"
#include "support/PtyPair.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <dirent.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

using namespace Platform;
using namespace SerialTest;
using TestSupport::PtyPair;

namespace {

// A component on COM n set up as the flowmeter link sets it up.
std::unique_ptr<TSerComm> linkStyleComm(int port)
{
    auto comm = std::make_unique<TSerComm>();
    comm->SetBaudrate(br9600);
    comm->SetParity(paNone);
    comm->SetDatabits(db8);
    comm->SetStopbits(sb1);
    comm->Buffers().SetWriteSize(4096);
    comm->Buffers().SetReadSize(4096);
    comm->SetEventPriority(tpHigher);
    comm->SetWritePriority(tpHigher);
    comm->SetPortNum(port);
    comm->SetClosePause(0);
    return comm;
}

using TestSupport::openDescriptors;

double cpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

TEST(SerPty, BytesTravelBothWaysInOrder)
{
    PtyPair pty(5);
    ASSERT_TRUE(pty.ok()) << pty.error();
    auto comm = linkStyleComm(5);
    std::string got;
    std::vector<int> counts;
    bool countsMatched = true;
    comm->OnRxChar = [&](QObject *, int Count) {
        counts.push_back(Count);
        countsMatched = countsMatched && comm->ReadBufUsed() >= Count;
        for (int i = 0; i < Count; ++i) {
            uint8_t c = 0;
            countsMatched = countsMatched && comm->ReadChar(c);
            got += char(c);
        }
    };
    comm->Open();
    EXPECT_EQ(comm->EventMask(), EV_RXCHAR | EV_ERR);

    QByteArray sent;
    for (int i = 0; i < 3000; ++i)
        sent.append(char(i * 7 % 251));
    for (int i = 0; i < sent.size(); i += 100)
        ASSERT_EQ(comm->WriteBuf(sent.constData() + i, 100), 100);
    QByteArray arrived;
    ASSERT_TRUE(pumpUntil([&] {
        arrived += pty.readAvailable();
        return arrived.size() >= sent.size();
    }, 5000));
    EXPECT_EQ(arrived, sent);

    ASSERT_TRUE(pty.writeMaster("hello, meter"));
    ASSERT_TRUE(pumpUntil([&] { return got.size() == 12; }));
    EXPECT_EQ(got, "hello, meter");
    EXPECT_TRUE(countsMatched);
    int total = 0;
    for (int c : counts) {
        EXPECT_GE(c, 1);
        total += c;
    }
    EXPECT_EQ(total, 12);
}

// Ahead of a close the GUI thread waits for the queue without taking events:
// a write thread parked on a "queue empty" notification of an earlier write
// must still write what was queued after it.
TEST(SerPty, DrainingBeforeACloseWritesWhatIsQueuedWithoutTheGuiThread)
{
    PtyPair pty(5);
    ASSERT_TRUE(pty.ok()) << pty.error();
    auto comm = linkStyleComm(5);
    comm->Open();
    ASSERT_EQ(comm->WriteBuf("first", 5), 5);
    EXPECT_EQ(pty.readMaster(5), QByteArray("first"));
    // No event is handled from here on: the notification of the drained queue stays pending.
    ASSERT_EQ(comm->WriteBuf("last", 4), 4);
    EXPECT_TRUE(comm->DrainWriteQueue(2000));
    EXPECT_EQ(pty.readMaster(4), QByteArray("last"));
    comm->Close();
}

TEST(SerPty, BusyAndUnknownPorts)
{
    PtyPair pty(6);
    ASSERT_TRUE(pty.ok()) << pty.error();
    auto first = linkStyleComm(6);
    first->Open();
    auto second = linkStyleComm(6);
    const std::string busy = serError([&] { second->Open(); });
    EXPECT_EQ(busy, "Can't open specified device " + pty.slavePath() + " (Error " + std::to_string(EBUSY) + ", " +
                        SysErrorMessage(EBUSY) + ")");
    EXPECT_FALSE(second->Active());

    auto unknown = linkStyleComm(77); // not in the port map
    EXPECT_EQ(serError([&] { unknown->Open(); }), "Specified device not found (COM77).");

    first->Close();
    second->Open(); // free again
    EXPECT_TRUE(second->Active());
}

TEST(SerPty, FailedOpensLeaveNoDescriptorBehind)
{
    PtyPair pty(7);
    ASSERT_TRUE(pty.ok()) << pty.error();
    auto holder = linkStyleComm(7);
    holder->Open();
    auto busy = linkStyleComm(7);
    auto missing = linkStyleComm(78);
    pumpFor(50); // the holder's threads have started (each has its own descriptors)
    // One round first, so that anything created once per process is there.
    EXPECT_NE(serError([&] { busy->Open(); }), "");
    EXPECT_NE(serError([&] { missing->Open(); }), "");
    const int before = openDescriptors();
    for (int i = 0; i < 100; ++i) {
        EXPECT_NE(serError([&] { busy->Open(); }), "");
        EXPECT_NE(serError([&] { missing->Open(); }), "");
    }
    EXPECT_EQ(openDescriptors(), before);
}

TEST(SerPty, StalledLineFillsTheQueue)
{
    PtyPair pty(8);
    ASSERT_TRUE(pty.ok()) << pty.error();
    auto comm = linkStyleComm(8);
    comm->Buffers().SetWriteSize(256);
    comm->Buffers().SetWriteTimeout(30);
    comm->Open();
    ASSERT_TRUE(pty.stallOutput());
    const std::string block(256, 'x');
    std::string error;
    int written = 0;
    for (int i = 0; i < 2000 && error.empty(); ++i) {
        error = serError([&] { comm->WriteText(block); });
        if (error.empty())
            written += 256;
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(error, "Output buffer is full. Please check comm status.");
    EXPECT_GT(comm->WriteBufUsed(), 0);

    // Output restarts: everything queued arrives.
    ASSERT_TRUE(pty.resumeOutput());
    QByteArray arrived;
    ASSERT_TRUE(pumpUntil([&] {
        arrived += pty.readAvailable();
        return arrived.size() >= written;
    }, 5000));
    EXPECT_EQ(arrived.size(), written);
}

TEST(SerPty, HangUpGivesOneErrorAndNoSpin)
{
    for (bool sync : {true, false}) {
        PtyPair pty(9);
        ASSERT_TRUE(pty.ok()) << pty.error();
        auto comm = linkStyleComm(9);
        comm->SetSyncThreads(sync);
        std::atomic<int> errors{0};
        std::atomic<int> flags{0};
        comm->OnError = [&](QObject *, int Errors) {
            ++errors;
            flags = Errors;
        };
        comm->Open();
        pty.closeMaster();
        pty.releaseSlave();
        ASSERT_TRUE(pumpUntil([&] { return errors >= 1; })) << "sync=" << sync;
        // Writes after the hang-up fail; they must not spin either.
        EXPECT_TRUE(comm->WriteText("after"));
        const double cpuBefore = cpuSeconds();
        QThread::msleep(300);
        const double cpu = cpuSeconds() - cpuBefore;
        pumpFor(50);
        EXPECT_EQ(errors, 1) << "sync=" << sync;
        EXPECT_TRUE(flags & CE_IOE) << "sync=" << sync;
        EXPECT_LT(cpu, 0.1) << "sync=" << sync;
        EXPECT_TRUE(comm->Active());
        uint8_t c;
        EXPECT_FALSE(comm->ReadChar(c));
        comm->Close();
    }
}

// Run in a child process by ReopenAsAnotherUser, after it dropped root.
TEST(SerPty, ChildOpensCloseAndOpensAgain)
{
    if (!std::getenv("VANTORO_SERIAL_CHILD"))
        GTEST_SKIP() << "runs only as the child of ReopenAsAnotherUser";
    auto comm = linkStyleComm(10);
    comm->Open();
    comm->Close();
    comm->Open();
    EXPECT_TRUE(comm->Active());
}

TEST(SerPty, ReopenAsAnotherUser)
{
    if (std::getenv("VANTORO_SERIAL_CHILD"))
        GTEST_SKIP();
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to drop privileges";
    const passwd *nobody = ::getpwnam("nobody");
    if (!nobody)
        GTEST_SKIP() << "no user 'nobody'";
    PtyPair pty(10); // holds its own slave descriptor throughout
    ASSERT_TRUE(pty.ok()) << pty.error();
    ASSERT_EQ(::chown(pty.slavePath().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    {
        // Open and close it once as root first, as a previous session would.
        auto comm = linkStyleComm(10);
        comm->Open();
        comm->Close();
    }
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(3);
        ::setenv("VANTORO_SERIAL_CHILD", "1", 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execl("/proc/self/exe", "serial_child", "--gtest_filter=SerPty.ChildOpensCloseAndOpensAgain",
                static_cast<char *>(nullptr));
        ::_exit(4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
