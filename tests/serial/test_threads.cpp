// The serial component's event and write threads on the scripted fake
// device: dispatch onto the GUI thread, dispatch order, dispatchers, the
// write queue with its drain, room and purge rules, closing while calls are
// queued, failing writes, and the small helpers (time-out, queue).
#include "FakeCommDriver.h"
#include "SerTestUtil.h"

#include "../support/ScriptedPrompter.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <thread>

using namespace Platform;
using namespace SerialTest;

namespace {

bool onGuiThread()
{
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Records what a dispatcher's owner was given.
class RecordingUser final : public ISerCommUser {
public:
    std::vector<uint32_t> events;
    std::string bytes;
    void HandleCommEvent(uint32_t Events) override { events.push_back(Events); }
    void HandleRxBuf(PSerData Data, int Count) override { bytes.append(reinterpret_cast<const char *>(Data), Count); }
};

class CountingDisplay final : public TSerDisplay {
public:
    int updates = 0;
    QObject *owner = nullptr;
    void UpdateDisplay(QObject *AOwner) override
    {
        ++updates;
        owner = AOwner;
    }
};

} // namespace

TEST(SerEvents, RxCharReportsTheBytesWaitingOnTheGuiThread)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    std::vector<int> counts;
    std::string got;
    bool guiThread = false;
    comm->OnRxChar = [&](QObject *sender, int Count) {
        EXPECT_EQ(sender, comm.get());
        guiThread = onGuiThread();
        counts.push_back(Count);
        for (uint8_t c; Count-- > 0 && comm->ReadChar(c);)
            got += char(c);
    };
    comm->Open();
    fake.receive("abcde");
    ASSERT_TRUE(pumpUntil([&] { return got.size() == 5; }));
    EXPECT_EQ(counts, std::vector<int>{5});
    EXPECT_TRUE(guiThread);
    EXPECT_EQ(got, "abcde");

    // An event whose bytes were already read fires nothing.
    fake.raise(EV_RXCHAR);
    pumpFor(30);
    EXPECT_EQ(counts.size(), 1u);
}

TEST(SerEvents, PortWithoutHandlerKeepsItsBytes)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->Open();
    fake.receive("abc");
    ASSERT_TRUE(pumpUntil([&] { return fake.count("ClearCommError") >= 1; }));
    pumpFor(20);
    EXPECT_EQ(comm->ReadBufUsed(), 3);
    int count = 0;
    comm->OnRxChar = [&](QObject *, int Count) {
        count = Count;
        comm->PurgeRead();
    };
    fake.receive("d");
    ASSERT_TRUE(pumpUntil([&] { return count != 0; }));
    EXPECT_EQ(count, 4);
}

TEST(SerEvents, HandlersFireInTheirOrder)
{
    for (bool direct : {false, true}) {
        FakeCommDriver fake;
        auto comm = fakeComm();
        comm->SetDirectWrite(direct);
        TSerCommEvents all;
        for (int i = 0; i < SerCommEventCount; ++i)
            all.include(TSerCommEvent(i));
        comm->SetMonitorEvents(all);
        std::vector<std::string> fired;
        auto note = [&](const char *name) { return [&fired, name](QObject *) { fired.push_back(name); }; };
        comm->OnBreak = note("Break");
        comm->OnCts = note("Cts");
        comm->OnDsr = note("Dsr");
        comm->OnRing = note("Ring");
        comm->OnRlsd = note("Rlsd");
        comm->OnRxFlag = note("RxFlag");
        comm->OnTxEmpty = note("TxEmpty");
        comm->OnPErr = note("PErr");
        comm->OnRx80Full = note("Rx80Full");
        comm->OnEvent1 = note("Event1");
        comm->OnEvent2 = note("Event2");
        comm->OnError = [&](QObject *, int Errors) { fired.push_back("Error" + std::to_string(Errors)); };
        comm->Open();
        fake.setLineErrors(CE_FRAME);
        fake.raise(0x1FFE); // every event but EV_RXCHAR
        ASSERT_TRUE(pumpUntil([&] { return fired.size() >= (direct ? 12u : 11u); }));
        std::vector<std::string> expected = {"Error8", "RxFlag", "Cts",  "Dsr",      "Ring",   "Rlsd",
                                             "Break",  "PErr",   "Rx80Full", "Event1", "Event2"};
        if (direct)
            expected.insert(expected.begin() + 6, "TxEmpty");
        EXPECT_EQ(fired, expected) << "direct=" << direct;
    }
}

TEST(SerEvents, LineErrorsArrivingWithBytesAreClearedByTheByteCount)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    int errors = 0, rx = 0;
    comm->OnError = [&](QObject *, int) { ++errors; };
    comm->OnRxChar = [&](QObject *, int) {
        ++rx;
        comm->PurgeRead();
    };
    comm->Open();
    fake.setLineErrors(CE_OVERRUN);
    fake.preload("x");
    fake.raise(EV_RXCHAR | EV_ERR);
    ASSERT_TRUE(pumpUntil([&] { return rx == 1; }));
    pumpFor(20);
    EXPECT_EQ(errors, 0);
    fake.setLineErrors(CE_OVERRUN);
    fake.raise(EV_ERR);
    ASSERT_TRUE(pumpUntil([&] { return errors == 1; }));
}

TEST(SerEvents, DispatchersTakeTheBytesInsteadOfOnRxChar)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    auto user = std::make_shared<RecordingUser>();
    auto dispatcher = std::make_unique<TSerDispatcher>(user);
    int rxChar = 0;
    std::vector<std::string> rxBuf;
    comm->OnRxChar = [&](QObject *, int) { ++rxChar; };
    comm->OnRxBuf = [&](QObject *, PSerData Data, int Count) {
        EXPECT_EQ(user->bytes.size(), rxBuf.empty() ? 3u : 3u) << "dispatchers first";
        rxBuf.emplace_back(reinterpret_cast<const char *>(Data), Count);
    };
    comm->InsertClient(dispatcher.get());
    EXPECT_EQ(dispatcher->Comm(), comm.get());
    comm->Open();

    fake.receive("xyz");
    ASSERT_TRUE(pumpUntil([&] { return rxBuf.size() == 1; }));
    EXPECT_EQ(user->bytes, "xyz");
    EXPECT_EQ(rxBuf[0], "xyz");

    // Disabled controls: the dispatchers get nothing, OnRxBuf still fires,
    // with only the bytes the driver handed out.
    comm->DisableControls();
    fake.readLimit = 2;
    fake.receive("1234");
    ASSERT_TRUE(pumpUntil([&] { return rxBuf.size() == 2; }));
    EXPECT_EQ(rxBuf[1], "12");
    EXPECT_EQ(user->bytes, "xyz");
    EXPECT_EQ(rxChar, 0);

    comm->EnableControls();
    fake.raise(EV_ERR);
    ASSERT_TRUE(pumpUntil([&] { return !user->events.empty(); }));
    EXPECT_EQ(user->events[0], EV_ERR);

    // A freed dispatcher detaches itself; a double insert leaves nothing behind.
    comm->InsertClient(dispatcher.get());
    dispatcher.reset();
    EXPECT_EQ(comm->ClientCount(), 0);
}

TEST(SerEvents, DisplayIsToldOfEveryDispatchAndForgottenWhenFreed)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    auto *display = new CountingDisplay;
    comm->SetDisplay(display);
    comm->Open();
    fake.raise(EV_ERR);
    ASSERT_TRUE(pumpUntil([&] { return display->updates == 1; }));
    EXPECT_EQ(display->owner, comm.get());
    delete display;
    EXPECT_EQ(comm->Display(), nullptr);
    fake.raise(EV_ERR);
    pumpFor(20); // no call into the freed display
}

TEST(SerEvents, HandlerExceptionIsShownAndDispatchGoesOn)
{
    FakeCommDriver fake;
    TestSupport::ScriptedPrompter prompter;
    auto comm = fakeComm();
    int calls = 0;
    comm->OnRxChar = [&](QObject *, int) {
        comm->PurgeRead();
        if (++calls == 1)
            throw ESerCommError("handler failed");
    };
    comm->Open();
    fake.receive("a");
    ASSERT_TRUE(pumpUntil([&] { return prompter.messages.size() == 1; }));
    fake.receive("b");
    ASSERT_TRUE(pumpUntil([&] { return calls == 2; }));
    EXPECT_EQ(prompter.texts(), QStringList{"handler failed"});
}

TEST(SerEvents, UnsyncedHandlersRunOnTheEventThread)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->SetSyncThreads(false);
    std::atomic<int> fired{0};
    std::atomic<bool> gui{true};
    comm->OnRxChar = [&](QObject *, int) {
        gui = onGuiThread();
        comm->PurgeRead();
        ++fired;
    };
    comm->Open();
    fake.receive("q");
    QElapsedTimer timer;
    timer.start();
    while (fired == 0 && timer.elapsed() < 2000)
        QThread::msleep(1); // no event processing: the handler must not need the GUI thread
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(gui);
    comm->Close();
}

TEST(SerClosing, CloseWithAQueuedDispatchNeitherHangsNorRunsIt)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    int rx = 0, txEmpty = 0;
    comm->OnRxChar = [&](QObject *, int) { ++rx; };
    comm->OnTxEmpty = [&](QObject *) { ++txEmpty; };
    comm->Open();
    fake.receive("abc");
    ASSERT_TRUE(comm->WriteText("z"));
    for (int i = 0; i < 2000 && fake.writtenBytes().empty(); ++i)
        QThread::msleep(1); // no event processing here
    QThread::msleep(20); // both threads now wait for the GUI thread
    QElapsedTimer timer;
    timer.start();
    comm->Close();
    EXPECT_LT(timer.elapsed(), 1000);
    pumpFor(30);
    EXPECT_EQ(rx, 0);
    EXPECT_EQ(txEmpty, 0);
}

TEST(SerClosing, HandlerMayCloseThePort)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    int rx = 0;
    comm->OnRxChar = [&](QObject *, int) {
        ++rx;
        comm->Close();
    };
    comm->Open();
    fake.receive("abc");
    ASSERT_TRUE(pumpUntil([&] { return rx == 1 && !comm->Active(); }));
    comm->Open(); // and it opens again
    EXPECT_TRUE(comm->Active());
}

TEST(SerClosing, CloseDoesNotWaitForAHandlerWhileHoldingItsLock)
{
    // Unsynced, the handler runs on the event thread and needs the global
    // lock for its queries while Close waits for that thread to end.
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->SetSyncThreads(false);
    std::atomic<bool> inHandler{false};
    std::atomic<int> after{-1};
    comm->OnRxChar = [&](QObject *, int) {
        inHandler = true;
        QThread::msleep(50);
        after = comm->ReadBufUsed();
    };
    comm->Open();
    fake.receive("abc");
    for (int i = 0; i < 2000 && !inHandler; ++i)
        QThread::msleep(1);
    ASSERT_TRUE(inHandler);
    QElapsedTimer timer;
    timer.start();
    comm->Close();
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(after, 3); // the handler finished with the port still open
}

namespace {
// A component whose thread start fails after its threads were started.
class FailingStartComm final : public TSerComm {
public:
    int starts = 0;

protected:
    void StartPortThreads() override
    {
        TSerComm::StartPortThreads();
        if (++starts == 1)
            throw ESerCommError("start failed");
    }
};
} // namespace

TEST(SerClosing, FailedThreadStartStopsTheStartedThreads)
{
    FakeCommDriver fake;
    FailingStartComm comm;
    comm.SetDeviceName(FakeCommDriver::path());
    comm.SetClosePause(0);
    EXPECT_EQ(serError([&] { comm.Open(); }), "start failed");
    EXPECT_FALSE(comm.Active());
    EXPECT_FALSE(fake.open);
    const int waits = fake.count("WaitCommEvent");
    pumpFor(20);
    EXPECT_EQ(fake.count("WaitCommEvent"), waits); // no event thread left waiting
    comm.Open();
    fake.receive("a");
    EXPECT_TRUE(comm.Active());
}

TEST(SerWriteQueue, BytesLeaveInOrderAndTxEmptyFiresOncePerDrain)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    int txEmpty = 0;
    bool gui = false;
    comm->OnTxEmpty = [&](QObject *) {
        ++txEmpty;
        gui = onGuiThread();
    };
    comm->Open();
    fake.stallWrites(1);
    ASSERT_TRUE(comm->WriteChar('a'));
    ASSERT_TRUE(fake.waitWriteStalled());
    ASSERT_TRUE(comm->WriteChar('b')); // queued behind the write in flight
    ASSERT_TRUE(comm->WriteText("cd"));
    fake.release();
    ASSERT_EQ(fake.waitWritten(4), "abcd");
    ASSERT_TRUE(pumpUntil([&] { return txEmpty == 1; }));
    pumpFor(30);
    EXPECT_EQ(txEmpty, 1);
    EXPECT_TRUE(gui);
    EXPECT_EQ(comm->WriteBufUsed(), 0);

    ASSERT_TRUE(comm->WriteText("ef"));
    ASSERT_TRUE(pumpUntil([&] { return txEmpty == 2; }));
    EXPECT_EQ(fake.writtenBytes(), "abcdef");
}

TEST(SerWriteQueue, FullQueueWaitsForRoomThenGivesUp)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->Buffers().SetWriteSize(4);
    comm->Buffers().SetWriteTimeout(40);
    comm->Open();
    fake.stallWrites(0);
    ASSERT_TRUE(comm->WriteText("abc"));
    ASSERT_TRUE(fake.waitWriteStalled());
    EXPECT_EQ(comm->WriteBufFree(), 1);
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(comm->WriteChar('d')); // exactly fills the queue, at once
    EXPECT_LT(timer.elapsed(), 30);
    timer.restart();
    EXPECT_EQ(serError([&] { comm->WriteChar('e'); }), "Output buffer is full. Please check comm status.");
    EXPECT_GE(timer.elapsed(), 40);
    EXPECT_EQ(comm->WriteBufUsed(), 4);

    // A writer waiting for room goes on as soon as the queue drains.
    comm->Buffers().SetWriteTimeout(3000);
    std::thread drain([&] {
        QThread::msleep(20);
        fake.release();
    });
    timer.restart();
    ASSERT_TRUE(comm->WriteText("ef"));
    EXPECT_LT(timer.elapsed(), 2000);
    drain.join();
    // After each drain the write thread reports to the GUI thread: pump.
    EXPECT_TRUE(pumpUntil([&] { return fake.writtenBytes() == "abcdef"; })) << fake.writtenBytes();
}

TEST(SerWriteQueue, PurgeDuringAWriteInFlightKeepsLaterBytesOnly)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->Open();
    fake.stallWrites(2); // the driver takes "01", then the write stalls
    ASSERT_TRUE(comm->WriteText("0123456789"));
    ASSERT_TRUE(fake.waitWriteStalled());
    ASSERT_TRUE(comm->WriteText("AB"));
    comm->PurgeWrite();
    EXPECT_EQ(comm->WriteBufUsed(), 0);
    EXPECT_EQ(comm->WriteBufFree(), 2048);
    fake.release();
    ASSERT_TRUE(comm->WriteText("xyz"));
    EXPECT_EQ(fake.waitWritten(5), "01xyz");
    ASSERT_TRUE(pumpUntil([&] { return comm->WriteBufUsed() == 0; }));
    pumpFor(20);
    EXPECT_EQ(fake.writtenBytes(), "01xyz");
}

TEST(SerWriteQueue, FailingWritesGiveOneErrorEventPerRunAndDoNotSpin)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    auto user = std::make_shared<RecordingUser>();
    TSerDispatcher dispatcher(user);
    comm->InsertClient(&dispatcher);
    comm->Open();
    fake.failWrites(EIO);
    ASSERT_TRUE(comm->WriteText("hi"));
    pumpFor(400);
    EXPECT_EQ(user->events, std::vector<uint32_t>{EV_ERR});
    const int tries = fake.count("WriteFile");
    EXPECT_GE(tries, 2);  // retried ...
    EXPECT_LE(tries, 4);  // ... after a pause, not in a loop
    fake.failWrites(0);
    EXPECT_EQ(fake.waitWritten(2), "hi"); // the queued bytes survive the failures
    ASSERT_TRUE(pumpUntil([&] { return user->events.size() == 2; }));
    EXPECT_EQ(user->events[1], EV_TXEMPTY);
    fake.failWrites(EIO);
    ASSERT_TRUE(comm->WriteChar('!'));
    ASSERT_TRUE(pumpUntil([&] { return user->events.size() == 3; }));
    EXPECT_EQ(user->events[2], EV_ERR); // a new run of failures reports again
    comm->Close();
}

TEST(SerWriteQueue, TxEmptyHandlerExceptionIsCaughtAndDrainingGoesOn)
{
    for (bool sync : {true, false}) {
        FakeCommDriver fake;
        TestSupport::ScriptedPrompter prompter;
        auto comm = fakeComm();
        comm->SetSyncThreads(sync);
        std::atomic<int> calls{0};
        comm->OnTxEmpty = [&](QObject *) {
            ++calls;
            throw ESerCommError("tx handler failed");
        };
        comm->Open();
        ASSERT_TRUE(comm->WriteChar('1'));
        ASSERT_TRUE(pumpUntil([&] { return calls == 1 && prompter.messages.size() == 1; })) << sync;
        ASSERT_TRUE(comm->WriteChar('2'));
        ASSERT_TRUE(pumpUntil([&] { return calls == 2; })) << sync;
        EXPECT_EQ(fake.writtenBytes(), "12");
        comm->Close();
    }
}

TEST(SerHelpers, TimeoutCountsAcrossTheTickWrap)
{
    setTickOffset(0);
    const uint32_t now = tickCount();
    setTickOffset(0xFFFFFFFFu - now - 5); // 5 ms before the wrap
    TSerTimeout t;
    StartTimeout(t, 20);
    EXPECT_GT(t.Start, 0xFFFFFFF0u);
    EXPECT_FALSE(TimedOut(t));
    QThread::msleep(30);
    EXPECT_LT(tickCount(), 1000u); // wrapped
    EXPECT_TRUE(TimedOut(t));
    EXPECT_EQ(TimeLeft(t), 0u);
    setTickOffset(0);

    EXPECT_TRUE(EventInMask(EV_RXCHAR | EV_ERR, EV_ERR));
    EXPECT_FALSE(EventInMask(EV_RXCHAR, EV_ERR));
}

TEST(SerHelpers, QueueKeepsItsBytesAtTheFront)
{
    TSerCommBuffer q(8);
    q.Write("abcdef", 6);
    char out[8] = {};
    q.Peek(out, 2);
    EXPECT_EQ(std::string(out, 2), "ab");
    q.Read(out, 3);
    EXPECT_EQ(std::string(out, 3), "abc");
    EXPECT_EQ(q.Size(), 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(q.DataPtr()), 3), "def");
    q.Remove(10); // never below zero
    EXPECT_EQ(q.Size(), 0);
    q.Write("123456789", 9); // never beyond the capacity
    EXPECT_EQ(q.Size(), 8);
    const uint64_t g = q.Generation();
    q.Clear();
    EXPECT_EQ(q.Size(), 0);
    EXPECT_EQ(q.Generation(), g + 1);
}

TEST(SerHelpers, EventsAndLocks)
{
    TSerWaitEvent e;
    EXPECT_EQ(e.WaitFor(0), wrTimeout);
    e.SetEvent();
    EXPECT_EQ(e.WaitFor(0), wrSignaled);
    EXPECT_EQ(e.WaitFor(0), wrSignaled); // manual reset
    e.ResetEvent();
    EXPECT_EQ(e.WaitFor(5), wrTimeout);
    EXPECT_GE(e.Handle(), 0);

    TSerCriticalSection cs;
    cs.Enter();
    cs.Acquire(); // re-entrant
    cs.Release();
    cs.Leave();
}
