// The termios driver behind CommApi.h, and the pieces of it that tests
// reach directly: the mapping between a device control block and termios2,
// and the ioctl seam through which a test puts a fake UART under the driver.
//
// This header brings in <asm/termbits.h> for termios2: do not include it in
// a file that also includes <termios.h> (the two define the same names).
#pragma once

#include "platform/CommApi.h"

#include <asm/termbits.h>
#include <memory>

namespace Platform {

// The device calls of the driver other than open, read, write and poll.
// The real one forwards to ::ioctl; a test derives from it to emulate a
// UART's settings, modem lines and error counters on top of a pty.
class TtyIo {
public:
    virtual ~TtyIo();
    // As ::ioctl: -1 with errno set on failure. Requests that take an int
    // (TCFLSH, TCXONC) get it as the pointer value.
    virtual int ioctl(int fd, unsigned long request, void *arg);
    // Pseudo-terminals hold only part of the line settings (8 data bits, no
    // parity) and have no modem lines: their settings are not read back.
    virtual bool isPseudoTerminal(int fd);
};

// The real device calls.
TtyIo &realTtyIo();
// A termios driver doing its device calls through `io` (not owned).
std::unique_ptr<CommDriver> makeTermiosDriver(TtyIo &io);

// Puts the line settings of `dcb` into `t` (rate through BOTHER on output
// and input, data bits, parity with CMSPAR for mark and space, stop bits,
// CRTSCTS in c_cflag for CTS output flow or RTS handshake, IXON/IXOFF for
// XON/XOFF without IXANY, INPCK for parity checking, the XON/XOFF
// characters). Returns EINVAL (leaving `t` untouched) for what no device
// can hold: rate 0, data bits outside 5..8, an unknown parity or stop-bit
// code, 1.5 stop bits with more than 5 data bits and 2 stop bits with 5
// (the UART would send 1.5 there). Returns 0 on success.
int dcbToTermios(const DCB &dcb, termios2 &t);
// The line settings a termios2 holds, into `dcb` (other fields untouched).
// With lineFormat false the data bits and parity are left alone (a pty
// reports 8 data bits and no parity whatever was asked).
void termiosToDcb(const termios2 &t, DCB &dcb, bool lineFormat = true);
// Whether the device took the settings it was given: the same line format
// and flow-control flags, and a rate within 3 % (drivers round a rate to
// what their clock divides to).
bool termiosHolds(const termios2 &wanted, const termios2 &got);
// No line editing, echo, signals or output processing; with the driver's
// non-blocking descriptor a read of nothing fails with EAGAIN (VMIN 1).
void makeRaw(termios2 &t);

} // namespace Platform
