#include "link/Z960Frames.h"

#include <cstring>

namespace Z960Frames {

void updateCcittCrc(unsigned short *crc, unsigned char b)
{
    // Byte-wise form of the reflected CCITT polynomial (0x8408 bit-wise).
    const unsigned lo = *crc & 0xFFu;
    const unsigned hi = (*crc >> 8) & 0xFFu;
    unsigned d = (b ^ lo) & 0xFFu;
    d = (d ^ (d << 4)) & 0xFFu;
    unsigned r = (d << 8) | hi;
    r ^= d << 3;
    r ^= d >> 4;
    *crc = static_cast<unsigned short>(r & 0xFFFFu);
}

unsigned short ccittCrc(const unsigned char *data, unsigned short init, std::size_t count)
{
    unsigned short crc = init;
    for (std::size_t i = 0; i < count; ++i)
        updateCcittCrc(&crc, data[i]);
    return crc;
}

void updateCrc16(bool start, unsigned char b, unsigned short *crc)
{
    unsigned r = start ? (b ^ 0xFFFFu) : (*crc ^ b);
    for (int bit = 0; bit < 8; ++bit) {
        const bool out = r & 1u;
        r >>= 1;
        if (out)
            r ^= 0xA001u;
    }
    *crc = static_cast<unsigned short>(r);
}

unsigned short crc16(const unsigned char *data, std::size_t count)
{
    unsigned short crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i)
        updateCrc16(i == 0, data[i], &crc);
    return crc;
}

unsigned char lrc(const unsigned char *data, std::size_t count, unsigned char start)
{
    unsigned sum = start;
    for (std::size_t i = 0; i < count; ++i)
        sum += data[i];
    return static_cast<unsigned char>((0x100u - (sum & 0xFFu)) & 0xFFu);
}

void binToHex(unsigned char b, unsigned char *out)
{
    static const char digits[] = "0123456789ABCDEF";
    out[1] = static_cast<unsigned char>(digits[(b >> 4) & 0x0F]);
    out[0] = static_cast<unsigned char>(digits[b & 0x0F]);
}

namespace {
unsigned char nibble(unsigned char c)
{
    if (c > 0x60)
        return static_cast<unsigned char>(c - 0x57);
    if (c > 0x40)
        return static_cast<unsigned char>(c - 0x37);
    return static_cast<unsigned char>(c - 0x30);
}
} // namespace

void hexToBin(const unsigned char *in, unsigned char *out)
{
    *out = static_cast<unsigned char>(((nibble(in[1]) << 4) & 0xF0) | (nibble(in[0]) & 0xFF));
}

bool isHexChar(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

void breakUnsignedInt16(unsigned short v, unsigned char *out)
{
    out[0] = static_cast<unsigned char>(v >> 8);
    out[1] = static_cast<unsigned char>(v & 0xFF);
}

void breakFloat32(float v, unsigned char *out)
{
    static_assert(sizeof(float) == 4, "IEEE single expected");
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(bits >> (8 * i));
}

bool isValidCommand(unsigned char f)
{
    switch (f) {
    case 3: case 6: case 16: case 65: case 67: case 68: case 69:
        return true;
    default:
        return false;
    }
}

} // namespace Z960Frames
