#include "support/PtyPair.h"

#include "platform/PortMap.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace TestSupport {

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

PtyPair::PtyPair(int comNumber) : m_com(comNumber)
{
    termios raw{};
    ::cfmakeraw(&raw);
    char name[256] = {};
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
        m_error = std::string("openpty: ") + std::strerror(errno);
        return;
    }
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    m_master = master;
    m_slave = slave;
    m_slavePath = name;

    const char *old = std::getenv(Platform::PortMapVariable);
    if (old)
        m_oldMap = old;
    std::string map = old ? std::string(old) + ";" : std::string();
    map += std::to_string(comNumber) + "=" + m_slavePath;
    ::setenv(Platform::PortMapVariable, map.c_str(), 1);
}

PtyPair::~PtyPair()
{
    closeMaster();
    releaseSlave();
    if (m_oldMap)
        ::setenv(Platform::PortMapVariable, m_oldMap->c_str(), 1);
    else
        ::unsetenv(Platform::PortMapVariable);
}

bool PtyPair::writeMaster(const QByteArray &bytes, int timeoutMs)
{
    if (m_master < 0)
        return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p{m_master, POLLOUT, 0};
        if (::poll(&p, 1, msLeft(deadline)) <= 0 && msLeft(deadline) == 0)
            return false;
    }
    return true;
}

QByteArray PtyPair::readMaster(int count, int timeoutMs)
{
    QByteArray got;
    if (m_master < 0)
        return got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[4096];
    while (got.size() < count) {
        const size_t want = std::min<size_t>(sizeof buf, static_cast<size_t>(count - got.size()));
        const ssize_t n = ::read(m_master, buf, want);
        if (n > 0) {
            got.append(buf, n);
            continue;
        }
        if (msLeft(deadline) == 0)
            break;
        if (n < 0 && errno == EIO) {
            // No slave open at the moment: nothing can come until one is.
            ::usleep(1000);
            continue;
        }
        pollfd p{m_master, POLLIN, 0};
        ::poll(&p, 1, msLeft(deadline));
    }
    return got;
}

QByteArray PtyPair::readAvailable(int waitMs)
{
    QByteArray got = readMaster(1, waitMs);
    if (got.isEmpty())
        return got;
    for (;;) {
        const QByteArray more = readMaster(4096, 0);
        if (more.isEmpty())
            return got;
        got += more;
    }
}

void PtyPair::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void PtyPair::releaseSlave()
{
    if (m_slave >= 0)
        ::close(m_slave);
    m_slave = -1;
}

bool PtyPair::stallOutput()
{
    return m_slave >= 0 && ::tcflow(m_slave, TCOOFF) == 0;
}

bool PtyPair::resumeOutput()
{
    return m_slave >= 0 && ::tcflow(m_slave, TCOON) == 0;
}

} // namespace TestSupport
