#include "serial/SerComm.h"

#include "platform/PortMap.h"
#include "platform/Prompter.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <thread>

using namespace Platform;

QThread::Priority SerThreadPriority(TThreadPriority p)
{
    static const QThread::Priority table[] = {QThread::IdlePriority,   QThread::LowestPriority,
                                              QThread::LowPriority,    QThread::NormalPriority,
                                              QThread::HighPriority,   QThread::HighestPriority,
                                              QThread::TimeCriticalPriority};
    return p <= tpTimeCritical ? table[p] : QThread::NormalPriority;
}

bool SerGuarded(const std::function<void()> &fn) noexcept
{
    try {
        fn();
        return true;
    } catch (...) {
        std::exception_ptr error = std::current_exception();
        if (GuiCallChannel::onGuiThread()) {
            handleException(error);
        } else if (QCoreApplication *app = QCoreApplication::instance()) {
            // The message box belongs on the GUI thread; the worker goes on.
            QMetaObject::invokeMethod(app, [error] { handleException(error); }, Qt::QueuedConnection);
        }
        return false;
    }
}

// ------------------------------------------------------------ lifecycle ----

TSerCustomComm::TSerCustomComm(QObject *AOwner) : TSerComponent(AOwner)
{
    FBuffers.OnChange = [this](TSerPersistent *) { BuffersChanged(); };
    FEventChars.OnChange = [this](TSerPersistent *) { ApplyDCB(); };
    FFlowControl.OnChange = [this](TSerPersistent *) { ApplyDCB(); };
}

TSerCustomComm::~TSerCustomComm()
{
    FDestroying = true;
    Close();
    RemoveAllClients();
}

void TSerCustomComm::Loaded()
{
    if (FAutoOpen)
        Open();
}

std::string TSerCustomComm::GetDeviceName() const
{
    return SerFormat(FDeviceName, {FPortNum}, {});
}

std::string TSerCustomComm::GetDevicePath() const
{
    const std::string name = GetDeviceName();
    return resolveDeviceName(name).value_or(name);
}

// ------------------------------------------------------------ settings -----

void TSerCustomComm::CheckClosed() const
{
    if (Active())
        throw ESerCommError(SerMsg::PortOpen);
}

void TSerCustomComm::RaiseCommError(const char *format) const
{
    const int code = GetLastError();
    throw ESerCommError(SerFormat(format, {code}, {SysErrorMessage(code)}));
}

void TSerCustomComm::SetBaudrate(TSerBaudrate v)
{
    if (v >= SerBaudrateCount || v == FBaudrate)
        return;
    FBaudrate = v;
    if (v != brUser)
        FUserBaudrate = 0;
    ApplyDCB();
}

void TSerCustomComm::SetUserBaudrate(int32_t v)
{
    if (v == FUserBaudrate)
        return;
    FUserBaudrate = v;
    FBaudrate = brUser;
    ApplyDCB();
}

void TSerCustomComm::SetParity(TSerParity v)
{
    if (v > paSpace || v == FParity)
        return;
    FParity = v;
    ApplyDCB();
}

void TSerCustomComm::SetDatabits(TSerDatabits v)
{
    if (v > db8 || v == FDatabits)
        return;
    FDatabits = v;
    ApplyDCB();
}

void TSerCustomComm::SetStopbits(TSerStopbits v)
{
    if (v > sb2 || v == FStopbits)
        return;
    FStopbits = v;
    ApplyDCB();
}

void TSerCustomComm::SetOptions(TSerCommOptions v)
{
    if (v == FOptions)
        return;
    FOptions = v;
    ApplyDCB();
}

void TSerCustomComm::SetPortNum(TSerPortInt v)
{
    CheckClosed();
    FPortNum = std::max<TSerPortInt>(v, 0);
}

void TSerCustomComm::SetDeviceName(const std::string &v)
{
    CheckClosed();
    FDeviceName = v;
}

void TSerCustomComm::SetMonitorEvents(TSerCommEvents v)
{
    CheckClosed();
    FMonitorEvents = v;
}

void TSerCustomComm::SetBuffers(const TSerBuffers &v)
{
    CheckClosed();
    FBuffers.Assign(&v);
}

void TSerCustomComm::SetDirectWrite(bool v)
{
    CheckClosed();
    FDirectWrite = v;
}

void TSerCustomComm::SetUpdateDCB(bool v)
{
    CheckClosed();
    FUpdateDCB = v;
}

void TSerCustomComm::SetEventPriority(TThreadPriority v)
{
    if (v > tpTimeCritical || v == FEventPriority)
        return;
    FEventPriority = v;
    if (FEventThread && FEventThread->isRunning())
        FEventThread->setPriority(SerThreadPriority(v));
}

void TSerCustomComm::SetWritePriority(TThreadPriority v)
{
    if (v > tpTimeCritical || v == FWritePriority)
        return;
    FWritePriority = v;
    if (FWriteThread && FWriteThread->isRunning())
        FWriteThread->setPriority(SerThreadPriority(v));
}

void TSerCustomComm::BuffersChanged()
{
    CheckClosed();
    ApplyBufferSizes();
    ApplyDCB();
}

uint32_t TSerCustomComm::CalcEventMask() const
{
    uint32_t mask = 0;
    for (int i = 0; i < SerCommEventCount; ++i)
        if (FMonitorEvents.contains(TSerCommEvent(i)))
            mask |= SerTables::EventMaskBits[i];
    if (!FDirectWrite)
        mask &= ~EV_TXEMPTY; // the write thread reports a drained queue itself
    return mask;
}

void TSerCustomComm::FillDCB(DCB &dcb) const
{
    dcb.BaudRate = FBaudrate == brUser ? uint32_t(FUserBaudrate) : SerTables::BaudRates[FBaudrate];
    dcb.Parity = FParity;
    dcb.StopBits = FStopbits;
    dcb.ByteSize = SerTables::ByteSizes[FDatabits];
    dcb.XonChar = FEventChars.XonChar();
    dcb.XoffChar = FEventChars.XoffChar();
    dcb.ErrorChar = FEventChars.ErrorChar();
    dcb.EvtChar = FEventChars.EventChar();
    dcb.EofChar = FEventChars.EofChar();
    dcb.XonLim = uint16_t(FBuffers.XonLimit());
    dcb.XoffLim = uint16_t(FBuffers.XoffLimit());

    uint32_t flags = DCB::fBinary;
    if (FFlowControl.OutCtsFlow())
        flags |= DCB::fOutxCtsFlow;
    if (FFlowControl.OutDsrFlow())
        flags |= DCB::fOutxDsrFlow;
    if (FFlowControl.XonXoffOut())
        flags |= DCB::fOutX;
    if (FFlowControl.XonXoffIn())
        flags |= DCB::fInX;
    if (FFlowControl.DsrSensitivity())
        flags |= DCB::fDsrSensitivity;
    if (FFlowControl.TxContinueOnXoff())
        flags |= DCB::fTXContinueOnXoff;
    for (int i = 0; i < 3; ++i)
        if (FOptions.contains(TSerCommOption(i)))
            flags |= SerTables::OptionFlags[i];
    dcb.Flags = flags;
    dcb.setDtrControl(FFlowControl.ControlDtr());
    dcb.setRtsControl(FFlowControl.ControlRts());
}

void TSerCustomComm::ApplyDCB()
{
    if (!Active() || !FUpdateDCB)
        return;
    DCB dcb;
    dcb.DCBlength = sizeof(DCB);
    GetCommState(Handle(), &dcb); // fields not set below keep what the device holds
    FillDCB(dcb);
    CheckCommResult(SetCommState(Handle(), &dcb), SerMsg::WriteDcb);
}

void TSerCustomComm::ReadDCB(const DCB &dcb)
{
    // The limits cannot change on an open port; refuse before any other
    // setting reaches the device, so a refusal leaves everything as it was.
    if (Active() && (dcb.XonLim != FBuffers.XonLimit() || dcb.XoffLim != FBuffers.XoffLimit()))
        throw ESerCommError(SerMsg::PortOpen);
    const auto *rate = std::find(std::begin(SerTables::BaudRates), std::end(SerTables::BaudRates), dcb.BaudRate);
    if (rate != std::end(SerTables::BaudRates)) {
        FBaudrate = TSerBaudrate(rate - std::begin(SerTables::BaudRates));
        FUserBaudrate = 0;
    } else {
        FBaudrate = brUser;
        FUserBaudrate = int32_t(dcb.BaudRate);
    }
    FParity = dcb.Parity <= paSpace ? TSerParity(dcb.Parity) : paNone;
    FDatabits = dcb.ByteSize >= 4 && dcb.ByteSize <= 8 ? TSerDatabits(dcb.ByteSize - 4) : db8;
    FStopbits = dcb.StopBits <= sb2 ? TSerStopbits(dcb.StopBits) : sb1;

    const uint32_t dtr = dcb.dtrControl();
    FFlowControl.SetControlDtr(dtr <= dtrHandshake ? TSerControlDtr(dtr) : dtrDisabled);
    FFlowControl.SetControlRts(TSerControlRts(dcb.rtsControl()));
    FFlowControl.SetOutCtsFlow(dcb.Flags & DCB::fOutxCtsFlow);
    FFlowControl.SetOutDsrFlow(dcb.Flags & DCB::fOutxDsrFlow);
    FFlowControl.SetXonXoffOut(dcb.Flags & DCB::fOutX);
    FFlowControl.SetXonXoffIn(dcb.Flags & DCB::fInX);
    FFlowControl.SetDsrSensitivity(dcb.Flags & DCB::fDsrSensitivity);
    FFlowControl.SetTxContinueOnXoff(dcb.Flags & DCB::fTXContinueOnXoff);

    FEventChars.SetXonChar(dcb.XonChar);
    FEventChars.SetXoffChar(dcb.XoffChar);
    FEventChars.SetErrorChar(dcb.ErrorChar);
    FEventChars.SetEventChar(dcb.EvtChar);
    FEventChars.SetEofChar(dcb.EofChar);

    FBuffers.SetXonLimit(dcb.XonLim);
    FBuffers.SetXoffLimit(dcb.XoffLim);

    TSerCommOptions options;
    for (int i = 0; i < 3; ++i)
        if (dcb.Flags & SerTables::OptionFlags[i])
            options.include(TSerCommOption(i));
    SetOptions(options);
}

void TSerCustomComm::ResetPortParameters()
{
    COMMCONFIG config;
    uint32_t size = sizeof(COMMCONFIG);
    config.dwSize = size;
    if (!GetDefaultCommConfig(GetDevicePath(), &config, &size))
        throw ESerCommError(SerMsg::DefaultParams);
    ReadDCB(config.dcb);
}

// ------------------------------------------------------ open and close -----

void TSerCustomComm::Open()
{
    CheckClosed();
    OpenDeviceHandle();
    try {
        ApplyDCB();
        ApplyBufferSizes();
        ApplyTimeouts();
        ApplyEventMask();
        StartPortThreads();
    } catch (...) {
        StopPortThreads();
        CloseDeviceHandle();
        throw;
    }
    DoOpen();
}

void TSerCustomComm::OpenDeviceHandle()
{
    const std::string name = GetDeviceName();
    const std::optional<std::string> path = resolveDeviceName(name);
    if (!path)
        throw ESerCommError(SerFormat(SerMsg::DeviceNotFound, {}, {name}));
    const HANDLE h = CreateFile(*path);
    if (h == INVALID_HANDLE_VALUE) {
        const int code = GetLastError();
        if (IsDeviceNotFoundError(code))
            throw ESerCommError(SerFormat(SerMsg::DeviceNotFound, {}, {*path}));
        throw ESerCommError(SerFormat(SerMsg::CantOpen, {}, {*path}) +
                            SerFormat(SerMsg::CantOpenDetail, {code}, {SysErrorMessage(code)}));
    }
    FHandle = h;
}

void TSerCustomComm::ApplyBufferSizes()
{
    if (!Active())
        return;
    CheckCommResult(SetupComm(Handle(), uint32_t(FBuffers.ReadSize()), uint32_t(FBuffers.WriteSize())),
                    SerMsg::InitBuffers);
}

void TSerCustomComm::ApplyTimeouts()
{
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = MAXDWORD; // every read returns at once with what is waiting
    CheckCommResult(SetCommTimeouts(Handle(), &t), SerMsg::SetTimeouts);
}

void TSerCustomComm::ApplyEventMask()
{
    FEventMask = CalcEventMask();
    CheckCommResult(SetCommMask(Handle(), FEventMask), SerMsg::SetEventMask);
}

void TSerCustomComm::StartPortThreads()
{
    FSyncChannel.rearm();
    if (FEventMask != 0) {
        FEventThread = new TSerCommEventThread(this);
        FEventThread->SetSync(FSyncThreads);
        FEventThread->start(SerThreadPriority(FEventPriority));
    }
    if (!FDirectWrite) {
        FWriteThread = new TSerCommWriteThread(this);
        FWriteThread->SetSync(FSyncThreads);
        FWriteThread->start(SerThreadPriority(FWritePriority));
    }
}

namespace {
// Ends a stopped thread and frees it. A thread cannot wait for itself (a
// handler run on it closed the port): it then frees itself once it ended.
void joinAndFree(QThread *thread)
{
    if (QThread::currentThread() == thread) {
        QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        return;
    }
    thread->wait();
    delete thread;
}
} // namespace

void TSerCustomComm::StopPortThreads()
{
    // Ask both threads to stop, then release any of them blocked in a call
    // onto the GUI thread, and only then wait: no wait can deadlock on a
    // dispatch, and no lock is held meanwhile.
    if (FEventThread)
        FEventThread->Stop();
    if (FWriteThread) {
        FWriteThread->Stop();
        FWriteThread->CancelNotices();
    }
    FSyncChannel.cancel();
    if (FEventThread) {
        joinAndFree(FEventThread);
        FEventThread = nullptr;
    }
    if (FWriteThread) {
        joinAndFree(FWriteThread);
        FWriteThread = nullptr;
    }
}

void TSerCustomComm::CloseDeviceHandle()
{
    TSerCriticalSection::Guard lock(FGlobalSection);
    const HANDLE h = FHandle.exchange(INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
}

void TSerCustomComm::Close()
{
    if (!Active())
        return;
    StopPortThreads();
    CloseDeviceHandle();
    DoClose();
    if (FClosePauseMs)
        sleepMs(FClosePauseMs);
}

void TSerCustomComm::DoOpen()
{
    if (OnOpen)
        guarded([this] { OnOpen(this); });
}

void TSerCustomComm::DoClose()
{
    if (OnClose && !FDestroying)
        OnClose(this);
}

// ------------------------------------------------------------- reading -----

int TSerCustomComm::ReadBuf(void *Buf, int Count)
{
    if (!Buf || Count <= 0)
        return 0;
    TSerCriticalSection::Guard lock(FGlobalSection);
    if (!Active())
        return 0;
    uint32_t read = 0;
    if (!ReadFile(Handle(), Buf, uint32_t(Count), &read))
        RaiseCommError(SerMsg::ReadError);
    return int(read);
}

bool TSerCustomComm::ReadChar(uint8_t &Ch)
{
    uint8_t c = 0;
    if (ReadBuf(&c, 1) != 1)
        return false;
    Ch = c;
    return true;
}

bool TSerCustomComm::ReadChar(char &Ch)
{
    uint8_t c = 0;
    if (!ReadChar(c))
        return false;
    Ch = char(c);
    return true;
}

std::string TSerCustomComm::ReadText()
{
    const int waiting = ReadBufUsed();
    if (waiting <= 0)
        return std::string();
    std::string s(size_t(waiting), '\0');
    s.resize(size_t(ReadBuf(s.data(), waiting))); // the bytes actually read
    return s;
}

bool TSerCustomComm::WaitChar(int TimeOut)
{
    // The poller is joined before returning, so it never outlives the call
    // (nor the component) and cannot be left polling.
    TWaitThread poller(this);
    poller.start();
    if (poller.wait(QDeadlineTimer(std::max(TimeOut, 0))))
        return true;
    poller.SetDone(true);
    poller.wait();
    return false;
}

bool TSerCustomComm::ReadCharWait(uint8_t &Ch, int TimeOut)
{
    WaitChar(TimeOut);
    return ReadChar(Ch);
}

// ------------------------------------------------------------- writing -----

int TSerCustomComm::WriteBuf(const void *Buf, int Count)
{
    if (!Active() || !Buf || Count <= 0)
        return 0;
    if (!FDirectWrite) {
        if (!FWriteThread)
            return 0;
        if (!FWriteThread->WriteData(Buf, Count))
            throw ESerCommError(SerMsg::OutputFull);
        return Count;
    }
    TSerCriticalSection::Guard lock(FWriteSection);
    uint32_t written = 0;
    if (!WriteFile(Handle(), Buf, uint32_t(Count), &written, uint32_t(FBuffers.WriteTimeout()), {})) {
        if (GetLastError() == ETIMEDOUT)
            return int(written); // what the driver took before the time-out
        RaiseCommError(SerMsg::WriteError);
    }
    return int(written);
}

bool TSerCustomComm::WriteChar(uint8_t Ch)
{
    return WriteBuf(&Ch, 1) == 1;
}

bool TSerCustomComm::WriteText(const std::string &s)
{
    return WriteBuf(s.data(), int(s.size())) == int(s.size());
}

// ------------------------------------------------------- buffer queries ----

TSerCustomComm::LineStatus TSerCustomComm::ReadCommStatus()
{
    TSerCriticalSection::Guard lock(FGlobalSection);
    LineStatus status;
    if (Active())
        CheckCommResult(ClearCommError(Handle(), &status.Errors, &status.Stat), SerMsg::Statistics);
    return status;
}

int TSerCustomComm::ReadBufUsed()
{
    return int(ReadCommStatus().Stat.cbInQue);
}

int TSerCustomComm::ReadBufFree()
{
    if (!Active())
        return 0;
    return FBuffers.ReadSize() - int(ReadCommStatus().Stat.cbInQue);
}

int TSerCustomComm::WriteBufUsed()
{
    if (FDirectWrite)
        return int(ReadCommStatus().Stat.cbOutQue);
    TSerCriticalSection::Guard lock(FWriteSection);
    return FWriteThread ? FWriteThread->Buffer().Size() : 0;
}

bool TSerCustomComm::DrainWriteQueue(int TimeoutMs)
{
    {
        TSerCriticalSection::Guard lock(FWriteSection);
        if (FWriteThread)
            FWriteThread->CancelNotices();
    }
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (WriteBufUsed() > 0) {
        if (std::chrono::steady_clock::now() >= giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

int TSerCustomComm::WriteBufFree()
{
    if (FDirectWrite)
        return Active() ? FBuffers.WriteSize() - int(ReadCommStatus().Stat.cbOutQue) : 0;
    TSerCriticalSection::Guard lock(FWriteSection);
    return FWriteThread ? FWriteThread->Buffer().Capacity() - FWriteThread->Buffer().Size() : 0;
}

int TSerCustomComm::UARTReadBufUsed()
{
    return int(ReadCommStatus().Stat.cbInQue);
}

int TSerCustomComm::UARTWriteBufUsed()
{
    return int(ReadCommStatus().Stat.cbOutQue);
}

// ------------------------------------------------------------- purging -----

void TSerCustomComm::PurgeRead()
{
    PurgeBuffers(PURGE_RXABORT | PURGE_RXCLEAR);
}

void TSerCustomComm::PurgeWrite()
{
    PurgeBuffers(PURGE_TXABORT | PURGE_TXCLEAR);
}

void TSerCustomComm::PurgeReadWrite()
{
    PurgeBuffers(PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
}

void TSerCustomComm::PurgeBuffers(uint32_t Flags)
{
    TSerCriticalSection::Guard lock(FGlobalSection);
    if (!Active())
        return;
    if (Flags != (PURGE_RXABORT | PURGE_RXCLEAR) && FWriteThread)
        FWriteThread->PurgeWrite(); // takes the write lock inside the global one
    CheckCommResult(PurgeComm(Handle(), Flags), SerMsg::ClearBuffers);
}

// --------------------------------------------------------- line control ----

void TSerCustomComm::CallCommFunction(uint32_t Code)
{
    if (!Active())
        return;
    CheckCommResult(EscapeCommFunction(Handle(), Code), SerMsg::CommFunction);
}

void TSerCustomComm::SetDTR(bool Value)
{
    if (FFlowControl.ControlDtr() == dtrHandshake)
        throw ESerCommError(SerMsg::DtrHandshake);
    CallCommFunction(Value ? SETDTR : CLRDTR);
}

void TSerCustomComm::SetRTS(bool Value)
{
    if (FFlowControl.ControlRts() == rtsHandshake || FFlowControl.ControlRts() == rtsToggle)
        throw ESerCommError(SerMsg::RtsHandshake);
    CallCommFunction(Value ? SETRTS : CLRRTS);
}

void TSerCustomComm::SetBreak(bool Value)
{
    CallCommFunction(Value ? SETBREAK : CLRBREAK);
}

void TSerCustomComm::SetXon(bool Value)
{
    CallCommFunction(Value ? SETXON : SETXOFF);
}

void TSerCustomComm::ResetDev()
{
    CallCommFunction(RESETDEV);
}

// --------------------------------------------------------------- status ----

bool TSerCustomComm::GetModemFlag(int Index)
{
    static const uint32_t bits[] = {MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON};
    if (!Active() || Index < 1 || Index > 4)
        return false;
    uint32_t status = 0;
    CheckCommResult(GetCommModemStatus(Handle(), &status), SerMsg::ModemState);
    return (status & bits[Index - 1]) != 0;
}

bool TSerCustomComm::GetStatusFlag(int Index)
{
    if (Index < 1 || Index > 5)
        return false;
    return (ReadCommStatus().Stat.Flags & (1u << (Index - 1))) != 0;
}

COMMPROP TSerCustomComm::Properties()
{
    FProperties = COMMPROP();
    if (!Active())
        throw ESerCommError(SerMsg::PortClosed);
    CheckCommResult(GetCommProperties(Handle(), &FProperties), SerMsg::PortProperties);
    return FProperties;
}

bool TSerCustomComm::CheckLineErrors()
{
    const LineStatus status = ReadCommStatus();
    if (OnError && status.Errors != 0)
        SerGuarded([&] { OnError(this, int(status.Errors)); });
    return status.Errors != 0;
}

// ------------------------------------------------------------- dispatch ----

void TSerCustomComm::DispatchEvents(uint32_t Events)
{
    SerGuarded([&] {
        NotifyDisplay();
        if (Events & EV_RXCHAR) {
            HandleRxChar();
            Events &= ~EV_RXCHAR;
        }
        if (Events != 0)
            HandleCommEvents(Events);
    });
}

void TSerCustomComm::NotifyDisplay()
{
    if (TSerDisplay *display = FDisplay.data())
        display->UpdateDisplay(this);
}

void TSerCustomComm::HandleRxChar()
{
    const int count = ReadBufUsed();
    if (count <= 0)
        return;
    if (!FClients.empty()) {
        std::vector<uint8_t> data(static_cast<size_t>(count));
        const int read = ReadBuf(data.data(), count);
        if (read > 0)
            DispatchRxBufToClients(data.data(), read); // only the bytes actually read
        return;
    }
    if (OnRxChar)
        OnRxChar(this, count);
}

void TSerCustomComm::HandleCommEvents(uint32_t Events)
{
    if (Events & EV_ERR)
        CheckLineErrors();
    if (!FClients.empty())
        DispatchEventToClients(Events);

    // The notification events, in the order they fire.
    static const struct {
        uint32_t bit;
        TNotifyEvent TSerCustomComm::*handler;
    } notices[] = {
        {EV_RXFLAG, &TSerCustomComm::OnRxFlag},   {EV_CTS, &TSerCustomComm::OnCts},
        {EV_DSR, &TSerCustomComm::OnDsr},         {EV_RING, &TSerCustomComm::OnRing},
        {EV_RLSD, &TSerCustomComm::OnRlsd},       {EV_TXEMPTY, &TSerCustomComm::OnTxEmpty},
        {EV_BREAK, &TSerCustomComm::OnBreak},     {EV_PERR, &TSerCustomComm::OnPErr},
        {EV_RX80FULL, &TSerCustomComm::OnRx80Full}, {EV_EVENT1, &TSerCustomComm::OnEvent1},
        {EV_EVENT2, &TSerCustomComm::OnEvent2},
    };
    for (const auto &n : notices) {
        const TNotifyEvent &handler = this->*(n.handler);
        if ((Events & n.bit) && handler)
            handler(this);
    }
}

void TSerCustomComm::DispatchEventToClients(uint32_t Events)
{
    if (!FControlsEnabled)
        return;
    const std::vector<TSerDispatcher *> clients = FClients; // a handler may detach one
    for (TSerDispatcher *d : clients)
        d->DispatchEvent(Events);
}

void TSerCustomComm::DispatchRxBufToClients(PSerData Data, int Count)
{
    if (FControlsEnabled) {
        const std::vector<TSerDispatcher *> clients = FClients;
        for (TSerDispatcher *d : clients)
            d->DispatchRxBuf(Data, Count);
    }
    if (OnRxBuf)
        OnRxBuf(this, Data, Count);
}

void TSerCustomComm::InsertClient(TSerDispatcher *Value)
{
    if (!Value)
        return;
    Value->FComm = this;
    FClients.push_back(Value);
}

void TSerCustomComm::RemoveClient(TSerDispatcher *Value)
{
    // Every entry goes: a dispatcher inserted twice must not stay behind
    // once it is detached (it would be called after being freed).
    auto it = std::remove(FClients.begin(), FClients.end(), Value);
    if (it == FClients.end())
        return;
    Value->FComm = nullptr;
    FClients.erase(it, FClients.end());
}

void TSerCustomComm::RemoveAllClients()
{
    while (!FClients.empty())
        RemoveClient(FClients.back());
}
