// Internal: the simulator's line decoder and little-endian helpers.
#pragma once

#include "z960sim/Z960Sim.h"

#include <functional>

namespace z960sim {

constexpr uint8_t DLE = 0x10, STX = 0x02, ETX = 0x03, STUFF = 0x90;

// Splits the byte stream from the PC into Quillmere and Modbus ASCII frames.
// A frame that breaks off (bad escape, over-long, a new frame start inside it)
// is delivered as a Broken frame so the recorder shows it.
class LineDecoder {
public:
    using Sink = std::function<void(Frame &&)>;
    explicit LineDecoder(Sink sink) : sink_(std::move(sink)) {}
    void feed(const uint8_t *data, size_t n);

private:
    enum State { Idle, Dle, InQ, InQDle, InAscii, InAsciiCr };
    void finishQuillmere();
    void finishAscii();
    void broken();
    void start(State s, uint8_t first);

    Sink sink_;
    State state_ = Idle;
    Bytes raw_;   // wire bytes of the frame so far
    Bytes body_;  // unstuffed Quillmere bytes (address .. CRC high)
};

// Little-endian field access into an image.
void putU16(Bytes &b, size_t off, uint16_t v);
void putU32(Bytes &b, size_t off, uint32_t v);
void putF32(Bytes &b, size_t off, float v);
void putF64(Bytes &b, size_t off, double v);
uint16_t getU16(const Bytes &b, size_t off);
float getF32(const Bytes &b, size_t off);
double getF64(const Bytes &b, size_t off);
void putTimestamp(Bytes &b, size_t off, int year, int month, int day, int hour, int minute, int second);

}  // namespace z960sim
