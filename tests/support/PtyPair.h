// A pseudo-terminal pair standing in for a serial line in tests.
//
// The slave side is what the code under test opens: the constructor maps it
// as COM `comNumber` through VANTORO_SERIAL_PORTS (added to whatever the
// variable already holds; the destructor puts the old value back). The test
// plays the far end on the master side with the helpers below, all of which
// wait at most the time-out they are given.
//
//   TestSupport::PtyPair pty(5);          // COM5 -> /dev/pts/N
//   ASSERT_TRUE(pty.ok()) << pty.error();
//   pty.writeMaster("\x01\x02");          // bytes "arrive" at COM5
//   QByteArray got = pty.readMaster(3);   // bytes the code sent, up to 3
//   pty.stallOutput();                    // tcflow(TCOOFF): COM5 stops sending
//   pty.closeMaster();                    // the far end hangs up
//
// The fixture keeps a slave descriptor of its own open (it never reads it),
// so the pty lives while the code under test opens and closes it and
// bytes written before that open are kept. Both sides start raw (no echo,
// no line editing). One fixture per test; not for sharing between threads.
#pragma once

#include <QByteArray>
#include <optional>
#include <string>

namespace TestSupport {

class PtyPair {
public:
    explicit PtyPair(int comNumber = 1);
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool ok() const { return !m_slavePath.empty(); }
    const std::string &error() const { return m_error; }

    int comNumber() const { return m_com; }
    std::string comName() const { return "COM" + std::to_string(m_com); }
    const std::string &slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }
    // The fixture's own slave descriptor (-1 after releaseSlave()).
    int slaveFd() const { return m_slave; }

    // Writes all bytes to the master within timeoutMs; false if not all went.
    bool writeMaster(const QByteArray &bytes, int timeoutMs = 1000);
    // Reads until `count` bytes came or timeoutMs passed; returns what came.
    QByteArray readMaster(int count, int timeoutMs = 1000);
    // Whatever the master holds after waiting up to waitMs for the first byte.
    QByteArray readAvailable(int waitMs = 0);

    // Closes the master: the slave sees a hang-up.
    void closeMaster();
    // Closes the fixture's own slave descriptor.
    void releaseSlave();

    // Stops / restarts the slave's output (tcflow TCOOFF / TCOON): bytes
    // written to the slave stay queued in the driver.
    bool stallOutput();
    bool resumeOutput();

private:
    int m_com = 0;
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::string m_error;
    std::optional<std::string> m_oldMap; // the variable before us, if it was set
};

} // namespace TestSupport
