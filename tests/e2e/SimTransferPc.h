// The PC's side of a block transfer, reduced to what the simulator's tests
// need: open, collect blocks, acknowledge plainly or every fourth block.
#pragma once

#include "SimPtyClient.h"

#include <vector>

namespace simtest {

struct Download {
    Reply reply;                 // the answer to the request
    Bytes data;                  // concatenated data blocks
    std::vector<uint8_t> codes;  // control codes received after the opening, in order
    std::vector<Bytes> acks;     // acknowledgement frames sent (control, payload...)
    bool complete = false;
    bool aborted = false;
};

// The PC's acknowledgement of a data block in plain mode; 0 for frames it does not acknowledge.
inline uint8_t plainAck(uint8_t code)
{
    switch (code) {
    case 0x87: case 0x8F: return 0x8B;
    case 0x88: return 0x90;
    case 0x91: return 0x92;
    case 0x93: return 0x94;
    case 0x89: case 0x95: return 0x96;
    default: return 0;
    }
}

inline void ack(Client &pc, Download &d, uint8_t code, const Bytes &payload = {})
{
    pc.write(qframe(1, code, payload));
    Bytes rec{code};
    rec.insert(rec.end(), payload.begin(), payload.end());
    d.acks.push_back(rec);
}

// Runs a whole transfer: request (command and arguments), opening, blocks.
inline Download download(Client &pc, uint8_t command, const Bytes &args, bool windowed,
                         std::chrono::milliseconds blockTimeout = 1000ms)
{
    Download d;
    d.reply = pc.request(1, command, args);
    ack(pc, d, 0x8B);
    int windowCounter = 0;
    Reply r;
    while (pc.next(r, blockTimeout)) {
        d.codes.push_back(r.control);
        if (r.control == 0x97) {
            d.complete = true;
            break;
        }
        if (r.control == 0x8D) {
            d.aborted = true;
            break;
        }
        if (plainAck(r.control) == 0)
            continue;  // a code the PC does not expect: neither written nor acknowledged
        if (r.control != 0x89 && r.control != 0x95)
            d.data.insert(d.data.end(), r.payload.begin(), r.payload.end());
        if (!windowed) {
            ack(pc, d, plainAck(r.control));
        } else if (windowCounter > 1) {
            --windowCounter;
        } else {
            windowCounter = 4;
            ack(pc, d, r.control == 0x93 ? 0x92 : 0x94, {4});
        }
    }
    return d;
}

inline Bytes pattern(size_t n, unsigned seed = 1)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>((i * 37 + seed * 11) ^ (i >> 8));
    return b;
}

}  // namespace simtest
