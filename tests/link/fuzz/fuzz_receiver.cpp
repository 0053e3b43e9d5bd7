// Fuzz target for the receive path: arbitrary bytes, delivered in arbitrary
// pieces with receive-timer ticks and transaction resets between them, must
// never crash, read or write out of bounds, or leave the state machine in a
// state it does not know.
//
// Input: [address][op][bytes...][op][bytes...]...
//   op 0x00-0xF6: deliver the next (op % 64) + 1 bytes in one delivery
//   op 0xF7:      a transaction starts (full frame reset)
//   op 0xF8-0xFE: (op - 0xF7) * 3 ticks of the receive timer
//   op 0xFF:      1500 ticks (a stalled frame runs out)
// The whole input is also fed to each frame receiver directly.
#include "link/Z960Port.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>

namespace {

class FuzzTransport final : public Z960Transport {
public:
    std::deque<unsigned char> incoming;
    void writeChar(unsigned char) override {}
    unsigned char readChar() override
    {
        if (incoming.empty())
            std::abort(); // the link read more than was reported waiting
        const unsigned char c = incoming.front();
        incoming.pop_front();
        return c;
    }
    int readBufUsed() override { return static_cast<int>(incoming.size()); }
    int writeBufUsed() override { return 0; }
    void purgeRead() override { incoming.clear(); }
    void purgeWrite() override {}
};

void check(bool ok)
{
    if (!ok)
        std::abort();
}

void checkInvariants(const Z960Port &port)
{
    check(port.rxLength <= Z960Frames::kRxBufferSize);
    check(port.frame.length <= Z960Frames::kFrameDataSize || !port.frame.frameReady);
    switch (port.rxState) {
    case Z960Port::RX_IDLE: case Z960Port::RX_DLE: case Z960Port::RX_QUILLMERE: case Z960Port::RX_QUILLMERE_DLE:
    case Z960Port::RX_ASCII: case Z960Port::RX_ASCII_CR: case Z960Port::RX_RTU:
        break;
    default:
        std::abort();
    }
}

void ticks(Z960Port &port, int n)
{
    for (int i = 0; i < n && port.rxTimeoutTimer->isActive(); ++i)
        port.rxTimeoutTimerEvent(port.rxTimeoutTimer);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static int argc = 1;
    static char name[] = "link_fuzz_receiver";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv); // the receive timer needs an event dispatcher
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    Z960Port port(nullptr, data[0]);
    FuzzTransport line;
    port.attachTransport(&line);
    std::string faults;
    port.OnPortDebugEvent = [&](QObject *, std::string text) { faults = text; };

    std::size_t at = 1;
    while (at < size) {
        const std::uint8_t op = data[at++];
        if (op == 0xF7) {
            port.resetRxTxFrame(true);
        } else if (op == 0xFF) {
            ticks(port, 1500);
        } else if (op >= 0xF8) {
            ticks(port, (op - 0xF7) * 3);
        } else {
            const std::size_t n = std::min<std::size_t>(op % 64 + 1, size - at);
            line.incoming.insert(line.incoming.end(), data + at, data + at + n);
            at += n;
            port.rxInterruptTask(nullptr, static_cast<int>(n));
            check(line.incoming.empty());
        }
        checkInvariants(port);
    }
    ticks(port, 1500);
    checkInvariants(port);

    const auto count = static_cast<unsigned short>(std::min<std::size_t>(size, Z960Frames::kRxBufferSize));
    port.frameReceiverQuillmere(data, count);
    port.frameReceiverAscii(data, count);
    port.frameReceiverRtu(data, count);
    checkInvariants(port);
    return 0;
}
