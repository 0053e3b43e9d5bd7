// A settings file in the ini format: "[Section]" lines and "key=value" lines.
//
// Sections and keys match without regard to case; every other line (comments,
// blank lines, other sections and keys) is kept as it stands. An IniFile is
// one use of the file: its first read reads the file once for all the keys
// that use reads, and each write rewrites the file at once (re-reading it
// first, so that keys others saved meanwhile stay), after which reads see
// the file as written. No file stays open. Integers are written in
// decimal and read in decimal or "0x" hexadecimal; booleans are written as 1
// and 0 and read as true for any non-zero integer. A missing file, section or
// key, or a value that is no integer, yields the default. A write changes the
// file as it is at that moment, whole or not at all (see IniStores.h for how
// the file is found, locked and replaced); one that cannot reach the disk,
// and any write to a read-only file (root included), throws
// std::runtime_error "Unable to write to <path>".
//
// A file may start as a copy of another: while it does not exist, reads come
// from the seed file, and the first write starts from the seed's lines. The
// seed itself is never written.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace Platform {

// Where an ini file's bytes live: each read and each change of an IniFile
// is one access to its store.
class IniStore {
public:
    virtual ~IniStore() = default;
    // The file as it is now; empty when there is none or it may not be used.
    virtual QByteArray read() const = 0;
    // Changes the file whole: `edit` turns the file as it is now into its new
    // bytes. Throws "Unable to write to <path>" when the change is refused.
    virtual void change(const std::function<QByteArray(const QByteArray &now)> &edit) = 0;
    // The file in force, as a refusal names it.
    virtual QString path() const = 0;
};

[[noreturn]] void throwUnableToWrite(const QString &path);

class IniFile {
public:
    explicit IniFile(const QString &fileName, const QString &seedFileName = {});
    explicit IniFile(std::shared_ptr<IniStore> store);

    QString ReadString(const QString &section, const QString &ident, const QString &defaultValue) const;
    int ReadInteger(const QString &section, const QString &ident, int defaultValue) const;
    bool ReadBool(const QString &section, const QString &ident, bool defaultValue) const;
    bool ValueExists(const QString &section, const QString &ident) const;

    // Creates the file, the section and the key as needed. A value holding a
    // line break is refused (it would break the file into other keys).
    void WriteString(const QString &section, const QString &ident, const QString &value);
    void WriteInteger(const QString &section, const QString &ident, int value);
    void WriteBool(const QString &section, const QString &ident, bool value);

private:
    std::optional<QString> readValue(const QString &section, const QString &ident) const;
    const QByteArray &bytes() const;

    std::shared_ptr<IniStore> m_store;
    mutable std::optional<QByteArray> m_bytes; // the file as this use read or wrote it
};

} // namespace Platform
