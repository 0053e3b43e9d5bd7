// Helpers shared by the serial component's tests.
#pragma once

#include "serial/SerComm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>
#include <memory>

namespace SerialTest {

// Processes GUI events until `done` holds or timeoutMs passed; returns done().
inline bool pumpUntil(const std::function<bool()> &done, int timeoutMs = 2000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

// Processes GUI events for about ms milliseconds.
inline void pumpFor(int ms)
{
    pumpUntil([] { return false; }, ms);
}

// A component on the fake device, without the pause after each close.
inline std::unique_ptr<TSerComm> fakeComm(int portNum = 1)
{
    auto comm = std::make_unique<TSerComm>();
    comm->SetDeviceName("/fake/ttyF%d");
    comm->SetPortNum(portNum);
    comm->SetClosePause(0);
    return comm;
}

// The message of the ESerCommError that fn raises ("" when it raises none).
template <typename Fn>
std::string serError(Fn fn)
{
    try {
        fn();
    } catch (const ESerCommError &e) {
        return e.what();
    }
    return std::string();
}

} // namespace SerialTest
