#include "platform/GuiCall.h"

#include "platform/Prompter.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace Platform {

struct GuiCallChannel::State {
    std::mutex mutex;
    std::condition_variable cv;
    bool cancelled = false;
    // Bumped by every cancel(), so calls queued before it never run, even
    // after rearm().
    uint64_t generation = 0;
};

namespace {

struct CallState {
    bool done = false;
};

} // namespace

GuiCallChannel::GuiCallChannel() : m_state(std::make_shared<State>()) {}

GuiCallChannel::~GuiCallChannel() { cancel(); }

bool GuiCallChannel::onGuiThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

bool GuiCallChannel::call(std::function<void()> fn)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return false;
    if (onGuiThread()) {
        if (cancelled())
            return false;
        guarded(fn);
        return true;
    }

    const std::shared_ptr<State> state = m_state;
    const auto call = std::make_shared<CallState>();
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->cancelled)
            return false;
        generation = state->generation;
    }
    // The queued functor holds the shared state, so it is safe even after
    // the channel itself is gone.
    QMetaObject::invokeMethod(
        app,
        [state, call, generation, fn = std::move(fn)]() {
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                if (state->cancelled || state->generation != generation)
                    return;
            }
            guarded(fn);
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                call->done = true;
            }
            // Outside the lock, so the woken caller does not block on it
            // again at once (the functor's copy keeps the state alive).
            state->cv.notify_all();
        },
        Qt::QueuedConnection);

    std::unique_lock<std::mutex> lock(state->mutex);
    state->cv.wait(lock, [&] { return call->done || state->cancelled || state->generation != generation; });
    return call->done;
}

void GuiCallChannel::cancel()
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->cancelled = true;
    ++m_state->generation;
    m_state->cv.notify_all();
}

void GuiCallChannel::rearm()
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->cancelled = false;
}

bool GuiCallChannel::cancelled() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->cancelled;
}

} // namespace Platform
