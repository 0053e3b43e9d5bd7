// The ini file: defaults, number forms, case, kept lines and refused or failed writes.
#include "platform/FileUpdate.h"
#include "platform/InPlaceRewrite.h"
#include "platform/IniFile.h"
#include "platform/IntConvert.h"
#include "platform/SettingsFile.h"
#include "platform/TrustedFile.h"
#include "support/FailingSync.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

using Platform::IniFile;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("vantoro.ini")); }

    void writeRaw(const QByteArray &data) const
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    QByteArray readRaw() const
    {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static mode_t modeOf(const QString &file)
    {
        struct stat st {};
        return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
};

TEST(IntConvert, AcceptsDecimalAndHexFormsOnly)
{
    struct Case { const char *text; std::optional<int> value; };
    const Case cases[] = {
        {"17", 17}, {"0x11", 17}, {"0X1f", 31}, {"$10", 16}, {"-5", -5}, {"+7", 7}, {"  42", 42},
        {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1}, {"0xFFFFFFFF", -1},
        {"2147483648", std::nullopt}, {"99999999999", std::nullopt}, {"0x100000000", std::nullopt},
        {"", std::nullopt}, {"abc", std::nullopt}, {"12a", std::nullopt}, {"12 ", std::nullopt},
        {"0x", std::nullopt}, {"-", std::nullopt}, {"1.5", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Platform::tryStrToInt(QString::fromUtf8(c.text)), c.value) << c.text;
}

TEST(IntConvert, StrToIntNamesTheTextWhenItFails)
{
    try {
        Platform::StrToInt(QStringLiteral("12x"));
        FAIL() << "no exception";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "'12x' is not a valid integer value");
    }
}

TEST_F(IniFileTest, MissingFileYieldsDefaultsAndFirstWriteCreatesIt)
{
    IniFile ini(path());
    EXPECT_EQ(ini.ReadString("Defaults", "Comport", "none"), "none");
    EXPECT_EQ(ini.ReadInteger("Settings", "Address", 1), 1);
    EXPECT_TRUE(ini.ReadBool("Defaults", "AutoOpenFile", true));
    EXPECT_FALSE(ini.ValueExists("Defaults", "Comport"));

    ini.WriteString("Defaults", "Comport", "Com3");
    ini.WriteInteger("Settings", "Address", 17);
    ini.WriteBool("ReportOptions", "CreatePDF", false);
    EXPECT_EQ(readRaw(), "[Defaults]\nComport=Com3\n\n[Settings]\nAddress=17\n\n[ReportOptions]\nCreatePDF=0\n");
}

TEST_F(IniFileTest, ValueForms)
{
    writeRaw("[S]\nhex=0x11\nword=abc\nbig=99999999999\nempty=\nspaced =  12  \n"
             "two=2\nzero=0\ntext=true\nneg=-1\n");
    IniFile ini(path());
    struct Case { const char *key; int integer; bool boolean; };
    const Case cases[] = {
        {"hex", 17, true}, {"word", -9, true}, {"big", -9, true}, {"empty", -9, true},
        {"spaced", 12, true}, {"two", 2, true}, {"zero", 0, false}, {"text", -9, true},
        {"neg", -1, true},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ini.ReadInteger("S", c.key, -9), c.integer) << c.key;
        EXPECT_EQ(ini.ReadBool("S", c.key, true), c.boolean) << c.key;
    }
    // A non-integer falls back to the default whichever it is.
    EXPECT_FALSE(ini.ReadBool("S", "text", false));
    // An empty value is a value, not a missing key.
    EXPECT_EQ(ini.ReadString("S", "empty", "dflt"), "");
    EXPECT_EQ(ini.ReadString("S", "spaced", ""), "12");
}

TEST_F(IniFileTest, SectionsAndKeysIgnoreCase)
{
    writeRaw("[defaults]\ncomport=Com7\n");
    IniFile ini(path());
    EXPECT_EQ(ini.ReadString("DEFAULTS", "ComPort", ""), "Com7");
    ini.WriteString("Defaults", "Comport", "Com9");
    // The key is rewritten in place, as the file spells it; no second entry.
    EXPECT_EQ(readRaw(), "[defaults]\ncomport=Com9\n");
}

TEST_F(IniFileTest, WritesKeepEveryOtherLine)
{
    const QByteArray before = "; written by hand\n[Other]\nkeep=\xff\xfe raw bytes\n\n"
                              "[Defaults]\n# note\nCustomPath=/old\n\n[Tail]\nx=1";
    writeRaw(before);
    IniFile ini(path());
    ini.WriteString("Defaults", "CustomPath", "/new");
    ini.WriteString("Defaults", "Comport", "Com1");
    ini.WriteString("Tail", "y", "2");
    EXPECT_EQ(readRaw(), "; written by hand\n[Other]\nkeep=\xff\xfe raw bytes\n\n"
                         "[Defaults]\n# note\nCustomPath=/new\nComport=Com1\n\n[Tail]\nx=1\ny=2\n");
}

TEST_F(IniFileTest, CrLfFilesStayCrLf)
{
    writeRaw("[Settings]\r\nAddress=5\r\n");
    IniFile ini(path());
    EXPECT_EQ(ini.ReadInteger("Settings", "Address", 1), 5);
    ini.WriteInteger("Settings", "Address", 6);
    ini.WriteString("Defaults", "Comport", "Com2");
    EXPECT_EQ(readRaw(), "[Settings]\r\nAddress=6\r\n\r\n[Defaults]\r\nComport=Com2\r\n");
}

// A use reads the file once, for all its keys: what changes on disk meanwhile
// is seen by the next use, and a use's own writes by the use itself.
TEST_F(IniFileTest, EachUseReadsTheFileOnceAsItIsThen)
{
    IniFile first(path());
    EXPECT_EQ(first.ReadInteger("Settings", "Address", 1), 1);
    writeRaw("[Settings]\nAddress=33\n");
    EXPECT_EQ(first.ReadInteger("Settings", "Address", 1), 1);
    IniFile second(path());
    EXPECT_EQ(second.ReadInteger("Settings", "Address", 1), 33);
    writeRaw("[Settings]\nAddress=34\n");
    // A write takes the file as it is now, and the use goes on from there.
    second.WriteString("Defaults", "Comport", "Com2");
    EXPECT_EQ(second.ReadInteger("Settings", "Address", 1), 34);
    EXPECT_EQ(second.ReadString("Defaults", "Comport", ""), "Com2");
}

TEST_F(IniFileTest, RefusedWritesThrowWithThePathAndKeepTheFile)
{
    const QString unreachable = dir.filePath(QStringLiteral("no/such/folder/x.ini"));
    IniFile lost(unreachable);
    try {
        lost.WriteInteger("Settings", "Address", 2);
        FAIL() << "no exception";
    } catch (const std::runtime_error &e) {
        EXPECT_EQ(QString::fromUtf8(e.what()), QStringLiteral("Unable to write to ") + unreachable);
    }

    // A folder where the file should be is refused even for root.
    EXPECT_THROW(IniFile(dir.path()).WriteString("Defaults", "Comport", "Com1"), std::runtime_error);

    writeRaw("[Defaults]\nComport=Com1\n");
    IniFile ini(path());
    // A line break would smuggle a key of its own into the file.
    EXPECT_THROW(ini.WriteString("Defaults", "CustomPath", "/a\n[Settings]\nAddress=99"), std::runtime_error);
    EXPECT_EQ(readRaw(), "[Defaults]\nComport=Com1\n");
}

TEST_F(IniFileTest, ReadOnlyFileIsRefusedEvenForRoot)
{
    const QByteArray old = "[Settings]\nAddress=5\n";
    writeRaw(old);
    ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0444), 0);
    IniFile ini(path());
    EXPECT_THROW(ini.WriteInteger("Settings", "Address", 6), std::runtime_error);
    EXPECT_EQ(readRaw(), old);
    EXPECT_EQ(modeOf(path()), 0444u);
}

TEST_F(IniFileTest, AReplacedFileKeepsItsPermissionBits)
{
    // 0464 lacks the owner's write bit, which a save's temporary file needs;
    // only root may write such a file at all.
    for (const mode_t mode : {0600u, 0640u, 0666u, 0464u}) {
        if (mode == 0464u && ::geteuid() != 0)
            continue;
        writeRaw("[Settings]\nAddress=5\n");
        ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), mode), 0);
        IniFile(path()).WriteInteger("Settings", "Address", 6);
        EXPECT_EQ(readRaw(), "[Settings]\nAddress=6\n") << std::oct << mode;
        EXPECT_EQ(modeOf(path()), mode) << std::oct << mode;
    }
}

TEST_F(IniFileTest, AFileMayStartAsACopyOfAnother)
{
    const QString copy = dir.filePath(QStringLiteral("copy.ini"));
    const QByteArray seed = "; kept\n[Defaults]\nComport=Com4\n";
    writeRaw(seed);
    IniFile ini(copy, path());
    // Until the copy exists, it reads as the seed.
    EXPECT_EQ(ini.ReadString("Defaults", "Comport", ""), "Com4");
    EXPECT_TRUE(ini.ValueExists("Defaults", "Comport"));
    ini.WriteInteger("Settings", "Address", 9);
    QFile written(copy);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), seed + "\n[Settings]\nAddress=9\n");
    // From then on the copy is the file; the seed is never written.
    writeRaw("[Defaults]\nComport=Com8\n");
    EXPECT_EQ(ini.ReadString("Defaults", "Comport", ""), "Com4");
    ini.WriteString("Defaults", "Comport", "Com5");
    EXPECT_EQ(readRaw(), "[Defaults]\nComport=Com8\n");
    EXPECT_EQ(IniFile(copy).ReadString("Defaults", "Comport", ""), "Com5");
}

// A file replaced through a new one beside it: a write that fails part way
// (a full disk) or a sync that fails leaves the old file and nothing else.
TEST_F(IniFileTest, AWriteThatFailsPartWayKeepsTheOldFile)
{
    const QByteArray old = "[Settings]\nAddress=5\nComport=Com1\n";
    for (const bool syncFails : {false, true}) {
        SCOPED_TRACE(syncFails ? "the sync fails" : "room for a few bytes only");
        writeRaw(old);
        IniFile ini(path());
        {
            std::optional<TestSupport::FileSizeLimit> full;
            if (!syncFails)
                full.emplace(8);
            const TestSupport::FailingSync failing(syncFails);
            EXPECT_THROW(ini.WriteString("Settings", "Comport", "Com2"), std::runtime_error);
        }
        EXPECT_EQ(readRaw(), old);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("vantoro.ini")});
    }
}

// A shared file that no new file may replace is rewritten in place: whole,
// or, when the write, the truncation or the sync fails, with every old byte
// as it was.
TEST_F(IniFileTest, ARewriteInPlaceIsWholeOrLeavesTheFileAsItWas)
{
    const QByteArray old = "[Settings]\nAddress=5\nComport=Com1\n";
    const QByteArray longer = old + "CustomPath=/srv/meters/a/long/path\n";
    const QByteArray shorter = "[Settings]\nAddress=6\n";
    struct Case {
        const char *what;
        QByteArray bytes;
        rlim_t limit; // 0: none
        bool syncFails;
        bool written;
    };
    const Case cases[] = {
        {"shorter", shorter, 0, false, true},
        {"longer", longer, 0, false, true},
        {"longer, cut off part way", longer, rlim_t(old.size() + 4), false, false},
        {"cut off inside the old bytes", longer, 8, false, false},
        // Shrunk and truncated before the sync fails: the old tail comes back, not NUL bytes.
        {"shorter, the sync fails", shorter, 0, true, false},
        {"longer, the sync fails", longer, 0, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        writeRaw(old);
        const int fd = ::open(QFile::encodeName(path()).constData(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        bool ok = false;
        {
            std::optional<TestSupport::FileSizeLimit> full;
            if (c.limit)
                full.emplace(c.limit);
            const TestSupport::FailingSync failing(c.syncFails);
            ok = Platform::rewriteInPlace(fd, old, c.bytes);
        }
        ::close(fd);
        EXPECT_EQ(ok, c.written);
        EXPECT_EQ(readRaw(), c.written ? c.bytes : old);
    }
}

// No settings file is larger than a mebibyte: a larger file is no settings
// file, and one that grows past that after it was found is neither read nor
// changed.
TEST_F(IniFileTest, NoReadOrSaveTakesMoreThanAMebibyte)
{
    const QByteArray large = "[Settings]\nAddress=5\n" + QByteArray(1 << 20, ';') + "\n";
    writeRaw(large);
    EXPECT_EQ(IniFile(path()).ReadInteger("Settings", "Address", 1), 1);
    EXPECT_THROW(IniFile(path()).WriteInteger("Settings", "Address", 6), std::runtime_error);
    EXPECT_EQ(readRaw(), large);

    for (const mode_t mode : {0644u, 0666u}) { // replaced, or rewritten in place under the lock
        SCOPED_TRACE(mode == 0644u ? "a file saves replace" : "a file others may write");
        writeRaw("[Settings]\nAddress=5\n");
        ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), mode), 0);
        Platform::Place place = Platform::findFile(path(), Platform::Opening::ForWriting);
        ASSERT_EQ(place.found, Platform::Found::File);
        writeRaw(large); // in place: the same file, grown
        EXPECT_EQ(Platform::readFound(place), QByteArray());
        const auto edit = [](const QByteArray &now) { return now + "Comport=Com1\n"; };
        EXPECT_EQ(Platform::saveFound(place, edit, Platform::lockDeadline()), Platform::Saved::Refused);
        EXPECT_EQ(readRaw(), large);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("vantoro.ini")});
    }
}

TEST_F(IniFileTest, SettingsFileKeysAndDefaults)
{
    Platform::Settings::setFilePath(path());
    namespace S = Platform::Settings;
    {
        const IniFile file = S::open();
        EXPECT_EQ(S::read(file, S::Comport), "");
        EXPECT_EQ(S::read(file, S::Address), 1);
        EXPECT_EQ(S::read(file, S::CustomPath), "");
        EXPECT_EQ(S::read(file, S::PathOptionIndex), 0);
        EXPECT_TRUE(S::read(file, S::AutoOpenFile));
    }
    const auto none = S::readReportOptions();
    EXPECT_TRUE(none.createPDF);
    EXPECT_FALSE(none.createRTF || none.createCSV || none.openPDF || none.openRTF || none.openCSV);

    S::ReportOptions o;
    o.createPDF = false;
    o.openCSV = true;
    S::writeReportOptions(o);
    EXPECT_EQ(readRaw(), "[ReportOptions]\nCreatePDF=0\nCreateRTF=0\nCreateCSV=0\nOpenPDF=0\nOpenRTF=0\nOpenCSV=1\n");
    const auto back = S::readReportOptions();
    EXPECT_FALSE(back.createPDF);
    EXPECT_TRUE(back.openCSV);
    S::setFilePath({});
}

TEST(SettingsFilePath, BesideTheExecutableWithIni)
{
    using Platform::Settings::filePathFor;
    EXPECT_EQ(filePathFor("/opt/v/vantoro"), "/opt/v/vantoro.ini");
    EXPECT_EQ(filePathFor("/opt/v/vantoro.bin"), "/opt/v/vantoro.ini");
    EXPECT_EQ(filePathFor("/opt/v/my.tool.exe"), "/opt/v/my.tool.ini");
    Platform::Settings::setFilePath({});
    EXPECT_TRUE(Platform::Settings::filePath().endsWith(QStringLiteral("/platform_test_inifile.ini")));
}

} // namespace
