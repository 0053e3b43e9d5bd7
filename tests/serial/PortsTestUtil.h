// Helpers of the port list, port dialog and settings store tests.
#pragma once

#include "platform/PortMap.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>
#include <vector>

namespace PortsTest {

// Sets (or unsets) an environment variable for the guard's lifetime.
class EnvGuard {
public:
    EnvGuard(const char *name, std::optional<QByteArray> value) : m_name(name)
    {
        if (qEnvironmentVariableIsSet(name))
            m_old = qgetenv(name);
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~EnvGuard()
    {
        if (m_old)
            qputenv(m_name, *m_old);
        else
            qunsetenv(m_name);
    }
    EnvGuard(const EnvGuard &) = delete;
    EnvGuard &operator=(const EnvGuard &) = delete;

private:
    const char *m_name;
    std::optional<QByteArray> m_old;
};

// A port map of the given COM numbers, each mapped to a file of a temporary
// folder, in force through VANTORO_SERIAL_PORTS while the object lives.
class FakePorts {
public:
    explicit FakePorts(const std::vector<int> &numbers) : m_env(Platform::PortMapVariable, mapText(numbers)) {}

private:
    QByteArray mapText(const std::vector<int> &numbers)
    {
        QByteArray text;
        for (int n : numbers) {
            const QString path = m_dir.path() + QStringLiteral("/tty%1").arg(n);
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            text += QByteArray::number(n) + '=' + path.toUtf8() + ';';
        }
        return text;
    }

    QTemporaryDir m_dir; // declared before m_env: mapText runs while m_env is built
    EnvGuard m_env;
};

} // namespace PortsTest
