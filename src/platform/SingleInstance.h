// Keeps a second copy of the program from running.
//
// The first copy takes an exclusive lock on a file named after the
// executable in the user's runtime folder. The kernel drops the lock when the
// process ends, however it ends, so a crashed copy never blocks the next
// start. Copies started from executables of other names do not see each other.
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

    // `folder` empty: the user's runtime folder (or the temporary folder).
    explicit SingleInstance(const QString &name, const QString &folder = {});
    ~SingleInstance(); // releases the lock
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    State state() const { return m_state; }
    const QString &lockFilePath() const { return m_path; }

    static QString defaultFolder();

private:
    int m_fd = -1;
    State m_state = State::Unavailable;
    QString m_path;
};

} // namespace Platform
