// Taking a lock with a deadline: tried again every few milliseconds until it
// is had or the deadline passes, so the bound holds on any thread, whatever
// signals it blocks, and however the lock's holder behaves.
#pragma once

#include <chrono>
#include <utility>

namespace Platform {

using Deadline = std::chrono::steady_clock::time_point;

// A flock taken on a descriptor, let go of when the object goes.
class HeldLock {
public:
    HeldLock() = default;
    explicit HeldLock(int fd) : fd_(fd) {}
    HeldLock(HeldLock &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    HeldLock &operator=(HeldLock &&other) noexcept;
    HeldLock(const HeldLock &) = delete;
    HeldLock &operator=(const HeldLock &) = delete;
    ~HeldLock() { release(); }

    explicit operator bool() const { return fd_ >= 0; }
    void release();

private:
    int fd_ = -1;
};

// Takes the flock `operation` (LOCK_SH or LOCK_EX) on `fd`, waiting for it
// until `deadline` at most; nothing when it was not had by then.
HeldLock lockUntil(int fd, int operation, Deadline deadline);

// Takes a write lock on the whole file open for writing as `fd` (a lock of
// the open file, kept till the descriptor is closed), waiting for it until
// `deadline` at most, and only while it is held for writing: a lock that
// only readers hold, as any account that may read the file can take, ends
// the wait at once. False when it was not had.
bool writeLockUntil(int fd, Deadline deadline);

} // namespace Platform
