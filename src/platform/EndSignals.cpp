#include "platform/EndSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Platform {

namespace {

// The pipe the handler writes to; -1 while no watcher lives.
std::atomic<int> signalPipe{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads it");

extern "C" void noteEndSignal(int number)
{
    const int savedErrno = errno;
    const int fd = signalPipe.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(number);
        // A full pipe already holds signals enough to act on.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

EndSignals::EndSignals(Handler onSignal) : onSignal_(std::move(onSignal))
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // the signals keep their default: they end the program at once
    readFd_ = fds[0];
    writeFd_ = fds[1];
    notifier_ = std::make_unique<QSocketNotifier>(readFd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { deliverPending(); });
    signalPipe.store(writeFd_);

    struct sigaction action = {};
    action.sa_handler = noteEndSignal;
    sigemptyset(&action.sa_mask);
    // Restarted: a read or write of another thread goes on undisturbed.
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        if (::sigaction(kSignals[i], nullptr, &previous_[i]) != 0 || previous_[i].sa_handler == SIG_IGN)
            continue;
        installed_[i] = ::sigaction(kSignals[i], &action, nullptr) == 0;
    }
}

EndSignals::~EndSignals()
{
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        if (installed_[i])
            ::sigaction(kSignals[i], &previous_[i], nullptr);
    }
    signalPipe.store(-1);
    notifier_.reset();
    if (readFd_ >= 0) {
        ::close(readFd_);
        ::close(writeFd_);
    }
}

void EndSignals::deliverPending()
{
    unsigned char numbers[16];
    ssize_t n;
    while ((n = ::read(readFd_, numbers, sizeof numbers)) > 0 || (n < 0 && errno == EINTR)) {
        for (ssize_t i = 0; i < n; ++i)
            onSignal_(numbers[i]);
    }
}

} // namespace Platform
