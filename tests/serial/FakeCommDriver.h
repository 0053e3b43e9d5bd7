// A scripted comm device for the serial component's tests: installs itself
// as the comm driver, records every setting the component writes, hands out
// scripted received bytes and events, and can make any call fail or a write
// stall until the test lets it go.
//
//   FakeCommDriver fake;                  // installed until destroyed
//   TSerComm comm;
//   comm.SetDeviceName(fake.path());      // "/fake/ttyF%d" resolves to itself
//   comm.Open();
//   fake.receive("abc");                  // bytes waiting + one EV_RXCHAR
//   fake.failNext("SetupComm", EIO);      // the next SetupComm fails with EIO
#pragma once

#include "platform/CommApi.h"
#include "platform/KernelObjects.h"

#include <QCoreApplication>

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace SerialTest {

class FakeCommDriver final : public Platform::CommDriver {
public:
    static constexpr Platform::HANDLE FakeHandle = 7;

    FakeCommDriver() { Platform::setCommDriver(this); }
    ~FakeCommDriver() override { Platform::setCommDriver(nullptr); }

    // A DeviceName format whose device is this fake.
    static std::string path() { return "/fake/ttyF%d"; }

    // ---- scripting (any thread)
    void failNext(const std::string &call, int error)
    {
        std::lock_guard<std::mutex> l(m);
        failures[call] = error;
    }
    // Bytes arrive: they wait in the input queue and raise EV_RXCHAR.
    void receive(const std::string &bytes)
    {
        {
            std::lock_guard<std::mutex> l(m);
            input.insert(input.end(), bytes.begin(), bytes.end());
        }
        raise(Platform::EV_RXCHAR);
    }
    // Bytes wait in the input queue without an event.
    void preload(const std::string &bytes)
    {
        std::lock_guard<std::mutex> l(m);
        input.insert(input.end(), bytes.begin(), bytes.end());
    }
    // The next WaitCommEvent reports these events (ANDed with the mask).
    void raise(uint32_t events)
    {
        std::lock_guard<std::mutex> l(m);
        pendingEvents.push_back(events);
        eventReady.set();
    }
    void setLineErrors(uint32_t errors)
    {
        std::lock_guard<std::mutex> l(m);
        lineErrors |= errors;
    }
    // Writes accept `acceptFirst` bytes and then stall until release() or a
    // cancel fd (returning ECANCELED with what they accepted).
    void stallWrites(uint32_t acceptFirst = 0)
    {
        std::lock_guard<std::mutex> l(m);
        stalled = true;
        stallAccept = acceptFirst;
    }
    void release()
    {
        {
            std::lock_guard<std::mutex> l(m);
            stalled = false;
        }
        releaseEvent.set();
    }
    // Every write fails at once with this error (0: writes succeed again).
    void failWrites(int error)
    {
        std::lock_guard<std::mutex> l(m);
        writeError = error;
    }
    // Waits until `count` bytes were written or timeoutMs passed, processing
    // GUI events meanwhile (the write thread reports each drain there).
    std::string waitWritten(size_t count, int timeoutMs = 2000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            {
                std::unique_lock<std::mutex> l(m);
                if (cv.wait_for(l, std::chrono::milliseconds(2), [&] { return written.size() >= count; }) ||
                    std::chrono::steady_clock::now() > deadline)
                    return written;
            }
            QCoreApplication::processEvents();
        }
    }
    // Waits until a write call is in progress (stalled) or timeoutMs passed.
    bool waitWriteStalled(int timeoutMs = 2000)
    {
        std::unique_lock<std::mutex> l(m);
        return cv.wait_for(l, std::chrono::milliseconds(timeoutMs), [&] { return inStalledWrite; });
    }
    std::string writtenBytes()
    {
        std::lock_guard<std::mutex> l(m);
        return written;
    }
    int count(const std::string &call)
    {
        std::lock_guard<std::mutex> l(m);
        return calls[call];
    }

    // ---- what the component did (read after the fact, or under the lock)
    std::mutex m;
    std::condition_variable cv;
    std::map<std::string, int> calls;
    std::map<std::string, int> failures;
    std::vector<Platform::DCB> dcbWrites;
    Platform::DCB state = defaultDcb();
    std::vector<std::pair<uint32_t, uint32_t>> setupCalls;
    Platform::COMMTIMEOUTS timeouts;
    uint32_t mask = 0;
    std::vector<uint32_t> purges;
    std::vector<uint32_t> escapes;
    std::deque<char> input;
    std::string written;
    uint32_t outQueue = 0;
    uint32_t modemStatus = 0;
    uint32_t statFlags = 0;
    uint32_t lineErrors = 0;
    uint32_t readLimit = 0xFFFFFFFFu; // at most this many bytes per ReadFile
    bool open = false;
    bool exists = true;
    Platform::COMMCONFIG defaultConfig;

    static Platform::DCB defaultDcb()
    {
        Platform::DCB d;
        d.DCBlength = sizeof(Platform::DCB);
        d.BaudRate = 9600;
        d.ByteSize = 8;
        d.Flags = Platform::DCB::fBinary;
        d.XonChar = 17;
        d.XoffChar = 19;
        return d;
    }

    // ---- the driver
    Platform::HANDLE CreateFile(const std::string &devicePath) override
    {
        std::lock_guard<std::mutex> l(m);
        ++calls["CreateFile"];
        lastPath = devicePath;
        if (!exists)
            return fail(ENOENT), Platform::INVALID_HANDLE_VALUE;
        if (takeFailure("CreateFile"))
            return Platform::INVALID_HANDLE_VALUE;
        if (open)
            return fail(EBUSY), Platform::INVALID_HANDLE_VALUE;
        open = true;
        return FakeHandle;
    }
    bool CloseHandle(Platform::HANDLE h) override
    {
        std::lock_guard<std::mutex> l(m);
        ++calls["CloseHandle"];
        if (!check(h))
            return false;
        open = false;
        return true;
    }
    bool GetCommState(Platform::HANDLE h, Platform::DCB *dcb) override
    {
        std::lock_guard<std::mutex> l(m);
        ++calls["GetCommState"];
        if (!check(h) || takeFailure("GetCommState"))
            return false;
        *dcb = state;
        return true;
    }
    bool SetCommState(Platform::HANDLE h, const Platform::DCB *dcb) override
    {
        std::lock_guard<std::mutex> l(m);
        ++calls["SetCommState"];
        if (!check(h) || takeFailure("SetCommState"))
            return false;
        dcbWrites.push_back(*dcb);
        state = *dcb;
        return true;
    }
    bool SetupComm(Platform::HANDLE h, uint32_t in, uint32_t out) override
    {
        std::lock_guard<std::mutex> l(m);
        ++calls["SetupComm"];
        if (!check(h) || takeFailure("SetupComm"))
            return false;
        setupCalls.emplace_back(in, out);
        return true;
    }
    bool GetCommTimeouts(Platform::HANDLE h, Platform::COMMTIMEOUTS *t) override
    {
        std::lock_guard<std::mutex> l(m);
        if (!check(h))
            return false;
        *t = timeouts;
        return true;
    }
    bool SetCommTimeouts(Platform::HANDLE h, const Platform::COMMTIMEOUTS *t) override
    {
        std::lock_guard<std::mutex> l(m);
        ++calls["SetCommTimeouts"];
        if (!check(h) || takeFailure("SetCommTimeouts"))
            return false;
        timeouts = *t;
        return true;
    }
    bool SetCommMask(Platform::HANDLE h, uint32_t newMask) override
    {
        std::lock_guard<std::mutex> l(m);
        ++calls["SetCommMask"];
        if (!check(h) || takeFailure("SetCommMask"))
            return false;
        mask = newMask;
        return true;
    }
    bool GetCommMask(Platform::HANDLE h, uint32_t *out) override
    {
        std::lock_guard<std::mutex> l(m);
        if (!check(h))
            return false;
        *out = mask;
        return true;
    }
    bool WaitCommEvent(Platform::HANDLE h, uint32_t *events, int cancelFd) override
    {
        {
            std::lock_guard<std::mutex> l(m);
            ++calls["WaitCommEvent"];
            if (!check(h))
                return false;
        }
        for (;;) {
            {
                std::lock_guard<std::mutex> l(m);
                while (!pendingEvents.empty()) {
                    const uint32_t e = pendingEvents.front() & mask;
                    pendingEvents.pop_front();
                    if (pendingEvents.empty())
                        eventReady.reset();
                    if (e) {
                        *events = e;
                        return true;
                    }
                }
                eventReady.reset();
            }
            pollfd fds[2] = {{cancelFd, POLLIN, 0}, {eventReady.nativeHandle(), POLLIN, 0}};
            ::poll(fds, 2, -1);
            if (fds[0].revents & POLLIN)
                return fail(ECANCELED), false;
        }
    }
    bool ReadFile(Platform::HANDLE h, void *buf, uint32_t n, uint32_t *read) override
    {
        std::lock_guard<std::mutex> l(m);
        ++calls["ReadFile"];
        if (!check(h) || takeFailure("ReadFile"))
            return false;
        uint32_t k = 0;
        while (k < n && k < readLimit && !input.empty()) {
            static_cast<char *>(buf)[k++] = input.front();
            input.pop_front();
        }
        *read = k;
        return true;
    }
    bool WriteFile(Platform::HANDLE h, const void *buf, uint32_t n, uint32_t *out, uint32_t timeoutMs,
                   std::initializer_list<int> cancelFds) override
    {
        std::unique_lock<std::mutex> l(m);
        ++calls["WriteFile"];
        *out = 0;
        if (!check(h))
            return false;
        if (writeError)
            return fail(writeError), false;
        const char *bytes = static_cast<const char *>(buf);
        if (!stalled) {
            written.append(bytes, n);
            *out = n;
            cv.notify_all();
            return true;
        }
        const uint32_t first = std::min(n, stallAccept);
        written.append(bytes, first);
        stallAccept -= first;
        *out = first;
        inStalledWrite = true;
        cv.notify_all();
        std::vector<pollfd> fds;
        for (int fd : cancelFds)
            fds.push_back({fd, POLLIN, 0});
        fds.push_back({releaseEvent.nativeHandle(), POLLIN, 0});
        l.unlock();
        const int wait = timeoutMs == Platform::INFINITE ? -1 : int(timeoutMs);
        const int r = ::poll(fds.data(), nfds_t(fds.size()), wait);
        l.lock();
        inStalledWrite = false;
        if (r == 0)
            return fail(ETIMEDOUT), false;
        for (size_t i = 0; i + 1 < fds.size(); ++i)
            if (fds[i].revents & POLLIN)
                return fail(ECANCELED), false;
        releaseEvent.reset();
        written.append(bytes + first, n - first);
        *out = n;
        cv.notify_all();
        return true;
    }
    bool ClearCommError(Platform::HANDLE h, uint32_t *errors, Platform::COMSTAT *stat) override
    {
        std::lock_guard<std::mutex> l(m);
        ++calls["ClearCommError"];
        if (!check(h) || takeFailure("ClearCommError"))
            return false;
        *errors = lineErrors;
        lineErrors = 0;
        if (stat) {
            stat->cbInQue = uint32_t(input.size());
            stat->cbOutQue = outQueue;
            stat->Flags = statFlags;
        }
        return true;
    }
    bool PurgeComm(Platform::HANDLE h, uint32_t flags) override
    {
        std::lock_guard<std::mutex> l(m);
        ++calls["PurgeComm"];
        if (!check(h) || takeFailure("PurgeComm"))
            return false;
        purges.push_back(flags);
        if (flags & Platform::PURGE_RXCLEAR)
            input.clear();
        return true;
    }
    bool EscapeCommFunction(Platform::HANDLE h, uint32_t func) override
    {
        std::lock_guard<std::mutex> l(m);
        ++calls["EscapeCommFunction"];
        if (!check(h) || takeFailure("EscapeCommFunction"))
            return false;
        escapes.push_back(func);
        return true;
    }
    bool GetCommModemStatus(Platform::HANDLE h, uint32_t *status) override
    {
        std::lock_guard<std::mutex> l(m);
        ++calls["GetCommModemStatus"];
        if (!check(h) || takeFailure("GetCommModemStatus"))
            return false;
        *status = modemStatus;
        return true;
    }
    bool GetCommProperties(Platform::HANDLE h, Platform::COMMPROP *prop) override
    {
        std::lock_guard<std::mutex> l(m);
        ++calls["GetCommProperties"];
        if (!check(h) || takeFailure("GetCommProperties"))
            return false;
        *prop = Platform::COMMPROP();
        prop->dwMaxBaud = Platform::BAUD_USER;
        return true;
    }
    bool GetDefaultCommConfig(const std::string &, Platform::COMMCONFIG *config, uint32_t *) override
    {
        std::lock_guard<std::mutex> l(m);
        ++calls["GetDefaultCommConfig"];
        if (takeFailure("GetDefaultCommConfig"))
            return false;
        *config = defaultConfig;
        return true;
    }

    std::string lastPath;

private:
    static void fail(int error) { Platform::SetLastError(error); }
    bool check(Platform::HANDLE h)
    {
        if (h == FakeHandle && open)
            return true;
        fail(EBADF);
        return false;
    }
    bool takeFailure(const std::string &call)
    {
        auto it = failures.find(call);
        if (it == failures.end())
            return false;
        fail(it->second);
        failures.erase(it);
        return true;
    }

    std::deque<uint32_t> pendingEvents;
    Platform::Event eventReady{true, false};
    Platform::Event releaseEvent{true, false};
    bool stalled = false;
    uint32_t stallAccept = 0;
    bool inStalledWrite = false;
    int writeError = 0;
};

} // namespace SerialTest
