// A console test's private world: its own settings file (which blockIni()
// makes refuse every write), known folders, a fake port map, a scripted
// prompter and a shell opener that records (and refuses while `openRefused`
// is set, as a desktop without an opener does).
#pragma once

#include "platform/KnownFolders.h"
#include "platform/PortMap.h"
#include "platform/SettingsFile.h"
#include "platform/ShellOpen.h"
#include "support/FailingSync.h"
#include "support/ScriptedPrompter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>
#include <initializer_list>
#include <optional>
#include <vector>

namespace TestSupport {

class ConsoleTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    std::vector<QUrl> opened;
    bool openRefused = false;
    std::optional<FailingSync> refusingDisk;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QCoreApplication::setApplicationName(QStringLiteral("Vantoro"));
        Platform::Settings::setFilePath(iniPath());
        for (int i = 0; i < Platform::KnownFolderCount; ++i) {
            const QString folder = dir.filePath(QStringLiteral("known%1").arg(i));
            QDir().mkpath(folder);
            Platform::setKnownFolderOverride(i, folder);
        }
        Platform::setShellOpenHandler([this](const QUrl &url) {
            opened.push_back(url);
            return !openRefused;
        });
        setPorts({});
    }

    void TearDown() override
    {
        unblockIni();
        Platform::Settings::setFilePath({});
        Platform::clearKnownFolderOverrides();
        Platform::setShellOpenHandler({});
        qunsetenv(Platform::PortMapVariable);
    }

    QString iniPath() const { return dir.filePath(QStringLiteral("vantoro.ini")); }
    QString known(int i) const { return dir.filePath(QStringLiteral("known%1").arg(i)); }

    // Present ports: each number maps to a file of its own, which exists.
    void setPorts(std::initializer_list<int> numbers)
    {
        QDir().mkpath(dir.filePath(QStringLiteral("dev")));
        QStringList entries;
        for (int n : numbers) {
            const QString device = dir.filePath(QStringLiteral("dev/tty%1").arg(n));
            QFile f(device);
            f.open(QIODevice::WriteOnly);
            entries << QStringLiteral("%1=%2").arg(n).arg(device);
        }
        qputenv(Platform::PortMapVariable, entries.join(QLatin1Char(';')).toUtf8());
    }

    void writeIni(const QByteArray &data) const
    {
        QFile f(iniPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    QByteArray ini() const
    {
        QFile f(iniPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    Platform::IniFile settings() const { return Platform::IniFile(iniPath()); }
    // Makes the settings file unwritable (a folder stands in its place).
    // From now on the disk refuses every write of the settings file (its sync
    // fails), which is refused as a whole: the file stays as it was.
    void blockIni() { refusingDisk.emplace(); }
    void unblockIni() { refusingDisk.reset(); }
    QString refusedText() const { return QStringLiteral("Unable to write to ") + iniPath(); }
    // What the technician is told about a file, folder or link that no program opens.
    static QString unopenedText(const QString &target)
    {
        const char *kind = target.contains(QLatin1String("://")) ? "links of this kind"
                           : QFileInfo(target).isDir()             ? "folders"
                                                                   : "files of this kind";
        return QStringLiteral("Could not open \"%1\".\n"
                              "No program is set to open %2; set one in the desktop's settings.")
            .arg(target, QLatin1String(kind));
    }
};

} // namespace TestSupport
