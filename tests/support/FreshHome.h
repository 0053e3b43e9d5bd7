// A new account's home for one test: HOME points at `path` (which may be
// missing), the XDG variables that would move the data and documents folders
// elsewhere are unset, and the known-folder overrides are cleared, so the
// folders come from the system look-up as they would for a new user. The
// environment is put back when the object goes.
//
//   TestSupport::FreshHome home(dir.filePath("home"));
//   CreateDataRoot(0, {}); // builds under home/.local/share
#pragma once

#include "platform/KnownFolders.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

namespace TestSupport {

class FreshHome {
public:
    explicit FreshHome(const QString &path)
    {
        for (size_t i = 0; i < kVariables.size(); ++i) {
            if (qEnvironmentVariableIsSet(kVariables[i]))
                saved_[i] = qgetenv(kVariables[i]);
            qunsetenv(kVariables[i]);
        }
        qputenv("HOME", path.toLocal8Bit());
        Platform::clearKnownFolderOverrides();
    }
    ~FreshHome()
    {
        for (size_t i = 0; i < kVariables.size(); ++i) {
            if (saved_[i])
                qputenv(kVariables[i], *saved_[i]);
            else
                qunsetenv(kVariables[i]);
        }
    }
    FreshHome(const FreshHome &) = delete;
    FreshHome &operator=(const FreshHome &) = delete;

private:
    static constexpr std::array<const char *, 3> kVariables{"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"};
    std::array<std::optional<QByteArray>, kVariables.size()> saved_;
};

} // namespace TestSupport
