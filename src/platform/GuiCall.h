// Calls from a worker thread onto the GUI thread.
//
// A worker hands a call to a GuiCallChannel and blocks until the GUI thread
// has run it (the call is queued onto the application object's thread and
// runs when that thread processes its events). cancel() wakes every blocked
// caller at once and makes later calls return false without running, so the
// GUI thread can cancel the channel and then join its workers without
// deadlock. A call already made on the GUI thread runs directly.
//
// An exception from a call goes to Platform::handleException and never
// crosses the event loop or reaches the worker.
#pragma once

#include <functional>
#include <memory>

namespace Platform {

class GuiCallChannel {
public:
    GuiCallChannel();
    ~GuiCallChannel(); // cancels
    GuiCallChannel(const GuiCallChannel &) = delete;
    GuiCallChannel &operator=(const GuiCallChannel &) = delete;

    // Runs fn on the GUI thread and returns true once it ran (also when it
    // threw). Returns false without running fn when the channel is cancelled,
    // before or while waiting, or when there is no application object.
    // When cancel() comes while fn is already running, the caller returns false
    // at once and fn finishes on the GUI thread: fn must capture nothing that
    // the worker frees when it ends.
    bool call(std::function<void()> fn);

    // Wakes every blocked caller (their calls return false) and refuses new
    // calls until rearm(). Calls still queued are dropped unrun.
    void cancel();
    // Accepts calls again after cancel() (a port opened anew).
    void rearm();
    bool cancelled() const;

    // True on the thread of the application object (the GUI thread).
    static bool onGuiThread();

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace Platform
