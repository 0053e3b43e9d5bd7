// The serial component: one comm device per component, opened by port number
// ("COM%d" through the port map), with an event thread that hands received
// bytes and line events to the handlers below and a write thread that drains
// a byte queue to the device.
//
// With SyncThreads true (the default) every handler runs on the GUI thread;
// the worker waits until the GUI thread ran it, and the next event is waited
// for only after the handler returned. Exceptions that leave a handler go to
// the application's exception handler (Platform::handleException).
//
// Typical use:
//   auto *comm = new TSerComm(owner);
//   comm->SetBaudrate(br9600);
//   comm->Buffers().SetWriteSize(4096);
//   comm->FlowControl().SetControlDtr(dtrDisabled);
//   comm->SetPortNum(3);
//   comm->OnRxChar = [comm](QObject *, int Count) { uint8_t c; while (Count-- && comm->ReadChar(c)) ...; };
//   comm->Open();                 // raises ESerCommError on failure
//   comm->WriteChar(0x3A);        // queued for the write thread
#pragma once

#include "platform/CommApi.h"
#include "platform/GuiCall.h"
#include "serial/SerClasses.h"
#include "serial/SerDisplay.h"
#include "serial/SerObjects.h"
#include "serial/SerPrst.h"
#include "serial/SerTypes.h"

#include <QPointer>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TSerCustomComm;

using TNotifyEvent = std::function<void(QObject *Sender)>;
using TSerCommErrorEvent = std::function<void(QObject *Sender, int Errors)>;
using TSerCommRxCharEvent = std::function<void(QObject *Sender, int Count)>;
using TSerCommRxBufEvent = std::function<void(QObject *Sender, PSerData Data, int Count)>;

// ------------------------------------------------------------ clients ------

// An object that receives a component's events through a dispatcher.
class ISerCommUser {
public:
    virtual ~ISerCommUser() = default;
    virtual void HandleCommEvent(uint32_t Events) = 0;
    virtual void HandleRxBuf(PSerData Data, int Count) = 0;
};

// Connects one ISerCommUser to a component (TSerCustomComm::InsertClient).
// While any dispatcher is attached, received bytes are read by the component
// and handed to the dispatchers instead of firing OnRxChar.
class TSerDispatcher {
public:
    explicit TSerDispatcher(std::shared_ptr<ISerCommUser> AOwner);
    virtual ~TSerDispatcher(); // detaches itself

    bool Active() const { return FActive; }
    void SetActive(bool v) { FActive = v; }
    TSerCustomComm *Comm() const { return FComm; }

    // Forward to Comm when attached; otherwise nothing, 0 or false.
    void PurgeRead();
    void PurgeWrite();
    void PurgeReadWrite();
    int WriteBuf(const void *Buf, int Count);
    bool WriteText(const std::string &s);
    bool WriteChar(uint8_t Ch);
    void SetDTRState(bool Value);

    virtual void DispatchEvent(uint32_t Events);
    virtual void DispatchRxBuf(PSerData Data, int Count);

private:
    friend class TSerCustomComm;
    bool FActive = true;
    TSerCustomComm *FComm = nullptr;
    std::shared_ptr<ISerCommUser> FOwner;
};

// ---------------------------------------------------------- the queue ------

// The write queue: a linear byte block whose held bytes always start at its
// first byte. Not locked itself: the component's write lock guards it.
class TSerCommBuffer {
public:
    explicit TSerCommBuffer(int BufSize);

    const uint8_t *DataPtr() const { return FData.data(); }
    int Size() const { return FSize.load(std::memory_order_relaxed); }
    int Capacity() const { return int(FData.size()); }
    // Rises with every Clear, so a write started before a purge can tell
    // that its bytes are no longer in the queue.
    uint64_t Generation() const { return FGeneration; }

    void Clear();
    // Appends Count bytes; the caller made sure there is room.
    void Write(const void *Buf, int Count);
    void Read(void *Buf, int Count);
    void Peek(void *Buf, int Count) const;
    // Drops the first Count bytes (never more than are held).
    void Remove(int Count);

private:
    std::vector<uint8_t> FData;
    std::atomic<int> FSize{0};
    uint64_t FGeneration = 0;
};

// ---------------------------------------------------------- threads --------

class TSerCommEventThread : public QThread {
    Q_OBJECT
public:
    explicit TSerCommEventThread(TSerCustomComm *AOwner);
    ~TSerCommEventThread() override;

    // Ends the thread at its current wait, without a dispatch.
    void Stop();
    bool Sync() const { return FSync; }
    void SetSync(bool v) { FSync = v; }
    bool Terminated() const { return FTerminated.load(); }

protected:
    void run() override; // Execute

private:
    void Execute();
    void ProcessEvent(uint32_t events);

    uint32_t FEvtMask = 0;
    TSerWaitEvent FEvent;
    TSerCustomComm *FOwner;
    bool FSync = true;
    std::atomic<bool> FTerminated{false};
};

class TSerCommWriteThread : public QThread {
    Q_OBJECT
public:
    explicit TSerCommWriteThread(TSerCustomComm *AOwner);
    ~TSerCommWriteThread() override;

    void Stop();
    // Makes notifications still queued for the GUI thread do nothing (Close).
    void CancelNotices();
    // Queues Count bytes, waiting up to the owner's WriteTimeout for room.
    bool WriteData(const void *Buf, int Count);
    // Asks the thread to empty the queue between two writes and waits up to
    // 2000 ms for it; without an acknowledgement the queue stays as it is.
    void PurgeWrite();
    TSerCommBuffer &Buffer() { return FBuffer; }
    bool Sync() const { return FSync; }
    void SetSync(bool v) { FSync = v; }

    // Pause before a write that failed at once is tried again.
    static constexpr uint32_t RetryPauseMs = 250;
    static constexpr uint32_t PurgeAckTimeoutMs = 2000;

protected:
    void run() override; // Execute

private:
    struct Notice; // a queued notification of the GUI thread
    void Execute();
    // One pass over the queue; false when the thread is to end.
    bool WriteQueued();
    void Complete(uint32_t written, uint64_t generation);
    void AckFlush();
    void RoomChanged();
    // Tell the owner of a drained queue / a failed write; false when closing.
    bool SignalTxEmpty();
    bool SignalError();
    bool Signal(uint32_t events);

    TSerCommBuffer FBuffer;
    TSerWaitEvent FWriteEvent;
    TSerWaitEvent FCloseEvent;
    TSerWaitEvent FFlushEvent;
    TSerWaitEvent FFlushDoneEvent;
    TSerCustomComm *FOwner;
    bool FSync = true;
    bool FFailing = false;      // inside a run of failed writes: one error event per run
    bool FFlushPending = false; // a purge waits for its acknowledgement (write lock)
    std::shared_ptr<Notice> FNotice;

    std::mutex FRoomMutex;
    std::condition_variable FRoom;
    uint64_t FRoomChanges = 0;
};

// Polls for a received byte until one waits or Done is set (WaitChar).
class TWaitThread : public QThread {
    Q_OBJECT
public:
    explicit TWaitThread(TSerCustomComm *AComm) : FComm(AComm) {}
    TSerCustomComm *Comm() const { return FComm; }
    bool Done() const { return FDone.load(); }
    void SetDone(bool v) { FDone.store(v); }

protected:
    void run() override;

private:
    TSerCustomComm *FComm;
    std::atomic<bool> FDone{false};
};

// ------------------------------------------------------- the component -----

class TSerCustomComm : public TSerComponent {
    Q_OBJECT
public:
    explicit TSerCustomComm(QObject *AOwner = nullptr);
    ~TSerCustomComm() override;

    // ---- opening and closing
    // Opens and configures the device and starts the threads; raises
    // ESerCommError and stays closed on any failure.
    void Open();
    // Stops the threads, closes the device, fires OnClose, waits 300 ms.
    void Close();
    bool Active() const { return FHandle.load() != Platform::INVALID_HANDLE_VALUE; }
    Platform::HANDLE Handle() const { return FHandle.load(); }
    // What a form load does: opens when AutoOpen is set.
    virtual void Loaded();
    // DeviceName formatted with PortNum ("COM3").
    std::string GetDeviceName() const;
    // The device path GetDeviceName resolves to through the port map, or the
    // name itself when the map does not know it.
    std::string GetDevicePath() const;

    // ---- line settings (pushed to an open port at once)
    TSerBaudrate Baudrate() const { return FBaudrate; }
    void SetBaudrate(TSerBaudrate v);
    int32_t UserBaudrate() const { return FUserBaudrate; }
    void SetUserBaudrate(int32_t v);
    TSerParity Parity() const { return FParity; }
    void SetParity(TSerParity v);
    TSerDatabits Databits() const { return FDatabits; }
    void SetDatabits(TSerDatabits v);
    TSerStopbits Stopbits() const { return FStopbits; }
    void SetStopbits(TSerStopbits v);
    TSerCommOptions Options() const { return FOptions; }
    void SetOptions(TSerCommOptions v);
    TSerEventChars &EventChars() { return FEventChars; }
    void SetEventChars(const TSerEventChars &v) { FEventChars.Assign(&v); }
    TSerFlowControl &FlowControl() { return FFlowControl; }
    void SetFlowControl(const TSerFlowControl &v) { FFlowControl.Assign(&v); }

    // ---- settings refused while open
    TSerPortInt PortNum() const { return FPortNum; }
    void SetPortNum(TSerPortInt v);
    std::string DeviceName() const { return FDeviceName; }
    void SetDeviceName(const std::string &v);
    TSerCommEvents MonitorEvents() const { return FMonitorEvents; }
    void SetMonitorEvents(TSerCommEvents v);
    TSerBuffers &Buffers() { return FBuffers; }
    void SetBuffers(const TSerBuffers &v);
    bool DirectWrite() const { return FDirectWrite; }
    void SetDirectWrite(bool v);
    bool UpdateDCB() const { return FUpdateDCB; }
    void SetUpdateDCB(bool v);

    // ---- other settings
    bool AutoOpen() const { return FAutoOpen; }
    void SetAutoOpen(bool v) { FAutoOpen = v; }
    TThreadPriority EventPriority() const { return FEventPriority; }
    void SetEventPriority(TThreadPriority v);
    TThreadPriority WritePriority() const { return FWritePriority; }
    void SetWritePriority(TThreadPriority v);
    // Copied to the threads when they start: takes effect at the next Open.
    bool SyncThreads() const { return FSyncThreads; }
    void SetSyncThreads(bool v) { FSyncThreads = v; }
    TSerDisplay *Display() const { return FDisplay.data(); }
    void SetDisplay(TSerDisplay *v) { FDisplay = v; } // cleared when the display is destroyed
    std::string Version() const { return "1.8.0.0"; }
    void SetVersion(const std::string &) {}

    // The event mask Open would compute now, and the one the last Open used.
    uint32_t CalcEventMask() const;
    uint32_t EventMask() const { return FEventMask; }
    // Fills a device control block from the settings (fields ApplyDCB sets).
    void FillDCB(Platform::DCB &dcb) const;
    // Writes the settings into the open port's device control block.
    void ApplyDCB();
    // Sets the properties from a device control block.
    void ReadDCB(const Platform::DCB &dcb);
    // Reads the device's default configuration into the properties.
    void ResetPortParameters();

    // ---- reading (0 / false on a closed port)
    int ReadBuf(void *Buf, int Count);
    bool ReadChar(uint8_t &Ch);
    bool ReadChar(char &Ch);
    std::string ReadText();
    bool WaitChar(int TimeOut);
    bool ReadCharWait(uint8_t &Ch, int TimeOut);

    // ---- writing (0 / false on a closed port)
    int WriteBuf(const void *Buf, int Count);
    bool WriteChar(uint8_t Ch);
    bool WriteText(const std::string &s);

    // ---- buffer queries (0 on a closed port)
    int ReadBufUsed();
    int ReadBufFree();
    int WriteBufUsed();
    int WriteBufFree();
    // Ahead of a close: waits up to TimeoutMs for the write thread to write
    // what is queued; true when nothing is left. The thread hands no more
    // notifications to the GUI thread from here on, so that it never waits
    // for the GUI thread, which is the one waiting here.
    bool DrainWriteQueue(int TimeoutMs);
    int UARTReadBufUsed();
    int UARTWriteBufUsed();

    // ---- purging (nothing on a closed port)
    void PurgeRead();
    void PurgeWrite();
    void PurgeReadWrite();

    // ---- line control (nothing on a closed port)
    void SetDTR(bool Value);
    void SetRTS(bool Value);
    void SetBreak(bool Value);
    void SetXon(bool Value);
    void ResetDev();

    // ---- status (false on a closed port)
    bool CTS() { return GetModemFlag(1); }
    bool DSR() { return GetModemFlag(2); }
    bool RING() { return GetModemFlag(3); }
    bool RLSD() { return GetModemFlag(4); }
    bool CTSHold() { return GetStatusFlag(1); }
    bool DSRHold() { return GetStatusFlag(2); }
    bool RLSDHold() { return GetStatusFlag(3); }
    bool XOffHold() { return GetStatusFlag(4); }
    bool XOffSent() { return GetStatusFlag(5); }
    // Raises on a closed port.
    Platform::COMMPROP Properties();
    // Reads and clears the line errors; fires OnError. True when there were any.
    bool CheckLineErrors();

    // ---- dispatchers
    void InsertClient(TSerDispatcher *Value);
    void RemoveClient(TSerDispatcher *Value);
    void RemoveAllClients();
    void EnableControls() { FControlsEnabled = true; }
    void DisableControls() { FControlsEnabled = false; }
    int ClientCount() const { return int(FClients.size()); }

    // ---- events
    TNotifyEvent OnOpen, OnClose, OnCts, OnDsr, OnRlsd, OnRing, OnBreak;
    TSerCommErrorEvent OnError;
    TSerCommRxCharEvent OnRxChar;
    TNotifyEvent OnRxFlag;
    TSerCommRxBufEvent OnRxBuf;
    TNotifyEvent OnTxEmpty, OnPErr, OnRx80Full, OnEvent1, OnEvent2;

    // Pause at the end of every Close (300 ms); tests shorten it.
    void SetClosePause(uint32_t ms) { FClosePauseMs = ms; }

protected:
    virtual void OpenDeviceHandle();
    virtual void StartPortThreads();
    virtual void HandleRxChar();
    virtual void HandleCommEvents(uint32_t Events);
    virtual void DispatchEventToClients(uint32_t Events);
    virtual void DispatchRxBufToClients(PSerData Data, int Count);

    void CheckClosed() const;
    [[noreturn]] void RaiseCommError(const char *format) const;
    void CheckCommResult(bool ok, const char *format) const
    {
        if (!ok)
            RaiseCommError(format);
    }

private:
    friend class TSerCommEventThread;
    friend class TSerCommWriteThread;
    friend class TWaitThread;

    struct LineStatus {
        uint32_t Errors = 0;
        Platform::COMSTAT Stat;
    };

    void StopPortThreads();
    void CloseDeviceHandle();
    void ApplyBufferSizes();
    void ApplyTimeouts();
    void ApplyEventMask();
    void DoOpen();
    void DoClose();
    void NotifyDisplay();
    // One event of the event thread: display, received bytes, other events.
    void DispatchEvents(uint32_t Events);
    LineStatus ReadCommStatus();
    void PurgeBuffers(uint32_t Flags);
    void CallCommFunction(uint32_t Code);
    bool GetModemFlag(int Index);
    bool GetStatusFlag(int Index);
    void BuffersChanged();

    std::atomic<Platform::HANDLE> FHandle{Platform::INVALID_HANDLE_VALUE};
    TSerCriticalSection FWriteSection;
    TSerCriticalSection FGlobalSection;
    Platform::COMMPROP FProperties;
    TSerWaitEvent FEvent;
    TSerCommEventThread *FEventThread = nullptr;
    TSerCommWriteThread *FWriteThread = nullptr;
    uint32_t FEventMask = 0;
    bool FAutoOpen = false;
    TSerPortInt FPortNum = 0;
    std::string FDeviceName = "COM%d";
    TSerCommEvents FMonitorEvents{ceError, ceRxChar, ceTxEmpty};
    TSerBuffers FBuffers;
    TThreadPriority FEventPriority = tpNormal;
    TThreadPriority FWritePriority = tpHighest;
    bool FDirectWrite = false;
    bool FControlsEnabled = true;
    std::vector<TSerDispatcher *> FClients;
    TSerBaudrate FBaudrate = br1200;
    TSerParity FParity = paNone;
    TSerDatabits FDatabits = db8;
    TSerStopbits FStopbits = sb1;
    TSerCommOptions FOptions;
    TSerFlowControl FFlowControl;
    TSerEventChars FEventChars;
    bool FUpdateDCB = true;
    int32_t FUserBaudrate = 0;
    QPointer<TSerDisplay> FDisplay;
    bool FSyncThreads = true;
    bool FDestroying = false;
    uint32_t FClosePauseMs = 300;
    Platform::GuiCallChannel FSyncChannel;
};

// The published component; adds no behaviour.
class TSerComm : public TSerCustomComm {
    Q_OBJECT
public:
    explicit TSerComm(QObject *AOwner = nullptr) : TSerCustomComm(AOwner) {}
};

// The Qt thread priority of a thread priority.
QThread::Priority SerThreadPriority(TThreadPriority p);

// Runs fn; an exception from it goes to the application's exception handler,
// on the GUI thread (queued there when fn ran on a worker). False when one was caught.
bool SerGuarded(const std::function<void()> &fn) noexcept;
