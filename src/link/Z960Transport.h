// The byte channel under the link. In the program it is the serial component
// of the opened port; tests put a scripted channel in its place, so frames,
// checksums and the receive state machine run without a port.
#pragma once

class Z960Transport {
public:
    virtual ~Z960Transport();

    // Queues one byte for sending; returns at once (the serial write thread sends it).
    virtual void writeChar(unsigned char c) = 0;
    // One received byte; called only as many times as bytes were reported waiting.
    virtual unsigned char readChar() = 0;
    // Bytes waiting to be read / still queued for sending.
    virtual int readBufUsed() = 0;
    virtual int writeBufUsed() = 0;
    // Discards what waits in the input / output queue.
    virtual void purgeRead() = 0;
    virtual void purgeWrite() = 0;
};
