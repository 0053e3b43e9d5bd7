// The settings store: what SaveSettings writes, what LoadSettings restores,
// and what it does with a file it cannot trust.
#include "FakeCommDriver.h"
#include "PortsTestUtil.h"
#include "SerTestUtil.h"

#include "platform/IniFile.h"
#include "serial/SerComm.h"
#include "serial/SerSettings.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>

using namespace PortsTest;

namespace {

struct Line {
    TSerBaudrate baud;
    TSerParity parity;
    TSerDatabits databits;
    TSerStopbits stopbits;
    int port;
    TSerFlowChoice flow;
};

void apply(TSerComm &c, const Line &l)
{
    c.SetBaudrate(l.baud);
    c.SetParity(l.parity);
    c.SetDatabits(l.databits);
    c.SetStopbits(l.stopbits);
    c.SetPortNum(l.port);
    SerApplyFlowChoice(c.FlowControl(), l.flow);
}

void expectLine(TSerComm &c, const Line &l)
{
    EXPECT_EQ(int(c.Baudrate()), int(l.baud));
    EXPECT_EQ(int(c.Parity()), int(l.parity));
    EXPECT_EQ(int(c.Databits()), int(l.databits));
    EXPECT_EQ(int(c.Stopbits()), int(l.stopbits));
    EXPECT_EQ(c.PortNum(), l.port);
    EXPECT_EQ(int(SerFlowChoice(c.FlowControl())), int(l.flow));
}

// A store on a file of its own: the ini location, or the registry location
// with the user's configuration folder in a temporary folder.
class StoreFixture {
public:
    explicit StoreFixture(TSettingsLocation where)
        : m_config("XDG_CONFIG_HOME", (m_dir.path() + "/config").toUtf8())
    {
        m_where = where;
    }
    void attach(TSerComm &c, TRegRootKey root = rrCURRENTUSER) const
    {
        TSettingsStore &s = SettingsStore(c);
        s.SetLocation(m_where);
        s.SetRegRoot(root);
        s.SetKey(m_where == slINIFile ? iniPath() : QStringLiteral("Software\\Vantoro"));
        s.SetSection(QStringLiteral("Line"));
    }
    QString iniPath() const { return m_dir.path() + "/line.ini"; }

private:
    QTemporaryDir m_dir;
    EnvGuard m_config;
    TSettingsLocation m_where = slINIFile;
};

const Line kDefaultsLine{br1200, paNone, db8, sb1, 0, fcNone};

} // namespace

TEST(SettingsStore, SaveThenLoadRestoresTheLine)
{
    const Line lines[] = {
        {br9600, paEven, db7, sb2, 12, fcDtrRts},
        {br256000, paSpace, db5, sb15, 254, fcXonXoff},
        {brUser, paOdd, db4, sb1, 0, fcNone},
    };
    const struct {
        TSettingsLocation where;
        TRegRootKey root;
    } places[] = {{slINIFile, rrCURRENTUSER}, {slRegistry, rrCURRENTUSER}, {slRegistry, rrLOCALMACHINE}};
    for (const auto &p : places) {
        for (const Line &l : lines) {
            SCOPED_TRACE(testing::Message() << "location " << int(p.where) << " root " << int(p.root)
                                            << " port " << l.port);
            StoreFixture fx(p.where);
            TSerComm saved;
            fx.attach(saved, p.root);
            apply(saved, l);
            EXPECT_TRUE(SaveSettings(saved));

            TSerComm loaded;
            fx.attach(loaded, p.root);
            EXPECT_TRUE(LoadSettings(loaded));
            expectLine(loaded, l);
        }
    }
}

TEST(SettingsStore, SaveWritesEveryKeyInItsOrder)
{
    StoreFixture fx(slINIFile);
    TSerComm comm;
    fx.attach(comm);
    comm.SetBaudrate(br9600);
    comm.SetDatabits(db8);
    comm.SetPortNum(7);
    comm.FlowControl().SetXonXoffIn(true);
    comm.FlowControl().SetControlRts(rtsEnabled); // DTR/RTS wins over Xon/Xoff
    ASSERT_TRUE(SaveSettings(comm));
    QFile f(fx.iniPath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll()).remove('\r');
    EXPECT_EQ(text, "[Line]\nBAUDRATE=7\nPARITY=0\nDATABITS=4\nPORTNUM=7\nSTOPBITS=0\n"
                    "COMNAME=COM7\nFLOWCONTROL=1\nFLAG=1\n");
}

TEST(SettingsStore, TheRegistryLocationKeepsItsKeyPathAndRoot)
{
    StoreFixture fx(slRegistry);
    TSerComm comm;
    fx.attach(comm, rrLOCALMACHINE);
    comm.SetPortNum(3);
    ASSERT_TRUE(SaveSettings(comm));
    const Platform::IniFile machine(SerRegistryFile(rrLOCALMACHINE));
    EXPECT_EQ(machine.ReadString("Software\\Vantoro\\Line", "COMNAME", {}), "COM3");
    // The other root holds nothing, so a load from it finds no settings.
    EXPECT_FALSE(QFile::exists(SerRegistryFile(rrCURRENTUSER)));
    TSerComm other;
    fx.attach(other, rrCURRENTUSER);
    EXPECT_FALSE(LoadSettings(other));
}

TEST(SettingsStore, LoadWithoutTheFlagChangesNothing)
{
    const char *files[] = {
        nullptr, // no file at all
        "[Line]\nBAUDRATE=7\nPORTNUM=4\n",
        "[Line]\nFLAG=0\nBAUDRATE=7\nPORTNUM=4\n",
        "[Line]\nFLAG=2\nBAUDRATE=7\nPORTNUM=4\n",
        "[Other]\nFLAG=1\nBAUDRATE=7\n",
    };
    for (const char *content : files) {
        SCOPED_TRACE(content ? content : "no file");
        StoreFixture fx(slINIFile);
        if (content) {
            QFile f(fx.iniPath());
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        TSerComm comm;
        fx.attach(comm);
        EXPECT_FALSE(LoadSettings(comm));
        expectLine(comm, kDefaultsLine);
    }
}

TEST(SettingsStore, TheFlagAloneSetsEveryOrdinalToZero)
{
    StoreFixture fx(slINIFile);
    {
        QFile f(fx.iniPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Line]\nFLAG=1\n");
    }
    TSerComm comm;
    fx.attach(comm);
    comm.SetPortNum(9);
    SerApplyFlowChoice(comm.FlowControl(), fcDtrRts);
    EXPECT_TRUE(LoadSettings(comm));
    expectLine(comm, {brUser, paNone, db4, sb1, 0, fcNone});
}

TEST(SettingsStore, StoredValuesTheComponentCannotHoldKeepTheCurrentOnes)
{
    const Line current{br19200, paOdd, db7, sb2, 6, fcXonXoff};
    const struct {
        const char *lines;
        Line expected;
    } cases[] = {
        {"BAUDRATE=16\n", {br19200, paNone, db4, sb1, 0, fcNone}},
        {"BAUDRATE=16\nPARITY=2\nDATABITS=3\nPORTNUM=4\nSTOPBITS=1\nFLOWCONTROL=1\n",
         {br19200, paEven, db7, sb15, 4, fcDtrRts}},
        {"BAUDRATE=-1\nPARITY=5\nDATABITS=5\nPORTNUM=-4\nSTOPBITS=3\nFLOWCONTROL=3\n", current},
        {"BAUDRATE=0x100\nPARITY=255\nDATABITS=-1\nPORTNUM=-2147483648\nSTOPBITS=-3\nFLOWCONTROL=-1\n",
         current},
        // Texts that are no integer read as the default 0, as any missing key.
        {"BAUDRATE=fast\nPARITY=0\nDATABITS=4\nPORTNUM=2\nSTOPBITS=0\nFLOWCONTROL=x\n",
         {brUser, paNone, db8, sb1, 2, fcNone}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.lines);
        StoreFixture fx(slINIFile);
        {
            QFile f(fx.iniPath());
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(QByteArray("[Line]\nFLAG=1\n") + c.lines);
        }
        TSerComm comm;
        fx.attach(comm);
        apply(comm, current);
        EXPECT_TRUE(LoadSettings(comm));
        expectLine(comm, c.expected);
    }
}

TEST(SettingsStore, AnEmptyKeyAndSectionAreFilledOnceAndKept)
{
    TSerComm comm;
    comm.setObjectName("MeterComm");
    TSettingsStore &store = SettingsStore(comm);
    EXPECT_EQ(&store, &SettingsStore(comm)); // one store per component
    EXPECT_EQ(store.Location(), slINIFile);
    EXPECT_EQ(store.RegRoot(), rrCURRENTUSER);
    EXPECT_FALSE(LoadSettings(comm)); // no such file next to the program
    EXPECT_EQ(store.Key(), QCoreApplication::applicationFilePath() + ".INI");
    EXPECT_EQ(store.Section(), "MeterComm");

    // A component without a name gets its class name as the section.
    StoreFixture fx(slINIFile);
    TSerComm unnamed;
    SettingsStore(unnamed).SetKey(fx.iniPath());
    ASSERT_TRUE(SaveSettings(unnamed));
    EXPECT_EQ(SettingsStore(unnamed).Section(), "TSerComm");
    EXPECT_EQ(Platform::IniFile(fx.iniPath()).ReadInteger("TSerComm", "FLAG", 0), 1);
    EXPECT_NE(&SettingsStore(unnamed), &store);
}

TEST(SettingsStore, AssignCopiesOnlyFromAnotherStore)
{
    TSettingsStore a, b;
    a.SetKey("k");
    a.SetSection("s");
    a.SetLocation(slRegistry);
    a.SetRegRoot(rrLOCALMACHINE);
    b.Assign(&a);
    EXPECT_EQ(b.Key(), "k");
    EXPECT_EQ(b.Section(), "s");
    EXPECT_EQ(b.Location(), slRegistry);
    EXPECT_EQ(b.RegRoot(), rrLOCALMACHINE);
    TSerBuffers other;
    EXPECT_NO_THROW(b.Assign(&other));
    EXPECT_EQ(b.Key(), "k");
}

TEST(SettingsStore, AFileThatCannotBeWrittenRaises)
{
    QTemporaryDir dir;
    TSerComm comm;
    SettingsStore(comm).SetKey(dir.path() + "/no/such/folder/line.ini");
    try {
        SaveSettings(comm);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error &e) {
        EXPECT_EQ(std::string(e.what()).rfind("Unable to write to ", 0), 0u) << e.what();
    }
}

TEST(SettingsStore, LoadOnAnOpenPortSetsTheLineThenRefusesThePort)
{
    SerialTest::FakeCommDriver fake;
    StoreFixture fx(slINIFile);
    {
        QFile f(fx.iniPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Line]\nFLAG=1\nBAUDRATE=9\nPARITY=2\nDATABITS=4\nPORTNUM=5\nSTOPBITS=0\n");
    }
    auto comm = SerialTest::fakeComm(1);
    SettingsStore(*comm).SetKey(fx.iniPath());
    SettingsStore(*comm).SetSection("Line");
    comm->Open();
    EXPECT_EQ(SerialTest::serError([&] { LoadSettings(*comm); }), SerMsg::PortOpen);
    EXPECT_EQ(comm->Baudrate(), br19200);
    EXPECT_EQ(comm->Parity(), paEven);
    EXPECT_EQ(comm->PortNum(), 1);
    comm->Close();
}
