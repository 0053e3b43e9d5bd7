// The stores behind an IniFile: one file by name, and a file with a stand-in.
//
// Every read and every change is one access: the name is found once
// (findFile: links followed by the kernel's rules, a regular file only), the
// file is opened once, and it is read, and written through or beside, by that
// descriptor and its folder's, then let go. A change that finds another file
// in its place once it holds the lock starts over (a few times at most).
#pragma once

#include "platform/IniFile.h"

namespace Platform {

// The file at `path`: a change creates it, or changes it when it is a regular
// file this user may write.
class FileStore : public IniStore {
public:
    explicit FileStore(QString path);
    QByteArray read() const override;
    void change(const std::function<QByteArray(const QByteArray &now)> &edit) override;
    QString path() const override { return m_path; }

private:
    QString m_path;
};

// A file `original` with a stand-in copy `standIn` of the same contents.
// Once anything stands at the stand-in's name, the stand-in is the file. Till
// then the original is read and, where `originalServes`, it is also the file
// that changes while it may be: a regular file this user may write whose
// folder takes a new file, or which a link leads to (rewritten in place where
// its folder takes none), or a missing file whose folder takes a new one.
// Otherwise the first change makes the stand-in, with its missing folders
// made for its owner alone, starting from the original where that is a
// regular file that may be used, else from nothing.
class StandInStore : public IniStore {
public:
    StandInStore(QString original, QString standIn, bool originalServes);
    QByteArray read() const override;
    void change(const std::function<QByteArray(const QByteArray &now)> &edit) override;
    QString path() const override;

private:
    QString m_original;
    QString m_standIn;
    bool m_originalServes;
};

} // namespace Platform
