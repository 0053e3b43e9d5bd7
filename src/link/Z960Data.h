// The meter's data structures as byte-exact wire images.
//
// Usage
//   Z960Data::sConfig cfg;                       // 332 zero bytes
//   cfg.assign(reply + 2, cfg.size());           // replace the whole image (false if the size differs)
//   cfg.copyTo(buffer + 1);                      // copy the whole image out (size() bytes)
//   uint32_t site = cfg.SiteID();                // named little-endian accessors ...
//   cfg.setSiteID(999999);                       // ... each setter touches only its own bytes
//   cfg.alarm(2).alarm_cause();                  // sub-records: indexed views into the image
//   cfg.alarm(2).setAlarm_cause(1);
//   cal.flowTubeFactor(3); cal.setFlowTubeFactor(3, 1.5f);   // arrays: element index
//   cfg.lowPowerMode(); cfg.setLowPowerMode(true);           // single bits of `flags`
//
// Descriptors: every field is also a constexpr Z960Data::FieldDesc, for field tables
// (setup dialog, report) that bind to fields without naming accessors:
//   constexpr auto d1 = Z960Data::ConfigField::SiteID;                     // scalar
//   constexpr auto d2 = Z960Data::CalField::flowTubeFactor.at(3);          // array element
//   constexpr auto d3 = Z960Data::ConfigField::alarm.at(2)
//                           .field(Z960Data::AlarmConfigField::alarm_cause); // field of sub-record 2
//   cfg.number(d1); cfg.setNumber(d1, 12.0);     // numeric fields and bits, as double
//   cfg.get<float>(d2); cfg.set<Timestamp>(ConfigField::offPeakStart, ts);  // typed
// Descriptor access checks the structure, the type and that one element is meant, and
// throws std::invalid_argument otherwise. <Name>Field::kAll lists a structure's entries in
// order, reserved stretches included; a static_assert proves each list tiles its structure.
// leafFields() expands a list into every readable element (tests, generic dumps).
//
// Array and sub-record indices out of range throw std::out_of_range; device values that
// select something (channel codes) go through checked lookups such as
// channelValue(status, code), which give no value for an unknown code.
//
// Pure C++17: no Qt here.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Z960Data {

// ---------------------------------------------------------------------------
// Structure numbers, protocols, access levels, meter states

enum StructureId : unsigned char {
    STATUS = 0,
    SYSTEM = 1,
    STRUCTURE2 = 2,
    STRUCTURE3 = 3,
    CAL = 4,
    CONFIG = 5,
    BASIC_CAL = 6,
    STRUCTURE7 = 7,
};

// How a Modbus request travels.
enum ProtocolType : unsigned char {
    MODBUS_ASCII = 0,
    MODBUS_RTU = 1,
    MODBUS_EMBEDDED = 2, // Modbus request carried inside a Quillmere frame
};

// The meter's comms access level (holding register 88).
enum AccessLevel : short {
    ACCESS_LEVEL_0 = 0,
    ACCESS_LEVEL_1 = 1,
    ACCESS_LEVEL_2 = 2,
    ACCESS_LEVEL_3 = 3,
};
constexpr bool isAccessLevel(long level) { return level >= 0 && level <= 3; }
// Levels 2 and 3 open the clock, the setup dialog and its configuration pages.
constexpr bool accessAllowsSetup(long level) { return level == 2 || level == 3; }
// Level 3 adds calibration, basic calibration, access codes and log clearing.
constexpr bool accessAllowsCalibration(long level) { return level == 3; }

// Argument of the state change; 3 is never sent.
enum MeterState : unsigned char {
    SCHEDULER_STOPPED = 0,
    SCHEDULER_RUNNING = 1,
    CALIBRATION_MODE = 2,
    MAINTENANCE_MODE = 4,
};

// ---------------------------------------------------------------------------
// Descriptors

// Which structure or sub-record a descriptor's offset counts from.
enum class Layout : std::uint8_t {
    Status,
    System,
    Structure2,
    Structure3,
    Cal,
    Config,
    BasicCal,
    Structure7,
    Timestamp,
    WireTimestamp,
    AlarmConfig,
    AnalogOut,
    DigitalOut,
    AlarmState,
    Compensation,
    None,
};

enum class ValueType : std::uint8_t {
    UInt8,
    Int8,
    Char,
    UInt16,
    Int16,
    UInt32,
    Int32,
    Float32,
    Float64,
    Timestamp, // a 10-byte Timestamp record
    Record,    // a sub-record (see recordLayout)
    Reserved,  // bytes nothing reads or writes
};

struct FieldDesc {
    const char *name;             // field name; "reserved" for reserved bytes
    Layout layout;                // what offset counts from
    std::uint16_t offset;         // of the first (or only) element
    std::uint16_t width;          // bytes of one element
    std::uint16_t count;          // elements described (1 for a scalar or one element)
    ValueType type;
    bool isArray;                 // an array or sub-record array (at() picks an element)
    std::int16_t index;           // element index when this is one array element, else -1
    std::int16_t recordIndex;     // index of the enclosing sub-record element, else -1
    const char *recordName;       // enclosing sub-record array ("alarm"), else nullptr
    Layout recordLayout;          // for Record entries: the layout of each element
    std::uint16_t bitMask;        // non-zero: one switch bit of a uint16 field
    bool overlay;                 // lies over other entries, not part of the tiling

    constexpr std::uint32_t span() const { return std::uint32_t(width) * count; }
    constexpr bool isElementSelected() const { return !isArray || index >= 0; }

    // Element i of an array (or sub-record array).
    constexpr FieldDesc at(int i) const
    {
        if (!isArray || index >= 0 || i < 0 || i >= count)
            throw std::out_of_range("Z960Data: element index out of range");
        FieldDesc d = *this;
        d.offset = static_cast<std::uint16_t>(offset + i * width);
        d.count = 1;
        d.index = static_cast<std::int16_t>(i);
        return d;
    }

    // A field of the sub-record element this descriptor selects, placed in the parent.
    constexpr FieldDesc field(const FieldDesc &sub) const
    {
        if (type != ValueType::Record || index < 0 || sub.layout != recordLayout)
            throw std::invalid_argument("Z960Data: field of another sub-record");
        FieldDesc d = sub;
        d.layout = layout;
        d.offset = static_cast<std::uint16_t>(offset + sub.offset);
        d.recordIndex = index;
        d.recordName = name;
        return d;
    }
};

namespace detail {

template <class T> struct Codec;

template <class T> struct IntCodec {
    static constexpr std::size_t width = sizeof(T);
    static T load(const std::uint8_t *p)
    {
        using U = std::make_unsigned_t<T>;
        U v = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            v = static_cast<U>(v | (U(p[i]) << (8 * i)));
        return static_cast<T>(v);
    }
    static void store(std::uint8_t *p, T value)
    {
        using U = std::make_unsigned_t<T>;
        const U v = static_cast<U>(value);
        for (std::size_t i = 0; i < sizeof(T); ++i)
            p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
};

template <> struct Codec<std::uint8_t> : IntCodec<std::uint8_t> { static constexpr ValueType type = ValueType::UInt8; };
template <> struct Codec<std::int8_t> : IntCodec<std::int8_t> { static constexpr ValueType type = ValueType::Int8; };
template <> struct Codec<char> : IntCodec<char> { static constexpr ValueType type = ValueType::Char; };
template <> struct Codec<std::uint16_t> : IntCodec<std::uint16_t> { static constexpr ValueType type = ValueType::UInt16; };
template <> struct Codec<std::int16_t> : IntCodec<std::int16_t> { static constexpr ValueType type = ValueType::Int16; };
template <> struct Codec<std::uint32_t> : IntCodec<std::uint32_t> { static constexpr ValueType type = ValueType::UInt32; };
template <> struct Codec<std::int32_t> : IntCodec<std::int32_t> { static constexpr ValueType type = ValueType::Int32; };

template <class F, class Bits> struct FloatCodec {
    static_assert(sizeof(F) == sizeof(Bits), "IEEE 754 width");
    static constexpr std::size_t width = sizeof(F);
    static F load(const std::uint8_t *p)
    {
        const Bits bits = IntCodec<Bits>::load(p);
        F v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    static void store(std::uint8_t *p, F value)
    {
        Bits bits;
        std::memcpy(&bits, &value, sizeof bits);
        IntCodec<Bits>::store(p, bits);
    }
};
template <> struct Codec<float> : FloatCodec<float, std::uint32_t> { static constexpr ValueType type = ValueType::Float32; };
template <> struct Codec<double> : FloatCodec<double, std::uint64_t> { static constexpr ValueType type = ValueType::Float64; };
// Codec<Timestamp> follows the Timestamp class below.

template <class T> T load(const std::uint8_t *p) { return Codec<T>::load(p); }
template <class T> void store(std::uint8_t *p, T v) { Codec<T>::store(p, v); }

inline std::size_t checkIndex(int i, int count)
{
    if (i < 0 || i >= count)
        throw std::out_of_range("Z960Data: index " + std::to_string(i) + " outside 0.." +
                                std::to_string(count - 1));
    return static_cast<std::size_t>(i);
}

constexpr std::size_t valueWidth(ValueType t)
{
    switch (t) {
    case ValueType::UInt8:
    case ValueType::Int8:
    case ValueType::Char:
        return 1;
    case ValueType::UInt16:
    case ValueType::Int16:
        return 2;
    case ValueType::UInt32:
    case ValueType::Int32:
    case ValueType::Float32:
        return 4;
    case ValueType::Float64:
        return 8;
    case ValueType::Timestamp:
        return 10;
    case ValueType::Record:
    case ValueType::Reserved:
        return 0; // any width
    }
    return 0;
}

template <class T>
constexpr FieldDesc scalar(const char *name, Layout l, std::uint16_t off)
{
    return FieldDesc{name, l, off, std::uint16_t(Codec<T>::width), 1, Codec<T>::type,
                     false, -1, -1, nullptr, Layout::None, 0, false};
}
template <class T>
constexpr FieldDesc array(const char *name, Layout l, std::uint16_t off, std::uint16_t n,
                          bool overlay = false)
{
    return FieldDesc{name, l, off, std::uint16_t(Codec<T>::width), n, Codec<T>::type,
                     true, -1, -1, nullptr, Layout::None, 0, overlay};
}
constexpr FieldDesc records(const char *name, Layout l, std::uint16_t off, std::uint16_t width,
                            std::uint16_t n, Layout element)
{
    return FieldDesc{name, l, off, width, n, ValueType::Record, true, -1, -1, nullptr, element, 0,
                     false};
}
constexpr FieldDesc reserved(Layout l, std::uint16_t off, std::uint16_t width)
{
    return FieldDesc{"reserved", l, off, width, 1, ValueType::Reserved, false, -1, -1, nullptr,
                     Layout::None, 0, false};
}
constexpr FieldDesc bit(const char *name, Layout l, std::uint16_t off, std::uint16_t mask)
{
    return FieldDesc{name, l, off, 2, 1, ValueType::UInt16, false, -1, -1, nullptr, Layout::None,
                     mask, true};
}

// True when the non-overlay entries lie back to back from 0 to size, every width
// matches its type and every overlay lies inside the structure.
template <std::size_t N>
constexpr bool tiles(const FieldDesc (&list)[N], std::size_t size)
{
    std::size_t pos = 0;
    for (std::size_t i = 0; i < N; ++i) {
        const FieldDesc &d = list[i];
        const std::size_t w = valueWidth(d.type);
        if (d.count == 0 || d.width == 0 || (w != 0 && w != d.width))
            return false;
        if (d.overlay) {
            if (d.offset + d.span() > size)
                return false;
            continue;
        }
        if (d.offset != pos)
            return false;
        pos += d.span();
    }
    return pos == size;
}

} // namespace detail

// ---------------------------------------------------------------------------
// Image base: the bytes and access by descriptor

template <std::size_t N, Layout L>
class Image {
public:
    static constexpr std::size_t kSize = N;
    static constexpr Layout kLayout = L;

    static constexpr std::size_t size() { return N; }
    const std::uint8_t *data() const { return bytes_.data(); }
    std::uint8_t *data() { return bytes_.data(); }
    const std::array<std::uint8_t, N> &bytes() const { return bytes_; }

    // Replaces the whole image; refuses (false, image unchanged) any other length.
    bool assign(const std::uint8_t *src, std::size_t len)
    {
        if (src == nullptr || len != N)
            return false;
        std::memcpy(bytes_.data(), src, N);
        return true;
    }
    void assign(const std::array<std::uint8_t, N> &src) { bytes_ = src; }
    // Copies the whole image to dst (size() bytes).
    void copyTo(std::uint8_t *dst) const { std::memcpy(dst, bytes_.data(), N); }
    void clear() { bytes_.fill(0); }

    friend bool operator==(const Image &a, const Image &b) { return a.bytes_ == b.bytes_; }
    friend bool operator!=(const Image &a, const Image &b) { return !(a == b); }

    template <class T> T get(const FieldDesc &d) const
    {
        check(d, detail::Codec<T>::type, false);
        return detail::load<T>(bytes_.data() + d.offset);
    }
    template <class T> void set(const FieldDesc &d, T value)
    {
        check(d, detail::Codec<T>::type, false);
        detail::store<T>(bytes_.data() + d.offset, value);
    }

    // A numeric field or bit as a double (bits give 0 or 1).
    double number(const FieldDesc &d) const
    {
        check(d, d.type);
        const std::uint8_t *p = bytes_.data() + d.offset;
        if (d.bitMask != 0)
            return (detail::load<std::uint16_t>(p) & d.bitMask) != 0 ? 1.0 : 0.0;
        switch (d.type) {
        case ValueType::UInt8: return detail::load<std::uint8_t>(p);
        case ValueType::Int8: return detail::load<std::int8_t>(p);
        case ValueType::Char: return static_cast<unsigned char>(detail::load<char>(p));
        case ValueType::UInt16: return detail::load<std::uint16_t>(p);
        case ValueType::Int16: return detail::load<std::int16_t>(p);
        case ValueType::UInt32: return detail::load<std::uint32_t>(p);
        case ValueType::Int32: return detail::load<std::int32_t>(p);
        case ValueType::Float32: return detail::load<float>(p);
        case ValueType::Float64: return detail::load<double>(p);
        default: break;
        }
        throw std::invalid_argument(std::string("Z960Data: ") + d.name + " is not a number");
    }

    // Stores v in a numeric field: integers take the value truncated toward zero and
    // refuse (std::out_of_range, nothing stored) one their type cannot hold; a bit is
    // set for any non-zero v and cleared for 0, the other bits keep their values.
    void setNumber(const FieldDesc &d, double v)
    {
        check(d, d.type);
        std::uint8_t *p = bytes_.data() + d.offset;
        if (d.bitMask != 0) {
            const std::uint16_t old = detail::load<std::uint16_t>(p);
            detail::store<std::uint16_t>(
                p, static_cast<std::uint16_t>(v != 0.0 ? (old | d.bitMask) : (old & ~d.bitMask)));
            return;
        }
        switch (d.type) {
        case ValueType::UInt8: return storeInt<std::uint8_t>(d, p, v);
        case ValueType::Int8: return storeInt<std::int8_t>(d, p, v);
        case ValueType::Char: return storeInt<std::uint8_t>(d, p, v);
        case ValueType::UInt16: return storeInt<std::uint16_t>(d, p, v);
        case ValueType::Int16: return storeInt<std::int16_t>(d, p, v);
        case ValueType::UInt32: return storeInt<std::uint32_t>(d, p, v);
        case ValueType::Int32: return storeInt<std::int32_t>(d, p, v);
        case ValueType::Float32:
            if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<float>::max())
                throw std::out_of_range(std::string("Z960Data: value out of range for ") + d.name);
            return detail::store<float>(p, static_cast<float>(v));
        case ValueType::Float64: return detail::store<double>(p, v);
        default: break;
        }
        throw std::invalid_argument(std::string("Z960Data: ") + d.name + " is not a number");
    }

protected:
    const std::uint8_t *base() const { return bytes_.data(); }
    std::uint8_t *base() { return bytes_.data(); }

private:
    void check(const FieldDesc &d, ValueType wanted, bool bitsAllowed = true) const
    {
        if (d.layout != L || !d.isElementSelected() || d.type != wanted ||
            (d.bitMask != 0 && !bitsAllowed) ||
            d.type == ValueType::Record || d.type == ValueType::Reserved ||
            std::size_t(d.offset) + d.width > N)
            throw std::invalid_argument(std::string("Z960Data: descriptor ") + d.name +
                                        " does not name one value of this structure");
    }
    template <class T> static void storeInt(const FieldDesc &d, std::uint8_t *p, double v)
    {
        const double t = std::trunc(v);
        if (!(t >= double(std::numeric_limits<T>::min()) && t <= double(std::numeric_limits<T>::max())))
            throw std::out_of_range(std::string("Z960Data: value out of range for ") + d.name);
        detail::store<T>(p, static_cast<T>(t));
    }

    std::array<std::uint8_t, N> bytes_{};
};

// ---------------------------------------------------------------------------
// Generators. A field list is a macro taking six callbacks:
//   F(type, name, setter, offset)              scalar
//   A(type, name, setter, offset, count)       array
//   S(record, name, offset, count)             array of sub-records
//   R(offset, width)                           reserved bytes
//   B(name, setter, offset, mask)              one bit of a uint16 field (overlay)
//   O(type, name, setter, offset, count)       array lying over other entries (overlay)

#define Z960_ACC_F(T, name, setter, off)                                                      \
    T name() const { return ::Z960Data::detail::load<T>(this->base() + (off)); }             \
    void setter(T v) { ::Z960Data::detail::store<T>(this->base() + (off), v); }
#define Z960_ACC_A(T, name, setter, off, n)                                                   \
    static constexpr int name##Count = (n);                                                   \
    T name(int i) const                                                                       \
    {                                                                                         \
        return ::Z960Data::detail::load<T>(                                                   \
            this->base() + (off) + ::Z960Data::detail::Codec<T>::width *                      \
                                       ::Z960Data::detail::checkIndex(i, (n)));               \
    }                                                                                         \
    void setter(int i, T v)                                                                   \
    {                                                                                         \
        ::Z960Data::detail::store<T>(this->base() + (off) +                                   \
                                         ::Z960Data::detail::Codec<T>::width *                \
                                             ::Z960Data::detail::checkIndex(i, (n)),          \
                                     v);                                                      \
    }
#define Z960_ACC_S(Rec, name, off, n)                                                         \
    static constexpr int name##Count = (n);                                                   \
    Rec::ConstRef name(int i) const                                                           \
    {                                                                                         \
        return Rec::ConstRef(this->base() + (off) +                                           \
                             Rec::kSize * ::Z960Data::detail::checkIndex(i, (n)));            \
    }                                                                                         \
    Rec::Ref name(int i)                                                                      \
    {                                                                                         \
        return Rec::Ref(this->base() + (off) + Rec::kSize * ::Z960Data::detail::checkIndex(i, (n))); \
    }
#define Z960_ACC_R(off, w)
#define Z960_ACC_B(name, setter, off, mask)                                                   \
    bool name() const                                                                         \
    {                                                                                         \
        return (::Z960Data::detail::load<std::uint16_t>(this->base() + (off)) & (mask)) != 0; \
    }                                                                                         \
    void setter(bool on)                                                                      \
    {                                                                                         \
        const std::uint16_t old = ::Z960Data::detail::load<std::uint16_t>(this->base() + (off)); \
        ::Z960Data::detail::store<std::uint16_t>(                                             \
            this->base() + (off),                                                             \
            static_cast<std::uint16_t>(on ? (old | (mask)) : (old & ~(mask))));               \
    }
#define Z960_ACC_O Z960_ACC_A
#define Z960_ACCESSORS(LIST) LIST(Z960_ACC_F, Z960_ACC_A, Z960_ACC_S, Z960_ACC_R, Z960_ACC_B, Z960_ACC_O)

#define Z960_DESC_F(T, name, setter, off) \
    inline constexpr FieldDesc name = ::Z960Data::detail::scalar<T>(#name, kLayout, (off));
#define Z960_DESC_A(T, name, setter, off, n) \
    inline constexpr FieldDesc name = ::Z960Data::detail::array<T>(#name, kLayout, (off), (n));
#define Z960_DESC_S(Rec, name, off, n)                                                        \
    inline constexpr FieldDesc name =                                                         \
        ::Z960Data::detail::records(#name, kLayout, (off), Rec::kSize, (n), Rec::kLayout);
#define Z960_DESC_R(off, w)
#define Z960_DESC_B(name, setter, off, mask) \
    inline constexpr FieldDesc name = ::Z960Data::detail::bit(#name, kLayout, (off), (mask));
#define Z960_DESC_O(T, name, setter, off, n) \
    inline constexpr FieldDesc name = ::Z960Data::detail::array<T>(#name, kLayout, (off), (n), true);

#define Z960_ROW_F(T, name, setter, off) name,
#define Z960_ROW_A(T, name, setter, off, n) name,
#define Z960_ROW_S(Rec, name, off, n) name,
#define Z960_ROW_R(off, w) ::Z960Data::detail::reserved(kLayout, (off), (w)),
#define Z960_ROW_B(name, setter, off, mask) name,
#define Z960_ROW_O(T, name, setter, off, n) name,

// Named descriptors and the ordered list <NS>::kAll of one field list.
#define Z960_FIELDS(NS, LAYOUT, SIZE, LIST)                                                   \
    namespace NS {                                                                            \
    inline constexpr Layout kLayout = (LAYOUT);                                               \
    inline constexpr std::size_t kSize = (SIZE);                                              \
    LIST(Z960_DESC_F, Z960_DESC_A, Z960_DESC_S, Z960_DESC_R, Z960_DESC_B, Z960_DESC_O)        \
    inline constexpr FieldDesc kAll[] = {                                                     \
        LIST(Z960_ROW_F, Z960_ROW_A, Z960_ROW_S, Z960_ROW_R, Z960_ROW_B, Z960_ROW_O)};        \
    static_assert(::Z960Data::detail::tiles(kAll, kSize),                                     \
                  "field list of " #NS " must tile its structure exactly");                   \
    }

// A sub-record: its owning image type Name (with Name::Ref and Name::ConstRef views
// into a parent image) and its descriptors NS::*.
#define Z960_RECORD(Name, NS, LAYOUT, SIZE, LIST)                                             \
    Z960_FIELDS(NS, LAYOUT, SIZE, LIST)                                                       \
    template <class Byte> class Name##View {                                                  \
    public:                                                                                   \
        static constexpr std::size_t kSize = (SIZE);                                          \
        explicit Name##View(Byte *p) : p_(p) {}                                               \
        Byte *data() const { return p_; }                                                     \
        static constexpr std::size_t size() { return kSize; }                                 \
        Z960_ACCESSORS(LIST)                                                                  \
    private:                                                                                  \
        Byte *base() const { return p_; }                                                     \
        Byte *p_;                                                                             \
    };                                                                                        \
    class Name : public Image<(SIZE), (LAYOUT)> {                                             \
    public:                                                                                   \
        using Ref = Name##View<std::uint8_t>;                                                 \
        using ConstRef = Name##View<const std::uint8_t>;                                      \
        Z960_ACCESSORS(LIST)                                                                  \
    };

// A top-level structure image Name with descriptors NS::*.
#define Z960_STRUCTURE(Name, NS, LAYOUT, SIZE, LIST)                                          \
    Z960_FIELDS(NS, LAYOUT, SIZE, LIST)                                                       \
    class Name : public Image<(SIZE), (LAYOUT)> {                                             \
    public:                                                                                   \
        Z960_ACCESSORS(LIST)                                                                  \
    };

// ---------------------------------------------------------------------------
// Timestamps

// The 10-byte date and time record inside the structures: years since 2000, month,
// day, hour, minute, second, then 4 bytes the program never touches.
#define Z960_TIMESTAMP_FIELDS(F, A, S, R, B, O)  \
    F(std::uint8_t, year, setYear, 0)            \
    F(std::uint8_t, month, setMonth, 1)          \
    F(std::uint8_t, day, setDay, 2)              \
    F(std::uint8_t, hour, setHour, 3)            \
    F(std::uint8_t, minute, setMinute, 4)        \
    F(std::uint8_t, second, setSecond, 5)        \
    R(6, 4)
Z960_STRUCTURE(Timestamp, TimestampField, Layout::Timestamp, 10, Z960_TIMESTAMP_FIELDS)

// The meter's 6-byte date and time as it travels in command payloads.
#define Z960_WIRE_TIMESTAMP_FIELDS(F, A, S, R, B, O) \
    F(std::uint8_t, year, setYear, 0)                \
    F(std::uint8_t, month, setMonth, 1)              \
    F(std::uint8_t, day, setDay, 2)                  \
    F(std::uint8_t, hour, setHour, 3)                \
    F(std::uint8_t, minute, setMinute, 4)            \
    F(std::uint8_t, second, setSecond, 5)
Z960_STRUCTURE(sTimestamp, WireTimestampField, Layout::WireTimestamp, 6, Z960_WIRE_TIMESTAMP_FIELDS)

namespace detail {
template <> struct Codec<Timestamp> {
    static constexpr std::size_t width = 10;
    static constexpr ValueType type = ValueType::Timestamp;
    static Timestamp load(const std::uint8_t *p)
    {
        Timestamp t;
        t.assign(p, Timestamp::kSize);
        return t;
    }
    static void store(std::uint8_t *p, const Timestamp &t) { t.copyTo(p); }
};
} // namespace detail

// ---------------------------------------------------------------------------
// Sub-records

#define Z960_ALARM_CONFIG_FIELDS(F, A, S, R, B, O)              \
    F(std::uint16_t, recordOnAlarm, setRecordOnAlarm, 0)         \
    F(std::uint16_t, alarm_cause, setAlarm_cause, 2)             \
    R(4, 8)
Z960_RECORD(sAlarmConfig, AlarmConfigField, Layout::AlarmConfig, 12, Z960_ALARM_CONFIG_FIELDS)

#define Z960_ANALOG_OUT_FIELDS(F, A, S, R, B, O) \
    F(std::int16_t, mode, setMode, 0)             \
    F(std::int16_t, channel, setChannel, 2)       \
    F(float, damping, setDamping, 4)              \
    F(float, zero, setZero, 8)                    \
    F(float, span, setSpan, 12)                   \
    F(float, limit, setLimit, 16)
Z960_RECORD(sAnalogOut, AnalogOutField, Layout::AnalogOut, 20, Z960_ANALOG_OUT_FIELDS)

#define Z960_DIGITAL_OUT_FIELDS(F, A, S, R, B, O)      \
    F(std::int16_t, type, setType, 0)                   \
    F(std::int16_t, frequency, setFrequency, 2)         \
    F(std::uint16_t, channel, setChannel, 4)            \
    F(std::uint16_t, pulseScale, setPulseScale, 6)      \
    F(std::uint16_t, pulseWidth, setPulseWidth, 8)
Z960_RECORD(sDigitalOut, DigitalOutField, Layout::DigitalOut, 10, Z960_DIGITAL_OUT_FIELDS)

#define Z960_ALARM_STATE_FIELDS(F, A, S, R, B, O) \
    F(std::uint8_t, active, setActive, 0)          \
    F(float, value, setValue, 1)
Z960_RECORD(sAlarmState, AlarmStateField, Layout::AlarmState, 5, Z960_ALARM_STATE_FIELDS)

#define Z960_COMPENSATION_FIELDS(F, A, S, R, B, O) \
    F(std::int16_t, formula, setFormula, 0)         \
    A(std::uint8_t, chan, setChan, 2, 2)            \
    A(float, coeffs, setCoeffs, 4, 5)
Z960_RECORD(sCompensation, CompensationField, Layout::Compensation, 24, Z960_COMPENSATION_FIELDS)

// ---------------------------------------------------------------------------
// Structure 5: configuration

#define Z960_CONFIG_FIELDS(F, A, S, R, B, O)                                      \
    R(0, 2)                                                                        \
    F(std::uint16_t, modbusId, setModbusId, 2)                                     \
    F(std::uint32_t, SiteID, setSiteID, 4)                                         \
    F(std::uint16_t, backlightTimeOut, setBacklightTimeOut, 8)                     \
    F(std::uint16_t, lcdTimeOut, setLcdTimeOut, 10)                                \
    F(float, simulationVal, setSimulationVal, 12)                                  \
    R(16, 2)                                                                       \
    F(std::uint16_t, emptyPipeDetect, setEmptyPipeDetect, 18)                      \
    F(float, pnfThreshold, setPnfThreshold, 20)                                    \
    F(float, ecThreshold, setEcThreshold, 24)                                      \
    F(std::uint16_t, failSafeModeLow, setFailSafeModeLow, 28)                      \
    F(float, lowFlowSetpoint, setLowFlowSetpoint, 30)                              \
    F(float, zeroFlowCutOff, setZeroFlowCutOff, 34)                                \
    F(std::uint16_t, responseTime, setResponseTime, 38)                            \
    F(std::uint16_t, onTime, setOnTime, 40)                                        \
    F(std::uint16_t, offTime, setOffTime, 42)                                      \
    F(std::uint16_t, logPeriod, setLogPeriod, 44)                                  \
    F(std::uint16_t, scansPerDiag, setScansPerDiag, 46)                            \
    F(std::uint16_t, zeroFlowOffTime, setZeroFlowOffTime, 48)                      \
    F(std::uint16_t, flowVolumeUnit, setFlowVolumeUnit, 50)                        \
    F(float, flowVolumeSpecFact, setFlowVolumeSpecFact, 52)                        \
    F(std::uint16_t, flowTimeUnit, setFlowTimeUnit, 56)                            \
    F(float, flowTimeSpecFact, setFlowTimeSpecFact, 58)                            \
    F(std::uint16_t, totaliserUnit, setTotaliserUnit, 62)                          \
    F(float, totaliserSpecFact, setTotaliserSpecFact, 64)                          \
    R(68, 2)                                                                       \
    F(Timestamp, offPeakStart, setOffPeakStart, 70)                                \
    F(Timestamp, offPeakStop, setOffPeakStop, 80)                                  \
    F(Timestamp, eoyLatchDate, setEoyLatchDate, 90)                                \
    F(std::uint16_t, pwdU0, setPwdU0, 100)                                         \
    F(std::uint16_t, pwdU1, setPwdU1, 102)                                         \
    F(std::uint16_t, pwdU2, setPwdU2, 104)                                         \
    F(std::uint16_t, pwdC0, setPwdC0, 106)                                         \
    F(std::uint16_t, pwdC1, setPwdC1, 108)                                         \
    F(std::uint16_t, pwdC2, setPwdC2, 110)                                         \
    S(sAlarmConfig, alarm, 112, 4)                                                 \
    S(sAnalogOut, analogOut, 160, 2)                                               \
    S(sDigitalOut, digitalOut, 200, 4)                                             \
    F(std::int16_t, serialMode, setSerialMode, 240)                                \
    R(242, 2)                                                                      \
    F(std::int16_t, baudRate, setBaudRate, 244)                                    \
    R(246, 2)                                                                      \
    F(std::uint16_t, lcdContrast, setLcdContrast, 248)                             \
    F(std::uint16_t, modemOnDuration, setModemOnDuration, 250)                     \
    F(std::uint16_t, modemInterval, setModemInterval, 252)                         \
    F(Timestamp, ModemWindowEnabled, setModemWindowEnabled, 254)                   \
    F(Timestamp, ModemWindowDisabled, setModemWindowDisabled, 264)                 \
    F(std::uint16_t, registerLogInterval, setRegisterLogInterval, 274)             \
    F(std::uint16_t, enableReverseFlow, setEnableReverseFlow, 276)                 \
    F(std::uint16_t, gateControl, setGateControl, 278)                             \
    F(std::uint16_t, flags, setFlags, 280)                                         \
    B(lowPowerMode, setLowPowerMode, 280, 0x0001)                                  \
    B(haltScanOnSignalError, setHaltScanOnSignalError, 280, 0x0002)                \
    F(float, batteryAlarmLevel, setBatteryAlarmLevel, 282)                         \
    R(286, 46)
Z960_STRUCTURE(sConfig, ConfigField, Layout::Config, 332, Z960_CONFIG_FIELDS)

// ---------------------------------------------------------------------------
// Structure 4: calibration

#define Z960_CAL_FIELDS(F, A, S, R, B, O)                                  \
    R(0, 2)                                                                 \
    F(std::uint32_t, meterID, setMeterID, 2)                                \
    F(float, flowFullScale, setFlowFullScale, 6)                            \
    F(std::uint16_t, pipeUnitsMetric, setPipeUnitsMetric, 10)               \
    F(std::uint16_t, filterNumber, setFilterNumber, 12)                     \
    F(std::uint16_t, coilCurrent, setCoilCurrent, 14)                       \
    F(std::uint16_t, modelReplacing, setModelReplacing, 16)                 \
    F(std::uint16_t, pipeDiam, setPipeDiam, 18)                             \
    A(float, tubeSetSelect, setTubeSetSelect, 20, 3)                        \
    A(float, flowTubeFactor, setFlowTubeFactor, 32, 4)                      \
    A(float, flowTubeZero, setFlowTubeZero, 48, 2)                          \
    F(float, detectorType, setDetectorType, 56)                             \
    F(float, density, setDensity, 60)                                       \
    F(float, coilFreq, setCoilFreq, 64)                                     \
    A(float, span4_20, setSpan4_20, 68, 2)                                  \
    A(float, zero4_20, setZero4_20, 76, 2)                                  \
    F(Timestamp, calibrationDate, setCalibrationDate, 84)                   \
    F(Timestamp, verificationDate, setVerificationDate, 94)                 \
    R(104, 54)
Z960_STRUCTURE(sCal, CalField, Layout::Cal, 158, Z960_CAL_FIELDS)

// ---------------------------------------------------------------------------
// Structure 6: basic (hardware) calibration

#define Z960_BASIC_CAL_FIELDS(F, A, S, R, B, O)                             \
    R(0, 10)                                                                 \
    S(sCompensation, compensation, 10, 3)                                    \
    F(float, coilZero, setCoilZero, 82)                                      \
    F(float, coilSpan, setCoilSpan, 86)                                      \
    F(float, coilVoltageZero, setCoilVoltageZero, 90)                        \
    F(float, coilVoltageSpan, setCoilVoltageSpan, 94)                        \
    F(float, coilCurrentZero, setCoilCurrentZero, 98)                        \
    F(float, coilCurrentSpan, setCoilCurrentSpan, 102)                       \
    F(float, batVoltageZero, setBatVoltageZero, 106)                         \
    F(float, batVoltageSpan, setBatVoltageSpan, 110)                         \
    F(float, batChargeCurrentZero, setBatChargeCurrentZero, 114)             \
    F(float, batChargeCurrentSpan, setBatChargeCurrentSpan, 118)             \
    F(float, solarVoltageZero, setSolarVoltageZero, 122)                     \
    F(float, solarVoltageSpan, setSolarVoltageSpan, 126)                     \
    F(float, temperatureZero, setTemperatureZero, 130)                       \
    F(float, temperatureSpan, setTemperatureSpan, 134)                       \
    R(138, 30)                                                               \
    F(float, loBatterySafetyLimit, setLoBatterySafetyLimit, 168)             \
    F(float, loBatteryAlarmLevel, setLoBatteryAlarmLevel, 172)               \
    R(176, 46)
Z960_STRUCTURE(sBasicCal, BasicCalField, Layout::BasicCal, 222, Z960_BASIC_CAL_FIELDS)

// ---------------------------------------------------------------------------
// Structure 0: status

// Channel codes of channelValues: the value of code c stands at offset 12 + 4c.
constexpr int kChannelCount = 22;

#define Z960_STATUS_FIELDS(F, A, S, R, B, O)                                  \
    F(std::uint16_t, resetCount, setResetCount, 0)                             \
    F(Timestamp, dateTime, setDateTime, 2)                                     \
    O(float, channelValues, setChannelValues, 12, 22)                          \
    F(float, flowVelocity, setFlowVelocity, 12)                                \
    F(float, flowRate, setFlowRate, 16)                                        \
    F(float, massFlow, setMassFlow, 20)                                        \
    R(24, 44)                                                                  \
    F(float, measuredCoilCurrent, setMeasuredCoilCurrent, 68)                  \
    F(float, batteryVoltage, setBatteryVoltage, 72)                            \
    F(float, batteryCurrent, setBatteryCurrent, 76)                            \
    F(float, solarVoltage, setSolarVoltage, 80)                                \
    F(float, temperature, setTemperature, 84)                                  \
    F(float, coilResistance, setCoilResistance, 88)                            \
    R(92, 4)                                                                   \
    F(float, coilVoltage, setCoilVoltage, 96)                                  \
    F(double, forwardTotal, setForwardTotal, 100)                              \
    F(double, reverseTotal, setReverseTotal, 108)                              \
    F(double, nettTotal, setNettTotal, 116)                                    \
    F(double, peakForwardTotal, setPeakForwardTotal, 124)                      \
    F(double, offPeakForwardTotal, setOffPeakForwardTotal, 132)                \
    F(double, peakReverseTotal, setPeakReverseTotal, 140)                      \
    F(double, offPeakReverseTotal, setOffPeakReverseTotal, 148)                \
    F(double, ytdNettTotal, setYtdNettTotal, 156)                              \
    F(double, ytdReverseTotal, setYtdReverseTotal, 164)                        \
    F(double, ytdForwardTotal, setYtdForwardTotal, 172)                        \
    R(180, 8)                                                                  \
    F(float, inpNeg, setInpNeg, 188)                                           \
    F(float, inpPos, setInpPos, 192)                                           \
    R(196, 40)                                                                 \
    F(float, flowVoltage, setFlowVoltage, 236)                                 \
    R(240, 16)                                                                 \
    F(float, ecSignal, setEcSignal, 256)                                       \
    R(260, 8)                                                                  \
    F(float, pnfSignal, setPnfSignal, 268)                                     \
    R(272, 2)                                                                  \
    F(std::uint16_t, gatePosition, setGatePosition, 274)                       \
    F(float, gateClosedFlow, setGateClosedFlow, 276)                           \
    F(std::uint8_t, gateOpen, setGateOpen, 280)                                \
    F(std::uint8_t, pnfEcFlags, setPnfEcFlags, 281)                            \
    F(std::uint16_t, systemFault, setSystemFault, 282)                         \
    R(284, 1)                                                                  \
    F(std::uint16_t, alarmStatus, setAlarmStatus, 285)                         \
    R(287, 18)                                                                 \
    S(sAlarmState, alarmState, 305, 4)                                         \
    R(325, 26)
Z960_STRUCTURE(sStatus, StatusField, Layout::Status, 351, Z960_STATUS_FIELDS)

// The measured value of a device-selected channel code; none for a code outside 0..21.
inline std::optional<float> channelValue(const sStatus &status, long code)
{
    if (code < 0 || code >= kChannelCount)
        return std::nullopt;
    return status.channelValues(static_cast<int>(code));
}

// ---------------------------------------------------------------------------
// Structure 1: system

#define Z960_SYSTEM_FIELDS(F, A, S, R, B, O)                                  \
    A(std::uint8_t, serialNumber, setSerialNumber, 0, 6)                       \
    R(6, 72)                                                                   \
    F(Timestamp, lastPowerUp, setLastPowerUp, 78)                              \
    R(88, 8)                                                                   \
    A(std::int16_t, optionCard, setOptionCard, 96, 3)                          \
    R(102, 15)                                                                 \
    F(std::uint16_t, selfTest, setSelfTest, 117)                               \
    R(119, 2)                                                                  \
    F(std::uint8_t, maintenanceMode, setMaintenanceMode, 121)                  \
    R(122, 4)                                                                  \
    F(std::uint16_t, simulationMode, setSimulationMode, 126)                   \
    R(128, 2)                                                                  \
    A(char, firmwareVersion, setFirmwareVersion, 130, 4)                       \
    R(134, 807)
Z960_STRUCTURE(sSystem, SystemField, Layout::System, 941, Z960_SYSTEM_FIELDS)

// Six two-digit upper-case hex numbers, each followed by one blank ("00 1A FF 10 02 0B ").
std::string serialNumberText(const sSystem &system);
// Characters 3, 2, 1, then ".", then character 0 (bytes '0','2','1','3' give "312.0").
// Zero bytes add nothing.
std::string firmwareVersionText(const sSystem &system);

// ---------------------------------------------------------------------------
// Structures 2, 3 and 7: plain bytes nobody reads

#define Z960_STRUCTURE2_FIELDS(F, A, S, R, B, O) R(0, 82)
Z960_STRUCTURE(sStructure2, Structure2Field, Layout::Structure2, 82, Z960_STRUCTURE2_FIELDS)
#define Z960_STRUCTURE3_FIELDS(F, A, S, R, B, O) R(0, 46)
Z960_STRUCTURE(sStructure3, Structure3Field, Layout::Structure3, 46, Z960_STRUCTURE3_FIELDS)
#define Z960_STRUCTURE7_FIELDS(F, A, S, R, B, O) R(0, 69)
Z960_STRUCTURE(sStructure7, Structure7Field, Layout::Structure7, 69, Z960_STRUCTURE7_FIELDS)

static_assert(sStatus::size() == 351 && sSystem::size() == 941 && sStructure2::size() == 82 &&
              sStructure3::size() == 46 && sCal::size() == 158 && sConfig::size() == 332 &&
              sBasicCal::size() == 222 && sStructure7::size() == 69,
              "structure sizes are part of the wire format");

// Size in bytes of structure n; 0 for a number without a structure (8 and above).
constexpr std::size_t structureSize(unsigned n)
{
    constexpr std::size_t sizes[] = {sStatus::kSize, sSystem::kSize, sStructure2::kSize,
                                     sStructure3::kSize, sCal::kSize, sConfig::kSize,
                                     sBasicCal::kSize, sStructure7::kSize};
    return n < 8 ? sizes[n] : 0;
}

// The ordered entry list of a layout (reserved stretches included).
struct FieldList {
    const FieldDesc *begin;
    std::size_t count;
    std::size_t size; // bytes of the layout
};
FieldList fieldList(Layout layout);

// Every readable element of a layout: scalars, each array element, each field of
// each sub-record element, bits and overlay elements; reserved bytes are left out.
std::vector<FieldDesc> leafFields(Layout layout);

} // namespace Z960Data
