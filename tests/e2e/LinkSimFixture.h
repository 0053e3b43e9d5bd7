// The real link over a real pty against the simulated meter: the simulator's
// slave is mapped as a COM number of this process, Z960Port opens it with
// the real serial component.
#pragma once

#include "link/LinkClock.h"
#include "link/Z960Port.h"
#include "platform/PortMap.h"
#include "serial/SerComm.h"
#include "z960sim/Z960Sim.h"

#include <QByteArray>
#include <QFile>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace linksim {

// Maps COM<number> to a device path for the life of the object.
class PortMapping {
public:
    PortMapping(int number, const std::string &path)
    {
        if (const char *old = std::getenv(Platform::PortMapVariable))
            old_ = old;
        const std::string map = std::to_string(number) + "=" + path;
        ::setenv(Platform::PortMapVariable, map.c_str(), 1);
    }
    ~PortMapping()
    {
        if (old_)
            ::setenv(Platform::PortMapVariable, old_->c_str(), 1);
        else
            ::unsetenv(Platform::PortMapVariable);
    }
    PortMapping(const PortMapping &) = delete;
    PortMapping &operator=(const PortMapping &) = delete;

private:
    std::optional<std::string> old_;
};

// A COM number of this folder's own, never shared with other test folders.
constexpr int kCom = 77;

struct Session {
    z960sim::Simulator sim;
    PortMapping mapping;
    std::unique_ptr<Z960Port> port;

    explicit Session(z960sim::Options options = {}, unsigned short address = 1)
        : sim(options), mapping(kCom, sim.slavePath()), port(std::make_unique<Z960Port>(nullptr, address))
    {
        port->OpenPort("Com" + std::to_string(kCom), 9600);
        if (port->comm)
            port->comm->SetClosePause(0);
    }
    ~Session() { port.reset(); }

    // Payloads of the Quillmere frames the simulator received / sent.
    std::vector<z960sim::Bytes> receivedPayloads() const
    {
        std::vector<z960sim::Bytes> out;
        for (const z960sim::Frame &f : sim.received())
            out.push_back(f.payload);
        return out;
    }
};

inline z960sim::Bytes imageOf(const Z960Port &p, int n)
{
    auto b = [](const auto &image) { return z960sim::Bytes(image.data(), image.data() + image.size()); };
    switch (n) {
    case 0: return b(p.statusImage);
    case 1: return b(p.systemImage);
    case 2: return b(p.structure2Image);
    case 3: return b(p.structure3Image);
    case 4: return b(p.calImage);
    case 5: return b(p.configImage);
    case 6: return b(p.basicCalImage);
    default: return b(p.structure7Image);
    }
}

// A local file's bytes; none when it cannot be read.
inline z960sim::Bytes fileBytes(const std::string &path)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray b = f.readAll();
    return z960sim::Bytes(b.begin(), b.end());
}

} // namespace linksim
