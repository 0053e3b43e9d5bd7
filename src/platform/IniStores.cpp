#include "platform/IniStores.h"

#include "platform/FileUpdate.h"
#include "platform/KnownFolders.h"
#include "platform/TrustedFile.h"

#include <QFileInfo>

#include <utility>

namespace Platform {

namespace {

// How often a change starts over because another file took the name.
constexpr int kAttempts = 8;
constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;

// How one try at a change ended, and which file it was.
struct Attempt {
    Saved saved;
    QString path;
};

void changeRepeatedly(const std::function<Attempt()> &attempt)
{
    Attempt last{Saved::Refused, {}};
    for (int i = 0; i < kAttempts; ++i) {
        last = attempt();
        if (last.saved != Saved::Moved)
            break;
    }
    if (last.saved != Saved::Yes)
        throwUnableToWrite(last.path);
}

Saved saveAt(Place &place, const Edit &edit)
{
    switch (place.found) {
    case Found::File:
        return saveFound(place, edit);
    case Found::Missing:
        return createFound(place, edit({}));
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

// The stand-in's first change, starting from `seed`. Its folders are made
// first; one that cannot be made shows as a refused change.
Saved startStandIn(const QString &path, const QByteArray &seed, const Edit &edit)
{
    ensureOwnerOnlyFolder(QFileInfo(path).path());
    Place standIn = findFile(path, Opening::ForWriting);
    if (standIn.found == Found::Missing)
        return createFound(standIn, edit(seed));
    return saveAt(standIn, edit); // made meanwhile: it is the file now
}

Attempt changeOnce(const QString &originalPath, const QString &standInPath, bool originalServes, const Edit &edit)
{
    Place standIn = findFile(standInPath, Opening::ForWriting);
    if (!standIn.absent)
        return {saveAt(standIn, edit), standInPath};
    Place original = findFile(originalPath, Opening::ForWriting);
    if (originalServes && serves(original))
        return {saveAt(original, edit), originalPath};
    const QByteArray seed = readFound(original);
    original = Place();
    return {startStandIn(standInPath, seed, edit), standInPath};
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
    changeRepeatedly([&] {
        Place place = findFile(m_path, Opening::ForWriting);
        return Attempt{saveAt(place, edit), m_path};
    });
}

StandInStore::StandInStore(QString original, QString standIn, bool originalServes)
    : m_original(std::move(original)), m_standIn(std::move(standIn)), m_originalServes(originalServes)
{
}

QByteArray StandInStore::read() const
{
    Place standIn = findFile(m_standIn, Opening::ForReading);
    if (!standIn.absent)
        return readFound(standIn);
    Place original = findFile(m_original, Opening::ForReading);
    return readFound(original);
}

void StandInStore::change(const Edit &edit)
{
    changeRepeatedly([&] { return changeOnce(m_original, m_standIn, m_originalServes, edit); });
}

QString StandInStore::path() const
{
    if (!findFile(m_standIn, Opening::ForReading).absent)
        return m_standIn;
    return m_originalServes && serves(findFile(m_original, Opening::ForWriting)) ? m_original : m_standIn;
}

} // namespace Platform
