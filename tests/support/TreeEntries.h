// What stands under a folder, as lstat shows it: a test takes it before and
// after a run to prove what the run made, changed or gave away there.
//
//   const auto before = TestSupport::entriesUnder(home);
//   ... the run ...
//   EXPECT_TRUE(TestSupport::entriesUnder(home) == before);
#pragma once

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QString>
#include <QStringList>

#include <map>
#include <sys/stat.h>
#include <sys/types.h>

namespace TestSupport {

struct Entry {
    uid_t uid;
    gid_t gid;
    mode_t mode;
    ino_t inode;
    QByteArray bytes;
    bool operator==(const Entry &o) const
    {
        return uid == o.uid && gid == o.gid && mode == o.mode && inode == o.inode && bytes == o.bytes;
    }
};

// Every entry under `root` (itself included, where it exists), with a regular
// file's bytes.
inline std::map<QString, Entry> entriesUnder(const QString &root)
{
    std::map<QString, Entry> entries;
    QStringList paths{root};
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << it.next();
    for (const QString &path : paths) {
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        QByteArray bytes;
        QFile f(path);
        if (S_ISREG(st.st_mode) && f.open(QIODevice::ReadOnly))
            bytes = f.readAll();
        entries[path] = {st.st_uid, st.st_gid, mode_t(st.st_mode), st.st_ino, bytes};
    }
    return entries;
}

} // namespace TestSupport
