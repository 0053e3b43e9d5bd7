// The two transaction engines (Quillmere commands, Modbus register
// exchanges), the Modbus carrier inside command 81 and the command set.
//
// Every operation is a synchronous request/reply on the GUI thread: the
// request is queued whole, then the wait runs the event loop until the
// receive path marks a matching reply ready, the time-out passes or the link
// is stopped (waitFor). A busy
// count is held for the whole operation, so a window that releases the link
// from inside the wait never frees it under us; a link already released or
// stopped starts nothing new.
#include "link/Z960Port.h"

#include "link/DateTime.h"
#include "link/LinkClock.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

using namespace Z960Frames;

namespace {

// Quillmere command numbers.
namespace Cmd {
constexpr unsigned char Null = 0;
constexpr unsigned char DateBounds = 1;
constexpr unsigned char JumpToBoot = 12;
constexpr unsigned char SetId = 62;
constexpr unsigned char LcdPlus = 63;
constexpr unsigned char LcdMinus = 64;
constexpr unsigned char TotalsUpdate = 65;
constexpr unsigned char ModemPower = 66;
constexpr unsigned char Channel = 68;
constexpr unsigned char State = 69;
constexpr unsigned char CoilCurrent = 70;
constexpr unsigned char InputSignal = 71;
constexpr unsigned char PnfSignal = 73;
constexpr unsigned char EcSignal = 74;
constexpr unsigned char AccessLevel = 75;
constexpr unsigned char Embedded = 81;
constexpr unsigned char ClearLog = 101;
constexpr unsigned char ClearAllLogs = 102;
constexpr unsigned char BackupLogs = 103;
} // namespace Cmd

// Modbus function codes.
namespace Fn {
constexpr unsigned char ReadHolding = 3;
constexpr unsigned char WriteSingle = 6;
constexpr unsigned char WriteMultiple = 16;
constexpr unsigned char SetClock = 65;
constexpr unsigned char ZeroTotals = 67;
constexpr unsigned char CommsAccess = 68;
constexpr unsigned char ExceptionBit = 0x80;
} // namespace Fn

constexpr unsigned char kStatusDone = 0x80; // first reply byte of a command the meter carried out
constexpr unsigned short kAccessLevelRegister = 88;
constexpr unsigned short kSerialNumberRegister = 56;
constexpr int kNullCommandTries = 5;
// Registers one write may carry: the Modbus limit, which also keeps the
// byte count in its one byte and the frame below the transmitters' bounds.
constexpr unsigned short kMaxWriteRegisters = 123;
// Registers one read may ask for (the byte count of the reply is one byte).
constexpr unsigned short kMaxReadRegisters = 125;
// Longest argument list a Quillmere request carries after its command byte.
constexpr std::size_t kMaxArguments = kFrameDataSize - 1;

LinkClock::Tick timeoutMs(unsigned short seconds) { return static_cast<LinkClock::Tick>(seconds) * 1000u; }

void putBigEndian(unsigned short v, unsigned char *out)
{
    out[0] = static_cast<unsigned char>(v >> 8);
    out[1] = static_cast<unsigned char>(v & 0xFF);
}

// Resets the frame record fully when it goes out of scope, whatever the outcome.
class FrameResetOnExit {
public:
    explicit FrameResetOnExit(Z960Port &port) : port_(port) {}
    ~FrameResetOnExit() { port_.resetRxTxFrame(true); }
    FrameResetOnExit(const FrameResetOnExit &) = delete;
    FrameResetOnExit &operator=(const FrameResetOnExit &) = delete;

private:
    Z960Port &port_;
};

} // namespace

// ---- Quillmere engine ---------------------------------------------------------

bool Z960Port::sendQuillmereFrame(unsigned char command, unsigned char *buf, unsigned short *len,
                                  unsigned short timeoutSeconds, std::size_t capacity)
{
    // Arguments that the frame (command byte + 1023) or the caller's
    // buffer cannot hold are refused before anything is sent.
    if (len == nullptr || buf == nullptr || *len > kMaxArguments || *len > capacity || refusesWork())
        return false;
    BusyGuard busy(*this);
    resetRxTxFrame(true);
    pcAbortSent_ = false; // a new exchange: an abort from now on is for what it starts
    frame.control = CONTROL_REQUEST;
    frame.data[0] = command;
    std::copy(buf, buf + *len, frame.data + 1);
    frame.length = static_cast<unsigned short>(*len + 1);
    frame.index = 0;
    PutChar(DLE);
    while (!(frame.status & TX_DONE))
        frameTransmitterQuillmere();
    return waitQuillmereReply(command, buf, len, timeoutSeconds, capacity);
}

bool Z960Port::waitQuillmereReply(unsigned char command, unsigned char *buf, unsigned short *len,
                                  unsigned short timeoutSeconds, std::size_t capacity)
{
    std::optional<bool> outcome;
    const auto answered = [&] {
        if (!frame.frameReady)
            return false;
        if (frame.control != CONTROL_REPLY) {
            frame.frameReady = false; // a Modbus frame is no answer to a command
            return false;
        }
        // The echo must be there and name our command; a reply that does
        // not fit the caller's buffer is not copied.
        outcome = frame.length >= 2 && frame.function == command && frame.length <= capacity;
        if (*outcome) {
            std::copy(frame.data, frame.data + frame.length, buf);
            *len = frame.length;
        }
        return true;
    };
    waitFor(answered, timeoutMs(timeoutSeconds));
    return outcome.value_or(false);
}

// ---- Modbus engine ------------------------------------------------------------

bool Z960Port::modbusRequest(Z960Data::ProtocolType wire, bool pumpEachByte, unsigned char function,
                             const unsigned char *data, unsigned short count, unsigned char *buf,
                             unsigned short *len, unsigned short timeoutSeconds, std::size_t capacity)
{
    if (buf == nullptr || len == nullptr || count > kFrameDataSize || refusesWork())
        return false;
    BusyGuard busy(*this);
    FrameResetOnExit resetAfter(*this);
    resetRxTxFrame(true);
    frame.address = static_cast<unsigned char>(modbusAddress & 0xFF);
    frame.function = function;
    frame.control = 0; // a Quillmere reply sets 0x81 here: that is how the wait tells them apart
    std::copy(data, data + count, frame.data);
    frame.length = count;
    frame.index = 0;
    rxState = RX_IDLE;

    // Sends the frame with the given transmitter. Between bytes the GUI may
    // be served; once the last byte is out nothing more is pumped here, and
    // should a reply already have taken the frame record, sending stops.
    auto send = [this, pumpEachByte](void (Z960Port::*transmit)(), bool processAfterEach) {
        for (;;) {
            (this->*transmit)();
            if (frame.status & TX_DONE)
                return;
            if (processAfterEach)
                ProcessCommunications();
            if (pumpEachByte)
                pumpMessages();
            if (!(frame.status & TX_STARTED))
                return;
        }
    };
    if (wire == Z960Data::MODBUS_ASCII) {
        PutChar(COLON);
        send(&Z960Port::frameTransmitterAscii, pumpEachByte);
    } else if (wire == Z960Data::MODBUS_RTU) {
        send(&Z960Port::frameTransmitterRtu, true);
    }
    // With any other wire nothing went out: the wait runs out and fails.
    return waitModbusReply(function, buf, len, timeoutSeconds, capacity);
}

bool Z960Port::waitModbusReply(unsigned char function, unsigned char *buf, unsigned short *len,
                               unsigned short timeoutSeconds, std::size_t capacity)
{
    const auto exceptionFunction = static_cast<unsigned char>(function | Fn::ExceptionBit);
    const auto ourAddress = static_cast<unsigned char>(modbusAddress & 0xFF);
    std::optional<bool> outcome;
    const auto answered = [&] {
        if (!frame.frameReady)
            return false;
        // Only a Modbus frame from our meter with our function (or its
        // exception) answers the request; anything else is dropped.
        const bool ours = frame.control != CONTROL_REPLY && frame.address == ourAddress
                          && (frame.function == function || frame.function == exceptionFunction);
        if (!ours) {
            frame.frameReady = false;
            return false;
        }
        if (frame.function == exceptionFunction || frame.exceptionCode != 0) {
            if (capacity >= 1) {
                buf[0] = frame.exceptionCode;
                *len = 1;
            }
            outcome = false;
        } else {
            outcome = frame.length <= capacity && frame.length <= kFrameDataSize;
            if (*outcome) {
                std::copy(frame.data, frame.data + frame.length, buf);
                *len = frame.length;
            }
        }
        return true;
    };
    waitFor(answered, timeoutMs(timeoutSeconds));
    return outcome.value_or(false);
}

namespace {

// Request data of function 3 and 6: two big-endian 16-bit values.
struct TwoWords {
    unsigned char bytes[4];
    TwoWords(unsigned short a, unsigned short b)
    {
        putBigEndian(a, bytes);
        putBigEndian(b, bytes + 2);
    }
};

} // namespace

bool Z960Port::readRegisters(unsigned short start, unsigned short count, unsigned char *buf, unsigned short *len,
                             unsigned short timeoutSeconds, std::size_t capacity)
{
    const TwoWords req(start, count);
    return modbusRequest(Z960Data::MODBUS_ASCII, false, Fn::ReadHolding, req.bytes, 4, buf, len, timeoutSeconds,
                         capacity);
}

bool Z960Port::readRegistersRTU(unsigned short start, unsigned short count, unsigned char *buf, unsigned short *len,
                                unsigned short timeoutSeconds, std::size_t capacity)
{
    const TwoWords req(start, count);
    return modbusRequest(Z960Data::MODBUS_RTU, false, Fn::ReadHolding, req.bytes, 4, buf, len, timeoutSeconds,
                         capacity);
}

bool Z960Port::writeSingleRegister(unsigned short reg, unsigned short value, unsigned char *buf, unsigned short *len,
                                   unsigned short timeoutSeconds, std::size_t capacity)
{
    const TwoWords req(reg, value);
    return modbusRequest(Z960Data::MODBUS_ASCII, false, Fn::WriteSingle, req.bytes, 4, buf, len, timeoutSeconds,
                         capacity);
}

bool Z960Port::writeSingleRegisterRTU(unsigned short reg, unsigned short value, unsigned char *buf,
                                      unsigned short *len, unsigned short timeoutSeconds, std::size_t capacity)
{
    const TwoWords req(reg, value);
    return modbusRequest(Z960Data::MODBUS_RTU, false, Fn::WriteSingle, req.bytes, 4, buf, len, timeoutSeconds,
                         capacity);
}

namespace {

// Request data of function 16: start, count, byte count, the values from buf.
// Empty when the values are more than one write carries or than buf holds.
std::vector<unsigned char> writeMultipleRequest(unsigned short start, unsigned short count, const unsigned char *buf,
                                                std::size_t capacity)
{
    const std::size_t bytes = 2u * count;
    if (buf == nullptr || count == 0 || count > kMaxWriteRegisters || bytes > capacity)
        return {};
    std::vector<unsigned char> req(5 + bytes);
    putBigEndian(start, req.data());
    putBigEndian(count, req.data() + 2);
    req[4] = static_cast<unsigned char>(bytes);
    std::copy(buf, buf + bytes, req.begin() + 5);
    return req;
}

} // namespace

bool Z960Port::writeRegisters(unsigned short start, unsigned short count, unsigned char *buf, unsigned short *len,
                              unsigned short timeoutSeconds, std::size_t capacity)
{
    const std::vector<unsigned char> req = writeMultipleRequest(start, count, buf, capacity);
    if (req.empty())
        return false;
    return modbusRequest(Z960Data::MODBUS_ASCII, false, Fn::WriteMultiple, req.data(),
                         static_cast<unsigned short>(req.size()), buf, len, timeoutSeconds, capacity);
}

bool Z960Port::writeRegistersRTU(unsigned short start, unsigned short count, unsigned char *buf, unsigned short *len,
                                 unsigned short timeoutSeconds, std::size_t capacity)
{
    const std::vector<unsigned char> req = writeMultipleRequest(start, count, buf, capacity);
    if (req.empty())
        return false;
    return modbusRequest(Z960Data::MODBUS_RTU, false, Fn::WriteMultiple, req.data(),
                         static_cast<unsigned short>(req.size()), buf, len, timeoutSeconds, capacity);
}

// ---- Modbus inside command 81 ---------------------------------------------------

bool Z960Port::sendEmbeddedFrame(unsigned char /*address: always our own*/, unsigned char function,
                                 unsigned short start, unsigned short count, unsigned char *buf, unsigned short *len,
                                 unsigned short timeoutSeconds, std::size_t capacity)
{
    if (buf == nullptr || len == nullptr || refusesWork())
        return false;
    BusyGuard busy(*this);
    // Request and reply share this buffer; any reply the receiver can hold fits.
    unsigned char r[kCommandBufferSize] = {};
    unsigned short rlen = 0;
    resetRxTxFrame(true);
    r[0] = static_cast<unsigned char>(modbusAddress & 0xFF);
    r[1] = function;
    abortFlag = false;

    switch (function) {
    case Fn::ReadHolding:
    case Fn::WriteMultiple: {
        const std::size_t bytes = 2u * count;
        const unsigned short most = function == Fn::ReadHolding ? kMaxReadRegisters : kMaxWriteRegisters;
        if (count > most || bytes > capacity)
            return false; // the byte count would not fit its byte, or buf is too short
        putBigEndian(start, r + 2);
        putBigEndian(count, r + 4);
        r[6] = static_cast<unsigned char>(bytes);
        std::copy(buf, buf + bytes, r + 7);
        rlen = static_cast<unsigned short>(7 + bytes);
        break;
    }
    case Fn::SetClock:
    case Fn::ZeroTotals:
    case Fn::CommsAccess:
        if (*len > capacity || *len > sizeof r - 2)
            return false;
        std::copy(buf, buf + *len, r + 2);
        rlen = function == Fn::SetClock ? 8 : 4;
        break;
    default:
        // No such request is built here: report it and send nothing.
        fault(Z960Fault::EmbeddedFunction);
        return false;
    }

    bool result = false;
    if (sendQuillmereFrame(Cmd::Embedded, r, &rlen, timeoutSeconds, sizeof r)) {
        // [status, 81, address, function, byte count or code, data...]
        if (rlen < 5) {
            result = false; // too short to carry a Modbus answer
        } else if (r[3] == function) {
            const std::size_t n = rlen - 5u;
            if (n <= capacity) {
                std::copy(r + 5, r + rlen, buf);
                *len = static_cast<unsigned short>(n);
                result = true;
            }
        } else if (r[3] == (function | Fn::ExceptionBit)) {
            buf[0] = r[4];
            *len = 1;
        } else {
            fault(Z960Fault::EmbeddedReply);
        }
    }
    resetRxTxFrame(true);
    return result;
}

// ---- clock, totalisers and access by protocol -----------------------------------

bool Z960Port::modbusValueCommand(unsigned char function, const unsigned char *data, unsigned short count,
                                  unsigned char *buf, unsigned short *len, unsigned short timeoutSeconds,
                                  Z960Data::ProtocolType protocol, std::size_t capacity)
{
    if (buf == nullptr || len == nullptr || count > capacity || refusesWork())
        return false;
    BusyGuard busy(*this);
    if (protocol == Z960Data::MODBUS_EMBEDDED) {
        std::copy(data, data + count, buf);
        *len = count;
        return sendEmbeddedFrame(static_cast<unsigned char>(modbusAddress & 0xFF), function, 0, 0, buf, len,
                                 timeoutSeconds, capacity);
    }
    *len = count;
    return modbusRequest(protocol, true, function, data, count, buf, len, timeoutSeconds, capacity);
}

bool Z960Port::setTime(TDateTime dateTime, unsigned char *buf, unsigned short *len, unsigned short timeoutSeconds,
                       Z960Data::ProtocolType protocol, std::size_t capacity)
{
    const std::optional<DateTime::Fields> f = DateTime::decode(dateTime);
    if (!f)
        return false; // not a date: nothing to send
    // Milliseconds are dropped; the year travels as its offset from 2000 in one byte.
    const unsigned char clock[6] = {static_cast<unsigned char>((f->year - 2000) & 0xFF),
                                    static_cast<unsigned char>(f->month), static_cast<unsigned char>(f->day),
                                    static_cast<unsigned char>(f->hour), static_cast<unsigned char>(f->minute),
                                    static_cast<unsigned char>(f->second)};
    return modbusValueCommand(Fn::SetClock, clock, 6, buf, len, timeoutSeconds, protocol, capacity);
}

bool Z960Port::resetTotalisers(unsigned short value, unsigned char *buf, unsigned short *len,
                               unsigned short timeoutSeconds, Z960Data::ProtocolType protocol, std::size_t capacity)
{
    unsigned char v[2];
    putBigEndian(value, v);
    return modbusValueCommand(Fn::ZeroTotals, v, 2, buf, len, timeoutSeconds, protocol, capacity);
}

bool Z960Port::setCommsAccess(unsigned short value, unsigned char *buf, unsigned short *len,
                              unsigned short timeoutSeconds, Z960Data::ProtocolType protocol, std::size_t capacity)
{
    unsigned char v[2];
    putBigEndian(value, v);
    return modbusValueCommand(Fn::CommsAccess, v, 2, buf, len, timeoutSeconds, protocol, capacity);
}

bool Z960Port::setDateTime(TDateTime dateTime, bool usePcClock)
{
    if (refusesWork())
        return false;
    BusyGuard busy(*this);
    if (!sendNullCommand())
        return false;
    unsigned char buf[kCommandBufferSize] = {};
    unsigned short len = 0;
    return setTime(usePcClock ? DateTime::now() : dateTime, buf, &len, 3, Z960Data::MODBUS_EMBEDDED);
}

// ---- access level -----------------------------------------------------------------

unsigned short Z960Port::getCommsAccessLevel()
{
    unsigned char buf[kCommandBufferSize] = {};
    unsigned short len = 0;
    if (!sendEmbeddedFrame(static_cast<unsigned char>(modbusAddress & 0xFF), Fn::ReadHolding, kAccessLevelRegister,
                           1, buf, &len, 1)
        || len < 2)
        return 0;
    return static_cast<unsigned short>(buf[0] * 256 + buf[1]);
}

unsigned short Z960Port::sendAccessCode(unsigned short code)
{
    if (refusesWork())
        return 0;
    BusyGuard busy(*this);
    FrameResetOnExit resetAfter(*this);
    unsigned char buf[kCommandBufferSize] = {};
    putBigEndian(code, buf);
    unsigned short len = 2;
    if (!sendEmbeddedFrame(static_cast<unsigned char>(modbusAddress & 0xFF), Fn::CommsAccess, 0, 0, buf, &len, 1))
        return 0;
    return getCommsAccessLevel();
}

unsigned short Z960Port::loggin(unsigned short code)
{
    // Only the three comms access codes are sent; any other code goes nowhere.
    if (code != configImage.pwdC0() && code != configImage.pwdC1() && code != configImage.pwdC2())
        return 0;
    return sendAccessCode(code);
}

unsigned short Z960Port::logout()
{
    // The smallest value that is none of the codes logs the meter out.
    unsigned short candidate = 0;
    while (candidate < 65535
           && (candidate == configImage.pwdC0() || candidate == configImage.pwdC1() || candidate == configImage.pwdC2()))
        ++candidate;
    return sendAccessCode(candidate);
}

bool Z960Port::verifySerialNumber()
{
    unsigned char buf[kCommandBufferSize] = {};
    unsigned short len = 0;
    if (!sendEmbeddedFrame(static_cast<unsigned char>(modbusAddress & 0xFF), Fn::ReadHolding, kSerialNumberRegister,
                           3, buf, &len, 3)
        || len < 6)
        return false;
    const unsigned char *serial = systemImage.data(); // the six bytes at the start
    for (int i = 0; i < 6; ++i)
        if (serial[i] != buf[5 - i])
            return false;
    return true;
}

// ---- the command set ----------------------------------------------------------------

bool Z960Port::sendNullCommand()
{
    abortFlag = false;
    if (refusesWork())
        return false;
    BusyGuard busy(*this);
    bool ok = false;
    try {
        FlushCommsBuffers();
        for (int t = 0; t < triesNow(kNullCommandTries) && !ok && !abortFlag; ++t) {
            resetRxTxFrame(true);
            unsigned char buf[kCommandBufferSize] = {};
            unsigned short len = 0;
            ok = sendQuillmereFrame(Cmd::Null, buf, &len, 1);
        }
    } catch (...) {
        // The serial component gave up: the meter was not reached.
    }
    return ok;
}

bool Z960Port::runCommand(unsigned char command, const unsigned char *args, unsigned short argLen,
                          unsigned short timeoutSeconds, unsigned char *reply, unsigned short *replyLen)
{
    abortFlag = false;
    if (argLen > kMaxArguments || (argLen > 0 && args == nullptr))
        return false;
    unsigned char buf[kCommandBufferSize] = {};
    if (argLen > 0)
        std::memcpy(buf, args, argLen);
    unsigned short len = argLen;
    if (!sendQuillmereFrame(command, buf, &len, timeoutSeconds))
        return false;
    // A refused command is not reported as done.
    if (buf[0] != kStatusDone)
        return false;
    if (reply != nullptr)
        std::memcpy(reply, buf, len);
    if (replyLen != nullptr)
        *replyLen = len;
    return true;
}

bool Z960Port::pingThenCommand(unsigned char command, const unsigned char *args, unsigned short argLen,
                               unsigned short timeoutSeconds)
{
    if (refusesWork())
        return false;
    BusyGuard busy(*this);
    resetRxTxFrame(true);
    if (!sendNullCommand())
        return false;
    return runCommand(command, args, argLen, timeoutSeconds);
}

bool Z960Port::readFloatCommand(unsigned char command, const unsigned char *args, unsigned short argLen, float *value)
{
    if (value == nullptr)
        return false;
    unsigned char reply[kCommandBufferSize] = {};
    unsigned short len = 0;
    // [status, echo, byte 2, float32 little-endian]: a shorter reply carries no value.
    if (!runCommand(command, args, argLen, 10, reply, &len) || len < 7)
        return false;
    const std::uint32_t bits = static_cast<std::uint32_t>(reply[3]) | (static_cast<std::uint32_t>(reply[4]) << 8)
                               | (static_cast<std::uint32_t>(reply[5]) << 16)
                               | (static_cast<std::uint32_t>(reply[6]) << 24);
    std::memcpy(value, &bits, sizeof bits);
    return true;
}

bool Z960Port::GetDateTimeBounds(unsigned char log, Z960Data::sTimestamp *first, Z960Data::sTimestamp *last)
{
    if (first == nullptr || last == nullptr)
        return false;
    unsigned char reply[kCommandBufferSize] = {};
    unsigned short len = 0;
    // [0x80, 1, first (6), last (6)]: both bounds must be there.
    if (!runCommand(Cmd::DateBounds, &log, 1, 120, reply, &len) || len < 14)
        return false;
    first->assign(reply + 2, Z960Data::sTimestamp::kSize);
    last->assign(reply + 8, Z960Data::sTimestamp::kSize);
    return true;
}

bool Z960Port::jumpToBootCode() { return runCommand(Cmd::JumpToBoot, nullptr, 0, 2); }
bool Z960Port::setID(unsigned char id) { return runCommand(Cmd::SetId, &id, 1, 2); }
bool Z960Port::sendLcdPlusCommand() { return runCommand(Cmd::LcdPlus, nullptr, 0, 2); }
bool Z960Port::sendLcdMinusCommand() { return runCommand(Cmd::LcdMinus, nullptr, 0, 2); }
bool Z960Port::setModemPower(unsigned char v) { return runCommand(Cmd::ModemPower, &v, 1, 2); }
bool Z960Port::setState(unsigned char state) { return runCommand(Cmd::State, &state, 1, 10); }
bool Z960Port::ClearDataFlashLog(unsigned char log) { return runCommand(Cmd::ClearLog, &log, 1, 120); }
bool Z960Port::ClearAllDataFlashLogs() { return runCommand(Cmd::ClearAllLogs, nullptr, 0, 120); }
bool Z960Port::sendSimpleCommand(unsigned char command) { return runCommand(command, nullptr, 0, 5); }

bool Z960Port::sendTotalsUpdateCommand(const unsigned char *data, unsigned short len)
{
    return runCommand(Cmd::TotalsUpdate, data, len, 3);
}

bool Z960Port::setCoilCurrent(unsigned char a, unsigned short b)
{
    const unsigned char args[3] = {a, static_cast<unsigned char>(b & 0xFF), static_cast<unsigned char>(b >> 8)};
    return runCommand(Cmd::CoilCurrent, args, 3, 5);
}

bool Z960Port::readChannel(unsigned short channel, float *value)
{
    // The channel low byte first; the four bytes after it carry nothing.
    const unsigned char args[6] = {static_cast<unsigned char>(channel & 0xFF), static_cast<unsigned char>(channel >> 8),
                                   0, 0, 0, 0};
    return readFloatCommand(Cmd::Channel, args, 6, value);
}

bool Z960Port::readInputSignal(float *value) { return readFloatCommand(Cmd::InputSignal, nullptr, 0, value); }
bool Z960Port::readPNFSignal(float *value) { return readFloatCommand(Cmd::PnfSignal, nullptr, 0, value); }
bool Z960Port::readECSignal(float *value) { return readFloatCommand(Cmd::EcSignal, nullptr, 0, value); }

bool Z960Port::setAccessLevel(unsigned char level) { return pingThenCommand(Cmd::AccessLevel, &level, 1, 10); }
bool Z960Port::backupLogsToSdcard() { return pingThenCommand(Cmd::BackupLogs, nullptr, 0, 3); }
