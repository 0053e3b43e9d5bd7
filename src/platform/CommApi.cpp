// The comm device API over termios2, ioctl, poll and eventfd.
//
// Each handle names a Port: the descriptor, a kept copy of the settings Linux
// cannot hold, and the bookkeeping that turns level-triggered device state
// into the edge-like events of WaitCommEvent (bytes that arrived since the
// last report, error counters that rose, one hang-up).
#include "platform/TermiosDriver.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace Platform {

// ------------------------------------------------------------ last error ---

namespace {
thread_local int t_lastError = 0;
} // namespace

int GetLastError() { return t_lastError; }
void SetLastError(int code) { t_lastError = code; }

std::string SysErrorMessage(int code)
{
    char buf[256] = {};
    // The GNU strerror_r returns the text, which may or may not be in buf.
    const char *text = ::strerror_r(code, buf, sizeof buf);
    if (!text || !*text)
        return "Unknown error " + std::to_string(code);
    return text;
}

bool IsDeviceNotFoundError(int code) { return code == ENOENT || code == ENODEV || code == ENXIO; }

CommDriver::~CommDriver() = default;

// -------------------------------------------------------------- mapping ----

namespace {

constexpr tcflag_t kLineFormat = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
constexpr tcflag_t kFlowCflag = CRTSCTS;
constexpr tcflag_t kFlowIflag = IXON | IXOFF | IXANY | INPCK;

tcflag_t sizeFlag(uint8_t byteSize)
{
    switch (byteSize) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

} // namespace

int dcbToTermios(const DCB &dcb, termios2 &t)
{
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
        dcb.StopBits > TWOSTOPBITS)
        return EINVAL;
    if ((dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) || (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5))
        return EINVAL;

    termios2 n = t;
    n.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT) | kLineFormat | kFlowCflag);
    n.c_cflag |= BOTHER | (BOTHER << IBSHIFT) | CREAD | CLOCAL | sizeFlag(dcb.ByteSize);
    n.c_ospeed = n.c_ispeed = dcb.BaudRate;
    static constexpr tcflag_t parityFlags[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                               PARENB | CMSPAR};
    n.c_cflag |= parityFlags[dcb.Parity];
    if (dcb.StopBits != ONESTOPBIT)
        n.c_cflag |= CSTOPB;
    if ((dcb.Flags & DCB::fOutxCtsFlow) || dcb.rtsControl() == RTS_CONTROL_HANDSHAKE)
        n.c_cflag |= CRTSCTS;

    n.c_iflag &= ~kFlowIflag;
    if (dcb.Flags & DCB::fOutX)
        n.c_iflag |= IXON;
    if (dcb.Flags & DCB::fInX)
        n.c_iflag |= IXOFF;
    if (dcb.Flags & DCB::fParity)
        n.c_iflag |= INPCK;
    n.c_cc[VSTART] = dcb.XonChar;
    n.c_cc[VSTOP] = dcb.XoffChar;
    t = n;
    return 0;
}

void termiosToDcb(const termios2 &t, DCB &dcb, bool lineFormat)
{
    dcb.BaudRate = t.c_ospeed;
    if (lineFormat) {
        switch (t.c_cflag & CSIZE) {
        case CS5: dcb.ByteSize = 5; break;
        case CS6: dcb.ByteSize = 6; break;
        case CS7: dcb.ByteSize = 7; break;
        default: dcb.ByteSize = 8; break;
        }
        if (!(t.c_cflag & PARENB))
            dcb.Parity = NOPARITY;
        else if (t.c_cflag & CMSPAR)
            dcb.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
        else
            dcb.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    }
    if (!(t.c_cflag & CSTOPB))
        dcb.StopBits = ONESTOPBIT;
    else
        dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    // CRTSCTS stands for CTS output flow, RTS handshake or both: keep the
    // caller's choice while it agrees with the device, else follow the device.
    const bool cts = t.c_cflag & CRTSCTS;
    const bool asked = (dcb.Flags & DCB::fOutxCtsFlow) || dcb.rtsControl() == RTS_CONTROL_HANDSHAKE;
    if (cts && !asked)
        dcb.Flags |= DCB::fOutxCtsFlow;
    if (!cts) {
        dcb.Flags &= ~DCB::fOutxCtsFlow;
        if (dcb.rtsControl() == RTS_CONTROL_HANDSHAKE)
            dcb.setRtsControl(RTS_CONTROL_ENABLE);
    }
    dcb.Flags = (dcb.Flags & ~(DCB::fOutX | DCB::fInX | DCB::fParity)) | ((t.c_iflag & IXON) ? DCB::fOutX : 0) |
                ((t.c_iflag & IXOFF) ? DCB::fInX : 0) | ((t.c_iflag & INPCK) ? DCB::fParity : 0);
    dcb.Flags |= DCB::fBinary;
    dcb.XonChar = t.c_cc[VSTART];
    dcb.XoffChar = t.c_cc[VSTOP];
}

bool termiosHolds(const termios2 &wanted, const termios2 &got)
{
    if ((wanted.c_cflag & (kLineFormat | kFlowCflag)) != (got.c_cflag & (kLineFormat | kFlowCflag)))
        return false;
    if ((wanted.c_iflag & kFlowIflag) != (got.c_iflag & kFlowIflag))
        return false;
    const double want = wanted.c_ospeed;
    const double have = got.c_ospeed;
    return have > 0 && std::abs(have - want) <= want * 0.03;
}

void makeRaw(termios2 &t)
{
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IMAXBEL | IXANY);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CREAD | CLOCAL;
    // VMIN 1 with the non-blocking descriptor: no data reads as EAGAIN. With
    // VMIN 0 a read of nothing returns 0, which could not be told from a hang-up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

// ------------------------------------------------------------- real io -----

TtyIo::~TtyIo() = default;

int TtyIo::ioctl(int fd, unsigned long request, void *arg) { return ::ioctl(fd, request, arg); }

bool TtyIo::isPseudoTerminal(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned maj = major(st.st_rdev);
    return maj >= 136 && maj <= 143; // the pty slave majors
}

TtyIo &realTtyIo()
{
    static TtyIo io;
    return io;
}

// -------------------------------------------------------------- the port ---

namespace {

void *intArg(long v) { return reinterpret_cast<void *>(v); }

// What a device without modem lines or break support answers for them.
bool noSuchLine(int code) { return code == ENOTTY || code == EINVAL; }

bool failWith(int code)
{
    SetLastError(code);
    return false;
}

using Clock = std::chrono::steady_clock;

// How often the event wait looks again at state no descriptor signals:
// unread bytes (for new arrivals) and the output queue (for its end), first
// soon and then less often while nothing changes, and the error and modem
// counters of a UART.
constexpr int kFirstRecheckMs = 2;
constexpr int kCounterRecheckMs = 50;

// Xon/Xoff limits of the default configuration: those of a new serial
// component, so resetting a port to its defaults does not zero them.
constexpr uint16_t kDefaultFlowLimit = 1024;

struct Port {
    int fd = -1;
    bool pty = false;
    TtyIo *io = nullptr;

    std::mutex mutex;          // everything below
    DCB shadow;                // settings as last set (fields Linux cannot hold live here only)
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    uint32_t inQueue = 4096, outQueue = 4096;
    std::atomic<uint32_t> mask{0};

    // Receive side: every byte that ever arrived is either read, purged or
    // still waiting, so "arrived" = consumed + waiting grows exactly when
    // new bytes come in.
    std::mutex rxMutex;        // read() and the counts that go with it
    uint64_t consumed = 0;
    uint64_t lastArrived = 0;  // as seen by the last event check
    std::string stash;         // bytes the event wait had to read to tell data from a hang-up
    bool rx80Reported = false;

    bool countersSupported = false;
    serial_icounter_struct eventBase{};  // counters as the event wait last saw them
    serial_icounter_struct errorBase{};  // counters as ClearCommError last saw them
    bool txPending = false;              // written since the output queue was last seen empty

    std::atomic<bool> hungUp{false};
    bool hangupEventDone = false;
    bool hangupErrorDone = false;

    ~Port()
    {
        if (fd >= 0) {
            // Drop exclusive mode first, or a later open by a non-root user fails
            // for as long as any other descriptor of the tty stays open.
            io->ioctl(fd, TIOCNXCL, nullptr);
            ::flock(fd, LOCK_UN);
            ::close(fd);
        }
    }
};

uint32_t errorBits(const serial_icounter_struct &from, const serial_icounter_struct &to)
{
    uint32_t e = 0;
    if (to.frame != from.frame)
        e |= CE_FRAME;
    if (to.overrun != from.overrun)
        e |= CE_OVERRUN;
    if (to.parity != from.parity)
        e |= CE_RXPARITY;
    if (to.brk != from.brk)
        e |= CE_BREAK;
    if (to.buf_overrun != from.buf_overrun)
        e |= CE_RXOVER;
    return e;
}

uint32_t counterEvents(const serial_icounter_struct &from, const serial_icounter_struct &to)
{
    uint32_t ev = 0;
    if (errorBits(from, to))
        ev |= EV_ERR;
    if (to.brk != from.brk)
        ev |= EV_BREAK;
    if (to.cts != from.cts)
        ev |= EV_CTS;
    if (to.dsr != from.dsr)
        ev |= EV_DSR;
    if (to.rng != from.rng)
        ev |= EV_RING;
    if (to.dcd != from.dcd)
        ev |= EV_RLSD;
    return ev;
}

class TermiosDriver final : public CommDriver {
public:
    explicit TermiosDriver(TtyIo &io) : m_io(io) {}

    HANDLE CreateFile(const std::string &devicePath) override
    {
        const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return SetLastError(errno), INVALID_HANDLE_VALUE;
        auto port = std::make_shared<Port>();
        port->io = &m_io;
        termios2 t{};
        if (m_io.ioctl(fd, TCGETS2, &t) != 0) {
            const int code = errno == EINVAL ? ENOTTY : errno;
            ::close(fd);
            return SetLastError(code), INVALID_HANDLE_VALUE;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int code = errno == EWOULDBLOCK ? EBUSY : errno;
            ::close(fd);
            return SetLastError(code), INVALID_HANDLE_VALUE;
        }
        port->fd = fd; // from here the Port closes it
        if (m_io.ioctl(fd, TIOCEXCL, nullptr) != 0)
            return SetLastError(errno), INVALID_HANDLE_VALUE;
        port->pty = m_io.isPseudoTerminal(fd);
        // No line discipline between the caller and the line: raw, reads at once.
        makeRaw(t);
        if (m_io.ioctl(fd, TCSETS2, &t) != 0)
            return SetLastError(errno), INVALID_HANDLE_VALUE;
        port->shadow = defaultDcb();
        termiosToDcb(t, port->shadow);
        port->countersSupported = m_io.ioctl(fd, TIOCGICOUNT, &port->eventBase) == 0;
        port->errorBase = port->eventBase;

        std::lock_guard<std::mutex> lock(m_tableMutex);
        const HANDLE h = m_nextHandle++;
        m_ports[h] = std::move(port);
        return h;
    }

    bool CloseHandle(HANDLE h) override
    {
        std::shared_ptr<Port> port;
        {
            std::lock_guard<std::mutex> lock(m_tableMutex);
            auto it = m_ports.find(h);
            if (it == m_ports.end())
                return failWith(EBADF);
            port = std::move(it->second);
            m_ports.erase(it);
        }
        return true; // the descriptor closes with the last reference, here
    }

    bool GetCommState(HANDLE h, DCB *dcb) override
    {
        auto port = find(h);
        if (!port || !dcb)
            return failWith(port ? EINVAL : EBADF);
        termios2 t{};
        std::lock_guard<std::mutex> lock(port->mutex);
        DCB d = port->shadow;
        if (m_io.ioctl(port->fd, TCGETS2, &t) == 0)
            termiosToDcb(t, d, !port->pty);
        else if (!port->hungUp)
            return failWith(errno);
        d.DCBlength = sizeof(DCB);
        *dcb = d;
        return true;
    }

    bool SetCommState(HANDLE h, const DCB *dcb) override
    {
        auto port = find(h);
        if (!port || !dcb)
            return failWith(port ? EINVAL : EBADF);
        std::lock_guard<std::mutex> lock(port->mutex);
        termios2 old{};
        if (m_io.ioctl(port->fd, TCGETS2, &old) != 0)
            return failWith(errno);
        termios2 wanted = old;
        makeRaw(wanted);
        if (const int code = dcbToTermios(*dcb, wanted))
            return failWith(code);
        clearCustomDivisor(port->fd);
        if (m_io.ioctl(port->fd, TCSETS2, &wanted) != 0)
            return failWith(errno);
        termios2 got{};
        if (!port->pty && (m_io.ioctl(port->fd, TCGETS2, &got) != 0 || !termiosHolds(wanted, got))) {
            m_io.ioctl(port->fd, TCSETS2, &old);
            return failWith(EINVAL);
        }
        if (!setLines(*port, *dcb))
            return false;
        port->shadow = *dcb;
        port->shadow.DCBlength = sizeof(DCB);
        return true;
    }

    bool SetupComm(HANDLE h, uint32_t inQueue, uint32_t outQueue) override
    {
        auto port = find(h);
        if (!port)
            return failWith(EBADF);
        if (inQueue == 0 || outQueue == 0)
            return failWith(EINVAL);
        std::lock_guard<std::mutex> lock(port->mutex);
        port->inQueue = inQueue;
        port->outQueue = outQueue;
        return true;
    }

    bool GetCommTimeouts(HANDLE h, COMMTIMEOUTS *t) override
    {
        auto port = find(h);
        if (!port || !t)
            return failWith(port ? EINVAL : EBADF);
        std::lock_guard<std::mutex> lock(port->mutex);
        *t = port->timeouts;
        return true;
    }

    bool SetCommTimeouts(HANDLE h, const COMMTIMEOUTS *t) override
    {
        auto port = find(h);
        if (!port || !t)
            return failWith(port ? EINVAL : EBADF);
        std::lock_guard<std::mutex> lock(port->mutex);
        port->timeouts = *t;
        return true;
    }

    bool SetCommMask(HANDLE h, uint32_t mask) override
    {
        auto port = find(h);
        if (!port)
            return failWith(EBADF);
        port->mask = mask;
        return true;
    }

    bool GetCommMask(HANDLE h, uint32_t *mask) override
    {
        auto port = find(h);
        if (!port || !mask)
            return failWith(port ? EINVAL : EBADF);
        *mask = port->mask;
        return true;
    }

    bool WaitCommEvent(HANDLE h, uint32_t *events, int cancelFd) override;
    bool ReadFile(HANDLE h, void *buf, uint32_t count, uint32_t *read) override;
    bool WriteFile(HANDLE h, const void *buf, uint32_t count, uint32_t *written, uint32_t timeoutMs,
                   std::initializer_list<int> cancelFds) override;
    bool ClearCommError(HANDLE h, uint32_t *errors, COMSTAT *stat) override;
    bool PurgeComm(HANDLE h, uint32_t flags) override;
    bool EscapeCommFunction(HANDLE h, uint32_t func) override;
    bool GetCommModemStatus(HANDLE h, uint32_t *status) override;
    bool GetCommProperties(HANDLE h, COMMPROP *prop) override;
    bool GetDefaultCommConfig(const std::string &devicePath, COMMCONFIG *config, uint32_t *size) override;

private:
    static DCB defaultDcb()
    {
        DCB d;
        d.DCBlength = sizeof(DCB);
        d.BaudRate = 9600;
        d.Flags = DCB::fBinary;
        d.setDtrControl(DTR_CONTROL_ENABLE);
        d.setRtsControl(RTS_CONTROL_ENABLE);
        d.ByteSize = 8;
        d.Parity = NOPARITY;
        d.StopBits = ONESTOPBIT;
        d.XonChar = 17;
        d.XoffChar = 19;
        d.XonLim = kDefaultFlowLimit;
        d.XoffLim = kDefaultFlowLimit;
        return d;
    }

    std::shared_ptr<Port> find(HANDLE h)
    {
        std::lock_guard<std::mutex> lock(m_tableMutex);
        auto it = m_ports.find(h);
        return it == m_ports.end() ? nullptr : it->second;
    }

    // A custom divisor left by another program would override the rate we set.
    void clearCustomDivisor(int fd)
    {
        serial_struct ss{};
        if (m_io.ioctl(fd, TIOCGSERIAL, &ss) == 0 && (ss.flags & ASYNC_SPD_MASK) == ASYNC_SPD_CUST) {
            ss.flags &= ~ASYNC_SPD_MASK;
            ss.custom_divisor = 0;
            m_io.ioctl(fd, TIOCSSERIAL, &ss); // refused without privileges: nothing more to do
        }
    }

    // Sets one modem output; false only for a real failure (a device without
    // modem lines succeeds without effect).
    bool setModemBit(const Port &port, int bit, bool on)
    {
        if (m_io.ioctl(port.fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0 || noSuchLine(errno))
            return true;
        return failWith(errno);
    }

    // DTR and RTS levels for the control modes (handshake and toggle keep the line high).
    bool setLines(const Port &port, const DCB &dcb)
    {
        const bool dtr = dcb.dtrControl() != DTR_CONTROL_DISABLE;
        const bool rts = dcb.rtsControl() != RTS_CONTROL_DISABLE;
        return setModemBit(port, TIOCM_DTR, dtr) && setModemBit(port, TIOCM_RTS, rts);
    }

    uint32_t checkEvents(Port &port, uint32_t mask, uint32_t *waiting);
    void noteHangup(Port &port) { port.hungUp = true; }
    int waitingBytes(Port &port); // under rxMutex; -1 on failure

    TtyIo &m_io;
    std::mutex m_tableMutex;
    std::map<HANDLE, std::shared_ptr<Port>> m_ports;
    HANDLE m_nextHandle = 1;
};

int TermiosDriver::waitingBytes(Port &port)
{
    int n = 0;
    if (m_io.ioctl(port.fd, FIONREAD, &n) != 0)
        return -1;
    return n + static_cast<int>(port.stash.size());
}

// What happened since the last check (EV_* bits, unmasked). Called by the
// event wait only.
uint32_t TermiosDriver::checkEvents(Port &port, uint32_t mask, uint32_t *waiting)
{
    uint32_t ev = 0;
    *waiting = 0;
    if (!port.hungUp) {
        std::lock_guard<std::mutex> rx(port.rxMutex);
        const int n = waitingBytes(port);
        if (n < 0) {
            if (errno == EIO)
                noteHangup(port);
        } else {
            *waiting = static_cast<uint32_t>(n);
            const uint64_t arrived = port.consumed + static_cast<uint64_t>(n);
            if (arrived > port.lastArrived) {
                ev |= EV_RXCHAR;
                port.lastArrived = arrived;
            }
            const bool full = static_cast<uint64_t>(n) * 5 > static_cast<uint64_t>(port.inQueue) * 4;
            if (full && !port.rx80Reported)
                ev |= EV_RX80FULL;
            port.rx80Reported = full;
        }
    }
    std::lock_guard<std::mutex> lock(port.mutex);
    if (!port.hungUp && port.countersSupported) {
        serial_icounter_struct now{};
        if (m_io.ioctl(port.fd, TIOCGICOUNT, &now) == 0) {
            ev |= counterEvents(port.eventBase, now);
            port.eventBase = now;
        }
    }
    if (!port.hungUp && port.txPending && (mask & EV_TXEMPTY)) {
        // TIOCOUTQ counts what the driver still holds; a UART's FIFO may
        // still be sending its last few bytes when it reads 0.
        int out = 0;
        if (m_io.ioctl(port.fd, TIOCOUTQ, &out) == 0 && out == 0) {
            ev |= EV_TXEMPTY;
            port.txPending = false;
        }
    }
    if (port.hungUp && !port.hangupEventDone) {
        port.hangupEventDone = true;
        ev |= EV_ERR;
    }
    return ev;
}

bool TermiosDriver::WaitCommEvent(HANDLE h, uint32_t *events, int cancelFd)
{
    auto port = find(h);
    if (!port || !events)
        return failWith(port ? EINVAL : EBADF);
    *events = 0;
    int recheckMs = kFirstRecheckMs;
    for (;;) {
        const uint32_t mask = port->mask;
        uint32_t waiting = 0;
        const uint32_t ev = checkEvents(*port, mask, &waiting) & mask;
        if (ev) {
            *events = ev;
            return true;
        }

        // Block on what a descriptor can signal; look again after a short
        // time only for what none can (never after a hang-up).
        pollfd fds[2] = {{cancelFd, POLLIN, 0}, {-1, 0, 0}};
        int timeout = -1;
        if (!port->hungUp && mask) {
            // Unread bytes keep the device readable: then wait for a change of
            // the count instead, or the wait would spin.
            fds[1] = {port->fd, static_cast<short>(waiting == 0 ? POLLIN : 0), 0};
            bool txWatch = false;
            {
                std::lock_guard<std::mutex> lock(port->mutex);
                txWatch = port->txPending && (mask & EV_TXEMPTY);
            }
            if ((waiting > 0 && (mask & (EV_RXCHAR | EV_RX80FULL))) || txWatch) {
                timeout = recheckMs;
                recheckMs = std::min(recheckMs * 2, kCounterRecheckMs);
            } else if (port->countersSupported && (mask & (EV_ERR | EV_BREAK | EV_CTS | EV_DSR | EV_RING | EV_RLSD))) {
                timeout = kCounterRecheckMs;
            }
        }
        const int rc = ::poll(fds, 2, timeout);
        if (rc < 0 && errno != EINTR)
            return failWith(errno);
        if (cancelFd >= 0 && (fds[0].revents & POLLIN))
            return failWith(ECANCELED);
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            noteHangup(*port);
        } else if (fds[1].revents & POLLIN) {
            // Readable: either bytes (the next check counts them) or a hang-up,
            // which only a read tells apart (0 bytes). Bytes read here wait in
            // the stash for ReadFile.
            std::lock_guard<std::mutex> rx(port->rxMutex);
            int n = 0;
            if (m_io.ioctl(port->fd, FIONREAD, &n) == 0 && n == 0) {
                char c = 0;
                const ssize_t r = ::read(port->fd, &c, 1);
                if (r == 1)
                    port->stash.push_back(c);
                else if (r == 0 || (r < 0 && errno == EIO))
                    noteHangup(*port);
            }
        }
    }
}

bool TermiosDriver::ReadFile(HANDLE h, void *buf, uint32_t count, uint32_t *read)
{
    auto port = find(h);
    if (!port || !read || (!buf && count))
        return failWith(port ? EINVAL : EBADF);
    *read = 0;
    std::lock_guard<std::mutex> rx(port->rxMutex);
    auto *out = static_cast<char *>(buf);
    uint32_t got = static_cast<uint32_t>(std::min<size_t>(port->stash.size(), count));
    std::memcpy(out, port->stash.data(), got);
    port->stash.erase(0, got);
    while (got < count && !port->hungUp) {
        const ssize_t n = ::read(port->fd, out + got, count - got);
        if (n > 0) {
            got += static_cast<uint32_t>(n);
            continue;
        }
        if (n == 0 || errno == EIO) {
            noteHangup(*port); // a hung-up line reads as no data
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            break;
        if (got == 0)
            return failWith(errno);
        break;
    }
    port->consumed += got;
    *read = got;
    return true;
}

bool TermiosDriver::WriteFile(HANDLE h, const void *buf, uint32_t count, uint32_t *written, uint32_t timeoutMs,
                              std::initializer_list<int> cancelFds)
{
    auto port = find(h);
    if (!port || !written || (!buf && count))
        return failWith(port ? EINVAL : EBADF);
    *written = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs == INFINITE ? 0 : timeoutMs);
    std::vector<pollfd> fds;
    fds.push_back({port->fd, POLLOUT, 0});
    for (int fd : cancelFds)
        fds.push_back({fd, POLLIN, 0});
    const auto *in = static_cast<const char *>(buf);
    auto noteWritten = [&] {
        if (*written) {
            std::lock_guard<std::mutex> lock(port->mutex);
            port->txPending = true;
        }
    };
    while (*written < count) {
        const ssize_t n = ::write(port->fd, in + *written, count - *written);
        if (n > 0) {
            *written += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            const int code = errno;
            if (code == EIO)
                noteHangup(*port);
            noteWritten();
            return failWith(code);
        }
        int wait = -1;
        if (timeoutMs != INFINITE) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                noteWritten();
                return failWith(ETIMEDOUT);
            }
            wait = static_cast<int>(std::min<long long>(left, 1 << 30));
        }
        for (auto &p : fds)
            p.revents = 0;
        if (::poll(fds.data(), fds.size(), wait) < 0 && errno != EINTR) {
            const int code = errno;
            noteWritten();
            return failWith(code);
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents & POLLIN) {
                noteWritten();
                return failWith(ECANCELED);
            }
        }
    }
    noteWritten();
    return true;
}

bool TermiosDriver::ClearCommError(HANDLE h, uint32_t *errors, COMSTAT *stat)
{
    auto port = find(h);
    if (!port)
        return failWith(EBADF);
    COMSTAT s;
    uint32_t e = 0;
    if (!port->hungUp) {
        std::lock_guard<std::mutex> rx(port->rxMutex);
        const int n = waitingBytes(*port);
        if (n < 0 && errno != EIO)
            return failWith(errno);
        if (n < 0)
            noteHangup(*port);
        else
            s.cbInQue = static_cast<uint32_t>(n);
    }
    {
        std::lock_guard<std::mutex> lock(port->mutex);
        if (!port->hungUp) {
            int out = 0;
            if (m_io.ioctl(port->fd, TIOCOUTQ, &out) == 0)
                s.cbOutQue = static_cast<uint32_t>(out);
            serial_icounter_struct now{};
            if (port->countersSupported && m_io.ioctl(port->fd, TIOCGICOUNT, &now) == 0) {
                e |= errorBits(port->errorBase, now);
                port->errorBase = now;
            }
            int lines = 0;
            if ((port->shadow.Flags & DCB::fOutxCtsFlow) && m_io.ioctl(port->fd, TIOCMGET, &lines) == 0 &&
                !(lines & TIOCM_CTS))
                s.Flags |= COMSTAT::fCtsHold;
        }
        if (port->hungUp && !port->hangupErrorDone) {
            port->hangupErrorDone = true;
            e |= CE_IOE;
        }
    }
    if (errors)
        *errors = e;
    if (stat)
        *stat = s;
    return true;
}

bool TermiosDriver::PurgeComm(HANDLE h, uint32_t flags)
{
    auto port = find(h);
    if (!port)
        return failWith(EBADF);
    if (port->hungUp)
        return true; // nothing left to discard
    if (flags & PURGE_RXCLEAR) {
        std::lock_guard<std::mutex> rx(port->rxMutex);
        const int n = waitingBytes(*port);
        if (m_io.ioctl(port->fd, TCFLSH, intArg(TCIFLUSH)) != 0)
            return failWith(errno);
        port->consumed += n > 0 ? static_cast<uint64_t>(n) : 0; // discarded counts as consumed
        port->stash.clear();
    }
    if ((flags & PURGE_TXCLEAR) && m_io.ioctl(port->fd, TCFLSH, intArg(TCOFLUSH)) != 0)
        return failWith(errno);
    return true;
}

bool TermiosDriver::EscapeCommFunction(HANDLE h, uint32_t func)
{
    auto port = find(h);
    if (!port)
        return failWith(EBADF);
    switch (func) {
    case SETDTR: return setModemBit(*port, TIOCM_DTR, true);
    case CLRDTR: return setModemBit(*port, TIOCM_DTR, false);
    case SETRTS: return setModemBit(*port, TIOCM_RTS, true);
    case CLRRTS: return setModemBit(*port, TIOCM_RTS, false);
    case SETBREAK:
    case CLRBREAK:
        if (m_io.ioctl(port->fd, func == SETBREAK ? TIOCSBRK : TIOCCBRK, nullptr) == 0 || noSuchLine(errno))
            return true;
        return failWith(errno);
    case SETXON:
    case SETXOFF:
        if (m_io.ioctl(port->fd, TCXONC, intArg(func == SETXON ? TCOON : TCOOFF)) == 0)
            return true;
        return failWith(errno);
    case RESETDEV: return true;
    default: return failWith(EINVAL);
    }
}

bool TermiosDriver::GetCommModemStatus(HANDLE h, uint32_t *status)
{
    auto port = find(h);
    if (!port || !status)
        return failWith(port ? EINVAL : EBADF);
    int lines = 0;
    if (m_io.ioctl(port->fd, TIOCMGET, &lines) != 0) {
        if (!noSuchLine(errno))
            return failWith(errno);
        lines = 0;
    }
    *status = ((lines & TIOCM_CTS) ? MS_CTS_ON : 0) | ((lines & TIOCM_DSR) ? MS_DSR_ON : 0) |
              ((lines & TIOCM_RNG) ? MS_RING_ON : 0) | ((lines & TIOCM_CAR) ? MS_RLSD_ON : 0);
    return true;
}

bool TermiosDriver::GetCommProperties(HANDLE h, COMMPROP *prop)
{
    auto port = find(h);
    if (!port || !prop)
        return failWith(port ? EINVAL : EBADF);
    // Settable parameters, rates, data bits and stop/parity forms, as bit sets.
    constexpr uint32_t kServiceSerial = 0x1;
    constexpr uint32_t kSettableAll = 0x7F; // parity, rate, data bits, stop bits, handshake, parity check, carrier
    constexpr uint16_t kData5to8 = 0x000F;
    constexpr uint16_t kStopAndParity = 0x1F07; // 1, 1.5, 2 stop bits; none, odd, even, mark, space
    COMMPROP p;
    p.wPacketLength = sizeof(COMMPROP);
    p.wPacketVersion = 2;
    p.dwServiceMask = kServiceSerial;
    p.dwMaxBaud = BAUD_USER;
    p.dwProvSubType = PST_RS232;
    p.dwProvCapabilities = PCF_RTSCTS | PCF_PARITY_CHECK | PCF_XONXOFF | PCF_SETXCHAR | (port->pty ? 0 : PCF_DTRDSR);
    p.dwSettableParams = kSettableAll;
    p.dwSettableBaud = BAUD_USER;
    p.wSettableData = kData5to8;
    p.wSettableStopParity = kStopAndParity;
    std::lock_guard<std::mutex> lock(port->mutex);
    p.dwCurrentTxQueue = port->outQueue;
    p.dwCurrentRxQueue = port->inQueue;
    *prop = p;
    return true;
}

bool TermiosDriver::GetDefaultCommConfig(const std::string &devicePath, COMMCONFIG *config, uint32_t *size)
{
    if (!config || !size)
        return failWith(EINVAL);
    if (*size < sizeof(COMMCONFIG)) {
        *size = sizeof(COMMCONFIG);
        return failWith(EINVAL);
    }
    struct stat st {};
    if (::stat(devicePath.c_str(), &st) != 0)
        return failWith(errno);
    if (!S_ISCHR(st.st_mode))
        return failWith(ENOTTY);
    COMMCONFIG c;
    c.dwSize = sizeof(COMMCONFIG);
    c.wVersion = 1;
    c.dcb = defaultDcb();
    c.dwProviderSubType = PST_RS232;
    *config = c;
    *size = sizeof(COMMCONFIG);
    return true;
}

CommDriver *g_installed = nullptr;
std::mutex g_installMutex;

} // namespace

std::unique_ptr<CommDriver> makeTermiosDriver(TtyIo &io) { return std::make_unique<TermiosDriver>(io); }

CommDriver &commDriver()
{
    static TermiosDriver real(realTtyIo());
    std::lock_guard<std::mutex> lock(g_installMutex);
    return g_installed ? *g_installed : real;
}

void setCommDriver(CommDriver *driver)
{
    std::lock_guard<std::mutex> lock(g_installMutex);
    g_installed = driver;
}

} // namespace Platform
