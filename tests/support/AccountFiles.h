// The user and group databases of a test's world, in place of the system's:
// the accounts the tests run children as (root, daemon, nobody), an
// administrator, and a team group that holds nobody (the technician) and
// daemon (a colleague). Root's home is "/root" unless the test names one. The ids need no real account: children run under
// them by number. The files lie in a folder every account may read, so that
// a child run as another account reads the same databases: the children
// started meanwhile learn where from their environment, and a child puts them
// in force with useParentsAccountFiles().
//
//   const TestSupport::AccountFiles accounts;   // in force till it goes
//   runTestAs(Nobody, "Child.Case", {});        // which calls useParentsAccountFiles()
#pragma once

#include "platform/Accounts.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/types.h>

namespace TestSupport {

inline constexpr uid_t AdminId = 4203;      // an administrator who is not root
inline constexpr gid_t TeamGroupId = 4242;  // members: nobody and daemon
inline constexpr const char *AccountFilesVariable = "VANTORO_TEST_ACCOUNT_FILES";

class AccountFiles {
public:
    // `rootHome`: root's home folder in this world, where a run as root with
    // another account's home keeps its things.
    explicit AccountFiles(const QString &rootHome = QStringLiteral("/root"))
    {
        ::chmod(QFile::encodeName(dir_.path()).constData(), 0755);
        write(QStringLiteral("passwd"), "root:x:0:0:root:" + QFile::encodeName(rootHome) +
                                            ":/bin/sh\n"
                                            "daemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin\n"
                                            "admin:x:4203:4203:administrator:/home/admin:/bin/sh\n"
                                            "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n");
        write(QStringLiteral("group"), "root:x:0:\n"
                                       "daemon:x:1:\n"
                                       "users:x:100:\n"
                                       "admin:x:4203:\n"
                                       "team:x:4242:nobody,daemon\n"
                                       "nogroup:x:65534:\n");
        Platform::setAccountFiles(dir_.filePath(QStringLiteral("passwd")), dir_.filePath(QStringLiteral("group")));
        qputenv(AccountFilesVariable, QFile::encodeName(dir_.path()));
    }
    ~AccountFiles()
    {
        Platform::setAccountFiles({}, {});
        qunsetenv(AccountFilesVariable);
    }
    AccountFiles(const AccountFiles &) = delete;
    AccountFiles &operator=(const AccountFiles &) = delete;

private:
    void write(const QString &name, const QByteArray &text)
    {
        QFile f(dir_.filePath(name));
        if (f.open(QIODevice::WriteOnly))
            f.write(text);
        f.close();
        ::chmod(QFile::encodeName(f.fileName()).constData(), 0644);
    }

    QTemporaryDir dir_;
};

// In a child: the databases its parent named, if it named any.
inline void useParentsAccountFiles()
{
    const QString folder = qEnvironmentVariable(AccountFilesVariable);
    if (!folder.isEmpty())
        Platform::setAccountFiles(folder + QStringLiteral("/passwd"), folder + QStringLiteral("/group"));
}

} // namespace TestSupport
