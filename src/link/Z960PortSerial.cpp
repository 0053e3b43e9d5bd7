// Opening the serial port and the link's use of the serial component.
#include "link/Z960Port.h"

#include "platform/CommApi.h"
#include "platform/IntConvert.h"
#include "serial/SerComm.h"
#include "serial/SerConfigDialog.h"

#include <QString>
#include <QTimer>

#include <cerrno>
#include <exception>

namespace {

// The serial component as the link's byte channel.
class SerCommTransport final : public Z960Transport {
public:
    explicit SerCommTransport(TSerComm &comm) : comm_(comm) {}

    void writeChar(unsigned char c) override { comm_.WriteChar(c); }
    unsigned char readChar() override
    {
        uint8_t c = 0;
        comm_.ReadChar(c);
        return c;
    }
    int readBufUsed() override { return comm_.ReadBufUsed(); }
    int writeBufUsed() override { return comm_.WriteBufUsed(); }
    void purgeRead() override { comm_.PurgeRead(); }
    void purgeWrite() override { comm_.PurgeWrite(); }

private:
    TSerComm &comm_;
};

// 9600 baud 8N1, no handshake of any kind, DTR and RTS off.
void setLine(TSerComm &comm)
{
    comm.SetParity(paNone);
    comm.SetDatabits(db8);
    comm.SetStopbits(sb1);
    TSerFlowControl &flow = comm.FlowControl();
    flow.SetOutCtsFlow(false);
    flow.SetOutDsrFlow(false);
    flow.SetControlDtr(dtrDisabled);
    flow.SetControlRts(rtsDisabled);
    flow.SetXonXoffIn(false);
    flow.SetXonXoffOut(false);
}

} // namespace

Z960Port::~Z960Port()
{
    delete rxTimeoutTimer;
    delete fileTransferTimer;
    delete commsTimer;
    rxTimeoutTimer = fileTransferTimer = commsTimer = nullptr;
    if (transport_ == serTransport_.get())
        transport_ = nullptr;
    serTransport_.reset();
    // Bytes still queued (the abort that ends a transfer among them) reach
    // the line before the port closes; a line that takes none is not waited for long.
    if (comm != nullptr)
        comm->DrainWriteQueue(static_cast<int>(kFlushLimitMs));
    delete comm; // closes the port and stops its threads
    comm = nullptr;
}

bool Z960Port::OpenPort(const std::string &portName, long /*baudRate: always 9600*/)
{
    portOpen = false;
    openFailure.clear();
    openDenied = false;
    openDevice.clear();
    // "Com" + the port number; a remainder that is no integer throws here,
    // before anything is created.
    const QString number = QString::fromStdString(portName.size() > 3 ? portName.substr(3) : std::string());
    const int portNumber = Platform::StrToInt(number);

    // A second call replaces the first serial component.
    if (transport_ == serTransport_.get())
        transport_ = nullptr;
    serTransport_.reset();
    delete comm;
    comm = new TSerComm(this);

    try {
        comm->SetBaudrate(br9600);
        setLine(*comm);
        comm->Buffers().SetWriteSize(4096);
        comm->Buffers().SetReadSize(4096);
        comm->SetDirectWrite(false); // bytes go through the write thread
        comm->SetEventPriority(tpHigher);
        comm->SetWritePriority(tpHigher);

        if (portNumber != 0) {
            comm->SetBaudrate(br9600);
            comm->SetPortNum(portNumber);
            setLine(*comm);
        } else {
            // Port 0: the port settings dialog chooses port and line settings.
            // After Cancel the port number stays 0 and the open below fails.
            delete configDialog;
            configDialog = new TSerConfigDialog(this);
            configDialog->SetComm(comm);
            configDialog->Execute();
        }

        // Delivered through the serial component's blocking dispatch on the
        // GUI thread (SyncThreads keeps its default).
        comm->OnRxChar = [this](QObject *sender, int count) { rxInterruptTask(sender, count); };
        serTransport_ = std::make_unique<SerCommTransport>(*comm);
        if (transport_ == nullptr)
            transport_ = serTransport_.get();
        FlushCommsBuffers();
        comm->Open();
        (void)comm->Active();
    } catch (const std::exception &error) {
        noteOpenFailure(error.what());
        openDevice = comm->GetDevicePath();
        return portOpen;
    } catch (...) {
        return portOpen;
    }
    portOpen = true;
    return true;
}

void Z960Port::noteOpenFailure(const std::string &text)
{
    openFailure = text;
    // The serial component ends a failed open with the system's code and text.
    const std::string denied = SerFormat(SerMsg::CantOpenDetail, {EACCES}, {Platform::SysErrorMessage(EACCES)});
    openDenied = text.size() >= denied.size() && text.substr(text.size() - denied.size()) == denied;
}
