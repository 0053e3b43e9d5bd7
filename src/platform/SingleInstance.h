// Keeps a second copy of the program from running.
//
// The first copy takes an exclusive lock on a file named after the
// executable, in a folder where only the user (and root) may make a file:
// the user's runtime folder ($XDG_RUNTIME_DIR) where that is such a folder,
// else one of the user's own under the cache home, never a name in a folder
// another account could take first, and reached through root's and the
// user's folders alone (a run as root with another account's home uses
// root's own folders, KnownFolders.h). A lock file there that is not the
// user's (left by a run as root) is never taken for a running copy: it is
// replaced. The kernel drops the lock when the process ends, however it
// ends, so a crashed copy never blocks the next start. Copies started from
// executables of other names do not see each other.
#pragma once

#include <QString>

namespace Platform {

class SingleInstance {
public:
    enum class State {
        Acquired,    // this is the only copy
        Busy,        // another copy holds the lock
        Unavailable, // no lock file could be made; nothing is known
    };

    // `folder` empty: the runtime folder where it is the user's alone, else
    // the folder of the company and the application title under the cache
    // home ($XDG_CACHE_HOME, else ~/.cache), made for the user alone.
    explicit SingleInstance(const QString &name, const QString &folder = {});
    ~SingleInstance(); // releases the lock
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    State state() const { return m_state; }
    const QString &lockFilePath() const { return m_path; }

private:
    bool lockIn(const QString &folder, const QString &fileName);

    int m_fd = -1;
    State m_state = State::Unavailable;
    QString m_path;
};

} // namespace Platform
