// A scripted meter for the command tests: splits what the link sends into
// frames (Quillmere, Modbus ASCII, fixed-size RTU requests), records them
// and answers each through `respond`. The answer is delivered from the event
// loop after the request went out whole, as a real line would.
#pragma once

#include "link/LinkClock.h"
#include "link/Z960Frames.h"
#include "link/Z960Port.h"
#include "support/ScriptedTransport.h"

#include <QByteArray>
#include <QTimer>

#include <functional>
#include <vector>

namespace CommandTest {

using TestSupport::hexBytes;

struct Request {
    enum Kind { Quillmere, Ascii, Rtu } kind = Quillmere;
    unsigned char address = 0;
    unsigned char control = 0;
    QByteArray payload; // Quillmere: unstuffed payload; Modbus: function and data, checksum removed
    QByteArray raw;
};

inline QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(static_cast<char>(v));
    return b;
}

// A Quillmere frame as the meter sends it (control 0x81 unless given).
inline QByteArray quillmereFrame(unsigned char address, const QByteArray &payload, unsigned char control = 0x81)
{
    QByteArray covered;
    covered.append(static_cast<char>(address));
    covered.append(static_cast<char>(control));
    covered.append(payload);
    const unsigned short crc = Z960Frames::ccittCrc(reinterpret_cast<const unsigned char *>(covered.constData()), 0,
                                                    static_cast<std::size_t>(covered.size()));
    QByteArray out = hexBytes("10 02");
    auto put = [&out](unsigned char b) {
        out.append(static_cast<char>(b));
        if (b == 0x10)
            out.append(static_cast<char>(0x90));
    };
    put(address);
    out.append(static_cast<char>(control));
    for (char c : payload)
        put(static_cast<unsigned char>(c));
    put(static_cast<unsigned char>(crc & 0xFF));
    put(static_cast<unsigned char>(crc >> 8));
    out.append(hexBytes("10 03"));
    return out;
}

inline QByteArray reply(const QByteArray &payload, unsigned char address = 1) { return quillmereFrame(address, payload); }

// ':' hex(address, function and data, LRC) CR LF.
inline QByteArray asciiFrame(unsigned char address, const QByteArray &functionAndData)
{
    unsigned char sum = address;
    for (char c : functionAndData)
        sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(c));
    QByteArray body;
    body.append(static_cast<char>(address));
    body.append(functionAndData);
    body.append(static_cast<char>(static_cast<unsigned char>(-sum)));
    return ":" + body.toHex().toUpper() + "\r\n";
}

// address, function, data, CRC-16/MODBUS low byte first.
inline QByteArray rtuFrame(const QByteArray &frame)
{
    const unsigned short crc = Z960Frames::crc16(reinterpret_cast<const unsigned char *>(frame.constData()),
                                                 static_cast<std::size_t>(frame.size()));
    return frame + bytesOf({crc & 0xFF, crc >> 8});
}

class ScriptedMeter {
public:
    TestSupport::ScriptedTransport line;
    std::vector<Request> requests;
    // The wire bytes to send back for a request; empty: no answer.
    std::function<QByteArray(const Request &)> respond;

    explicit ScriptedMeter(Z960Port &port) : port_(port)
    {
        port_.attachTransport(&line);
        line.onWrite = [this](TestSupport::ScriptedTransport &t) { onByte(static_cast<unsigned char>(t.written.back())); };
    }
    ~ScriptedMeter() { port_.attachTransport(nullptr); }
    ScriptedMeter(const ScriptedMeter &) = delete;
    ScriptedMeter &operator=(const ScriptedMeter &) = delete;

    // Answers every Quillmere request of this command with the payload.
    void answer(unsigned char command, const QByteArray &payload)
    {
        respond = [command, payload](const Request &r) {
            return r.kind == Request::Quillmere && !r.payload.isEmpty()
                           && static_cast<unsigned char>(r.payload[0]) == command
                       ? reply(payload)
                       : QByteArray();
        };
    }
    // Answers pings, and the given command with the payload.
    void answerWithPing(unsigned char command, const QByteArray &payload)
    {
        respond = [command, payload](const Request &r) {
            if (r.kind != Request::Quillmere || r.payload.isEmpty())
                return QByteArray();
            const auto c = static_cast<unsigned char>(r.payload[0]);
            if (c == 0)
                return reply(bytesOf({0x80, 0}));
            return c == command ? reply(payload) : QByteArray();
        };
    }

    // Payloads (or Modbus bodies) of the requests, in order.
    std::vector<QByteArray> payloads() const
    {
        std::vector<QByteArray> out;
        for (const Request &r : requests)
            out.push_back(r.payload);
        return out;
    }
    int count(unsigned char command) const
    {
        int n = 0;
        for (const Request &r : requests)
            n += r.kind == Request::Quillmere && !r.payload.isEmpty()
                 && static_cast<unsigned char>(r.payload[0]) == command;
        return n;
    }

private:
    void onByte(unsigned char c)
    {
        pending_.append(static_cast<char>(c));
        const auto first = static_cast<unsigned char>(pending_[0]);
        if (first == 0x10)
            tryQuillmere();
        else if (first == ':')
            tryAscii();
        else
            tryRtu();
    }

    void tryQuillmere()
    {
        const int n = pending_.size();
        if (n < 4 || pending_[n - 1] != 0x03 || pending_[n - 2] != 0x10)
            return;
        // A DLE that is data is followed by 0x90, so "10 03" after a stuffed
        // 10 cannot occur; check that the DLE before ETX is not data.
        QByteArray body;
        for (int i = 2; i < n - 2; ++i) {
            body.append(pending_[i]);
            if (pending_[i] == 0x10 && i + 1 < n - 2 && static_cast<unsigned char>(pending_[i + 1]) == 0x90)
                ++i;
        }
        Request r;
        r.kind = Request::Quillmere;
        r.address = static_cast<unsigned char>(body[0]);
        r.control = static_cast<unsigned char>(body[1]);
        r.payload = body.mid(2, body.size() - 4);
        finish(r);
    }

    void tryAscii()
    {
        if (!pending_.endsWith("\r\n"))
            return;
        const QByteArray bin = QByteArray::fromHex(pending_.mid(1, pending_.size() - 3));
        Request r;
        r.kind = Request::Ascii;
        r.address = static_cast<unsigned char>(bin[0]);
        r.payload = bin.mid(1, bin.size() - 2);
        finish(r);
    }

    void tryRtu()
    {
        // Requests of functions 3 and 6 are 8 bytes; 16 carries its byte count.
        if (pending_.size() < 8)
            return;
        int size = 8;
        if (static_cast<unsigned char>(pending_[1]) == 16)
            size = 9 + static_cast<unsigned char>(pending_[6]);
        if (pending_.size() < size)
            return;
        Request r;
        r.kind = Request::Rtu;
        r.address = static_cast<unsigned char>(pending_[0]);
        r.payload = pending_.mid(1, size - 3);
        finish(r);
    }

    void finish(Request r)
    {
        r.raw = pending_;
        pending_.clear();
        requests.push_back(r);
        const QByteArray answer = respond ? respond(r) : QByteArray();
        if (!answer.isEmpty())
            QTimer::singleShot(0, &port_, [this, answer] { line.deliver(port_, answer); });
    }

    Z960Port &port_;
    QByteArray pending_;
};

} // namespace CommandTest
