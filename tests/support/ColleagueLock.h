// A colleague's program that holds a lock on a file it may only read (a
// shared lock, as `flock -s` takes, an exclusive one, as `flock -x` takes on
// a file opened for reading, or an fcntl read lock) until the object goes.
// The program runs as another account, a child of the test program.
//
//   const TestSupport::ColleagueLock held(TestSupport::Daemon, path, TestSupport::LockKind::FlockExclusive);
//   ASSERT_TRUE(held.holding()) << held.output();
#pragma once

#include "support/AsNobody.h"

#include <QProcess>
#include <QString>

#include <memory>

namespace TestSupport {

enum class LockKind { FlockShared, FlockExclusive, FcntlRead };

const char *lockKindName(LockKind kind);

class ColleagueLock {
public:
    ColleagueLock(const Account &account, const QString &path, LockKind kind);
    ~ColleagueLock(); // lets go and waits for the program to end
    ColleagueLock(const ColleagueLock &) = delete;
    ColleagueLock &operator=(const ColleagueLock &) = delete;

    bool holding() const { return holding_; }
    QString output() const { return output_; }

private:
    std::unique_ptr<QProcess> child_;
    bool holding_ = false;
    QString output_;
};

} // namespace TestSupport
