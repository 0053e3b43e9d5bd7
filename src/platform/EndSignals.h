// The signals that ask a program to end: SIGTERM (a desktop's logout, a
// `kill`), SIGHUP (its terminal gone) and SIGINT (Ctrl+C in its terminal).
// Each arrives as a call on the GUI thread, so that the program can end as
// closing its window ends it, instead of the kernel ending it on the spot,
// with a port still held and the settings unsaved.
//
// The signal handler only writes the signal's number to a pipe of the
// watcher's own, which is all a handler may safely do; the pipe wakes the
// event loop, also the one a wait for the meter runs, and the call follows
// there. A signal that the program was started with ignored (nohup) stays
// ignored. One watcher at a time; it puts back the handlers it found when
// it goes.
#pragma once

#include <functional>
#include <iterator>
#include <memory>
#include <signal.h>

class QSocketNotifier;

namespace Platform {

class EndSignals {
public:
    using Handler = std::function<void(int signalNumber)>;

    // `onSignal` runs on the calling thread's event loop, once per signal.
    explicit EndSignals(Handler onSignal);
    ~EndSignals();
    EndSignals(const EndSignals &) = delete;
    EndSignals &operator=(const EndSignals &) = delete;

    // The signals watched.
    static constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

private:
    void deliverPending();

    Handler onSignal_;
    int readFd_ = -1;
    int writeFd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previous_[std::size(kSignals)] = {};
    bool installed_[std::size(kSignals)] = {};
};

} // namespace Platform
