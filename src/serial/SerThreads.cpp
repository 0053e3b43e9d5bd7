// The serial component's worker threads, its write queue, its dispatchers
// and the poller behind WaitChar.
#include "serial/SerComm.h"

#include "platform/Prompter.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

using namespace Platform;

// ------------------------------------------------------------ the queue ----

TSerCommBuffer::TSerCommBuffer(int BufSize) : FData(size_t(std::max(BufSize, 0))) {}

void TSerCommBuffer::Clear()
{
    FSize = 0;
    ++FGeneration;
}

void TSerCommBuffer::Write(const void *Buf, int Count)
{
    const int size = Size();
    Count = std::min(Count, Capacity() - size);
    if (Count <= 0)
        return;
    std::memcpy(FData.data() + size, Buf, size_t(Count));
    FSize = size + Count;
}

void TSerCommBuffer::Peek(void *Buf, int Count) const
{
    Count = std::min(Count, Size());
    if (Count > 0)
        std::memcpy(Buf, FData.data(), size_t(Count));
}

void TSerCommBuffer::Read(void *Buf, int Count)
{
    Count = std::min(Count, Size());
    Peek(Buf, Count);
    Remove(Count);
}

void TSerCommBuffer::Remove(int Count)
{
    const int size = Size();
    Count = std::min(Count, size);
    if (Count <= 0)
        return;
    std::memmove(FData.data(), FData.data() + Count, size_t(size - Count));
    FSize = size - Count;
}

// ------------------------------------------------------ the event thread ---

TSerCommEventThread::TSerCommEventThread(TSerCustomComm *AOwner) : FOwner(AOwner) {}

TSerCommEventThread::~TSerCommEventThread() = default;

void TSerCommEventThread::Stop()
{
    FTerminated = true;
    FEvent.SetEvent(); // wakes the event wait; Stop is never undone
}

void TSerCommEventThread::run()
{
    Execute();
}

void TSerCommEventThread::Execute()
{
    while (!Terminated()) {
        if (WaitCommEvent(FOwner->Handle(), &FEvtMask, FEvent.Handle()))
            ProcessEvent(FEvtMask);
        else
            FEvent.WaitFor(InfiniteWait); // cancelled, or a failed wait: wait for Stop, never spin
    }
}

void TSerCommEventThread::ProcessEvent(uint32_t events)
{
    if (Terminated())
        return;
    TSerCustomComm *owner = FOwner;
    if (FSync) {
        // Captures nothing of the thread: when a handler closes the port the
        // thread may be gone before the dispatch has returned.
        owner->FSyncChannel.call([owner, events] { owner->DispatchEvents(events); });
    } else {
        owner->DispatchEvents(events);
    }
}

// ------------------------------------------------------ the write thread ---

// A notification queued onto the GUI thread; shared with the queued call so
// that it outlives the thread when the call runs after a close.
struct TSerCommWriteThread::Notice {
    std::atomic<bool> cancelled{false};
    Event done{true, false};
};

TSerCommWriteThread::TSerCommWriteThread(TSerCustomComm *AOwner)
    : FBuffer(AOwner->Buffers().WriteSize()), FOwner(AOwner), FNotice(std::make_shared<Notice>())
{
}

TSerCommWriteThread::~TSerCommWriteThread() = default;

void TSerCommWriteThread::Stop()
{
    FCloseEvent.SetEvent();
    RoomChanged(); // a writer waiting for room gives up at once
}

void TSerCommWriteThread::CancelNotices()
{
    FNotice->cancelled = true;
    FNotice->done.set(); // a notification waited for now is waited for no longer
}

void TSerCommWriteThread::run()
{
    Execute();
}

void TSerCommWriteThread::Execute()
{
    for (;;) {
        switch (waitForAny({&FCloseEvent.platformEvent(), &FFlushEvent.platformEvent(),
                            &FWriteEvent.platformEvent()},
                           InfiniteWait)) {
        case 0:
            return;
        case 1:
            AckFlush();
            break;
        case 2:
            if (!WriteQueued())
                return;
            break;
        default:
            break;
        }
    }
}

bool TSerCommWriteThread::WriteQueued()
{
    const uint8_t *data = nullptr;
    int count = 0;
    uint64_t generation = 0;
    {
        TSerCriticalSection::Guard lock(FOwner->FWriteSection);
        count = FBuffer.Size();
        data = FBuffer.DataPtr();
        generation = FBuffer.Generation();
        if (count == 0) {
            FWriteEvent.ResetEvent();
            return true;
        }
    }
    // The queue's front is not touched while the write runs: only this
    // thread removes bytes or empties the queue (a purge asks it to), and
    // writers only append behind the held bytes.
    uint32_t written = 0;
    const bool ok = WriteFile(FOwner->Handle(), data, uint32_t(count), &written, INFINITE,
                              {FCloseEvent.Handle(), FFlushEvent.Handle()});
    const int error = ok ? 0 : GetLastError();
    if (ok || written > 0)
        Complete(ok ? uint32_t(count) : written, generation);
    if (ok) {
        FFailing = false;
        return true;
    }
    if (error == ECANCELED)
        return true; // the next wait sees the close or the flush
    // A write that fails at once (an unplugged adapter) is reported once per
    // run of failures and tried again after a pause, never in a tight loop.
    if (!FFailing) {
        FFailing = true;
        if (!SignalError())
            return false;
    }
    switch (waitForAny({&FCloseEvent.platformEvent(), &FFlushEvent.platformEvent()}, RetryPauseMs)) {
    case 0:
        return false;
    case 1:
        AckFlush();
        break;
    default:
        break;
    }
    return true;
}

void TSerCommWriteThread::Complete(uint32_t written, uint64_t generation)
{
    bool drained = false;
    {
        TSerCriticalSection::Guard lock(FOwner->FWriteSection);
        // After a purge the written bytes are no longer in the queue: bytes
        // queued since then must stay.
        if (generation != FBuffer.Generation())
            return;
        FBuffer.Remove(int(std::min<uint32_t>(written, uint32_t(FBuffer.Size()))));
        if (FBuffer.Size() > 0) {
            FWriteEvent.SetEvent();
        } else {
            FWriteEvent.ResetEvent();
            drained = true;
        }
    }
    RoomChanged();
    if (drained)
        SignalTxEmpty();
}

void TSerCommWriteThread::AckFlush()
{
    // The queue is emptied here, between two writes, so that no write of
    // this thread can still be reading bytes that a purge threw away.
    {
        TSerCriticalSection::Guard lock(FOwner->FWriteSection);
        if (FFlushPending) {
            FBuffer.Clear();
            FWriteEvent.ResetEvent();
            FFlushPending = false;
        }
        FFlushEvent.ResetEvent();
    }
    RoomChanged();
    FFlushDoneEvent.SetEvent();
}

void TSerCommWriteThread::RoomChanged()
{
    {
        std::lock_guard<std::mutex> lock(FRoomMutex);
        ++FRoomChanges;
    }
    FRoom.notify_all();
}

bool TSerCommWriteThread::SignalTxEmpty()
{
    return Signal(EV_TXEMPTY);
}

bool TSerCommWriteThread::SignalError()
{
    return Signal(EV_ERR);
}

bool TSerCommWriteThread::Signal(uint32_t events)
{
    TSerCustomComm *owner = FOwner;
    if (!FSync) {
        SerGuarded([owner, events] { owner->HandleCommEvents(events); });
        return true;
    }
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return true;
    std::shared_ptr<Notice> notice = FNotice;
    notice->done.reset();
    // After the reset: a cancel from now on sets done again, so the wait below ends.
    if (notice->cancelled)
        return true;
    QMetaObject::invokeMethod(
        app,
        [notice, owner, events] {
            if (!notice->cancelled)
                guarded([owner, events] { owner->HandleCommEvents(events); });
            notice->done.set();
        },
        Qt::QueuedConnection);
    // Blocked until the GUI thread ran the notification, but still answering
    // flush requests: a purge on the GUI thread need not wait for us.
    for (;;) {
        switch (waitForAny({&FCloseEvent.platformEvent(), &FFlushEvent.platformEvent(), &notice->done},
                           InfiniteWait)) {
        case 0:
            return false;
        case 1:
            AckFlush();
            break;
        default:
            return true;
        }
    }
}

bool TSerCommWriteThread::WriteData(const void *Buf, int Count)
{
    TSerTimeout timeout;
    StartTimeout(timeout, uint32_t(std::max(FOwner->Buffers().WriteTimeout(), 0)));
    for (;;) {
        uint64_t seen;
        {
            std::lock_guard<std::mutex> lock(FRoomMutex);
            seen = FRoomChanges;
        }
        {
            // Room is checked and taken under one lock: two writers cannot
            // overfill the queue.
            TSerCriticalSection::Guard lock(FOwner->FWriteSection);
            if (int64_t(FBuffer.Size()) + Count <= FBuffer.Capacity()) {
                FBuffer.Write(Buf, Count);
                FWriteEvent.SetEvent();
                return true;
            }
        }
        if (TimedOut(timeout) || FCloseEvent.IsSet())
            return false;
        std::unique_lock<std::mutex> lock(FRoomMutex);
        FRoom.wait_for(lock, std::chrono::milliseconds(TimeLeft(timeout)) + std::chrono::milliseconds(1),
                       [&] { return FRoomChanges != seen; });
    }
}

void TSerCommWriteThread::PurgeWrite()
{
    {
        TSerCriticalSection::Guard lock(FOwner->FWriteSection);
        FFlushPending = true;
    }
    FFlushDoneEvent.ResetEvent();
    FFlushEvent.SetEvent();
    if (FFlushDoneEvent.WaitFor(PurgeAckTimeoutMs) == wrSignaled)
        return; // the thread emptied the queue when it acknowledged
    // Not acknowledged in time: withdraw the request, so that a late
    // acknowledgement cannot empty bytes queued after this purge.
    TSerCriticalSection::Guard lock(FOwner->FWriteSection);
    FFlushPending = false;
    FFlushEvent.ResetEvent();
}

// ------------------------------------------------------- WaitChar poller ---

void TWaitThread::run()
{
    // Done starts false at construction and is not cleared here: a stop
    // requested before the thread began must still end it.
    while (!Done()) {
        if (FComm->ReadBufUsed() > 0)
            return;
        std::this_thread::yield();
    }
}

// ---------------------------------------------------------- dispatchers ----

TSerDispatcher::TSerDispatcher(std::shared_ptr<ISerCommUser> AOwner) : FOwner(std::move(AOwner)) {}

TSerDispatcher::~TSerDispatcher()
{
    if (FComm)
        FComm->RemoveClient(this);
}

void TSerDispatcher::PurgeRead()
{
    if (FComm)
        FComm->PurgeRead();
}

void TSerDispatcher::PurgeWrite()
{
    if (FComm)
        FComm->PurgeWrite();
}

void TSerDispatcher::PurgeReadWrite()
{
    if (FComm)
        FComm->PurgeReadWrite();
}

int TSerDispatcher::WriteBuf(const void *Buf, int Count)
{
    return FComm ? FComm->WriteBuf(Buf, Count) : 0;
}

bool TSerDispatcher::WriteText(const std::string &s)
{
    return FComm ? FComm->WriteText(s) : false;
}

bool TSerDispatcher::WriteChar(uint8_t Ch)
{
    return FComm ? FComm->WriteChar(Ch) : false;
}

void TSerDispatcher::SetDTRState(bool Value)
{
    if (FComm)
        FComm->SetDTR(Value);
}

void TSerDispatcher::DispatchEvent(uint32_t Events)
{
    if (FActive && FOwner)
        FOwner->HandleCommEvent(Events);
}

void TSerDispatcher::DispatchRxBuf(PSerData Data, int Count)
{
    if (FActive && FOwner)
        FOwner->HandleRxBuf(Data, Count);
}
