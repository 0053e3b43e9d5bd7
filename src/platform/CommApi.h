// The comm device API the serial component is written against: a small
// layer with the call shapes of a classic comm-port interface (device control
// block, time-outs, event mask and event wait, reads, writes, purges, escape
// functions, status queries) implemented over termios2, ioctl, poll and
// eventfd.
//
// Conventions for every function:
// - A bool result is true on success. On failure the function stores an
//   errno-style code for the calling thread (GetLastError) and returns false.
// - Calls on one handle may come from several threads at once (event thread
//   waiting, write thread writing, GUI thread reading and querying); each call
//   is safe against the others. CloseHandle is never called while another
//   thread is inside a call on the same handle (the caller guarantees it).
// - A handle that is not open fails with EBADF.
// - Bit values and field names of the records below are part of the API:
//   callers store and compare them as numbers.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace Platform {

// An open comm device. INVALID_HANDLE_VALUE (all bits set) while closed.
using HANDLE = std::intptr_t;
constexpr HANDLE INVALID_HANDLE_VALUE = -1;

constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;
// Time-out value meaning "no limit".
constexpr uint32_t INFINITE = 0xFFFFFFFFu;

// ---------------------------------------------------------------- DCB ------

// Device control block: the line settings of a port.
struct DCB {
    uint32_t DCBlength = 0; // sizeof(DCB); informational
    uint32_t BaudRate = 0;  // bits per second, any positive value
    uint32_t Flags = 0;     // the flag word, bits below
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;  // kept only (no Linux equivalent)
    uint16_t XoffLim = 0; // kept only
    uint8_t ByteSize = 0; // 5..8 (4 is refused with EINVAL)
    uint8_t Parity = 0;   // NOPARITY .. SPACEPARITY
    uint8_t StopBits = 0; // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
    uint8_t XonChar = 0;  // c_cc[VSTART]
    uint8_t XoffChar = 0; // c_cc[VSTOP]
    uint8_t ErrorChar = 0; // kept only
    uint8_t EofChar = 0;   // kept only
    uint8_t EvtChar = 0;   // kept only
    uint16_t wReserved1 = 0;

    // Flag word bits.
    static constexpr uint32_t fBinary = 0x00000001;          // always set
    static constexpr uint32_t fParity = 0x00000002;          // check parity of received bytes (INPCK)
    static constexpr uint32_t fOutxCtsFlow = 0x00000004;     // CTS output flow control (CRTSCTS)
    static constexpr uint32_t fOutxDsrFlow = 0x00000008;     // kept only
    static constexpr uint32_t fDtrControlMask = 0x00000030;  // DTR_CONTROL_* << 4
    static constexpr uint32_t fDsrSensitivity = 0x00000040;  // kept only
    static constexpr uint32_t fTXContinueOnXoff = 0x00000080; // kept only
    static constexpr uint32_t fOutX = 0x00000100;            // XON/XOFF on output (IXON)
    static constexpr uint32_t fInX = 0x00000200;             // XON/XOFF on input (IXOFF)
    static constexpr uint32_t fErrorChar = 0x00000400;       // kept only
    static constexpr uint32_t fNull = 0x00000800;            // kept only
    static constexpr uint32_t fRtsControlMask = 0x00003000;  // RTS_CONTROL_* << 12
    static constexpr uint32_t fAbortOnError = 0x00004000;    // kept only
    static constexpr unsigned fDtrControlShift = 4;
    static constexpr unsigned fRtsControlShift = 12;

    uint32_t dtrControl() const { return (Flags & fDtrControlMask) >> fDtrControlShift; }
    uint32_t rtsControl() const { return (Flags & fRtsControlMask) >> fRtsControlShift; }
    void setDtrControl(uint32_t v) { Flags = (Flags & ~fDtrControlMask) | ((v << fDtrControlShift) & fDtrControlMask); }
    void setRtsControl(uint32_t v) { Flags = (Flags & ~fRtsControlMask) | ((v << fRtsControlShift) & fRtsControlMask); }
};

constexpr uint8_t NOPARITY = 0;
constexpr uint8_t ODDPARITY = 1;
constexpr uint8_t EVENPARITY = 2;
constexpr uint8_t MARKPARITY = 3;  // CMSPAR | PARODD
constexpr uint8_t SPACEPARITY = 4; // CMSPAR

constexpr uint8_t ONESTOPBIT = 0;
constexpr uint8_t ONE5STOPBITS = 1; // held only where the device can (see CommApi.cpp), else EINVAL
constexpr uint8_t TWOSTOPBITS = 2;

constexpr uint32_t DTR_CONTROL_DISABLE = 0;   // DTR low while open
constexpr uint32_t DTR_CONTROL_ENABLE = 1;    // DTR high while open
constexpr uint32_t DTR_CONTROL_HANDSHAKE = 2; // kept; DTR high (no DTR handshake on Linux)

constexpr uint32_t RTS_CONTROL_DISABLE = 0;   // RTS low while open
constexpr uint32_t RTS_CONTROL_ENABLE = 1;    // RTS high while open
constexpr uint32_t RTS_CONTROL_HANDSHAKE = 2; // RTS flow control on input (CRTSCTS)
constexpr uint32_t RTS_CONTROL_TOGGLE = 3;    // kept; RTS high

// ------------------------------------------------------------ time-outs ----

// Only the immediate-read form (ReadIntervalTimeout MAXDWORD, all others 0)
// is meaningful here: ReadFile always returns at once with what is waiting.
// Other values are kept and read back, with no effect.
struct COMMTIMEOUTS {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// ------------------------------------------------------- line status -------

struct COMSTAT {
    uint32_t Flags = 0;    // hold flags, bits below
    uint32_t cbInQue = 0;  // bytes waiting to be read (FIONREAD)
    uint32_t cbOutQue = 0; // bytes handed to the driver not yet sent (TIOCOUTQ)

    static constexpr uint32_t fCtsHold = 0x01;  // output waits for CTS
    static constexpr uint32_t fDsrHold = 0x02;  // output waits for DSR
    static constexpr uint32_t fRlsdHold = 0x04; // output waits for RLSD
    static constexpr uint32_t fXoffHold = 0x08; // output stopped by a received XOFF
    static constexpr uint32_t fXoffSent = 0x10; // XOFF sent, waiting for room
    static constexpr uint32_t fEof = 0x20;
    static constexpr uint32_t fTxim = 0x40;
};

// Line error flags of ClearCommError.
constexpr uint32_t CE_RXOVER = 0x0001;   // input buffer overflow
constexpr uint32_t CE_OVERRUN = 0x0002;  // hardware overrun
constexpr uint32_t CE_RXPARITY = 0x0004; // parity error
constexpr uint32_t CE_FRAME = 0x0008;    // framing error
constexpr uint32_t CE_BREAK = 0x0010;    // break received
constexpr uint32_t CE_TXFULL = 0x0100;
constexpr uint32_t CE_IOE = 0x0400;      // I/O error: the line hung up (adapter unplugged, pty master closed)
constexpr uint32_t CE_MODE = 0x8000;

// ------------------------------------------------------------- events ------

constexpr uint32_t EV_RXCHAR = 0x0001;   // bytes arrived
constexpr uint32_t EV_RXFLAG = 0x0002;   // the EvtChar arrived (not detected here)
constexpr uint32_t EV_TXEMPTY = 0x0004;  // the driver's output queue became empty
constexpr uint32_t EV_CTS = 0x0008;      // CTS changed
constexpr uint32_t EV_DSR = 0x0010;      // DSR changed
constexpr uint32_t EV_RLSD = 0x0020;     // carrier detect changed
constexpr uint32_t EV_BREAK = 0x0040;    // break received
constexpr uint32_t EV_ERR = 0x0080;      // a line error (CE_*) or a hang-up
constexpr uint32_t EV_RING = 0x0100;     // ring indicator changed
constexpr uint32_t EV_PERR = 0x0200;     // printer error (never here)
constexpr uint32_t EV_RX80FULL = 0x0400; // input queue 80 % full
constexpr uint32_t EV_EVENT1 = 0x0800;   // provider-specific (never here)
constexpr uint32_t EV_EVENT2 = 0x1000;   // provider-specific (never here)

// ------------------------------------------------------------- purge -------

constexpr uint32_t PURGE_TXABORT = 0x0001;
constexpr uint32_t PURGE_RXABORT = 0x0002;
constexpr uint32_t PURGE_TXCLEAR = 0x0004; // tcflush(TCOFLUSH)
constexpr uint32_t PURGE_RXCLEAR = 0x0008; // tcflush(TCIFLUSH)

// ---------------------------------------------------- escape functions -----

constexpr uint32_t SETXOFF = 1;  // behave as if XOFF was received (tcflow TCOOFF)
constexpr uint32_t SETXON = 2;   // behave as if XON was received (tcflow TCOON)
constexpr uint32_t SETRTS = 3;
constexpr uint32_t CLRRTS = 4;
constexpr uint32_t SETDTR = 5;
constexpr uint32_t CLRDTR = 6;
constexpr uint32_t RESETDEV = 7; // no device reset here: succeeds without effect
constexpr uint32_t SETBREAK = 8; // TIOCSBRK
constexpr uint32_t CLRBREAK = 9; // TIOCCBRK

// ------------------------------------------------------- modem status ------

constexpr uint32_t MS_CTS_ON = 0x0010;
constexpr uint32_t MS_DSR_ON = 0x0020;
constexpr uint32_t MS_RING_ON = 0x0040;
constexpr uint32_t MS_RLSD_ON = 0x0080;

// ---------------------------------------------------------- properties -----

struct COMMPROP {
    uint16_t wPacketLength = 0;
    uint16_t wPacketVersion = 0;
    uint32_t dwServiceMask = 0;
    uint32_t dwReserved1 = 0;
    uint32_t dwMaxTxQueue = 0;
    uint32_t dwMaxRxQueue = 0;
    uint32_t dwMaxBaud = 0;          // BAUD_USER: any rate
    uint32_t dwProvSubType = 0;      // PST_RS232
    uint32_t dwProvCapabilities = 0; // PCF_* bits
    uint32_t dwSettableParams = 0;
    uint32_t dwSettableBaud = 0;
    uint16_t wSettableData = 0;
    uint16_t wSettableStopParity = 0;
    uint32_t dwCurrentTxQueue = 0;   // as given to SetupComm
    uint32_t dwCurrentRxQueue = 0;   // as given to SetupComm
    uint32_t dwProvSpec1 = 0;
    uint32_t dwProvSpec2 = 0;
};

constexpr uint32_t BAUD_USER = 0x10000000;
constexpr uint32_t PST_RS232 = 0x00000001;
constexpr uint32_t PCF_DTRDSR = 0x0001;
constexpr uint32_t PCF_RTSCTS = 0x0002;
constexpr uint32_t PCF_PARITY_CHECK = 0x0008;
constexpr uint32_t PCF_XONXOFF = 0x0010;
constexpr uint32_t PCF_SETXCHAR = 0x0020;
constexpr uint32_t PCF_TOTALTIMEOUTS = 0x0040;
constexpr uint32_t PCF_INTTIMEOUTS = 0x0080;

// The default configuration of a device.
struct COMMCONFIG {
    uint32_t dwSize = 0; // sizeof(COMMCONFIG)
    uint16_t wVersion = 0;
    uint16_t wReserved = 0;
    DCB dcb;
    uint32_t dwProviderSubType = 0; // PST_RS232
    uint32_t dwProviderOffset = 0;
    uint32_t dwProviderSize = 0;
};

// -------------------------------------------------------- last error -------

// The errno-style code of the calling thread's last failed call.
int GetLastError();
void SetLastError(int code);
// The system's text for a code (strerror_r); never empty.
std::string SysErrorMessage(int code);
// True for the codes that mean "no such device": ENOENT, ENODEV, ENXIO.
bool IsDeviceNotFoundError(int code);

// ------------------------------------------------------------ the driver ---

// Every call goes through the installed driver, so tests can put a scripted
// fake device in place of the real one. Handles belong to the driver that
// made them: install a fake before opening and remove it after closing.
class CommDriver {
public:
    virtual ~CommDriver();

    // Opens a device path for reading and writing, non-blocking, close-on-exec,
    // exclusively (flock LOCK_EX|LOCK_NB, then TIOCEXCL). Fails with ENOENT,
    // ENODEV or ENXIO when the device does not exist, EBUSY when another
    // process holds it, EACCES without permission, ENOTTY when the path is not
    // a terminal; a failed open leaves no descriptor behind. A new handle has
    // no event mask, the immediate-read time-outs and the device's current
    // line settings.
    virtual HANDLE CreateFile(const std::string &devicePath) = 0;
    // Drops TIOCEXCL and the lock and closes the descriptor.
    virtual bool CloseHandle(HANDLE h) = 0;

    // Current settings: what the device holds, completed from the kept copy
    // for the fields Linux cannot hold.
    virtual bool GetCommState(HANDLE h, DCB *dcb) = 0;
    // Applies the settings (rate through BOTHER, CRTSCTS in c_cflag, IXON/IXOFF
    // without IXANY, DTR/RTS levels) and reads them back: a setting the device
    // refuses (4 data bits, a rate of 0, a parity or stop-bit form it cannot
    // hold) fails with EINVAL and leaves the previous settings in place.
    // Pseudo-terminals hold only part of the settings and are not checked.
    virtual bool SetCommState(HANDLE h, const DCB *dcb) = 0;
    // Driver queue sizes: kept (reported by GetCommProperties); 0 is refused with EINVAL.
    virtual bool SetupComm(HANDLE h, uint32_t inQueue, uint32_t outQueue) = 0;
    virtual bool GetCommTimeouts(HANDLE h, COMMTIMEOUTS *t) = 0;
    virtual bool SetCommTimeouts(HANDLE h, const COMMTIMEOUTS *t) = 0;
    // The events WaitCommEvent reports (EV_* bits). Takes effect at the next wait.
    virtual bool SetCommMask(HANDLE h, uint32_t mask) = 0;
    virtual bool GetCommMask(HANDLE h, uint32_t *mask) = 0;

    // Blocks until at least one event of the mask occurs, then returns true
    // with *events = the events that occurred (only bits of the mask, never 0),
    // or until cancelFd (an eventfd, for example Event::nativeHandle(); -1 for
    // none) is readable: then false with ECANCELED. cancelFd is not consumed.
    // Events are edge-like and never make the caller spin:
    // - EV_RXCHAR: bytes arrived since the previous wait returned; bytes left
    //   unread do not raise it again, bytes arriving later do.
    // - EV_ERR: new line errors (the TIOCGICOUNT counters rose), or the line
    //   hung up (read() gives 0 after poll said ready, POLLHUP): the hang-up is
    //   reported once; afterwards the wait only waits for cancelFd.
    // - EV_BREAK, EV_CTS, EV_DSR, EV_RLSD, EV_RING: from the counters and modem
    //   lines (none on a pty). EV_TXEMPTY: the output queue became empty after
    //   a write. EV_RX80FULL: input queue above 80 % of the SetupComm size.
    //   EV_RXFLAG, EV_PERR, EV_EVENT1, EV_EVENT2 are never reported.
    // A mask of 0 waits only for cancelFd.
    virtual bool WaitCommEvent(HANDLE h, uint32_t *events, int cancelFd) = 0;

    // Immediate read: copies up to count waiting bytes and returns true with
    // *read = their number, 0 when none are waiting (EAGAIN) or the line has
    // hung up. Other errors: false.
    virtual bool ReadFile(HANDLE h, void *buf, uint32_t count, uint32_t *read) = 0;
    // Writes count bytes, waiting (poll POLLOUT) until the driver accepted all
    // of them: true with *written = count. Otherwise false with *written = the
    // bytes accepted so far and the error: ETIMEDOUT when timeoutMs (INFINITE:
    // no limit) passed first, ECANCELED when one of cancelFds became readable
    // (not consumed), or the system's error (EIO after a hang-up).
    virtual bool WriteFile(HANDLE h, const void *buf, uint32_t count, uint32_t *written,
                           uint32_t timeoutMs, std::initializer_list<int> cancelFds) = 0;

    // Returns and clears the line errors (CE_* bits gathered since the last
    // call, CE_IOE once after a hang-up); fills *stat when not null.
    virtual bool ClearCommError(HANDLE h, uint32_t *errors, COMSTAT *stat) = 0;
    // PURGE_RXCLEAR / PURGE_TXCLEAR discard the driver's input / output
    // queue; the ABORT bits alone do nothing (no overlapped I/O here).
    virtual bool PurgeComm(HANDLE h, uint32_t flags) = 0;
    // SETDTR .. CLRBREAK. Modem-line functions on a device without modem lines
    // (a pty: ENOTTY/EINVAL) succeed without effect. Unknown codes: EINVAL.
    virtual bool EscapeCommFunction(HANDLE h, uint32_t func) = 0;
    // MS_* bits of the modem inputs; 0 on a device without modem lines.
    virtual bool GetCommModemStatus(HANDLE h, uint32_t *status) = 0;
    virtual bool GetCommProperties(HANDLE h, COMMPROP *prop) = 0;
    // The configuration a device starts with: 9600 baud, 8 data bits, no parity,
    // one stop bit, fBinary, DTR and RTS enabled, XonChar 17, XoffChar 19.
    // *size must be at least sizeof(COMMCONFIG) (else EINVAL, *size set);
    // ENOENT when the device path does not exist. Does not open the device.
    virtual bool GetDefaultCommConfig(const std::string &devicePath, COMMCONFIG *config,
                                      uint32_t *size) = 0;
};

// The installed driver: the termios one unless a test installed another.
CommDriver &commDriver();
// Installs a driver (not owned); nullptr puts the termios one back.
void setCommDriver(CommDriver *driver);

// The calls the serial component makes, each forwarding to commDriver().
inline HANDLE CreateFile(const std::string &devicePath) { return commDriver().CreateFile(devicePath); }
inline bool CloseHandle(HANDLE h) { return commDriver().CloseHandle(h); }
inline bool GetCommState(HANDLE h, DCB *dcb) { return commDriver().GetCommState(h, dcb); }
inline bool SetCommState(HANDLE h, const DCB *dcb) { return commDriver().SetCommState(h, dcb); }
inline bool SetupComm(HANDLE h, uint32_t in, uint32_t out) { return commDriver().SetupComm(h, in, out); }
inline bool GetCommTimeouts(HANDLE h, COMMTIMEOUTS *t) { return commDriver().GetCommTimeouts(h, t); }
inline bool SetCommTimeouts(HANDLE h, const COMMTIMEOUTS *t) { return commDriver().SetCommTimeouts(h, t); }
inline bool SetCommMask(HANDLE h, uint32_t mask) { return commDriver().SetCommMask(h, mask); }
inline bool GetCommMask(HANDLE h, uint32_t *mask) { return commDriver().GetCommMask(h, mask); }
inline bool WaitCommEvent(HANDLE h, uint32_t *events, int cancelFd)
{
    return commDriver().WaitCommEvent(h, events, cancelFd);
}
inline bool ReadFile(HANDLE h, void *buf, uint32_t count, uint32_t *read)
{
    return commDriver().ReadFile(h, buf, count, read);
}
inline bool WriteFile(HANDLE h, const void *buf, uint32_t count, uint32_t *written, uint32_t timeoutMs,
                      std::initializer_list<int> cancelFds = {})
{
    return commDriver().WriteFile(h, buf, count, written, timeoutMs, cancelFds);
}
inline bool ClearCommError(HANDLE h, uint32_t *errors, COMSTAT *stat)
{
    return commDriver().ClearCommError(h, errors, stat);
}
inline bool PurgeComm(HANDLE h, uint32_t flags) { return commDriver().PurgeComm(h, flags); }
inline bool EscapeCommFunction(HANDLE h, uint32_t func) { return commDriver().EscapeCommFunction(h, func); }
inline bool GetCommModemStatus(HANDLE h, uint32_t *status) { return commDriver().GetCommModemStatus(h, status); }
inline bool GetCommProperties(HANDLE h, COMMPROP *prop) { return commDriver().GetCommProperties(h, prop); }
inline bool GetDefaultCommConfig(const std::string &devicePath, COMMCONFIG *config, uint32_t *size)
{
    return commDriver().GetDefaultCommConfig(devicePath, config, size);
}

} // namespace Platform
