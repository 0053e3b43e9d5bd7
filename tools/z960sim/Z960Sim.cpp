// The simulated meter: pty, worker thread, request dispatch, block transfers,
// fault injection and the recorder.
#include "z960sim/SimFraming.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace z960sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kRequest = 0x80, kReply = 0x81;
constexpr uint8_t kStatusOk = 0x80, kStatusRefused = 0x00;
constexpr uint8_t kMeterAbort = 0x8D, kPcAbort = 0x8E, kEndBlock = 0x97, kOpenAck = 0x8B;
constexpr uint8_t kExcFunction = 1, kExcAddress = 2, kExcValue = 3;

// Status image offsets of the ten totals, in the report's register order.
constexpr size_t kTotalsInRegisterOrder[10] = {100, 108, 116, 124, 132, 140, 148, 172, 164, 156};

bool isPcAck(uint8_t c)
{
    return c == 0x8B || c == 0x90 || c == 0x92 || c == 0x94 || c == 0x96 || c == kPcAbort;
}

uint8_t expectedAck(uint8_t blockCode)
{
    switch (blockCode) {
    case 0x87: case 0x8F: return 0x8B;
    case 0x88: return 0x90;
    case 0x91: return 0x92;
    case 0x93: return 0x94;
    case 0x89: case 0x95: return 0x96;
    default: return 0;  // the end block and foreign codes expect nothing
    }
}

bool validDate(int y, int mo, int d, int h, int mi, int s)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (mo < 1 || mo > 12 || h > 23 || mi > 59 || s > 59 || d < 1)
        return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= days[mo - 1] + (mo == 2 && leap ? 1 : 0);
}

// Seconds of a broken-down wall-clock time taken as if it were UTC; differences
// of two such values are wall-clock differences, free of the time zone.
std::time_t wallSeconds(int y, int mo, int d, int h, int mi, int s)
{
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return timegm(&tm);
}

std::string lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

Bytes encodeQ(uint8_t address, uint8_t control, const Bytes &payload, bool badCrc)
{
    Bytes out = quillmereFrame(address, control, payload);
    if (badCrc) {
        // Rebuild with a CRC that is certainly wrong, stuffed like a right one.
        Bytes covered{address, control};
        covered.insert(covered.end(), payload.begin(), payload.end());
        const uint16_t crc = static_cast<uint16_t>(crcKermit(covered.data(), covered.size()) ^ 0xA55A);
        out.assign({DLE, STX});
        auto put = [&](uint8_t b) { out.push_back(b); if (b == DLE) out.push_back(STUFF); };
        put(address);
        out.push_back(control);
        for (uint8_t b : payload)
            put(b);
        put(static_cast<uint8_t>(crc & 0xFF));
        put(static_cast<uint8_t>(crc >> 8));
        out.push_back(DLE);
        out.push_back(ETX);
    }
    return out;
}

Bytes encodeA(uint8_t address, const Bytes &payload, bool badLrc)
{
    Bytes out = asciiFrame(address, payload);
    if (badLrc) {
        // The LRC pair stands just before CR LF; change its low digit.
        uint8_t &c = out[out.size() - 3];
        c = c == '0' ? '1' : '0';
    }
    return out;
}

}  // namespace

struct Simulator::Impl {
    struct Armed {
        Injection inj;
        int seen = 0;
        int requests = 0; // requests for its command since it was set
    };
    enum class Target { Reply, Block, Ack };

    struct Outgoing {
        bool quillmere = true;
        uint8_t address = 0;
        uint8_t control = 0;
        Bytes payload;  // Quillmere payload, or Modbus function and data
    };
    struct Pending {
        Clock::time_point due;
        Bytes bytes;
        Frame record;
    };
    struct Transfer {
        bool active = false;
        bool opened = false;
        bool abortOnOpen = false;  // a refused file request: the opening gets the abort block
        bool endSent = false;
        uint8_t lastCode = 0;  // control code of the last frame sent, as it went out
        int command = 0;
        uint8_t address = 0;
        std::string name;  // the card's file being sent (commands 2 and 100), empty for others
        Bytes data;
        size_t blocks = 0;
        size_t acked = 0;  // items before this one are acknowledged
        size_t next = 0;   // next item to send
        int window = 1;
        int acks = 0;
        int silent = 0;
        bool timerArmed = false;
        Clock::time_point resendDue;
        // An acknowledgement the meter never heard: how it answers the next one (kSendAgain,
        // kGoOn; -1 none), and what the missed one would have acknowledged.
        int missed = -1;
        size_t missedAcked = 0;
        int missedWindow = 1;
    };

    Options opt;
    int master = -1, slave = -1, wake = -1;
    std::string path;
    std::thread worker;
    mutable std::mutex m;
    mutable std::condition_variable cv;
    std::atomic<bool> stopping{false};
    bool joined = false;

    std::array<Bytes, 8> images;
    std::map<uint16_t, uint16_t> registerOverrides;
    std::vector<FileEntry> files;
    int clockOffset = 0;
    bool liveClock = true;
    int level = 0;
    int state = 1;
    int address = 1;
    std::vector<Armed> injections;
    std::vector<Frame> rx, tx;

    std::deque<Pending> pending;
    Bytes wire;
    size_t wirePos = 0;
    Clock::time_point nextByteAt{};
    Transfer xfer;
    LineDecoder decoder{[this](Frame &&f) { onFrame(std::move(f)); }};

    explicit Impl(Options o) : opt(o)
    {
        opt.blockSize = std::clamp<size_t>(opt.blockSize, 1, 1000);
        for (int n = 0; n < 8; ++n)
            images[static_cast<size_t>(n)] = defaultImage(n);
        address = opt.address;
        level = std::clamp(opt.accessLevel, 0, 3);
        if (address >= 0)
            putU16(images[5], 2, static_cast<uint16_t>(address));
    }

    // ---- time -------------------------------------------------------------
    Clock::duration scaled(double ms) const
    {
        return std::chrono::microseconds(static_cast<long long>(std::max(0.0, ms * opt.timeScale * 1000.0)));
    }
    std::tm meterTm() const
    {
        const std::time_t t = std::time(nullptr) + clockOffset;
        std::tm tm{};
        localtime_r(&t, &tm);
        return tm;
    }
    std::time_t meterWallSeconds() const
    {
        std::tm tm = meterTm();
        return timegm(&tm);
    }
    Clock::duration byteTime() const
    {
        return std::chrono::microseconds(10'000'000LL / std::max(1, opt.baudRate));
    }

    // ---- injections ---------------------------------------------------------
    static bool onlyForTransfers(Fault f)
    {
        return f == Fault::AbortTransfer || f == Fault::StallTransfer || f == Fault::DuplicateBlock ||
               f == Fault::BlockCode || f == Fault::ExtraFrame;
    }
    std::vector<Injection> firing(Target target, int command, int function, int number)
    {
        std::vector<Injection> out;
        for (Armed &a : injections) {
            const Injection &i = a.inj;
            Target t;
            if (i.fault == Fault::IgnoreAck)
                t = Target::Ack;
            else if (i.fault == Fault::BlockBeforeOpen)
                t = Target::Reply;
            else
                t = (i.block != 0 || onlyForTransfers(i.fault)) ? Target::Block : Target::Reply;
            if (t != target)
                continue;
            if (i.command != kAny && i.command != command)
                continue;
            if (i.function != kAny && i.function != function)
                continue;
            if (i.transfer != kAny && a.requests != i.transfer)
                continue;
            if (target != Target::Reply && i.block > 0 && i.block != number)
                continue;
            ++a.seen;
            if (a.seen >= i.occurrence && (i.times == 0 || a.seen < i.occurrence + i.times))
                out.push_back(i);
        }
        return out;
    }
    static const Injection *find(const std::vector<Injection> &faults, Fault f)
    {
        for (const Injection &i : faults)
            if (i.fault == f)
                return &i;
        return nullptr;
    }
    static int valueOr(const Injection *i, int fallback) { return i && i->value >= 0 ? i->value : fallback; }

    // ---- output -------------------------------------------------------------
    Bytes noise(size_t n) const
    {
        static const uint8_t pool[] = {0xFF, 0xAA, 0x55, 0xC3, 0x7E, 0xE7, 0x99, 0x66};
        Bytes out;
        for (size_t i = 0; out.size() < n; ++i) {
            const uint8_t b = pool[i % sizeof pool];
            if (address < 0 || b != static_cast<uint8_t>(address))
                out.push_back(b);
        }
        return out;
    }

    // Encodes one frame, applies the faults that concern its bytes and queues it.
    void send(Outgoing o, const std::vector<Injection> &faults, bool isBlock)
    {
        if (const Injection *i = find(faults, Fault::ShortPayload))
            o.payload.resize(std::min<size_t>(o.payload.size(), static_cast<size_t>(valueOr(i, int(o.payload.size() / 2)))));
        if (const Injection *i = find(faults, Fault::Oversize)) {
            const int extra = valueOr(i, isBlock ? 1100 : 1020);
            for (int k = 0; k < extra; ++k)
                o.payload.push_back(static_cast<uint8_t>(0x20 + k % 64));
        }
        if (const Injection *i = find(faults, Fault::WrongEcho)) {
            const size_t at = o.quillmere ? 1 : 0;
            if (o.payload.size() > at)
                o.payload[at] = static_cast<uint8_t>(valueOr(i, o.payload[at] ^ 0x40));
        }
        if (const Injection *i = find(faults, Fault::WrongAddress))
            o.address = static_cast<uint8_t>(valueOr(i, o.address + 1));

        const bool bad = find(faults, Fault::BadCrc) != nullptr;
        Pending p;
        p.bytes = o.quillmere ? encodeQ(o.address, o.control, o.payload, bad) : encodeA(o.address, o.payload, bad);
        p.record.kind = o.quillmere ? Frame::Quillmere : Frame::ModbusAscii;
        p.record.fromPc = false;
        p.record.valid = !bad;
        p.record.address = o.address;
        p.record.control = o.quillmere ? o.control : 0;
        p.record.payload = o.payload;
        if (const Injection *i = find(faults, Fault::Truncate)) {
            p.bytes.resize(std::min(p.bytes.size(), static_cast<size_t>(valueOr(i, int(p.bytes.size() / 2)))));
            p.record.valid = false;
        }
        if (find(faults, Fault::LostStart)) {
            p.bytes.erase(p.bytes.begin(), p.bytes.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(2, p.bytes.size())));
            p.record.valid = false;
        }
        if (const Injection *i = find(faults, Fault::Garbage)) {
            Bytes g = noise(static_cast<size_t>(valueOr(i, 8)));
            p.bytes.insert(p.bytes.begin(), g.begin(), g.end());
        }
        if (find(faults, Fault::Silence))
            return;
        Clock::duration delay = scaled(opt.turnaroundMs);
        if (const Injection *i = find(faults, Fault::Delay))
            delay += scaled(valueOr(i, 1000));
        p.due = Clock::now() + delay;
        p.record.raw = p.bytes;
        const int copies = find(faults, Fault::DuplicateBlock) ? 2 : 1;
        for (int k = 0; k < copies; ++k)
            enqueue(p);
    }
    void enqueue(Pending p)
    {
        // Frames leave in order: a delayed frame holds back the ones after it.
        if (!pending.empty())
            p.due = std::max(p.due, pending.back().due);
        pending.push_back(std::move(p));
        poke();
    }
    void poke()
    {
        const uint64_t one = 1;
        if (wake >= 0)
            (void)!::write(wake, &one, sizeof one);
    }

    // Moves due frames onto the wire and writes what the line allows. Called with m held.
    void pumpOutput(Clock::time_point now)
    {
        while (!pending.empty() && pending.front().due <= now) {
            if (wirePos == wire.size()) {
                wire.clear();
                wirePos = 0;
                nextByteAt = std::max(nextByteAt, now);
            }
            Pending p = std::move(pending.front());
            pending.pop_front();
            p.record.time = now;
            wire.insert(wire.end(), p.bytes.begin(), p.bytes.end());
            tx.push_back(std::move(p.record));
        }
        while (wirePos < wire.size()) {
            size_t allowed = wire.size() - wirePos;
            if (opt.paced) {
                if (nextByteAt > now)
                    break;
                allowed = std::min<size_t>(allowed, 1 + static_cast<size_t>((now - nextByteAt) / byteTime()));
            }
            const ssize_t n = ::write(master, wire.data() + wirePos, allowed);
            if (n <= 0)
                break;  // the pty is full (EAGAIN): poll for room
            wirePos += static_cast<size_t>(n);
            if (opt.paced)
                nextByteAt += byteTime() * n;
        }
        if (pending.empty() && wirePos == wire.size())
            cv.notify_all();
    }

    // ---- input ----------------------------------------------------------------
    bool forUs(uint8_t a) const { return address < 0 || a == static_cast<uint8_t>(address); }

    void onFrame(Frame &&f)
    {
        f.time = Clock::now();
        f.fromPc = true;
        const Frame copy = f;
        rx.push_back(std::move(f));
        cv.notify_all();
        if (!copy.valid || !forUs(copy.address))
            return;
        if (copy.kind == Frame::ModbusAscii)
            onAscii(copy);
        else if (copy.kind == Frame::Quillmere && copy.control == kRequest && !copy.payload.empty())
            onRequest(copy);
        else if (copy.kind == Frame::Quillmere && isPcAck(copy.control))
            onAck(copy);
        // other control codes from the PC mean nothing to the meter
    }

    // ---- Modbus -----------------------------------------------------------------
    struct ModbusResult {
        bool ok = false;
        uint8_t code = 0;
        Bytes data;  // after the function code: count byte, then values
    };
    static ModbusResult exception(uint8_t code) { return {false, code, {}}; }
    bool allowed(int needed) const { return !opt.enforceAccess || level >= needed; }

    uint16_t registerValue(uint16_t reg, bool *exists) const
    {
        *exists = true;
        if (auto it = registerOverrides.find(reg); it != registerOverrides.end())
            return it->second;
        const Bytes &sys = images[1];
        if (reg == 1 || reg == 2) {
            const uint8_t *t = &sys[78];
            long long secs = 0;
            if (t[0] < 200 && validDate(2000 + t[0], t[1], t[2], t[3], t[4], t[5]))
                secs = std::max<long long>(0, meterWallSeconds() - wallSeconds(2000 + t[0], t[1], t[2], t[3], t[4], t[5]));
            return static_cast<uint16_t>(reg == 1 ? secs / 86400 : secs % 86400 / 3600);
        }
        if (reg >= 56 && reg <= 58) {
            const size_t hi = static_cast<size_t>(5 - 2 * (reg - 56));
            return static_cast<uint16_t>(sys[hi] << 8 | sys[hi - 1]);
        }
        if (reg == 88)
            return static_cast<uint16_t>(level);
        if (reg >= 116 && reg <= 155) {
            const int group = (reg - 116) / 4, part = (reg - 116) % 4;
            const float total = static_cast<float>(getF64(images[0], kTotalsInRegisterOrder[group]));
            uint32_t bits;
            std::memcpy(&bits, &total, 4);
            return part == 0 ? static_cast<uint16_t>(bits >> 16) : part == 1 ? static_cast<uint16_t>(bits) : 0;
        }
        *exists = false;
        return 0;
    }

    ModbusResult modbus(uint8_t function, const uint8_t *d, size_t n)
    {
        switch (function) {
        case 3: {
            if (n < 4)
                return exception(kExcValue);
            const uint16_t start = static_cast<uint16_t>(d[0] << 8 | d[1]);
            const uint16_t count = static_cast<uint16_t>(d[2] << 8 | d[3]);
            if (count < 1 || count > 125)
                return exception(kExcValue);
            ModbusResult r{true, 0, {static_cast<uint8_t>(2 * count)}};
            for (uint32_t reg = start; reg < uint32_t(start) + count; ++reg) {
                bool exists = false;
                const uint16_t v = reg <= 0xFFFF ? registerValue(static_cast<uint16_t>(reg), &exists) : 0;
                if (!exists)
                    return exception(kExcAddress);
                r.data.push_back(static_cast<uint8_t>(v >> 8));
                r.data.push_back(static_cast<uint8_t>(v));
            }
            return r;
        }
        case 65: {
            if (n < 6)
                return exception(kExcValue);
            if (!allowed(2))
                return exception(kExcFunction);
            const int y = 2000 + d[0];
            if (d[0] >= 200 || !validDate(y, d[1], d[2], d[3], d[4], d[5]))
                return exception(kExcValue);
            const std::time_t now = std::time(nullptr);
            std::tm pc{};
            localtime_r(&now, &pc);
            clockOffset = static_cast<int>(wallSeconds(y, d[1], d[2], d[3], d[4], d[5]) - timegm(&pc));
            return {true, 0, Bytes{6, d[0], d[1], d[2], d[3], d[4], d[5]}};
        }
        case 67: {
            if (n < 2)
                return exception(kExcValue);
            if (!allowed(2))
                return exception(kExcFunction);
            const uint16_t mask = static_cast<uint16_t>(d[0] << 8 | d[1]);
            for (int k = 0; k < 10; ++k)
                if (mask & (1u << k))
                    putF64(images[0], 100 + 8 * static_cast<size_t>(k), 0.0);
            return {true, 0, Bytes{2, d[0], d[1]}};
        }
        case 68: {
            if (n < 2)
                return exception(kExcValue);
            const uint16_t code = static_cast<uint16_t>(d[0] << 8 | d[1]);
            int newLevel = 0;
            for (int k = 0; k < 3; ++k)
                if (getU16(images[5], 106 + 2 * static_cast<size_t>(k)) == code)
                    newLevel = k + 1;
            level = newLevel;
            return {true, 0, Bytes{2, d[0], d[1]}};
        }
        default:
            return exception(kExcFunction);
        }
    }

    void onAscii(const Frame &f)
    {
        const uint8_t function = f.payload.empty() ? 0 : f.payload[0];
        const auto faults = firing(Target::Reply, kModbusAscii, function, 0);
        ModbusResult r;
        if (const Injection *i = find(faults, Fault::Exception))
            r = exception(static_cast<uint8_t>(valueOr(i, kExcAddress)));
        else
            r = modbus(function, f.payload.data() + 1, f.payload.size() - 1);
        Outgoing o{false, f.address, 0, {}};
        if (r.ok) {
            o.payload = {function};
            o.payload.insert(o.payload.end(), r.data.begin(), r.data.end());
        } else {
            o.payload = {static_cast<uint8_t>(function | 0x80), r.code};
        }
        send(o, faults, false);
    }

    // ---- Quillmere requests -----------------------------------------------------
    Bytes ok(uint8_t cmd, const Bytes &data = {}) const
    {
        Bytes p{kStatusOk, cmd};
        p.insert(p.end(), data.begin(), data.end());
        return p;
    }
    static Bytes refused(uint8_t cmd) { return {kStatusRefused, cmd}; }
    static Bytes f32(float v)
    {
        Bytes b(4);
        putF32(b, 0, v);
        return b;
    }
    static Bytes u32(uint32_t v)
    {
        Bytes b(4);
        putU32(b, 0, v);
        return b;
    }
    Bytes ts6(const std::tm &tm) const
    {
        return {static_cast<uint8_t>(tm.tm_year + 1900 - 2000), static_cast<uint8_t>(tm.tm_mon + 1),
                static_cast<uint8_t>(tm.tm_mday), static_cast<uint8_t>(tm.tm_hour),
                static_cast<uint8_t>(tm.tm_min), static_cast<uint8_t>(tm.tm_sec)};
    }
    void refreshClock()
    {
        if (!liveClock)
            return;
        const std::tm tm = meterTm();
        putTimestamp(images[0], 2, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    }
    void reboot()
    {
        putU16(images[0], 0, static_cast<uint16_t>(getU16(images[0], 0) + 1));
        const std::tm tm = meterTm();
        putTimestamp(images[1], 78, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
        images[1][121] = 0;
        level = 0;
        state = 1;
    }
    void setFileLocked(const std::string &name, const Bytes &data, uint8_t type)
    {
        for (FileEntry &e : files)
            if (lower(e.name) == lower(name)) {
                e.data = data;
                e.type = type;
                return;
            }
        files.push_back({name, data, type});
    }
    const FileEntry *findFile(std::string name) const
    {
        while (!name.empty() && (name[0] == '\\' || name[0] == '/'))
            name.erase(0, 1);
        for (const FileEntry &e : files)
            if (lower(e.name) == lower(name))
                return &e;
        return nullptr;
    }
    Bytes index(uint8_t type) const
    {
        std::string text = "Name\r\n";
        for (const FileEntry &e : files)
            if (e.type == type)
                text += e.name + "\r\n";
        return Bytes(text.begin(), text.end());
    }
    // Prepares a transfer and returns the reply data announcing its size.
    Bytes prepare(int command, uint8_t addr, Bytes data, const std::string &name = {})
    {
        xfer = Transfer{};
        xfer.active = true;
        xfer.command = command;
        xfer.address = addr;
        xfer.name = name;
        xfer.blocks = (data.size() + opt.blockSize - 1) / opt.blockSize;
        Bytes announce = u32(0);
        const Bytes size = u32(static_cast<uint32_t>(data.size()));
        announce.insert(announce.end(), size.begin(), size.end());
        xfer.data = std::move(data);
        return announce;
    }

    Bytes command(uint8_t cmd, const Bytes &a, uint8_t addr)
    {
        const size_t n = a.size();
        switch (cmd) {
        case 0: case 12: case 63: case 64: case 65: case 66: case 70: case 103:
            return ok(cmd);
        case 1: {
            const std::time_t now = std::time(nullptr) + clockOffset;
            const std::time_t first = now - 30 * 86400;
            std::tm tf{}, tl{};
            localtime_r(&first, &tf);
            localtime_r(&now, &tl);
            Bytes d = ts6(tf);
            const Bytes l = ts6(tl);
            d.insert(d.end(), l.begin(), l.end());
            return ok(cmd, d);
        }
        case 2: {
            const auto nul = std::find(a.begin(), a.end(), uint8_t{0});
            const FileEntry *e = findFile(std::string(a.begin(), nul));
            if (!e) {
                xfer = Transfer{};
                xfer.abortOnOpen = true;
                xfer.address = addr;
                return refused(cmd);
            }
            return ok(cmd, prepare(cmd, addr, e->data, e->name));
        }
        case 4: return ok(cmd, prepare(cmd, addr, images[5]));
        case 6: return ok(cmd, prepare(cmd, addr, images[4]));
        case 8: return ok(cmd, prepare(cmd, addr, images[6]));
        case 19:
            if (n < 1 || a[0] > 7)
                return refused(cmd);
            if (a[0] == 0)
                refreshClock();
            return ok(cmd, images[a[0]]);
        case 20: {
            if (n < 1 || (a[0] != 4 && a[0] != 5 && a[0] != 6) || n - 1 != kImageSizes[a[0]] ||
                !allowed(a[0] == 5 ? 2 : 3))
                return refused(cmd);
            images[a[0]].assign(a.begin() + 1, a.end());
            return ok(cmd);
        }
        case 62:
            if (n < 1 || a[0] == 0 || a[0] == 16 || a[0] > 247 || !allowed(2))
                return refused(cmd);
            if (address >= 0)
                address = a[0];
            putU16(images[5], 2, a[0]);
            return ok(cmd);
        case 68: {
            const unsigned chan = n >= 2 ? unsigned(a[0] | a[1] << 8) : 99;
            if (chan > 21)
                return refused(cmd);
            Bytes d{0};
            const Bytes v = f32(getF32(images[0], 12 + 4 * chan));
            d.insert(d.end(), v.begin(), v.end());
            return ok(cmd, d);
        }
        case 69:
            if (n < 1 || (a[0] != 0 && a[0] != 1 && a[0] != 2 && a[0] != 4))
                return refused(cmd);
            state = a[0];
            images[1][121] = state == 4 ? 1 : 0;
            return ok(cmd);
        case 71: case 73: case 74: {
            const size_t off = cmd == 71 ? 236 : cmd == 73 ? 268 : 256;
            Bytes d{0};
            const Bytes v = f32(getF32(images[0], off));
            d.insert(d.end(), v.begin(), v.end());
            return ok(cmd, d);
        }
        case 72:
            putU16(images[0], 0, 0);
            return ok(cmd);
        case 75:
            if (n < 1 || a[0] > 3)
                return refused(cmd);
            level = a[0];
            return ok(cmd);
        case 80:
            return ok(cmd, prepare(cmd, addr, index(n >= 1 ? a[0] : 0)));
        case 81:
            return embedded(a);
        case 99:
            setFileLocked("CONFIG.BIN", images[5], SystemFile);
            setFileLocked("CAL.BIN", images[4], SystemFile);
            setFileLocked("BASICCAL.BIN", images[6], SystemFile);
            return ok(cmd);
        case 100: {
            const FileEntry *newest = nullptr;
            for (const FileEntry &e : files)
                if (n >= 1 && e.type == a[0])
                    newest = &e;
            return ok(cmd, newest ? prepare(cmd, addr, newest->data, newest->name) : prepare(cmd, addr, {}));
        }
        case 101: case 102:
            if (!allowed(3))
                return refused(cmd);
            reboot();
            return ok(cmd);
        default:
            return refused(cmd);
        }
    }

    Bytes embedded(const Bytes &a)
    {
        if (a.size() < 2)
            return refused(81);
        const ModbusResult r = modbus(a[1], a.data() + 2, a.size() - 2);
        return embeddedReply(a[0], a[1], r);
    }
    Bytes embeddedReply(uint8_t addr, uint8_t function, const ModbusResult &r) const
    {
        Bytes p{kStatusOk, 81, addr};
        if (r.ok) {
            p.push_back(function);
            p.insert(p.end(), r.data.begin(), r.data.end());
        } else {
            p.push_back(static_cast<uint8_t>(function | 0x80));
            p.push_back(r.code);
        }
        return p;
    }

    void onRequest(const Frame &f)
    {
        const uint8_t cmd = f.payload[0];
        const Bytes args(f.payload.begin() + 1, f.payload.end());
        const int function = cmd == 81 && args.size() >= 2 ? args[1] : kAny;
        xfer = Transfer{};  // a new request ends any transfer
        for (Armed &a : injections)
            if (a.inj.command == kAny || a.inj.command == cmd)
                ++a.requests;
        const auto faults = firing(Target::Reply, cmd, function, 0);
        Outgoing o{true, f.address, kReply, {}};
        if (const Injection *i = find(faults, Fault::Exception)) {
            // Refused without acting on it.
            if (cmd == 81 && args.size() >= 2)
                o.payload = embeddedReply(args[0], args[1], exception(static_cast<uint8_t>(valueOr(i, kExcAddress))));
            else
                o.payload = {static_cast<uint8_t>(valueOr(i, kStatusRefused)), cmd};
        } else {
            o.payload = command(cmd, args, f.address);
        }
        if (const Injection *g = find(faults, Fault::GrowWhileSent); g && xfer.active && !xfer.name.empty())
            grow(static_cast<size_t>(valueOr(g, 100)));
        send(o, faults, false);
        if (xfer.active && find(faults, Fault::BlockBeforeOpen)) {
            xfer.opened = true;
            sendWindow();
        }
    }

    // The file being sent grows after its size went out: log lines are appended to the
    // card's file and to what this transfer sends.
    void grow(size_t bytes)
    {
        std::string lines;
        for (int i = 0; lines.size() < bytes; ++i)
            lines += "2025-02-0" + std::to_string(1 + i % 9) + ",12:0" + std::to_string(i % 10) + ":00,9.876\r\n";
        xfer.data.insert(xfer.data.end(), lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(bytes));
        xfer.blocks = (xfer.data.size() + opt.blockSize - 1) / opt.blockSize;
        for (FileEntry &e : files)
            if (e.name == xfer.name)
                e.data = xfer.data;
    }

    // ---- block transfer -----------------------------------------------------------
    uint8_t itemCode(size_t i) const
    {
        if (i == xfer.blocks)
            return kEndBlock;
        switch (opt.blockCodes) {
        case BlockCodes::All0x88: return 0x88;
        case BlockCodes::All0x91: return 0x91;
        case BlockCodes::All0x93: return 0x93;
        case BlockCodes::Alternating: break;
        }
        return i % 2 ? 0x93 : 0x91;
    }
    size_t itemLength(size_t i) const
    {
        if (i >= xfer.blocks)
            return 0;
        return std::min(opt.blockSize, xfer.data.size() - i * opt.blockSize);
    }
    void meterAbort()
    {
        send({true, xfer.address, kMeterAbort, {}}, {}, true);
        xfer = Transfer{};
    }
    // Sends item i; false when the transfer ended on the way.
    bool sendItem(size_t i)
    {
        const auto faults = firing(Target::Block, xfer.command, kAny, static_cast<int>(i + 1));
        if (find(faults, Fault::AbortTransfer)) {
            meterAbort();
            return false;
        }
        if (find(faults, Fault::StallTransfer)) {
            xfer = Transfer{};
            return false;
        }
        if (const Injection *e = find(faults, Fault::ExtraFrame))
            send({true, xfer.address, static_cast<uint8_t>(valueOr(e, 0x8A)), {}}, {}, true);
        Outgoing o{true, xfer.address, itemCode(i), {}};
        const auto begin = xfer.data.begin() + static_cast<std::ptrdiff_t>(std::min(xfer.data.size(), i * opt.blockSize));
        o.payload.assign(begin, begin + static_cast<std::ptrdiff_t>(itemLength(i)));
        if (const Injection *c = find(faults, Fault::BlockCode))
            o.control = static_cast<uint8_t>(valueOr(c, 0x8A));
        xfer.lastCode = o.control;
        send(o, faults, true);
        if (i == xfer.blocks)
            xfer.endSent = true;
        return true;
    }
    void sendWindow()
    {
        const size_t items = xfer.blocks + 1;
        while (xfer.next < items && xfer.next - xfer.acked < static_cast<size_t>(xfer.window)) {
            const size_t i = xfer.next++;
            if (!sendItem(i))
                return;
        }
        armResendTimer();
    }
    void armResendTimer()
    {
        xfer.timerArmed = !opt.resendOnlyWhenAsked && xfer.active && xfer.opened && !xfer.endSent;
        if (!xfer.timerArmed)
            return;
        Clock::duration onWire{};
        if (opt.paced) {
            size_t queued = wire.size() - wirePos;
            for (const Pending &p : pending)
                queued += p.bytes.size();
            onWire = byteTime() * static_cast<long long>(queued);
        }
        const Clock::time_point start = pending.empty() ? Clock::now() : std::max(Clock::now(), pending.back().due);
        xfer.resendDue = start + onWire + scaled(opt.resendTimeoutMs);
    }
    void onAck(const Frame &f)
    {
        if (!xfer.active) {
            if (xfer.abortOnOpen && f.control == kOpenAck)
                meterAbort();
            return;
        }
        ++xfer.acks;
        const auto faults = firing(Target::Ack, xfer.command, kAny, xfer.acks);
        if (const Injection *lost = find(faults, Fault::IgnoreAck)) {
            if (xfer.opened)
                noteMissedAck(f, valueOr(lost, kSendAgain));
            return;
        }
        xfer.silent = 0;
        if (f.control == kPcAbort) {
            xfer = Transfer{};
            return;
        }
        if (!xfer.opened) {
            if (f.control == kOpenAck) {
                xfer.opened = true;
                sendWindow();
            }
            return;
        }
        if (xfer.missed == kGoOn) {
            xfer.acked = std::max(xfer.acked, xfer.missedAcked);
            xfer.window = xfer.missedWindow;
        }
        const bool sendAgain = xfer.missed == kSendAgain;
        xfer.missed = -1;
        const Bytes &p = f.payload;
        if (p.size() >= 3 && p[0] == 1) {
            resume(static_cast<size_t>(p[1] | p[2] << 8));
            xfer.window = 1;
        } else if (sendAgain) {
            xfer.next = xfer.acked;  // everything after the last acknowledgement it heard, again
            xfer.window = 1;
        } else if (p.size() == 1) {
            xfer.window = std::clamp<int>(p[0], 1, 16);
            xfer.acked = xfer.next;
        } else if (xfer.acked < xfer.next && f.control == expectedAck(xfer.lastCode)) {
            xfer.acked = xfer.next;
        } else {
            xfer.next = xfer.acked;  // a re-sent acknowledgement: the outstanding block again
        }
        if (xfer.next <= xfer.blocks)
            xfer.endSent = false;
        sendWindow();
    }
    // The first item not covered by `bytes` counted from the last acknowledgement.
    size_t resumePoint(size_t bytes) const
    {
        size_t i = xfer.acked, sum = 0;
        while (i < xfer.next && i < xfer.blocks && sum + itemLength(i) <= bytes)
            sum += itemLength(i++);
        return i;
    }
    void resume(size_t bytes) { xfer.acked = xfer.next = resumePoint(bytes); }
    // Keeps what an acknowledgement the meter did not hear would have acknowledged.
    void noteMissedAck(const Frame &f, int behaviour)
    {
        const Bytes &p = f.payload;
        size_t acked = xfer.acked;
        int window = xfer.window;
        if (p.size() == 1) {
            acked = xfer.next;
            window = std::clamp<int>(p[0], 1, 16);
        } else if (p.size() >= 3 && p[0] == 1) {
            acked = resumePoint(static_cast<size_t>(p[1] | p[2] << 8));
            window = 1;
        } else if (xfer.acked < xfer.next && f.control == expectedAck(xfer.lastCode)) {
            acked = xfer.next;
        }
        xfer.missed = behaviour;
        xfer.missedAcked = acked;
        xfer.missedWindow = window;
    }
    void onResendTimer()
    {
        xfer.timerArmed = false;
        if (++xfer.silent > opt.maxResends) {
            meterAbort();
            return;
        }
        if (xfer.window == 1)
            xfer.next = xfer.acked;
        sendWindow();
        if (!xfer.timerArmed && xfer.active)
            armResendTimer();
    }

    // ---- the thread ---------------------------------------------------------------------
    void run()
    {
        uint8_t buf[4096];
        while (!stopping) {
            int timeoutMs = -1;
            bool wantWrite = false;
            {
                std::lock_guard<std::mutex> lock(m);
                const Clock::time_point now = Clock::now();
                pumpOutput(now);
                if (xfer.active && xfer.timerArmed && now >= xfer.resendDue) {
                    onResendTimer();
                    pumpOutput(now);
                }
                Clock::time_point wakeAt = Clock::time_point::max();
                if (!pending.empty())
                    wakeAt = pending.front().due;
                if (wirePos < wire.size()) {
                    if (opt.paced && nextByteAt > now)
                        wakeAt = std::min(wakeAt, nextByteAt);
                    else
                        wantWrite = true;
                }
                if (xfer.active && xfer.timerArmed)
                    wakeAt = std::min(wakeAt, xfer.resendDue);
                if (wakeAt != Clock::time_point::max()) {
                    const auto ms = std::chrono::duration_cast<std::chrono::microseconds>(wakeAt - now).count();
                    timeoutMs = static_cast<int>(std::clamp<long long>((ms + 999) / 1000, 0, 60'000));
                }
            }
            pollfd fds[2] = {{master, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0}, {wake, POLLIN, 0}};
            const int r = ::poll(fds, 2, timeoutMs);
            if (r < 0 && errno != EINTR)
                break;
            if (fds[1].revents & POLLIN) {
                uint64_t v;
                (void)!::read(wake, &v, sizeof v);
            }
            if (fds[0].revents & POLLIN) {
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0) {
                    std::lock_guard<std::mutex> lock(m);
                    decoder.feed(buf, static_cast<size_t>(n));
                }
            } else if (fds[0].revents & (POLLHUP | POLLERR)) {
                // Cannot happen while our own slave descriptor is open; never spin on it.
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    }

    void openPty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            throw std::runtime_error(std::string("z960sim: cannot open a pseudo-terminal: ") + std::strerror(errno));
        char name[128];
        if (ptsname_r(master, name, sizeof name) != 0)
            throw std::runtime_error("z960sim: no slave name");
        path = name;
        slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0)
            throw std::runtime_error("z960sim: cannot open " + path + ": " + std::strerror(errno));
        // Raw line so that nothing is echoed or translated before the PC sets its own mode.
        termios t{};
        if (tcgetattr(slave, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(slave, TCSANOW, &t);
        }
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wake < 0)
            throw std::runtime_error("z960sim: eventfd failed");
    }
    void closeAll()
    {
        for (int *fd : {&master, &slave, &wake})
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
    }
};

Simulator::Simulator(Options options) : d(std::make_unique<Impl>(options))
{
    try {
        d->openPty();
    } catch (...) {
        d->closeAll();
        throw;
    }
    d->worker = std::thread([this] { d->run(); });
}

Simulator::~Simulator()
{
    stop();
}

void Simulator::stop()
{
    if (d->joined)
        return;
    d->stopping = true;
    d->poke();
    if (d->worker.joinable())
        d->worker.join();
    d->joined = true;
    d->closeAll();
}

std::string Simulator::slavePath() const { return d->path; }

Bytes Simulator::image(int n) const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->images.at(static_cast<size_t>(n));
}

void Simulator::setImage(int n, const Bytes &bytes)
{
    if (n < 0 || n > 7 || bytes.size() != kImageSizes[static_cast<size_t>(n)])
        throw std::invalid_argument("z960sim: wrong structure number or size");
    std::lock_guard<std::mutex> lock(d->m);
    d->images[static_cast<size_t>(n)] = bytes;
}

void Simulator::patchImage(int n, size_t offset, const Bytes &bytes)
{
    std::lock_guard<std::mutex> lock(d->m);
    Bytes &img = d->images.at(static_cast<size_t>(n));
    if (offset > img.size() || bytes.size() > img.size() - offset)
        throw std::out_of_range("z960sim: patch outside the structure");
    std::copy(bytes.begin(), bytes.end(), img.begin() + static_cast<std::ptrdiff_t>(offset));
}

void Simulator::setLiveClock(bool live)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->liveClock = live;
}

uint16_t Simulator::readRegister(uint16_t reg, bool *exists) const
{
    std::lock_guard<std::mutex> lock(d->m);
    bool e = false;
    const uint16_t v = d->registerValue(reg, &e);
    if (exists)
        *exists = e;
    return v;
}

void Simulator::setRegister(uint16_t reg, uint16_t value)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->registerOverrides[reg] = value;
}

void Simulator::clearRegisters()
{
    std::lock_guard<std::mutex> lock(d->m);
    d->registerOverrides.clear();
}

void Simulator::addFile(const std::string &name, const Bytes &data, uint8_t type)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->setFileLocked(name, data, type);
}

bool Simulator::removeFile(const std::string &name)
{
    std::lock_guard<std::mutex> lock(d->m);
    const auto it = std::find_if(d->files.begin(), d->files.end(),
                                 [&](const FileEntry &e) { return lower(e.name) == lower(name); });
    if (it == d->files.end())
        return false;
    d->files.erase(it);
    return true;
}

std::vector<FileEntry> Simulator::files() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->files;
}

Bytes Simulator::indexFile(uint8_t type) const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->index(type);
}

int Simulator::clockOffset() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->clockOffset;
}

void Simulator::setClockOffset(int seconds)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->clockOffset = seconds;
}

int Simulator::accessLevel() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->level;
}

void Simulator::setAccessLevel(int level)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->level = std::clamp(level, 0, 3);
}

int Simulator::meterState() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->state;
}

int Simulator::address() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->address;
}

void Simulator::inject(const Injection &injection)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->injections.push_back({injection, 0});
}

void Simulator::clearInjections()
{
    std::lock_guard<std::mutex> lock(d->m);
    d->injections.clear();
}

std::vector<Frame> Simulator::received() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->rx;
}

std::vector<Frame> Simulator::sent() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->tx;
}

size_t Simulator::receivedCount() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->rx.size();
}

bool Simulator::waitForFrames(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(d->m);
    return d->cv.wait_for(lock, timeout, [&] { return d->rx.size() >= count; });
}

bool Simulator::waitForIdle(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(d->m);
    return d->cv.wait_for(lock, timeout, [&] { return d->pending.empty() && d->wirePos == d->wire.size(); });
}

void Simulator::clearRecord()
{
    std::lock_guard<std::mutex> lock(d->m);
    d->rx.clear();
    d->tx.clear();
}

}  // namespace z960sim
