#include "platform/GuiCall.h"
#include "support/ScriptedPrompter.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

using namespace Platform;

namespace {

// Pumps the GUI thread's events until `done` or about two seconds passed.
void pumpUntil(const std::function<bool()> &done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::yield();
    }
}

} // namespace

TEST(GuiCall, AWorkerBlocksUntilTheCallRanOnTheGuiThread)
{
    GuiCallChannel channel;
    QThread *ranOn = nullptr;
    std::atomic<bool> returned{false};
    std::atomic<bool> result{false};
    std::atomic<bool> ranBeforeReturn{false};
    std::atomic<bool> ran{false};
    std::thread worker([&] {
        result = channel.call([&] {
            ranOn = QThread::currentThread();
            ran = true;
        });
        ranBeforeReturn = ran.load();
        returned = true;
    });
    // Without event processing the call cannot run, so the worker waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(returned);
    pumpUntil([&] { return returned.load(); });
    worker.join();
    EXPECT_TRUE(result);
    EXPECT_TRUE(ranBeforeReturn);
    EXPECT_EQ(ranOn, QCoreApplication::instance()->thread());
}

TEST(GuiCall, CancelWakesEveryBlockedCallerAndTheirCallsNeverRun)
{
    GuiCallChannel channel;
    std::atomic<int> ran{0};
    std::atomic<int> returnedFalse{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i) {
        workers.emplace_back([&] {
            if (!channel.call([&] { ++ran; }))
                ++returnedFalse;
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // all three are queued and blocked
    channel.cancel(); // the GUI thread processes no events: only cancel can free them
    for (auto &w : workers)
        w.join();
    EXPECT_EQ(returnedFalse, 3);
    QCoreApplication::processEvents();
    EXPECT_EQ(ran, 0) << "calls dropped by cancel stay unrun";

    // Refused at once while cancelled, accepted again after rearm.
    std::atomic<bool> result{true};
    std::thread late([&] { result = channel.call([&] { ++ran; }); });
    late.join();
    EXPECT_FALSE(result);
    channel.rearm();
    std::atomic<bool> done{false};
    std::thread again([&] {
        result = channel.call([&] { ++ran; });
        done = true;
    });
    pumpUntil([&] { return done.load(); });
    again.join();
    EXPECT_TRUE(result);
    EXPECT_EQ(ran, 1);
}

TEST(GuiCall, ACallFromTheGuiThreadRunsDirectly)
{
    GuiCallChannel channel;
    bool ran = false;
    EXPECT_TRUE(channel.call([&] { ran = true; }));
    EXPECT_TRUE(ran);
    channel.cancel();
    ran = false;
    EXPECT_FALSE(channel.call([&] { ran = true; }));
    EXPECT_FALSE(ran);
}

TEST(GuiCall, AnExceptionGoesToTheHandlerAndNeitherToTheLoopNorTheWorker)
{
    TestSupport::ScriptedPrompter prompter;
    GuiCallChannel channel;
    std::atomic<bool> done{false};
    std::atomic<bool> result{false};
    std::thread worker([&] {
        result = channel.call([] { throw std::runtime_error("Handler failed"); });
        done = true;
    });
    pumpUntil([&] { return done.load(); });
    worker.join();
    EXPECT_TRUE(result) << "the call ran, even though it threw";
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text, "Handler failed");

    EXPECT_TRUE(channel.call([] { throw std::runtime_error("On the GUI thread"); }));
    ASSERT_EQ(prompter.messages.size(), 2u);
    EXPECT_EQ(prompter.messages[1].text, "On the GUI thread");
}

TEST(GuiCall, AQueuedCallOutlivesItsChannelSafely)
{
    std::atomic<bool> done{false};
    std::atomic<bool> ran{false};
    auto channel = std::make_unique<GuiCallChannel>();
    std::thread worker([&] {
        channel->call([&] { ran = true; });
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    channel->cancel();
    worker.join();
    channel.reset(); // destroyed while its call still sits in the event queue
    QCoreApplication::processEvents();
    EXPECT_TRUE(done);
    EXPECT_FALSE(ran);
}
