#include "platform/IniFile.h"

#include "platform/IniStores.h"
#include "platform/IntConvert.h"

#include <QList>
#include <stdexcept>
#include <utility>

namespace Platform {

namespace {

// The file as lines of bytes, so lines we do not touch go back byte for byte
// whatever their encoding. Each line keeps a trailing '\r' if it had one.
struct Lines {
    QList<QByteArray> lines;
    QByteArray eol = "\n";
    bool endsWithNewline = true;
};

Lines parse(const QByteArray &data)
{
    Lines result;
    if (data.isEmpty())
        return result;
    result.endsWithNewline = data.endsWith('\n');
    result.lines = data.split('\n');
    if (result.endsWithNewline)
        result.lines.removeLast();
    if (!result.lines.isEmpty() && result.lines.first().endsWith('\r'))
        result.eol = "\r\n";
    return result;
}

QString decode(const QByteArray &bytes) { return QString::fromUtf8(bytes).trimmed(); }

bool isComment(const QByteArray &trimmed) { return trimmed.startsWith(';') || trimmed.startsWith('#'); }

// The name of a "[Section]" line, or nothing for other lines.
std::optional<QString> sectionName(const QByteArray &line)
{
    const QByteArray t = line.trimmed();
    if (!t.startsWith('['))
        return std::nullopt;
    const qsizetype close = t.indexOf(']');
    if (close < 0)
        return std::nullopt;
    return decode(t.mid(1, close - 1));
}

bool sameName(const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// Where a key lives: the section's header line, the key's line, and the
// line after the section's last entry (where a new key goes).
struct KeyPlace {
    qsizetype section = -1;
    qsizetype key = -1;
    qsizetype insertAt = -1;
};

KeyPlace find(const Lines &file, const QString &section, const QString &ident)
{
    KeyPlace place;
    for (qsizetype i = 0; i < file.lines.size(); ++i) {
        const QByteArray &line = file.lines[i];
        if (auto name = sectionName(line)) {
            if (place.section >= 0)
                break; // the first section of that name is the one that counts
            if (sameName(*name, section)) {
                place.section = i;
                place.insertAt = i + 1;
            }
            continue;
        }
        if (place.section < 0)
            continue;
        const QByteArray t = line.trimmed();
        if (t.isEmpty() || isComment(t))
            continue;
        place.insertAt = i + 1;
        const qsizetype eq = line.indexOf('=');
        if (place.key < 0 && eq >= 0 && sameName(decode(line.left(eq)), ident))
            place.key = i;
    }
    return place;
}

QByteArray serialise(const Lines &file)
{
    QByteArray data;
    for (qsizetype i = 0; i < file.lines.size(); ++i) {
        data += file.lines[i];
        if (i + 1 < file.lines.size() || file.endsWithNewline)
            data += '\n';
    }
    return data;
}

// The file's bytes with the key set to the value: created with its section
// where it is missing, else set in the line that holds it.
QByteArray withValue(const QByteArray &now, const QString &section, const QString &ident, const QString &value)
{
    Lines file = parse(now);
    const KeyPlace place = find(file, section, ident);
    const QByteArray cr = file.eol.size() > 1 ? QByteArray("\r") : QByteArray();

    if (place.key >= 0) {
        QByteArray &line = file.lines[place.key];
        // Keep the key as the file spells it, with its own spacing.
        line = line.left(line.indexOf('=') + 1) + value.toUtf8() + cr;
    } else {
        const QByteArray entry = ident.toUtf8() + '=' + value.toUtf8() + cr;
        if (place.section >= 0) {
            file.lines.insert(place.insertAt, entry);
        } else {
            if (!file.lines.isEmpty() && !file.lines.last().trimmed().isEmpty())
                file.lines.append(cr);
            file.lines.append('[' + section.toUtf8() + ']' + cr);
            file.lines.append(entry);
        }
    }
    file.endsWithNewline = true;
    return serialise(file);
}

} // namespace

void throwUnableToWrite(const QString &path)
{
    throw std::runtime_error(QStringLiteral("Unable to write to %1").arg(path).toStdString());
}

IniFile::IniFile(const QString &fileName, const QString &seedFileName)
    : m_store(seedFileName.isEmpty() ? std::shared_ptr<IniStore>(std::make_shared<FileStore>(fileName))
                                     : std::make_shared<StandInStore>(seedFileName, fileName, false))
{
}

IniFile::IniFile(std::shared_ptr<IniStore> store) : m_store(std::move(store)) {}

const QByteArray &IniFile::bytes() const
{
    if (!m_bytes)
        m_bytes = m_store->read();
    return *m_bytes;
}

std::optional<QString> IniFile::readValue(const QString &section, const QString &ident) const
{
    const Lines file = parse(bytes());
    const KeyPlace place = find(file, section, ident);
    if (place.key < 0)
        return std::nullopt;
    const QByteArray &line = file.lines[place.key];
    return decode(line.mid(line.indexOf('=') + 1));
}

QString IniFile::ReadString(const QString &section, const QString &ident, const QString &defaultValue) const
{
    return readValue(section, ident).value_or(defaultValue);
}

int IniFile::ReadInteger(const QString &section, const QString &ident, int defaultValue) const
{
    const auto text = readValue(section, ident);
    return text ? StrToIntDef(*text, defaultValue) : defaultValue;
}

bool IniFile::ReadBool(const QString &section, const QString &ident, bool defaultValue) const
{
    return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

bool IniFile::ValueExists(const QString &section, const QString &ident) const
{
    return readValue(section, ident).has_value();
}

void IniFile::WriteString(const QString &section, const QString &ident, const QString &value)
{
    if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
        throwUnableToWrite(m_store->path());
    QByteArray written;
    m_store->change([&](const QByteArray &now) { return written = withValue(now, section, ident, value); });
    m_bytes = written;
}

void IniFile::WriteInteger(const QString &section, const QString &ident, int value)
{
    WriteString(section, ident, QString::number(value));
}

void IniFile::WriteBool(const QString &section, const QString &ident, bool value)
{
    WriteString(section, ident, value ? QStringLiteral("1") : QStringLiteral("0"));
}

} // namespace Platform
