// Basic types of the serial library: its exception class, the small set
// template, the enumerations of the line settings and their device values.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>

// Every error the serial library raises itself. The system error code and
// the system's text for it are part of the message.
class ESerCommError : public std::runtime_error {
public:
    explicit ESerCommError(const std::string &message) : std::runtime_error(message) {}
};

// Messages of the library, exactly as the user sees them.
namespace SerMsg {
inline constexpr const char *PortOpen = "Can't perform this operation while port is open";
inline constexpr const char *PortClosed = "Can't perform this operation while port is closed";
inline constexpr const char *DeviceNotFound = "Specified device not found (%s).";
inline constexpr const char *CantOpen = "Can't open specified device %s";
inline constexpr const char *CantOpenDetail = " (Error %d, %s)";
inline constexpr const char *WriteDcb = "Error writing dcb (%d), %s";
inline constexpr const char *InitBuffers = "Error initializing buffers (%d), %s";
inline constexpr const char *SetTimeouts = "Error setting timeouts (%d), %s";
inline constexpr const char *SetEventMask = " Error setting EventMask (%d), %s";
inline constexpr const char *ReadError = "Read error (%d), %s";
inline constexpr const char *WriteError = "Write error (%d), %s";
inline constexpr const char *OutputFull = "Output buffer is full. Please check comm status.";
inline constexpr const char *Statistics = "Error retrieving statistics (%d), %s";
inline constexpr const char *ClearBuffers = "Error clearing buffers (%d), %s";
inline constexpr const char *CommFunction = "Error calling comm function (%d), %s";
inline constexpr const char *PortProperties = "Error reading port properties (%d), %s";
inline constexpr const char *ModemState = "Error reading modem state (%d), %s";
inline constexpr const char *DtrHandshake = "DTR line updates not allowed when flowcontrol is set to Handshake.";
inline constexpr const char *RtsHandshake =
    "RTS line updates not allowed when flowcontrol is set to Handshake or Toggle.";
inline constexpr const char *DefaultParams = "Error reading default port parameters.";
} // namespace SerMsg

// Fills a library message: each "%d" takes the next number argument and each
// "%s" the next text argument, in the order they appear; "%%" is a percent
// sign. No other conversion is interpreted, so a text from outside (a device
// name) can never act as a format.
std::string SerFormat(const std::string &format, std::initializer_list<long long> numbers,
                      std::initializer_list<std::string> texts);

// A set of enumeration values stored as bits (bit n = ordinal n).
template <typename E, typename Bits>
class TSerSet {
public:
    constexpr TSerSet() = default;
    constexpr TSerSet(std::initializer_list<E> values)
    {
        for (E v : values)
            m_bits = Bits(m_bits | bit(v));
    }
    static constexpr TSerSet fromBits(Bits b)
    {
        TSerSet s;
        s.m_bits = b;
        return s;
    }
    constexpr Bits bits() const { return m_bits; }
    constexpr bool contains(E v) const { return (m_bits & bit(v)) != 0; }
    constexpr bool empty() const { return m_bits == 0; }
    TSerSet &include(E v)
    {
        m_bits = Bits(m_bits | bit(v));
        return *this;
    }
    TSerSet &exclude(E v)
    {
        m_bits = Bits(m_bits & ~bit(v));
        return *this;
    }
    friend constexpr bool operator==(TSerSet a, TSerSet b) { return a.m_bits == b.m_bits; }
    friend constexpr bool operator!=(TSerSet a, TSerSet b) { return a.m_bits != b.m_bits; }

private:
    static constexpr Bits bit(E v) { return Bits(Bits(1) << static_cast<unsigned>(v)); }
    Bits m_bits = 0;
};

enum TSerBaudrate : uint8_t {
    brUser, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200,
    br38400, br56000, br57600, br115200, br128000, br256000
};
constexpr int SerBaudrateCount = 16;

enum TSerParity : uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TSerDatabits : uint8_t { db4, db5, db6, db7, db8 };
enum TSerStopbits : uint8_t { sb1, sb15, sb2 };

enum TSerCommOption : uint8_t { coErrorChar, coNullStrip, coParityCheck };
using TSerCommOptions = TSerSet<TSerCommOption, uint8_t>;

enum TSerCommEvent : uint8_t {
    ceBreak, ceCts, ceDsr, ceError, ceRing, ceRlsd, ceRxChar, ceTxEmpty,
    ceRxFlag, cePErr, ceRx80Full, ceEvent1, ceEvent2
};
constexpr int SerCommEventCount = 13;
using TSerCommEvents = TSerSet<TSerCommEvent, uint16_t>;

enum TSerControlDtr : uint8_t { dtrDisabled, dtrEnabled, dtrHandshake };
enum TSerControlRts : uint8_t { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };

enum TThreadPriority : uint8_t { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Port numbers and buffer values: 0..2147483647.
using TSerPortInt = int32_t;
using TSerIntW = int32_t;

// Received bytes handed to dispatchers; only Count bytes are valid.
constexpr int SerDataSize = 32768;
using TSerData = uint8_t[SerDataSize];
using PSerData = const uint8_t *;

// The device values of the enumerations, one table each.
namespace SerTables {
// DCB BaudRate per TSerBaudrate; brUser's entry is 0 (the rate is UserBaudrate).
extern const uint32_t BaudRates[SerBaudrateCount];
// Settings-dialog texts per TSerBaudrate.
extern const char *const BaudRateTexts[SerBaudrateCount];
// DCB ByteSize per TSerDatabits.
extern const uint8_t ByteSizes[5];
// DCB flag bit per TSerCommOption.
extern const uint32_t OptionFlags[3];
// Event-mask bit per TSerCommEvent.
extern const uint32_t EventMaskBits[SerCommEventCount];
} // namespace SerTables
