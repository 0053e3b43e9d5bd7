// The stores behind an IniFile: one file by name, and a file with a stand-in.
//
// Every read and every change is one access: the name is found once
// (findFile: nothing another account could have put on the way, a regular
// file only; for a settings file, none that every account may write), the
// file is opened once, and it is read, and written through or
// beside, by that descriptor and its folder's, then let go (FileUpdate.h). A
// change that finds another file in its place starts over (a few times at
// most), waiting for other savers no longer than once in all.
#pragma once

#include "platform/IniFile.h"
#include "platform/TrustedFile.h"

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
// Where `originalServes`, the original is the file while it may be written (a
// regular file this user may write whose folder takes a new file, or which a
// link leads to, rewritten in place where its folder takes none; or a missing
// file whose folder takes a new one) and the stand-in does not name it as a
// file it stands in for. Else the stand-in is the file: it names each such
// original in a comment line of its own ("; Stands in for <path>") from its
// change on, and stays its file from then on, whatever becomes of the
// original. Without `originalServes` the stand-in is the file once anything
// stands at its name. A missing stand-in is read as the original and made by
// its first change, with its missing folders made for its owner alone,
// starting from the original where that is a regular file that may be used,
// else from nothing. Both are settings files: one that every account may
// write is never used. The original is judged with the owner of its folder
// counting (who installed the program there), the stand-in against root and
// the user alone.
class StandInStore : public IniStore {
public:
    StandInStore(QString original, QString standIn, bool originalServes);
    QByteArray read() const override;
    void change(const std::function<QByteArray(const QByteArray &now)> &edit) override;
    QString path() const override;

    // Why the original is set aside where it is refused (not merely missing,
    // unreadable or unwritable) and the stand-in does not name it yet; else
    // Refusal::None.
    Refusal setAside() const;
    // The stand-in names the original as a file it stands in for.
    bool standsIn() const;

private:
    // Which file a use reads and changes, as the files are now.
    struct Choice {
        Place standIn;
        QByteArray standInBytes; // the stand-in as read, where it stands
        bool recorded = false;   // it is the file whatever becomes of the original
        Place original;
        bool useOriginal = false;
    };
    Choice choose() const;

    QString m_original;
    QString m_standIn;
    bool m_originalServes;
};

} // namespace Platform
