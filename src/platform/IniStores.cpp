#include "platform/IniStores.h"

#include "platform/FileUpdate.h"
#include "platform/TrustedFile.h"

#include <QFile>
#include <QFileInfo>

#include <utility>

namespace Platform {

namespace {

// How often a change starts over because another file took the name.
constexpr int kAttempts = 8;
constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;
// The stand-in's line naming a file it stands in for.
constexpr const char *kRecordStart = "; Stands in for ";

// How one try at a change ended, and which file it was.
struct Attempt {
    Saved saved;
    QString path;
};

// Tries until no other file takes the name meanwhile; every try waits for
// other savers until the one deadline.
void changeRepeatedly(const std::function<Attempt(Deadline)> &attempt)
{
    const Deadline deadline = lockDeadline();
    Attempt last{Saved::Refused, {}};
    for (int i = 0; i < kAttempts; ++i) {
        last = attempt(deadline);
        if (last.saved != Saved::Moved)
            break;
    }
    if (last.saved != Saved::Yes)
        throwUnableToWrite(last.path);
}

Saved saveAt(Place &place, const Edit &edit, Deadline deadline)
{
    switch (place.found) {
    case Found::File:
        return saveFound(place, edit, deadline);
    case Found::Missing:
        return createFound(place, edit({}), deadline);
    case Found::Unusable:
        break;
    }
    return Saved::Refused;
}

bool isWritableFile(const Place &place)
{
    return place.found == Found::File && place.writable && (place.st.st_mode & kAnyWrite);
}

// May the original be the file that a change writes?
bool serves(const Place &original)
{
    switch (original.found) {
    case Found::File:
        return isWritableFile(original) && (original.throughLink || folderTakesNewFiles(original));
    case Found::Missing:
        return folderTakesNewFiles(original);
    case Found::Unusable:
        break;
    }
    return false;
}

// The stand-in's line for `original`; empty for a name no line can hold.
QByteArray recordFor(const QString &original)
{
    const QByteArray name = QFile::encodeName(original);
    return name.contains('\n') || name.contains('\r') ? QByteArray() : kRecordStart + name;
}

bool holdsRecord(const QByteArray &bytes, const QByteArray &record)
{
    if (record.isEmpty())
        return false;
    for (const QByteArray &line : bytes.split('\n'))
        if (line == record || line == record + '\r')
            return true;
    return false;
}

// The stand-in's bytes with the record of the original at their start.
Edit recording(const Edit &edit, const QByteArray &record)
{
    return [=](const QByteArray &now) {
        const QByteArray bytes = edit(now);
        if (record.isEmpty() || holdsRecord(bytes, record))
            return bytes;
        const QByteArray eol = bytes.left(bytes.indexOf('\n')).endsWith('\r') ? "\r\n" : "\n";
        return record + eol + bytes;
    };
}

// A settings file is never one that every account may write: anyone could
// have put anything in it.
Place findSettingsFile(const QString &path, Trust trust)
{
    Place place = findFile(path, Opening::ForWriting, trust);
    if (place.found == Found::File && (place.st.st_mode & S_IWOTH)) {
        const bool throughLink = place.throughLink;
        place = Place();
        place.throughLink = throughLink;
        place.refusal = Refusal::OpenToAll;
    }
    return place;
}

Place findStandIn(const QString &path) { return findSettingsFile(path, Trust::UserAlone); }

// The stand-in's first change, starting from `seed`. Its folders are made
// first, for the user alone; one that cannot be made shows as a refused change.
Saved startStandIn(const QString &path, const QByteArray &seed, const Edit &edit, Deadline deadline)
{
    makeOwnFolder(QFileInfo(path).path());
    Place standIn = findStandIn(path);
    if (standIn.found == Found::Missing)
        return createFound(standIn, edit(seed), deadline, NewFileAccess::OwnerOnly);
    return saveAt(standIn, edit, deadline); // made meanwhile: it is the file now
}

} // namespace

FileStore::FileStore(QString path) : m_path(std::move(path)) {}

QByteArray FileStore::read() const
{
    Place place = findFile(m_path, Opening::ForReading);
    return readFound(place);
}

void FileStore::change(const Edit &edit)
{
    changeRepeatedly([&](Deadline deadline) {
        Place place = findFile(m_path, Opening::ForWriting);
        return Attempt{saveAt(place, edit, deadline), m_path};
    });
}

StandInStore::StandInStore(QString original, QString standIn, bool originalServes)
    : m_original(std::move(original)), m_standIn(std::move(standIn)), m_originalServes(originalServes)
{
}

StandInStore::Choice StandInStore::choose() const
{
    Choice c;
    c.standIn = findStandIn(m_standIn);
    if (!c.standIn.absent) {
        c.standInBytes = readFound(c.standIn);
        c.recorded = !m_originalServes || holdsRecord(c.standInBytes, recordFor(m_original));
        if (!c.recorded)
            c.original = findSettingsFile(m_original, Trust::WithFolderOwner);
        c.useOriginal = !c.recorded && serves(c.original);
        return c;
    }
    c.original = findSettingsFile(m_original, Trust::WithFolderOwner);
    c.useOriginal = m_originalServes && serves(c.original);
    return c;
}

QByteArray StandInStore::read() const
{
    Choice c = choose();
    if (c.useOriginal || c.standIn.absent)
        return readFound(c.original); // an absent stand-in starts from the original
    return c.standInBytes;
}

void StandInStore::change(const Edit &edit)
{
    const Edit recorded = m_originalServes ? recording(edit, recordFor(m_original)) : edit;
    changeRepeatedly([&](Deadline deadline) {
        Choice c = choose();
        if (c.useOriginal)
            return Attempt{saveAt(c.original, edit, deadline), m_original};
        if (!c.standIn.absent)
            return Attempt{saveAt(c.standIn, recorded, deadline), m_standIn};
        // Only a file that may be used is a seed: anything else starts from the defaults.
        const QByteArray seed = readFound(c.original);
        c.original = Place();
        return Attempt{startStandIn(m_standIn, seed, recorded, deadline), m_standIn};
    });
}

QString StandInStore::path() const { return choose().useOriginal ? m_original : m_standIn; }

Refusal StandInStore::setAside() const
{
    const Choice c = choose();
    if (c.recorded || c.useOriginal || c.original.found != Found::Unusable || c.original.absent)
        return Refusal::None;
    // A file or folder this user may not read is kept from him, not refused.
    return c.original.refusal == Refusal::Unreachable ? Refusal::None : c.original.refusal;
}

bool StandInStore::standsIn() const { return choose().recorded; }

} // namespace Platform
