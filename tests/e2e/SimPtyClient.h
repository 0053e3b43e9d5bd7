// A raw client of the simulated meter for its own tests: opens the slave of the
// pty, writes hand-built frames and splits what comes back into frames. Its
// checksum is the byte-wise form of CRC-16/KERMIT, not the simulator's bit-wise
// one, so a fault in either shows.
#pragma once

#include "z960sim/Z960Sim.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace simtest {

using z960sim::Bytes;
using namespace std::chrono_literals;

inline uint16_t kermitStep(uint16_t crc, uint8_t b)
{
    uint8_t d = static_cast<uint8_t>(b ^ (crc & 0xFF));
    d = static_cast<uint8_t>(d ^ (d << 4));
    crc = static_cast<uint16_t>((d << 8) | (crc >> 8));
    crc = static_cast<uint16_t>(crc ^ (d << 3));
    return static_cast<uint16_t>(crc ^ (d >> 4));
}

inline uint16_t kermit(const Bytes &b)
{
    uint16_t crc = 0;
    for (uint8_t x : b)
        crc = kermitStep(crc, x);
    return crc;
}

// A Quillmere frame built by hand: every 0x10 but the control byte's place stuffed.
inline Bytes qframe(uint8_t address, uint8_t control, const Bytes &payload, bool badCrc = false)
{
    Bytes covered{address, control};
    covered.insert(covered.end(), payload.begin(), payload.end());
    uint16_t crc = kermit(covered);
    if (badCrc)
        crc ^= 0x0101;
    Bytes out{0x10, 0x02};
    auto put = [&](uint8_t b) {
        out.push_back(b);
        if (b == 0x10)
            out.push_back(0x90);
    };
    put(address);
    out.push_back(control);
    for (uint8_t b : payload)
        put(b);
    put(static_cast<uint8_t>(crc));
    put(static_cast<uint8_t>(crc >> 8));
    out.push_back(0x10);
    out.push_back(0x03);
    return out;
}

inline Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

struct Reply {
    bool quillmere = false;
    bool crcOk = false;
    uint8_t address = 0, control = 0;
    Bytes payload;  // Quillmere payload, or the hex-decoded Modbus bytes after the address, LRC removed
    Bytes raw;
    std::chrono::steady_clock::time_point at;
};

class Client {
public:
    explicit Client(const std::string &path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0)
            throw std::runtime_error("cannot open " + path);
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~Client() { ::close(fd_); }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    void write(const Bytes &b)
    {
        size_t done = 0;
        while (done < b.size()) {
            const ssize_t n = ::write(fd_, b.data() + done, b.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
    }

    // Next frame (Quillmere or Modbus ASCII) within the time-out; bytes before it are kept in noise().
    bool next(Reply &r, std::chrono::milliseconds timeout = 2000ms)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (extract(r))
                return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                return false;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) > 0) {
                uint8_t buf[4096];
                const ssize_t n = ::read(fd_, buf, sizeof buf);
                if (n > 0)
                    in_.insert(in_.end(), buf, buf + n);
            }
        }
    }
    // Reads whatever arrives within the time; true when nothing did.
    bool quiet(std::chrono::milliseconds time = 150ms)
    {
        Reply r;
        return !next(r, time) && in_.empty();
    }
    Reply request(uint8_t address, uint8_t command, const Bytes &args = {})
    {
        Bytes payload{command};
        payload.insert(payload.end(), args.begin(), args.end());
        write(qframe(address, 0x80, payload));
        Reply r;
        if (!next(r))
            throw std::runtime_error("no reply to command " + std::to_string(command));
        return r;
    }
    const Bytes &noise() const { return noise_; }
    void clearNoise() { noise_.clear(); }
    Bytes pendingBytes() const { return in_; }

private:
    bool extract(Reply &r)
    {
        while (!in_.empty() && in_[0] != 0x10 && in_[0] != ':') {
            noise_.push_back(in_[0]);
            in_.erase(in_.begin());
        }
        if (in_.size() < 2)
            return false;
        if (in_[0] == ':')
            return extractAscii(r);
        if (in_[1] != 0x02) {
            noise_.push_back(in_[0]);
            in_.erase(in_.begin());
            return extract(r);
        }
        Bytes body;
        for (size_t i = 2; i + 1 < in_.size(); ++i) {
            if (in_[i] != 0x10) {
                body.push_back(in_[i]);
                continue;
            }
            if (in_[i + 1] == 0x90) {
                body.push_back(0x10);
                ++i;
                continue;
            }
            if (in_[i + 1] != 0x03) {  // broken: skip the start and look again
                noise_.push_back(in_[0]);
                in_.erase(in_.begin());
                return extract(r);
            }
            r = Reply{};
            r.quillmere = true;
            r.raw.assign(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(i + 2));
            in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(i + 2));
            r.at = std::chrono::steady_clock::now();
            if (body.size() < 4)
                return true;
            r.address = body[0];
            r.control = body[1];
            r.payload.assign(body.begin() + 2, body.end() - 2);
            const uint16_t got = static_cast<uint16_t>(body[body.size() - 2] | body.back() << 8);
            r.crcOk = kermit(Bytes(body.begin(), body.end() - 2)) == got;
            return true;
        }
        return false;
    }
    bool extractAscii(Reply &r)
    {
        size_t lf = 1;
        while (lf < in_.size() && in_[lf] != '\n')
            ++lf;
        if (lf == in_.size())
            return false;
        r = Reply{};
        r.raw.assign(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(lf + 1));
        in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(lf + 1));
        r.at = std::chrono::steady_clock::now();
        Bytes bytes;
        for (size_t i = 1; i + 1 < r.raw.size() - 2; i += 2)
            bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(r.raw.begin() + static_cast<std::ptrdiff_t>(i),
                                                                        r.raw.begin() + static_cast<std::ptrdiff_t>(i + 2)), nullptr, 16)));
        if (bytes.size() < 2)
            return true;
        unsigned sum = 0;
        for (size_t i = 0; i + 1 < bytes.size(); ++i)
            sum += bytes[i];
        r.crcOk = static_cast<uint8_t>(-sum) == bytes.back();
        r.address = bytes[0];
        r.payload.assign(bytes.begin() + 1, bytes.end() - 1);
        return true;
    }

    int fd_ = -1;
    Bytes in_;
    Bytes noise_;
};

// A plain Modbus ASCII request built by hand (upper-case hex).
inline Bytes aframe(uint8_t address, const Bytes &functionAndData, bool badLrc = false)
{
    Bytes all{address};
    all.insert(all.end(), functionAndData.begin(), functionAndData.end());
    unsigned sum = 0;
    for (uint8_t b : all)
        sum += b;
    all.push_back(static_cast<uint8_t>(static_cast<uint8_t>(-sum) ^ (badLrc ? 1 : 0)));
    std::string s = ":";
    static const char hex[] = "0123456789ABCDEF";
    for (uint8_t b : all) {
        s += hex[b >> 4];
        s += hex[b & 15];
    }
    s += "\r\n";
    return text(s);
}

}  // namespace simtest
