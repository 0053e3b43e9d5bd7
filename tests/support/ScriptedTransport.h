// A byte channel for the link in place of the serial component: records
// every byte the link sends and hands it scripted received bytes.
//
//   TestSupport::ScriptedTransport line;
//   Z960Port port(nullptr, 1);
//   port.attachTransport(&line);
//   line.deliver(port, bytes("10 02 01 81 80 00 47 C6 10 03"));  // one OnRxChar delivery
//   EXPECT_EQ(line.written, ...);                                // what the link sent
//   line.onWrite = [&](ScriptedTransport &t) { ... };            // react to sent bytes
#pragma once

#include "link/Z960Port.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <deque>
#include <functional>

namespace TestSupport {

// Bytes from a hex text ("10 02 0a"); blanks are ignored.
inline QByteArray hexBytes(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// A hex text of bytes ("10 02 0A"), for readable failure messages.
inline QString hexText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

class ScriptedTransport final : public Z960Transport {
public:
    QByteArray written;                             // every byte the link sent, in order
    std::deque<unsigned char> incoming;             // bytes waiting to be read
    std::function<void(ScriptedTransport &)> onWrite; // after each byte the link sent
    int queuedOutput = 0;     // what writeBufUsed reports (purgeWrite clears it)
    bool endlessInput = false; // readBufUsed never reports an empty input queue
    int purgeReads = 0;
    int purgeWrites = 0;

    void writeChar(unsigned char c) override
    {
        written.append(static_cast<char>(c));
        if (onWrite)
            onWrite(*this);
    }
    unsigned char readChar() override
    {
        if (incoming.empty())
            return 0;
        const unsigned char c = incoming.front();
        incoming.pop_front();
        return c;
    }
    int readBufUsed() override { return endlessInput ? 1 : static_cast<int>(incoming.size()); }
    int writeBufUsed() override { return queuedOutput; }
    void purgeRead() override
    {
        ++purgeReads;
        incoming.clear();
    }
    void purgeWrite() override
    {
        ++purgeWrites;
        queuedOutput = 0;
    }

    // Queues bytes and hands them to the link in one delivery.
    void deliver(Z960Port &port, const QByteArray &bytes)
    {
        for (char c : bytes)
            incoming.push_back(static_cast<unsigned char>(c));
        port.rxInterruptTask(nullptr, static_cast<int>(incoming.size()));
    }
    // One delivery per byte.
    void deliverEach(Z960Port &port, const QByteArray &bytes)
    {
        for (char c : bytes)
            deliver(port, QByteArray(1, c));
    }
    // Deliveries of the given sizes (the rest in a last one).
    void deliverInChunks(Z960Port &port, const QByteArray &bytes, int chunk)
    {
        for (int at = 0; at < bytes.size(); at += chunk)
            deliver(port, bytes.mid(at, chunk));
    }
};

} // namespace TestSupport
