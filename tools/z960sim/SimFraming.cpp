// The simulator's own framing: CRC-16/KERMIT computed bit by bit, the Modbus
// LRC and hex codec, the frame encoders and the line decoder.
#include "z960sim/SimFraming.h"

#include <cstring>

namespace z960sim {

namespace {

constexpr size_t kMaxQuillmereBody = 4096;  // longer frames are noise, not requests
constexpr size_t kMaxAsciiChars = 1100;

void putStuffed(Bytes &out, uint8_t b)
{
    out.push_back(b);
    if (b == DLE)
        out.push_back(STUFF);
}

int hexValue(uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

void putHex(Bytes &out, uint8_t b)
{
    static const char digits[] = "0123456789ABCDEF";
    out.push_back(static_cast<uint8_t>(digits[b >> 4]));
    out.push_back(static_cast<uint8_t>(digits[b & 0x0F]));
}

}  // namespace

uint16_t crcKermit(const uint8_t *data, size_t n, uint16_t crc)
{
    // Reflected CRC-CCITT: polynomial 0x1021 reversed is 0x8408.
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

uint8_t lrc(const uint8_t *data, size_t n)
{
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += data[i];
    return static_cast<uint8_t>(-sum);
}

Bytes quillmereFrame(uint8_t address, uint8_t control, const Bytes &payload)
{
    Bytes covered{address, control};
    covered.insert(covered.end(), payload.begin(), payload.end());
    const uint16_t crc = crcKermit(covered.data(), covered.size());
    Bytes out{DLE, STX};
    putStuffed(out, address);
    out.push_back(control);  // control codes are never 0x10 and are not stuffed
    for (uint8_t b : payload)
        putStuffed(out, b);
    putStuffed(out, static_cast<uint8_t>(crc & 0xFF));
    putStuffed(out, static_cast<uint8_t>(crc >> 8));
    out.push_back(DLE);
    out.push_back(ETX);
    return out;
}

Bytes asciiFrame(uint8_t address, const Bytes &functionAndData)
{
    Bytes covered{address};
    covered.insert(covered.end(), functionAndData.begin(), functionAndData.end());
    Bytes out{':'};
    for (uint8_t b : covered)
        putHex(out, b);
    putHex(out, lrc(covered.data(), covered.size()));
    out.push_back('\r');
    out.push_back('\n');
    return out;
}

void LineDecoder::start(State s, uint8_t first)
{
    raw_.assign(1, first);
    body_.clear();
    state_ = s;
}

void LineDecoder::broken()
{
    Frame f;
    f.kind = Frame::Broken;
    f.raw = raw_;
    f.payload = body_;
    raw_.clear();
    body_.clear();
    state_ = Idle;
    sink_(std::move(f));
}

void LineDecoder::feed(const uint8_t *data, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = data[i];
        switch (state_) {
        case Idle:
            if (c == DLE)
                start(Dle, c);
            else if (c == ':')
                start(InAscii, c);
            break;  // bytes between frames are line noise
        case Dle:
            if (c == STX) {
                raw_.push_back(c);
                state_ = InQ;
            } else {
                raw_.push_back(c);
                broken();
            }
            break;
        case InQ:
            raw_.push_back(c);
            if (c == DLE)
                state_ = InQDle;
            else
                body_.push_back(c);
            if (body_.size() > kMaxQuillmereBody)
                broken();
            break;
        case InQDle:
            if (c == ETX) {
                raw_.push_back(c);
                finishQuillmere();
            } else if (c == STUFF) {
                raw_.push_back(c);
                body_.push_back(DLE);
                state_ = InQ;
            } else if (c == STX) {
                // A new frame starts inside this one: keep the new one.
                raw_.pop_back();
                broken();
                raw_ = {DLE, STX};
                state_ = InQ;
            } else {
                raw_.push_back(c);
                broken();
            }
            break;
        case InAscii:
            if (c == ':') {
                broken();
                start(InAscii, c);
            } else if (c == DLE) {
                broken();
                start(Dle, c);
            } else {
                raw_.push_back(c);
                if (c == '\r')
                    state_ = InAsciiCr;
                else if (raw_.size() > kMaxAsciiChars)
                    broken();
            }
            break;
        case InAsciiCr:
            raw_.push_back(c);
            if (c == '\n')
                finishAscii();
            else
                broken();
            break;
        }
    }
}

void LineDecoder::finishQuillmere()
{
    Frame f;
    f.kind = Frame::Quillmere;
    f.raw = std::move(raw_);
    if (body_.size() >= 4) {
        f.address = body_[0];
        f.control = body_[1];
        f.payload.assign(body_.begin() + 2, body_.end() - 2);
        const uint16_t got = static_cast<uint16_t>(body_[body_.size() - 2] | (body_[body_.size() - 1] << 8));
        f.valid = crcKermit(body_.data(), body_.size() - 2) == got;
    } else {
        f.kind = Frame::Broken;
        f.payload = body_;
    }
    raw_.clear();
    body_.clear();
    state_ = Idle;
    sink_(std::move(f));
}

void LineDecoder::finishAscii()
{
    Frame f;
    f.kind = Frame::ModbusAscii;
    f.raw = std::move(raw_);
    raw_.clear();
    state_ = Idle;
    const size_t chars = f.raw.size() - 3;  // between ':' and CR LF
    Bytes bytes;
    bool hexOk = chars % 2 == 0;
    for (size_t i = 1; hexOk && i + 1 < chars + 1; i += 2) {
        const int hi = hexValue(f.raw[i]), lo = hexValue(f.raw[i + 1]);
        hexOk = hi >= 0 && lo >= 0;
        bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    if (!hexOk || bytes.size() < 3) {
        f.kind = Frame::Broken;
        sink_(std::move(f));
        return;
    }
    f.address = bytes[0];
    f.payload.assign(bytes.begin() + 1, bytes.end() - 1);
    f.valid = lrc(bytes.data(), bytes.size() - 1) == bytes.back();
    sink_(std::move(f));
}

void putU16(Bytes &b, size_t off, uint16_t v)
{
    b.at(off + 1);
    b[off] = static_cast<uint8_t>(v);
    b[off + 1] = static_cast<uint8_t>(v >> 8);
}

void putU32(Bytes &b, size_t off, uint32_t v)
{
    b.at(off + 3);
    for (int i = 0; i < 4; ++i)
        b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

void putF32(Bytes &b, size_t off, float v)
{
    uint32_t u;
    std::memcpy(&u, &v, 4);
    putU32(b, off, u);
}

void putF64(Bytes &b, size_t off, double v)
{
    b.at(off + 7);
    uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int i = 0; i < 8; ++i)
        b[off + i] = static_cast<uint8_t>(u >> (8 * i));
}

uint16_t getU16(const Bytes &b, size_t off)
{
    return static_cast<uint16_t>(b.at(off) | (b.at(off + 1) << 8));
}

float getF32(const Bytes &b, size_t off)
{
    b.at(off + 3);
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u |= static_cast<uint32_t>(b[off + i]) << (8 * i);
    float v;
    std::memcpy(&v, &u, 4);
    return v;
}

double getF64(const Bytes &b, size_t off)
{
    b.at(off + 7);
    uint64_t u = 0;
    for (int i = 0; i < 8; ++i)
        u |= static_cast<uint64_t>(b[off + i]) << (8 * i);
    double v;
    std::memcpy(&v, &u, 8);
    return v;
}

void putTimestamp(Bytes &b, size_t off, int year, int month, int day, int hour, int minute, int second)
{
    b.at(off + 5);
    const int v[6] = {year - 2000, month, day, hour, minute, second};
    for (int i = 0; i < 6; ++i)
        b[off + i] = static_cast<uint8_t>(v[i]);
}

}  // namespace z960sim
