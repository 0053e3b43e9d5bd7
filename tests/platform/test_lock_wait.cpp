// Waiting for a lock with a deadline: the bound holds on a thread that
// blocks every signal, and a write lock is waited for only while a writer
// holds it, never for readers.
#include "platform/LockWait.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <future>
#include <pthread.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Two open files of one file: a lock taken through one holds the other back.
class LockWaitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("locked")));
        holder = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        waiter = ::open(path.constData(), O_RDWR | O_CLOEXEC);
        reader = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(holder, 0);
        ASSERT_GE(waiter, 0);
        ASSERT_GE(reader, 0);
    }
    void TearDown() override
    {
        for (const int fd : {holder, waiter, reader})
            if (fd >= 0)
                ::close(fd);
    }

    QTemporaryDir dir;
    int holder = -1;
    int waiter = -1;
    int reader = -1;
};

bool setLock(int fd, short type, int command = F_OFD_SETLK)
{
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return ::fcntl(fd, command, &lock) == 0;
}

struct Waited {
    bool had;
    std::chrono::milliseconds took;
};

Waited timed(const std::function<bool()> &wait)
{
    const auto start = Clock::now();
    const bool had = wait();
    return {had, std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)};
}

TEST_F(LockWaitTest, AThreadThatBlocksEverySignalKeepsTheBound)
{
    struct Row {
        const char *what;
        std::function<bool()> hold, release, wait;
    };
    const Row rows[] = {
        {"flock", [&] { return ::flock(holder, LOCK_EX) == 0; }, [&] { return ::flock(holder, LOCK_UN) == 0; },
         [&] { return bool(Platform::lockUntil(waiter, LOCK_EX, Clock::now() + 100ms)); }},
        {"write lock", [&] { return setLock(holder, F_WRLCK); }, [&] { return setLock(holder, F_UNLCK); },
         [&] { return Platform::writeLockUntil(waiter, Clock::now() + 100ms); }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(row.hold());
        auto waiting = std::async(std::launch::async, [&] {
            sigset_t all;
            sigfillset(&all);
            ::pthread_sigmask(SIG_BLOCK, &all, nullptr);
            return timed(row.wait);
        });
        // A wait that outlives its bound by far is ended by letting go, so the test fails rather than hangs.
        const bool ended = waiting.wait_for(2s) == std::future_status::ready;
        row.release();
        const Waited waited = waiting.get();
        EXPECT_TRUE(ended) << "the wait ended by itself";
        EXPECT_FALSE(waited.had);
        EXPECT_GE(waited.took.count(), 95);
        EXPECT_LT(waited.took.count(), 600);
        EXPECT_TRUE(row.wait()) << "had once let go";
    }
}

TEST_F(LockWaitTest, ALockLetGoOfDuringTheWaitIsHad)
{
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    auto letGo = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(50ms);
        ::flock(holder, LOCK_UN);
    });
    const Waited waited = timed([&] { return bool(Platform::lockUntil(waiter, LOCK_EX, Clock::now() + 2s)); });
    letGo.get();
    EXPECT_TRUE(waited.had);
    EXPECT_LT(waited.took.count(), 1000);
}

// Any account that may read a file may open it and lock it for reading; a
// write lock needs it open for writing. Only a writer is waited for.
TEST_F(LockWaitTest, AWriteLockWaitsForAWriterButNotForReaders)
{
    struct Row {
        const char *what;
        std::function<bool()> hold, release;
        bool had;
        bool waits;
    };
    const Row rows[] = {
        {"a reader's fcntl read lock", [&] { return setLock(reader, F_RDLCK, F_SETLK); },
         [&] { return setLock(reader, F_UNLCK, F_SETLK); }, false, false},
        {"a reader's shared flock", [&] { return ::flock(reader, LOCK_SH) == 0; },
         [&] { return ::flock(reader, LOCK_UN) == 0; }, true, false},
        {"a reader's exclusive flock", [&] { return ::flock(reader, LOCK_EX) == 0; },
         [&] { return ::flock(reader, LOCK_UN) == 0; }, true, false},
        {"a writer's write lock", [&] { return setLock(holder, F_WRLCK); },
         [&] { return setLock(holder, F_UNLCK); }, false, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(row.hold());
        const Waited waited = timed([&] { return Platform::writeLockUntil(waiter, Clock::now() + 300ms); });
        row.release();
        EXPECT_EQ(waited.had, row.had);
        if (row.waits) {
            EXPECT_GE(waited.took.count(), 290);
        } else {
            EXPECT_LT(waited.took.count(), 100);
        }
        if (waited.had) {
            EXPECT_TRUE(setLock(waiter, F_UNLCK));
        }
    }
}

} // namespace
