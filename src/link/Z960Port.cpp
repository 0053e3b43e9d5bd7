// Construction, byte I/O, waits, the frame helpers and the three transmitters.
#include "link/Z960Port.h"

#include "link/LinkClock.h"
#include "link/LinkWait.h"

#include <QTimer>

#include <algorithm>
#include <cstring>

using namespace Z960Frames;

Z960Transport::~Z960Transport() = default;

unsigned char Z960Port::rtuTxIndex = 0;
unsigned short Z960Port::rtuTxCrc = 0;

namespace {

QTimer *makeTimer(Z960Port *owner, int intervalMs, void (Z960Port::*handler)(QObject *))
{
    auto *timer = new QTimer(owner);
    timer->stop(); // off before anything else
    timer->setInterval(LinkClock::timerInterval(intervalMs));
    QObject::connect(timer, &QTimer::timeout, owner, [owner, handler] { (owner->*handler)(owner); });
    return timer;
}

} // namespace

Z960Port::Z960Port(QObject *owner, unsigned short address) : QObject(owner)
{
    deviceDateTime = 0.0;
    rxTimeoutTimer = makeTimer(this, kRxTimeoutMs, &Z960Port::rxTimeoutTimerEvent);
    fileTransferTimer = makeTimer(this, kFileTransferTimeoutMs, &Z960Port::fileTransferTimeoutTimerEvent);
    commsTimer = makeTimer(this, kCommsTimeoutMs, &Z960Port::commsTimeoutTimerEvent);
    rxState = RX_IDLE;
    modbusAddress = address;
    abortFlag = false;
}

// ---- busy count and deferred release -------------------------------------

Z960Port::BusyGuard::BusyGuard(Z960Port &port) : port_(port) { ++port_.busyCount_; }

Z960Port::BusyGuard::~BusyGuard()
{
    if (--port_.busyCount_ == 0 && port_.releasePending_)
        port_.deleteLater(); // after the caller of the wait has returned to the event loop
}

void Z960Port::release()
{
    if (busyCount_ > 0) {
        // Detached, so that the owner going away cannot free it either.
        setParent(nullptr);
        releasePending_ = true;
        return;
    }
    delete this;
}

// ---- byte I/O and waits ----------------------------------------------------

void Z960Port::attachTransport(Z960Transport *t) { transport_ = t; }

void Z960Port::pumpMessages() { LinkWait::pump(); }

void Z960Port::PutChar(unsigned char c)
{
    if (transport_)
        transport_->writeChar(c);
    if (OnTxEvent)
        OnTxEvent(this);
}

unsigned char Z960Port::GetChar() { return transport_ ? transport_->readChar() : 0; }

// Purges while something is pending, but never longer than kFlushLimitMs:
// a line that keeps delivering bytes must not hold the GUI thread forever.
bool Z960Port::flushWhile(int (Z960Transport::*pending)(), void (Z960Transport::*purge)(), unsigned pauseMs)
{
    BusyGuard busy(*this);
    const LinkClock::Tick start = LinkClock::now();
    while (transport_ && (transport_->*pending)() != 0) {
        if (LinkClock::elapsed(start, kFlushLimitMs) || outOfTime())
            return false;
        (transport_->*purge)();
        pumpMessages();
        if (pauseMs) {
            waitFor([] { return false; }, pauseMs);
            pumpMessages();
        }
    }
    return true;
}

void Z960Port::FlushOutBuffer() { flushWhile(&Z960Transport::writeBufUsed, &Z960Transport::purgeWrite, 0); }

void Z960Port::FlushInBuffer() { flushWhile(&Z960Transport::readBufUsed, &Z960Transport::purgeRead, 2); }

void Z960Port::FlushCommsBuffers()
{
    FlushOutBuffer();
    FlushInBuffer();
}

void Z960Port::DelayTicks(unsigned long ms)
{
    if (ms == 0)
        return;
    BusyGuard busy(*this);
    waitFor([] { return false; }, static_cast<LinkClock::Tick>(std::min<unsigned long>(ms, 0xFFFFFFFFul)));
}

void Z960Port::ProcessCommunications()
{
    BusyGuard busy(*this);
    pumpMessages();
    waitFor([] { return false; }, 1);
    pumpMessages();
}

bool Z960Port::outOfTime() const
{
    return stopped_ || (windingDown() && LinkClock::elapsed(windDownStart_, windDownMs_));
}

bool Z960Port::waitFor(const std::function<bool()> &done, LinkClock::Tick ms)
{
    if (outOfTime())
        return false;
    // The wait's own time-out, cut to what a wind-down leaves; a stop comes
    // from an event handled inside the wait, which then looks again.
    if (windingDown())
        ms = std::min(ms, windDownLeft());
    bool held = false;
    LinkWait::until(
        [&] {
            held = done();
            return held || outOfTime();
        },
        LinkClock::now(), ms);
    return held;
}

void Z960Port::showFault(const char *file, unsigned short line)
{
    if (OnPortDebugEvent)
        OnPortDebugEvent(this, std::string("file:") + file + " line: " + std::to_string(line));
}

void Z960Port::abortCommand() { abortFlag = true; }

void Z960Port::stop()
{
    stopped_ = true;
    abortCommand();
    if (transferPhase_ != TransferPhase::Idle)
        abortFileTransfer();
}

void Z960Port::windDown(unsigned long ms)
{
    const auto within = static_cast<LinkClock::Tick>(std::min<unsigned long>(ms, 0x7FFFFFFFul));
    if (stopped_ || (windingDown() && windDownLeft() <= within))
        return; // an earlier end stands
    windDownStart_ = LinkClock::now();
    windDownMs_ = within;
    if (windDownTimer_ == nullptr) {
        windDownTimer_ = new QTimer(this);
        windDownTimer_->setSingleShot(true);
        // Its tick wakes a wait that sleeps past the time; a transfer ends with the abort.
        connect(windDownTimer_, &QTimer::timeout, this, [this] {
            if (transferPhase_ != TransferPhase::Idle)
                abortFileTransfer();
        });
    }
    windDownTimer_->start(LinkClock::timerInterval(static_cast<int>(windDownMs_)));
}

LinkClock::Tick Z960Port::windDownLeft() const
{
    return windDownMs_ - std::min(windDownMs_, LinkClock::since(windDownStart_));
}

// ---- checksums and codec ---------------------------------------------------

void Z960Port::updateCcittCrc(unsigned short *crc, unsigned char b) { Z960Frames::updateCcittCrc(crc, b); }

unsigned short Z960Port::blockCalcCcittCrc(const unsigned char *data, unsigned short init, unsigned short count)
{
    if (count == 0) {
        fault(Z960Fault::CrcEmpty);
        return init;
    }
    return ccittCrc(data, init, count);
}

void Z960Port::updateCrc16(bool start, unsigned char b, unsigned short *crc) { Z960Frames::updateCrc16(start, b, crc); }

unsigned short Z960Port::blockCalcCrc16() const
{
    unsigned short crc = 0;
    updateCrc16(true, frame.address, &crc);
    if (frame.exceptionCode != 0) {
        updateCrc16(false, static_cast<unsigned char>(frame.function | 0x80), &crc);
        updateCrc16(false, frame.exceptionCode, &crc);
        return crc;
    }
    updateCrc16(false, frame.function, &crc);
    const std::size_t count = std::min<std::size_t>(frame.length & 0xFFu, kFrameDataSize);
    for (std::size_t i = 0; i < count; ++i)
        updateCrc16(false, frame.data[i], &crc);
    return crc;
}

unsigned char Z960Port::blockCalcLrc() const
{
    const unsigned char head[2] = {static_cast<unsigned char>(modbusAddress & 0xFF), frame.function};
    const unsigned char start = static_cast<unsigned char>(head[0] + head[1]);
    if (frame.exceptionCode != 0)
        return lrc(&frame.exceptionCode, 1, start);
    return lrc(frame.data, std::min<std::size_t>(frame.length, kFrameDataSize), start);
}

void Z960Port::binToHex(unsigned char b, unsigned char *out) { Z960Frames::binToHex(b, out); }
void Z960Port::hexToBin(const unsigned char *in, unsigned char *out) { Z960Frames::hexToBin(in, out); }
void Z960Port::breakUnsignedInt16(unsigned short v, unsigned char *out) { Z960Frames::breakUnsignedInt16(v, out); }
void Z960Port::breakFloat32(float v, unsigned char *out) { Z960Frames::breakFloat32(v, out); }
bool Z960Port::isValidCommand(unsigned char f) { return Z960Frames::isValidCommand(f); }

// ---- frame record ------------------------------------------------------------

// Everything from byteCountFollows to frameReady except the control byte.
void Z960Port::clearFrameRecord()
{
    const unsigned char control = frame.control;
    const unsigned char hex0 = frame.hexPair[0];
    const unsigned char hex1 = frame.hexPair[1];
    frame = sFrame{};
    frame.control = control;
    frame.hexPair[0] = hex0;
    frame.hexPair[1] = hex1;
}

void Z960Port::resetRxTxFrame(bool full)
{
    if (full) {
        rxCrc = 0;
        asciiState = 0;
        txState = 0;
        txCrc = 0;
    }
    clearFrameRecord();
    // A half-received frame is abandoned; the next one starts clean.
    rxState = RX_IDLE;
    rxIsRtu = false;
}

// ---- transmitters --------------------------------------------------------------

void Z960Port::startTransmitter(bool resetStateFromFF)
{
    if (!(frame.status & TX_STARTED)) {
        txState = 0x80;
        frame.status = static_cast<unsigned char>((frame.status & 0x0F) | TX_STARTED);
    }
    if (resetStateFromFF ? txState == 0xFF : txState == 0)
        txState = 0x80;
}

void Z960Port::frameTransmitterQuillmere()
{
    startTransmitter(false);
    const unsigned short length = std::min<unsigned short>(frame.length, kFrameDataSize);
    switch (txState) {
    case 0x80:
        PutChar(STX);
        txState = 0x81;
        break;
    case 0x81: {
        const auto addr = static_cast<unsigned char>(modbusAddress & 0xFF);
        txCrc = 0;
        updateCcittCrc(&txCrc, addr);
        PutChar(addr);
        if (addr == DLE)
            PutChar(DLE_STUFF);
        txState = 0x82;
        break;
    }
    case 0x82:
        PutChar(frame.control);
        updateCcittCrc(&txCrc, frame.control);
        txState = 0x83;
        break;
    case 0x83:
        if (frame.index < length) {
            const unsigned char b = frame.data[frame.index++];
            PutChar(b);
            txState = b == DLE ? 0x84 : 0x83;
        } else {
            if (length > 0)
                txCrc = blockCalcCcittCrc(frame.data, txCrc, length);
            const auto lo = static_cast<unsigned char>(txCrc & 0xFF);
            PutChar(lo);
            txState = lo == DLE ? 0x89 : 0x85;
        }
        break;
    case 0x84:
        PutChar(DLE_STUFF);
        txState = 0x83;
        break;
    case 0x85: {
        const auto hi = static_cast<unsigned char>(txCrc >> 8);
        PutChar(hi);
        txState = hi == DLE ? 0x8A : 0x86;
        break;
    }
    case 0x86:
        PutChar(DLE);
        txState = 0x87;
        break;
    case 0x87:
        PutChar(ETX);
        txState = 0x80;
        frame.status = TX_DONE;
        break;
    case 0x89:
        PutChar(DLE_STUFF);
        txState = 0x85;
        break;
    case 0x8A:
        PutChar(DLE_STUFF);
        txState = 0x86;
        break;
    default:
        fault(Z960Fault::QuillmereTxState);
        txState = 0x80;
        break;
    }
}

void Z960Port::frameTransmitterAscii()
{
    startTransmitter(false);
    // At least one data byte always goes out; the bound keeps a bad length
    // from running past the data.
    const unsigned short last = std::min<unsigned short>(frame.length, kFrameDataSize);
    auto sendHigh = [this](unsigned char b) {
        binToHex(b, frame.hexPair);
        PutChar(frame.hexPair[1]);
    };
    auto sendLow = [this] { PutChar(frame.hexPair[0]); };
    switch (txState) {
    case 0x80:
        frame.index = 0;
        sendHigh(static_cast<unsigned char>(modbusAddress & 0xFF));
        txState = 0x81;
        break;
    case 0x81:
        sendLow();
        txState = 0x82;
        break;
    case 0x82:
        sendHigh(frame.function);
        txState = 0x83;
        break;
    case 0x83:
        sendLow();
        txState = 0x84;
        break;
    case 0x84:
    case 0x86:
        sendHigh(frame.data[std::min<std::size_t>(frame.index, kFrameDataSize - 1)]);
        ++frame.index;
        txState = static_cast<unsigned char>(txState + 1);
        break;
    case 0x85:
    case 0x87:
        sendLow();
        txState = frame.index >= last ? 0x90 : 0x86;
        break;
    case 0x90:
        sendHigh(blockCalcLrc());
        txState = 0x91;
        break;
    case 0x91:
        sendLow();
        txState = 0x92;
        break;
    case 0x92:
        PutChar(CR);
        txState = 0x93;
        break;
    case 0x93:
        PutChar(LF);
        frame.status |= TX_DONE;
        txState = 0x94;
        break;
    case 0x94:
        frame.status |= TX_DONE;
        txState = 0x80;
        break;
    default:
        fault(Z960Fault::AsciiTxState);
        txState = 0x80;
        break;
    }
}

void Z960Port::frameTransmitterRtu()
{
    startTransmitter(true);
    if (frame.index >= kFrameDataSize) {
        fault(Z960Fault::RtuTxIndex);
        clearFrameRecord();
        return;
    }
    switch (txState) {
    case 0x80:
        PutChar(frame.address);
        updateCrc16(true, frame.address, &rtuTxCrc);
        rtuTxIndex = 0;
        txState = 0x81;
        break;
    case 0x81:
        PutChar(frame.function);
        updateCrc16(false, frame.function, &rtuTxCrc);
        txState = 0x82;
        break;
    case 0x82: {
        const unsigned char b = frame.data[rtuTxIndex];
        updateCrc16(false, b, &rtuTxCrc);
        PutChar(b);
        ++rtuTxIndex;
        // The one-byte index wraps after 256 bytes: stop there as well.
        if (rtuTxIndex >= frame.length || rtuTxIndex == 0)
            txState = 0x83;
        break;
    }
    case 0x83:
        PutChar(static_cast<unsigned char>(rtuTxCrc & 0xFF));
        txState = 0x84;
        break;
    case 0x84:
        PutChar(static_cast<unsigned char>(rtuTxCrc >> 8));
        txState = 0x85;
        break;
    case 0x85:
        frame.status |= TX_DONE;
        txState = 0x80;
        break;
    default:
        txState = 0x80;
        break;
    }
}

// ---- meter clock -------------------------------------------------------------

void Z960Port::loadStatusValues()
{
    const Z960Data::StatusClock clock = Z960Data::deriveStatusClock(statusImage, DateTime::now());
    deviceDateTime = clock.deviceDateTime;
    clockOffset = clock.clockOffset;
    clockValid = clock.clockValid;
}
