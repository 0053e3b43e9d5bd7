#include "support/ColleagueLock.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace TestSupport {

namespace {

constexpr const char *kPathVariable = "VANTORO_TEST_COLLEAGUE_LOCK_PATH";
constexpr const char *kKindVariable = "VANTORO_TEST_COLLEAGUE_LOCK_KIND";
constexpr const char *kHeldMark = "@@held";
constexpr int kStartMs = 60000;

bool takeLock(int fd, LockKind kind)
{
    switch (kind) {
    case LockKind::FlockShared:
        return ::flock(fd, LOCK_SH) == 0;
    case LockKind::FlockExclusive:
        return ::flock(fd, LOCK_EX) == 0;
    case LockKind::FcntlRead: {
        struct flock lock {};
        lock.l_type = F_RDLCK;
        lock.l_whence = SEEK_SET;
        return ::fcntl(fd, F_SETLKW, &lock) == 0;
    }
    }
    return false;
}

} // namespace

// The colleague's program: takes the lock, says so, and holds it until its
// input ends.
TEST(ColleagueLockChild, HoldsTheLock)
{
    const QByteArray path = qgetenv(kPathVariable);
    if (path.isEmpty())
        GTEST_SKIP() << "runs as a child of a test that holds a colleague's lock";
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << "cannot open " << path.constData();
    ASSERT_TRUE(takeLock(fd, LockKind(qEnvironmentVariableIntValue(kKindVariable))));
    std::printf("%s\n", kHeldMark);
    std::fflush(stdout);
    char c;
    while (::read(STDIN_FILENO, &c, 1) > 0) {
    }
    ::close(fd);
}

const char *lockKindName(LockKind kind)
{
    switch (kind) {
    case LockKind::FlockShared:
        return "flock -s";
    case LockKind::FlockExclusive:
        return "flock -x";
    case LockKind::FcntlRead:
        return "fcntl read lock";
    }
    return "";
}

ColleagueLock::ColleagueLock(const Account &account, const QString &path, LockKind kind)
    : child_(startTestAs(account, QStringLiteral("ColleagueLockChild.HoldsTheLock"),
                         {{QString::fromUtf8(kPathVariable), path},
                          {QString::fromUtf8(kKindVariable), QString::number(int(kind))}}))
{
    QElapsedTimer clock;
    clock.start();
    while (!holding_ && child_->state() != QProcess::NotRunning && clock.elapsed() < kStartMs) {
        child_->waitForReadyRead(50);
        output_ += QString::fromLocal8Bit(child_->readAll());
        holding_ = output_.contains(QLatin1String(kHeldMark));
    }
}

ColleagueLock::~ColleagueLock()
{
    child_->closeWriteChannel();
    const ChildRun run = finishChild(*child_);
    output_ += run.output;
}

} // namespace TestSupport
