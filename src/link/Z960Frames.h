// Wire constants, the frame record and the checksum and codec helpers of the
// three framings the link speaks: byte-stuffed Quillmere frames with
// CRC-16/KERMIT, Modbus ASCII with its LRC and Modbus RTU with CRC-16/MODBUS.
// Everything here is pure: no port, no timers, no state beyond the arguments.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Z960Frames {

constexpr unsigned char DLE = 0x10;
constexpr unsigned char STX = 0x02;
constexpr unsigned char ETX = 0x03;
constexpr unsigned char DLE_STUFF = 0x90; // follows a 0x10 that is data, not a frame mark
constexpr unsigned char COLON = 0x3A;
constexpr unsigned char CR = 0x0D;
constexpr unsigned char LF = 0x0A;

// Transmitter bits of sFrame::status.
constexpr unsigned char TX_STARTED = 0x10;
constexpr unsigned char TX_DONE = 0x20;

// Quillmere control bytes of requests and replies.
constexpr unsigned char CONTROL_REQUEST = 0x80;
constexpr unsigned char CONTROL_REPLY = 0x81;

constexpr std::size_t kFrameDataSize = 1024; // sFrame::data
constexpr std::size_t kRxBufferSize = 1023;  // Z960Port::rxBuffer

// One step of CRC-16/KERMIT (reflected CCITT, init 0, no final XOR).
void updateCcittCrc(unsigned short *crc, unsigned char b);
// CRC-16/KERMIT over count bytes, starting from init.
unsigned short ccittCrc(const unsigned char *data, unsigned short init, std::size_t count);

// One step of CRC-16/MODBUS; start restarts the register (0xFFFF) with b.
void updateCrc16(bool start, unsigned char b, unsigned short *crc);
// CRC-16/MODBUS over count bytes (at least one).
unsigned short crc16(const unsigned char *data, std::size_t count);

// Modbus LRC: two's complement of the 8-bit sum.
unsigned char lrc(const unsigned char *data, std::size_t count, unsigned char start = 0);

// out[1] = upper-case hex character of the high nibble, out[0] = of the low one.
void binToHex(unsigned char b, unsigned char *out);
// in[1] high-nibble character, in[0] low one; either case. Characters that
// are not hex digits convert by the same arithmetic and are not rejected.
void hexToBin(const unsigned char *in, unsigned char *out);
// True for 0-9, A-F, a-f.
bool isHexChar(unsigned char c);

// out[0] = high byte, out[1] = low byte.
void breakUnsignedInt16(unsigned short v, unsigned char *out);
// The four bytes of an IEEE single, least significant first.
void breakFloat32(float v, unsigned char *out);

// The Modbus function codes the meter answers: 3, 6, 16, 65, 67, 68, 69.
bool isValidCommand(unsigned char f);

} // namespace Z960Frames

// The one frame record of a link, shared by sending and receiving.
struct sFrame {
    unsigned char hexPair[2];   // scratch: [1] high-nibble character, [0] low one
    bool byteCountFollows;      // RTU receiver: a byte count follows the function
    unsigned char status;       // TX_STARTED / TX_DONE
    unsigned char address;      // Modbus address; Quillmere address byte
    unsigned char function;     // Modbus function; Quillmere: second payload byte
    unsigned char control;      // Quillmere control byte
    unsigned char exceptionCode;
    unsigned char data[Z960Frames::kFrameDataSize];
    unsigned short index;       // next data byte to emit or store
    unsigned short length;      // valid data bytes
    bool frameReady;            // a complete valid reply waits for its transaction
};
