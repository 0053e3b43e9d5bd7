// The report's letters in its files: every character of the memo reaches the
// PDF (drawn from the embedded fonts and extracted again as entered), the
// file stays sound and small, an all-Latin report looks as it did when it
// was set in the standard Helvetica faces, and a missing font file is a
// clear failure.
#include "PdfProbe.h"
#include "ReportFixture.h"
#include "ToolRunner.h"
#include "Z960ReportFixture.h"
#include "report/RptFonts.h"
#include "report/RptRtfExport.h"
#include "support/RtfReader.h"
#include "support/ScriptedPrompter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <functional>
#include <memory>

using namespace Z960ReportFixture;

namespace {

const QString kName = QStringLiteral("\u0141ukasz Dvo\u0159\u00e1k");
const QString kSite = QStringLiteral("\u041c\u043e\u0441\u0442 7, \u00d8resund");
// Liberation Sans lacks the check mark and the arrow, which DejaVu Sans has;
// neither has the Chinese letters, which print from fontconfig's choice.
const QString kSymbols = QStringLiteral("Seal \u2713, flow \u2192 weir, \u4e2d\u6587 tag");
const QString kNote = QStringLiteral("\u0396\u03c5\u03b3\u03cc\u03c2 \u03b5\u03bb\u03ad\u03b3\u03c7\u03bf\u03c5 OK, "
                                     "\u0160KODA \u010derpadlo, \u00c4rger \u00fcber \u00d6lstand");

class ReportFonts : public testing::Test {
protected:
    ReportFonts() : port(nullptr, 1)
    {
        fillImages(port);
        port.portOpen = true;
    }
    ~ReportFonts() override
    {
        Rpt::setFontLocator({});
        Rpt::setFontConfigFile(QString());
    }

    static void needTools(std::initializer_list<const char *> tools)
    {
        for (const char *t : tools)
            if (!ToolRunner::available(QString::fromLatin1(t)))
                GTEST_SKIP() << t << " not installed";
    }

    // Makes a report; its save dialogs are answered with these names in turn.
    std::unique_ptr<TZ960Report> run(const QString &name, const QString &site, const QStringList &notes,
                                     std::initializer_list<const char *> files = {"r.pdf", "r.rtf", "r.csv"})
    {
        for (const char *f : files)
            prompter.saveFiles.push_back(path(f));
        return std::make_unique<TZ960Report>(nullptr, &port, env.dir.path().toStdString(), name.toStdString(),
                                             "DAV01234", site.toStdString(), notes, meter.ops());
    }

    QString path(const char *name) const { return env.path(QString::fromLatin1(name)); }

    QString pdfText(const QString &pdf) const
    {
        const auto text = ToolRunner::run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        EXPECT_TRUE(text.has_value()) << "pdftotext rejected " << pdf.toStdString();
        return text.value_or(QString());
    }

    // The pages as grey pictures at 72 dpi. A font the file names without
    // embedding it is drawn with fonts.conf's fonts.
    std::vector<QImage> pictures(const QString &pdf, const QString &prefix, const QString &fontsConf = QString()) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!fontsConf.isEmpty())
            env.insert(QStringLiteral("FONTCONFIG_FILE"), fontsConf);
        const QString root = this->env.path(prefix);
        EXPECT_TRUE(ToolRunner::run(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("72"),
                                                                QStringLiteral("-gray"), QStringLiteral("-png"), pdf,
                                                                root},
                                    env)
                        .has_value());
        std::vector<QImage> pages;
        for (const QString &f : QDir(this->env.dir.path()).entryList({prefix + QStringLiteral("-*.png")}, QDir::Files,
                                                                      QDir::Name))
            pages.push_back(QImage(this->env.path(f)).convertToFormat(QImage::Format_Grayscale8));
        return pages;
    }

    ReportEnvironment env;
    TestSupport::ScriptedPrompter prompter;
    Z960Port port;
    FakeMeter meter;
};

} // namespace

TEST_F(ReportFonts, EveryLetterOfTheMemoReachesThePdfAsEntered)
{
    needTools({"pdftotext", "pdffonts", "qpdf"});
    env.options(true, true, true);
    const auto report = run(kName, kSite, {kNote, kSymbols});
    ASSERT_TRUE(report->generated());
    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();

    const QString pdf = path("r.pdf");
    const QString text = pdfText(pdf);
    for (const QString &entered : {kName, kSite, kNote, kSymbols})
        EXPECT_TRUE(text.contains(entered)) << entered.toStdString() << " not in:\n" << text.toStdString();
    EXPECT_FALSE(text.contains(QLatin1Char('?'))) << text.toStdString();

    // Drawn from embedded subsets only (TrueType, or CFF where the Chinese
    // letters' font has such outlines); the check mark Liberation Sans lacks
    // from DejaVu Sans.
    const auto fonts = ToolRunner::run(QStringLiteral("pdffonts"), {pdf});
    ASSERT_TRUE(fonts.has_value());
    const QStringList rows = fonts->split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(2);
    ASSERT_FALSE(rows.isEmpty());
    for (const QString &row : rows)
        EXPECT_TRUE(row.contains(QRegularExpression(QStringLiteral("CID (TrueType|Type 0C)\\s+Identity-H\\s+yes yes yes"))))
            << row.toStdString();
    EXPECT_TRUE(fonts->contains(QStringLiteral("+LiberationSans "))) << fonts->toStdString();
    EXPECT_TRUE(fonts->contains(QStringLiteral("+LiberationSans-Bold "))) << fonts->toStdString();
    EXPECT_TRUE(fonts->contains(QStringLiteral("+DejaVuSans "))) << fonts->toStdString();

    const auto check = ToolRunner::run(QStringLiteral("qpdf"), {QStringLiteral("--check"), pdf});
    ASSERT_TRUE(check.has_value()) << "qpdf --check found faults";
    EXPECT_TRUE(check->contains(QStringLiteral("No syntax or stream encoding errors found"))) << check->toStdString();
    EXPECT_LT(QFileInfo(pdf).size(), 100 * 1024);

    // The three files of one report agree.
    QFile csv(path("r.csv")), rtf(path("r.rtf"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    ASSERT_TRUE(rtf.open(QIODevice::ReadOnly));
    const QString csvText = QString::fromUtf8(csv.readAll());
    const QByteArray rtfBytes = rtf.readAll();
    for (const QString &entered : {kName, kSite, kNote}) {
        EXPECT_TRUE(csvText.contains(entered)) << entered.toStdString();
        EXPECT_TRUE(rtfBytes.contains(Rpt::rtfText(entered))) << entered.toStdString();
    }
}

TEST_F(ReportFonts, AnAllLatinReportLooksAsItDidInTheStandardFaces)
{
    needTools({"pdftoppm"});
    // The earlier report named Helvetica without embedding it, and a reader
    // drew it with a face of Helvetica's widths. Drawn with Liberation Sans,
    // its glyphs are those the report now embeds, so only the layout can differ.
    const QString fontsConf = env.path(QStringLiteral("fonts.conf"));
    QFile conf(fontsConf);
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n"
               "<dir>/usr/share/fonts/truetype/liberation2</dir>\n<cachedir>" +
               env.path(QStringLiteral("fc-cache")).toUtf8() +
               "</cachedir>\n<alias><family>Helvetica</family><prefer><family>Liberation Sans</family></prefer>"
               "</alias>\n</fontconfig>\n");
    conf.close();
    env.options(true, false, false);
    run(QStringLiteral("Jo Bloggs"), QStringLiteral("North Weir (Caf\u00e9 \u20ac5)"),
        ReportFixture::Feed::typicalLatin()[ReportFixture::Notes]);
    const QString before = QFileInfo(QString::fromUtf8(__FILE__)).dir().filePath(
        QStringLiteral("golden/latin-report-helvetica.pdf"));
    const std::vector<QImage> was = pictures(before, QStringLiteral("before"), fontsConf);
    const std::vector<QImage> now = pictures(path("r.pdf"), QStringLiteral("after"));
    ASSERT_EQ(was.size(), 4u);
    ASSERT_EQ(now.size(), was.size());
    for (std::size_t p = 0; p < was.size(); ++p) {
        ASSERT_EQ(now[p].size(), was[p].size()) << "page " << p + 1;
        // A line moved by a fraction of a point, a wrap or a break in
        // another place changes hundreds of pixels; the same glyphs at the
        // same places change none.
        int differ = 0;
        for (int y = 0; y < was[p].height(); ++y) {
            const uchar *a = was[p].constScanLine(y), *b = now[p].constScanLine(y);
            for (int x = 0; x < was[p].width(); ++x)
                differ += std::abs(int(a[x]) - int(b[x])) > 64;
        }
        EXPECT_LE(differ, 40) << "page " << p + 1;
    }
}

namespace {

const QString kLiberation = QStringLiteral("/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf");
const QString kLiberationBold = QStringLiteral("/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf");
const QString kDejaVu = QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
const QString kDejaVuBold = QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf");

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A fontconfig configuration that knows only these folders, with its cache
// beside it or in the folder given, and the rules of the folder given.
QString fontsConf(const QString &at, const QStringList &dirs, const QString &cacheDir = QString(),
                  const QString &rules = QString())
{
    QByteArray conf("<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n");
    for (const QString &d : dirs)
        conf += "<dir>" + d.toUtf8() + "</dir>\n";
    if (!rules.isEmpty())
        conf += "<include ignore_missing=\"yes\">" + rules.toUtf8() + "</include>\n";
    conf += "<cachedir>" + (cacheDir.isEmpty() ? at + QStringLiteral(".cache") : cacheDir).toUtf8() +
            "</cachedir>\n</fontconfig>\n";
    writeFile(at, conf);
    return at;
}

// The file with its head table's version set to this one (16.16 fixed).
QByteArray withVersion(QByteArray font, uint32_t version)
{
    const auto be16 = [&](int at) { return uint8_t(font[at]) << 8 | uint8_t(font[at + 1]); };
    const auto be32 = [&](int at) { return uint32_t(be16(at)) << 16 | uint32_t(be16(at + 2)); };
    for (int i = 0, n = be16(4); i < n; ++i)
        if (font.mid(12 + 16 * i, 4) == "head") {
            const int head = static_cast<int>(be32(12 + 16 * i + 8));
            for (int b = 0; b < 4; ++b)
                font[head + 4 + b] = static_cast<char>(version >> (24 - 8 * b));
        }
    return font;
}

// The file with its glyph data ("glyf" table) overwritten by fill, byte by
// byte from the seed on: the same size, every table in bounds.
QByteArray withGlyphData(QByteArray font, const std::function<char(int)> &fill)
{
    const auto be16 = [&](int at) { return uint8_t(font[at]) << 8 | uint8_t(font[at + 1]); };
    const auto be32 = [&](int at) { return uint32_t(be16(at)) << 16 | uint32_t(be16(at + 2)); };
    for (int i = 0, n = be16(4); i < n; ++i)
        if (font.mid(12 + 16 * i, 4) == "glyf") {
            const int at = static_cast<int>(be32(12 + 16 * i + 8)), length = static_cast<int>(be32(12 + 16 * i + 12));
            for (int b = 0; b < length; ++b)
                font[at + b] = fill(b);
        }
    return font;
}

} // namespace

TEST_F(ReportFonts, AFontThatCannotBeUsedSpoilsOnlyThePdfAndSaysWhy)
{
    needTools({"pdftotext", "pdffonts"});
    const QString damaged = path("damaged/LiberationSans-Regular.ttf");
    writeFile(damaged, readFile(kLiberation).left(120000));  // cut short
    const QString damagedDejaVu = path("damaged/DejaVuSans.ttf");
    writeFile(damagedDejaVu, readFile(kDejaVu).left(300000));
    const QString blank = path("blank/LiberationSans-Regular.ttf");
    writeFile(blank, withGlyphData(readFile(kLiberation), [](int) { return '\0'; }));
    const QString scrambled = path("scrambled/LiberationSans-Regular.ttf");
    writeFile(scrambled, withGlyphData(readFile(kLiberation), [](int b) { return static_cast<char>(b * 7919 % 251); }));
    const QString impostor = path("impostor/LiberationSans-Regular.ttf");
    writeFile(impostor, readFile(kDejaVu));
    // fontconfig's choices from Liberation Sans and the CJK font only: the
    // check mark is then in no font the report may use.
    const QString conf = fontsConf(path("fonts.conf"), {QStringLiteral("/usr/share/fonts/truetype/liberation2"),
                                                         QStringLiteral("/usr/share/fonts/truetype/wqy")});
    struct Case {
        const char *what;
        QString regular, dejaVu;  // the files found for Liberation Sans and DejaVu Sans
        QString note;
        QStringList named;        // in the message; empty: no message, and a PDF file
    } cases[] = {
        {"Liberation Sans missing", path("none.ttf"), kDejaVu, QStringLiteral("Replaced the coil cable."),
         {QStringLiteral("Liberation Sans"), path("none.ttf"), QStringLiteral("fonts-liberation2")}},
        {"Liberation Sans cut short", damaged, kDejaVu, QStringLiteral("Replaced the coil cable."),
         {damaged, QStringLiteral("fonts-liberation2"), QStringLiteral("cut short")}},
        {"Liberation Sans with its glyph data blank (same size, tables in bounds)", blank, kDejaVu,
         QStringLiteral("Replaced the coil cable."),
         {blank, QStringLiteral("fonts-liberation2"), QStringLiteral("would print blank")}},
        {"Liberation Sans with its glyph data scrambled", scrambled, kDejaVu, QStringLiteral("Replaced the coil cable."),
         {scrambled, QStringLiteral("fonts-liberation2"), QStringLiteral("glyph")}},
        {"another family at Liberation's place", impostor, kDejaVu, QStringLiteral("Replaced the coil cable."),
         {impostor, QStringLiteral("fonts-liberation2"), QStringLiteral("is DejaVu Sans, not the report's font Liberation Sans")}},
        {"DejaVu Sans cut short, a character it is asked for", kLiberation, damagedDejaVu, QStringLiteral("Seal \u2713"),
         {damagedDejaVu, QStringLiteral("fonts-dejavu-core"), QStringLiteral("cut short")}},
        {"DejaVu Sans not installed, not needed", kLiberation, QString(), QStringLiteral("Replaced the coil cable."), {}},
        {"DejaVu Sans not installed: fontconfig's choice or a box", kLiberation, QString(),
         QStringLiteral("Seal \u2713, \u6d41\u91cf OK"), {}},
    };
    Rpt::setFontConfigFile(conf);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        for (const char *f : {"r.pdf", "r.rtf", "r.csv"})
            QFile::remove(path(f));
        prompter.messages.clear();
        prompter.saveRequests.clear();
        prompter.saveFiles.clear();
        Rpt::setFontLocator([&c](const QString &family, bool bold) {
            if (family == QLatin1String("Liberation Sans"))
                return bold ? kLiberationBold : c.regular;
            return c.dejaVu.isEmpty() ? QString() : bold ? kDejaVuBold : c.dejaVu;
        });
        env.options(true, true, true);
        const bool pdf = c.named.isEmpty();
        const auto report = pdf ? run(QStringLiteral("Jo Bloggs"), QStringLiteral("North Weir"), {c.note})
                                : run(QStringLiteral("Jo Bloggs"), QStringLiteral("North Weir"), {c.note}, {"r.rtf", "r.csv"});
        QStringList asked;
        for (const auto &r : prompter.saveRequests)
            asked << r.defaultExt;
        EXPECT_EQ(asked, pdf ? QStringList({"pdf", "rtf", "csv"}) : QStringList({"rtf", "csv"}));
        EXPECT_TRUE(report->generated());
        EXPECT_EQ(QFile::exists(path("r.pdf")), pdf);
        EXPECT_TRUE(QFile::exists(path("r.rtf"))) << "the RTF file needs no embedded font";
        EXPECT_TRUE(QFile::exists(path("r.csv")));
        EXPECT_TRUE(TestSupport::readRtf(readFile(path("r.rtf"))).text().contains(c.note));
        if (pdf) {
            EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
            EXPECT_TRUE(pdfText(path("r.pdf")).contains(c.note));
            const auto fonts = ToolRunner::run(QStringLiteral("pdffonts"), {path("r.pdf")});
            EXPECT_FALSE(fonts.value_or(QString()).contains(QStringLiteral("DejaVu")));
            continue;
        }
        ASSERT_EQ(prompter.messages.size(), 1u) << prompter.texts().join('|').toStdString();
        const QString shown = prompter.messages.front().text;
        EXPECT_TRUE(shown.startsWith(QString::fromLatin1(TZ960Report::kFontFailed))) << shown.toStdString();
        for (const QString &n : c.named)
            EXPECT_TRUE(shown.contains(n)) << shown.toStdString();
    }
    Rpt::setFontConfigFile(QString());
}

// A font of fontconfig's choice that cannot be used is passed over for the
// next font that has the character. Where it was the only one (its glyph
// data damaged, or the file cut short after fontconfig listed it), its
// letters would print as boxes: no PDF file is written, and the message
// names the file and what is wrong with it, as for the report's own fonts.
TEST_F(ReportFonts, ADamagedFontOfFontconfigsChoiceIsPassedOverOrSaidWhereItWasTheOnlyOne)
{
    needTools({"pdftotext", "pdffonts"});
    // Damaged DejaVu Sans files that say they are newer, so that fontconfig takes them first.
    const QByteArray newer = withVersion(readFile(kDejaVu), 0x00630000);
    const QString damaged = path("damaged/DejaVuSans.ttf");
    writeFile(damaged, withGlyphData(newer, [](int) { return '\0'; }));
    const QString cut = path("cut/DejaVuSans.ttf");
    writeFile(cut, newer);  // cut short once fontconfig has read it
    const QString intact = path("intact/DejaVuSans.ttf");
    writeFile(intact, readFile(kDejaVu));
    Rpt::setFontLocator([](const QString &family, bool bold) {
        return family == QLatin1String("Liberation Sans") ? (bold ? kLiberationBold : kLiberation) : QString();
    });
    const struct {
        const char *what;
        QString first;     // fontconfig's first choice for the check mark
        QStringList dirs;
        QStringList said;  // in the message; empty: passed over without a word
    } cases[] = {
        {"glyph data damaged, another font has the character", damaged, {path("damaged"), path("intact")}, {}},
        {"glyph data damaged, the only font with the character", damaged, {path("damaged")},
         {damaged, QStringLiteral("would print blank")}},
        {"cut short after fontconfig read it, the only font with the character", cut, {path("cut")},
         {cut, QStringLiteral("cut short")}},
    };
    const QString note = QStringLiteral("Seal \u2713 checked");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QStringList dirs = c.dirs;
        dirs << QStringLiteral("/usr/share/fonts/truetype/liberation2");
        Rpt::setFontConfigFile(fontsConf(path("choice.conf"), dirs));
        Rpt::beginFontUse(QString());
        ASSERT_EQ(Rpt::fontFor(Rpt::FontFace::Regular, U'\u2713')->path(), c.first) << "fontconfig's first choice";
        if (c.first == cut)
            writeFile(cut, readFile(cut).left(300000));  // in place: its folder stays as fontconfig read it
        for (const char *f : {"r.pdf", "r.rtf"})
            QFile::remove(path(f));
        prompter.messages.clear();
        env.options(true, true, false);
        const bool said = !c.said.isEmpty();
        const auto report = said ? run(QStringLiteral("Jo Bloggs"), QStringLiteral("North Weir"), {note}, {"r.rtf"})
                                 : run(QStringLiteral("Jo Bloggs"), QStringLiteral("North Weir"), {note},
                                       {"r.pdf", "r.rtf"});
        ASSERT_TRUE(report->generated());
        EXPECT_TRUE(TestSupport::readRtf(readFile(path("r.rtf"))).text().contains(note));
        if (said) {
            EXPECT_FALSE(QFile::exists(path("r.pdf")));
            ASSERT_EQ(prompter.messages.size(), 1u) << prompter.texts().join('|').toStdString();
            const QString shown = prompter.messages.front().text;
            EXPECT_TRUE(shown.startsWith(QString::fromLatin1(TZ960Report::kFontFailed))) << shown.toStdString();
            for (const QString &n : c.said)
                EXPECT_TRUE(shown.contains(n)) << shown.toStdString();
            continue;
        }
        EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
        EXPECT_TRUE(pdfText(path("r.pdf")).contains(note));
        const QString fonts = ToolRunner::run(QStringLiteral("pdffonts"), {path("r.pdf")}).value_or(QString());
        EXPECT_TRUE(fonts.contains(QStringLiteral("DejaVuSans"))) << fonts.toStdString();
        EXPECT_EQ(Rpt::fontFor(Rpt::FontFace::Regular, U'\u2713')->path(), intact);
    }
    Rpt::setFontConfigFile(QString());
}

namespace {

const QString kLohitBengali = QStringLiteral("/usr/share/fonts/truetype/lohit-bengali/Lohit-Bengali.ttf");
// Bengali: of the fonts the install script brings, only Lohit Bengali has it.
const QString kBengali = QStringLiteral("\u09ae\u09bf\u099f\u09be\u09b0 \u09aa\u09b0\u09c0\u0995\u09cd\u09b7\u09be");

// Sets an environment variable for as long as it lives.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), was_(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (had_)
            qputenv(name_, was_);
        else
            qunsetenv(name_);
    }

private:
    const char *name_;
    bool had_;
    QByteArray was_;
};

// Whether a page of the PDF file draws a font's missing-glyph box.
bool showsABox(const QString &pdf)
{
    QFile f(pdf);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const PdfProbe::Document doc(f.readAll());
    for (const int page : doc.pages()) {
        const auto fonts = doc.fonts(page);
        for (const PdfProbe::Line &line : doc.lines(page))
            if (PdfProbe::showsABox(line, fonts))
                return true;
    }
    return false;
}

// The font folders of the fontconfig configuration the tests run with.
QStringList configuredFontFolders()
{
    FcInit();
    QStringList out;
    FcStrList *dirs = FcConfigGetConfigDirs(nullptr);
    while (const FcChar8 *d = FcStrListNext(dirs))
        out << QString::fromUtf8(reinterpret_cast<const char *>(d));
    FcStrListDone(dirs);
    return out;
}

} // namespace

// The technician installs a font for a script that printed as boxes and
// prints again: the next report of the same run prints with it. Whether
// fontconfig reads the system's configuration (as FONTCONFIG_FILE names it)
// or a file of its own, and whether or not it can write its cache, it
// reads a font folder again once the folder has changed.
TEST_F(ReportFonts, AFontInstalledWhileTheProgramRunsPrintsTheNextReport)
{
    needTools({"pdffonts"});
    if (!QFileInfo::exists(kLohitBengali))
        GTEST_SKIP() << "fonts-lohit-beng-bengali not installed";
    writeFile(path("not-a-folder"), "a file where fontconfig would keep its cache");
    const struct {
        const char *what;
        bool system;
        QString cacheDir;  // empty: beside the configuration
    } cases[] = {
        {"the system's configuration", true, QString()},
        {"a configuration file of its own", false, QString()},
        {"a cache fontconfig cannot write", true, path("not-a-folder") + QStringLiteral("/cache")},
    };
    int row = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QString folder = path("installed-") + QString::number(++row);
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString conf = fontsConf(folder + QStringLiteral(".conf"),
                                       {QStringLiteral("/usr/share/fonts/truetype/liberation2"),
                                        QStringLiteral("/usr/share/fonts/truetype/dejavu"), folder},
                                       c.cacheDir);
        const ScopedEnv fontconfigFile("FONTCONFIG_FILE",
                                       c.system ? QFile::encodeName(conf) : qgetenv("FONTCONFIG_FILE"));
        Rpt::setFontConfigFile(c.system ? QString() : conf);
        env.options(true, false, false);
        const auto print = [&](const char *file) {
            prompter.messages.clear();
            const auto report = run(QStringLiteral("Jo Bloggs"), QStringLiteral("North Weir"), {kBengali}, {file});
            EXPECT_TRUE(report->generated());
            EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
            return ToolRunner::run(QStringLiteral("pdffonts"), {path(file)}).value_or(QString());
        };
        // Twice: a folder written while fontconfig read it is read again by the next report.
        print("before.pdf");
        const QString before = print("before.pdf");
        EXPECT_FALSE(before.contains(QStringLiteral("Lohit"))) << before.toStdString();
        EXPECT_TRUE(showsABox(path("before.pdf"))) << "no font has the letters yet";
        ASSERT_TRUE(QFile::copy(kLohitBengali, folder + QStringLiteral("/Lohit-Bengali.ttf")));
        const QString after = print("after.pdf");
        EXPECT_TRUE(after.contains(QStringLiteral("+Lohit-Bengali "))) << after.toStdString();
        EXPECT_FALSE(showsABox(path("after.pdf")));
    }
    Rpt::setFontConfigFile(QString());
}

// A glyph is checked once per font file, not once per report, yet a file
// that changes on disk between two reports is read and checked again:
// written in place with its modification time put back, or another file
// renamed over it. A damaged glyph found so fails the report with its
// message (here Lohit Bengali is the only font for the letters).
TEST_F(ReportFonts, AFontFileChangedBetweenReportsIsCheckedAgain)
{
    needTools({"pdffonts"});
    if (!QFileInfo::exists(kLohitBengali))
        GTEST_SKIP() << "fonts-lohit-beng-bengali not installed";
    const QByteArray blank = withGlyphData(readFile(kLohitBengali), [](int) { return '\0'; });
    const struct {
        const char *what;
        bool inPlace;
    } cases[] = {
        {"written in place, its modification time put back", true},
        {"another file renamed over it", false},
    };
    int row = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QString folder = path("changed-") + QString::number(++row);
        const QString font = folder + QStringLiteral("/Lohit-Bengali.ttf");
        writeFile(font, readFile(kLohitBengali));
        Rpt::setFontConfigFile(fontsConf(folder + QStringLiteral(".conf"),
                                         {QStringLiteral("/usr/share/fonts/truetype/liberation2"), folder}));
        prompter.messages.clear();
        env.options(true, false, false);
        // Twice: a folder written while fontconfig read it is read again by the next report.
        for (int i = 0; i < 2; ++i)
            run(QStringLiteral("Jo Bloggs"), QStringLiteral("North Weir"), {kBengali}, {"intact.pdf"});
        EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
        EXPECT_TRUE(ToolRunner::run(QStringLiteral("pdffonts"), {path("intact.pdf")}).value_or(QString()).contains(
            QStringLiteral("Lohit-Bengali")));

        if (c.inPlace) {
            struct stat was;
            ASSERT_EQ(::stat(QFile::encodeName(font).constData(), &was), 0);
            QFile f(font);
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));  // the same file, not truncated
            ASSERT_EQ(f.write(blank), blank.size());
            f.close();
            const timespec times[2] = {was.st_atim, was.st_mtim};
            ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(font).constData(), times, 0), 0);
        } else {
            writeFile(folder + QStringLiteral("/new.tmp"), blank);
            ASSERT_EQ(::rename(QFile::encodeName(folder + QStringLiteral("/new.tmp")).constData(),
                               QFile::encodeName(font).constData()), 0);
        }
        prompter.messages.clear();
        env.options(true, true, false);
        const auto report = run(QStringLiteral("Jo Bloggs"), QStringLiteral("North Weir"), {kBengali}, {"r.rtf"});
        EXPECT_TRUE(report->generated());
        ASSERT_EQ(prompter.messages.size(), 1u) << prompter.texts().join('|').toStdString();
        const QString shown = prompter.messages.front().text;
        EXPECT_TRUE(shown.startsWith(QString::fromLatin1(TZ960Report::kFontFailed))) << shown.toStdString();
        EXPECT_TRUE(shown.contains(font)) << shown.toStdString();
        EXPECT_TRUE(shown.contains(QStringLiteral("would print blank"))) << shown.toStdString();
    }
    Rpt::setFontConfigFile(QString());
}

// A note of 10,000 characters with 3,000 distinct kanji lays out in a
// blink, though every glyph it draws is checked, with the rules of a
// desktop's fontconfig configuration: fontconfig sorts its fonts once for
// the letters the same fonts have, not once a letter, and each glyph is
// checked once.
TEST_F(ReportFonts, ANoteOfThousandsOfDistinctKanjiLaysOutInABlink)
{
    const QString wqy = QStringLiteral("/usr/share/fonts/truetype/wqy/wqy-microhei.ttc");
    if (!QFileInfo::exists(wqy))
        GTEST_SKIP() << "fonts-wqy-microhei not installed";
    QString kanji;
    {
        const Rpt::FontFile font(wqy);
        for (char32_t c = 0x4E00; kanji.size() < 3001 && c <= 0x9FFF; ++c)
            if (font.glyphIndex(c))
                kanji += QString::fromUcs4(&c, 1);
    }
    ASSERT_EQ(kanji.size(), 3001);
    const QString note = kanji.left(3000).repeated(4).left(10000);
    const auto layoutMs = [](const QString &text) {
        ReportFixture::Feed feed;
        feed[ReportFixture::Notes] = QStringList{text};
        TRptReport report;
        feed.bind(report);
        QElapsedTimer timer;
        timer.start();
        EXPECT_TRUE(report.PrepareReport());
        EXPECT_TRUE(report.prepared().fontFailures.isEmpty());
        return timer.elapsed();
    };
    // The fonts the tests run with, but in place of the CJK font's folder a
    // copy of the font no earlier layout has checked a glyph of. The best of
    // up to three tries, each with a copy of its own: a busy machine may
    // hold up any one of them.
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
    const auto inTime = [](qint64 first, qint64 again) { return first - again < 100; };
#else
    // Unoptimised and sanitised, where the layout itself takes most of a second.
    const auto inTime = [](qint64 first, qint64 again) { return first < 2 * again + 200; };
#endif
    QStringList folders = configuredFontFolders();
    folders.removeAll(QFileInfo(wqy).path());
    qint64 first = 0, again = 0;
    for (int round = 1; round <= 3; ++round) {
        const QString folder = path("cjk-") + QString::number(round);
        writeFile(folder + QStringLiteral("/wqy-microhei.ttc"), readFile(wqy));
        Rpt::setFontConfigFile(fontsConf(folder + QStringLiteral(".conf"), QStringList(folders) << folder, QString(),
                                         QStringLiteral("/etc/fonts/conf.d")));
        // Opens the fonts, the CJK font too, with the kanji the note lacks.
        layoutMs(QStringLiteral("Replaced the coil cable. ") + kanji.back());
        // The second time every letter's font is chosen and every glyph
        // checked already: the first time costs that much more.
        first = layoutMs(note);
        again = layoutMs(note);
        if (inTime(first, again))
            break;
    }
    EXPECT_TRUE(inTime(first, again)) << first << " ms the first time, " << again << " ms again";
    Rpt::setFontConfigFile(QString());
}

TEST_F(ReportFonts, TheNewestFileOfTheFamilyIsChosen)
{
    // An older Liberation Sans in a folder whose name sorts first.
    const QString old = path("a-older/LiberationSans-Regular.ttf");
    writeFile(old, withVersion(readFile(kLiberation), 0x00011200));  // 1.07
    Rpt::setFontConfigFile(fontsConf(path("fonts.conf"), {path("a-older"),
                                                           QStringLiteral("/usr/share/fonts/truetype/liberation2")}));
    Rpt::beginFontUse(QString());
    EXPECT_EQ(Rpt::fontFor(Rpt::FontFace::Regular, U'A')->path(), kLiberation);
    Rpt::setFontConfigFile(QString());
}

TEST(ReportFontFiles, AFileThatIsNoTrueTypeFontIsRefusedWithItsName)

{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString junk = dir.filePath(QStringLiteral("junk.ttf"));
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a font at all");
    f.close();
    for (const QString &p : {junk, dir.filePath(QStringLiteral("missing.ttf"))}) {
        try {
            Rpt::FontFile file(p);
            ADD_FAILURE() << "opened " << p.toStdString();
        } catch (const Rpt::FontError &e) {
            EXPECT_TRUE(QString::fromUtf8(e.what()).contains(p)) << e.what();
        }
    }
}

namespace {

// Makes a locale the default for as long as it lives; the one before comes
// back however the scope is left (a failed assertion returns at once).
class ScopedDefaultLocale {
public:
    explicit ScopedDefaultLocale(const QLocale &locale) { QLocale::setDefault(locale); }
    ~ScopedDefaultLocale() { QLocale::setDefault(before_); }
    ScopedDefaultLocale(const ScopedDefaultLocale &) = delete;
    ScopedDefaultLocale &operator=(const ScopedDefaultLocale &) = delete;

private:
    const QLocale before_;
};

} // namespace

// The program's own dates in the locale's letters: the page footer and the
// Date line print from fonts that have them and read back as the locale
// writes them. poppler gives a right-to-left date's words each as typed
// (their runs where they show, on a page that reads left to right); mupdf
// gives it whole.
TEST_F(ReportFonts, TheDatesPrintInTheLocalesLettersAndReadBackAsTheLocaleWritesThem)
{
    needTools({"pdftotext", "mutool"});
    const struct {
        QLocale locale;
        bool rightToLeft;
        bool mupdfWhole;  // mutool gives it whole (else each word's letters and marks)
    } cases[] = {
        {QLocale(QLocale::Japanese, QLocale::Japan), false, true},
        {QLocale(QLocale::Arabic, QLocale::Egypt), true, true},
        {QLocale(QLocale::Hebrew, QLocale::Israel), true, true},
        {QLocale(QLocale::Hindi, QLocale::India), false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        const ScopedDefaultLocale locale(c.locale);
        QFile::remove(path("r.pdf"));
        env.options(true, false, false);
        const auto report = run(QStringLiteral("Jo Bloggs"), QStringLiteral("North Weir"), {}, {"r.pdf"});
        ASSERT_TRUE(report->generated()) << prompter.texts().join('|').toStdString();
        const Rpt::PreparedReport &pr = report->preparedReport();
        const QString footer = Rpt::formatDateTime(pr.preparedAt, QStringLiteral("mmmm dd, yyyy"), c.locale);
        QString dateLine;  // the Date line's value, as laid out
        for (int record = 0; const Rpt::PlacedBand *row = pr.pages.front().row(QStringLiteral("InfoDS"), record); ++record)
            if (row->memos.at(0).text().trimmed() == QLatin1String("Date"))
                dateLine = row->memos.at(1).text().trimmed();
        ASSERT_FALSE(dateLine.isEmpty());
        EXPECT_TRUE(std::any_of(footer.begin(), footer.end(), [](QChar ch) { return ch.unicode() > 0x2ff; }))
            << "the month in the locale's letters: " << footer.toStdString();
        if (const QByteArray keep = qgetenv("VANTORO_KEEP_REPORT"); !keep.isEmpty())
            QFile::copy(path("r.pdf"), QDir(QString::fromLocal8Bit(keep)).filePath(c.locale.name() + QStringLiteral(".pdf")));

        QFile f(path("r.pdf"));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const PdfProbe::Document doc(f.readAll());
        for (int page = 1; page <= static_cast<int>(doc.pages().size()); ++page) {
            SCOPED_TRACE(page);
            const QStringList args = {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                                      QString::number(page), path("r.pdf"), QStringLiteral("-")};
            QString poppler = ToolRunner::run(QStringLiteral("pdftotext"), args).value_or(QString());
            poppler.remove(QRegularExpression(QStringLiteral("[\u202a-\u202e\\s]")));
            QString mupdf = ToolRunner::run(QStringLiteral("mutool"), {QStringLiteral("draw"), QStringLiteral("-q"),
                                                                       QStringLiteral("-F"), QStringLiteral("txt"),
                                                                       path("r.pdf"), QString::number(page)})
                                .value_or(QString());
            EXPECT_FALSE(mupdf.contains(QChar(0xFFFD)));
            mupdf.remove(QRegularExpression(QStringLiteral("\\s")));
            QStringList typed{footer};
            if (page == 1)
                typed << dateLine;
            for (const QString &t : typed) {
                QString whole = t;
                whole.remove(QRegularExpression(QStringLiteral("\\s")));
                EXPECT_TRUE(c.mupdfWhole ? mupdf.contains(whole) : PdfProbe::holdsLettersOf(mupdf, t))
                    << t.toStdString() << " in mutool's " << mupdf.toStdString();
                if (!c.rightToLeft) {
                    EXPECT_TRUE(poppler.contains(whole)) << t.toStdString() << " in pdftotext's " << poppler.toStdString();
                    continue;
                }
                for (const QString &word : t.split(QRegularExpression(QStringLiteral("[^\\w]+")), Qt::SkipEmptyParts))
                    EXPECT_TRUE(poppler.contains(word)) << word.toStdString() << " in pdftotext's " << poppler.toStdString();
            }
            // Drawn from fonts that have the letters: no missing-glyph box.
            const auto pageFonts = doc.fonts(doc.pages()[static_cast<size_t>(page - 1)]);
            const std::vector<PdfProbe::Line> lines = doc.lines(doc.pages()[static_cast<size_t>(page - 1)]);
            const auto found = std::find_if(lines.begin(), lines.end(), [&](const PdfProbe::Line &l) {
                return PdfProbe::letters(PdfProbe::contentText(l.glyphs, pageFonts, true)) == PdfProbe::letters(footer);
            });
            ASSERT_NE(found, lines.end()) << footer.toStdString();
            EXPECT_FALSE(PdfProbe::showsABox(*found, pageFonts)) << footer.toStdString();
        }
    }
}

// Fonts with CFF outlines are embedded too: an OpenType program where its
// glyphs are numbered by name, the bare CFF program where they are numbered
// by character identifier (Noto CJK's collection). Each row runs where its
// fonts are installed.
TEST_F(ReportFonts, FontsWithCffOutlinesAreEmbeddedAndShow)
{
    needTools({"pdftotext", "pdffonts", "pdftoppm", "qpdf"});
    const struct {
        const char *dir;
        QString note;
        const char *type;  // as pdffonts names it
    } cases[] = {
        {"/usr/share/fonts/opentype/urw-base35", QStringLiteral("Set \u2200 \u2203 \u2234 \u2245 \u2663 ok"),
         "CID Type 0C (OT)"},
        {"/usr/share/fonts/opentype/noto", QStringLiteral("\u6d41\u91cf\u8a08\u3092\u70b9\u691c\u3057\u307e\u3057\u305f"),
         "CID Type 0C "},
    };
    int ran = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.dir);
        if (!QFileInfo::exists(QString::fromLatin1(c.dir)))
            continue;
        ++ran;
        Rpt::setFontConfigFile(fontsConf(path("fonts.conf"), {QStringLiteral("/usr/share/fonts/truetype/liberation2"),
                                                               QString::fromLatin1(c.dir)}));
        Rpt::setFontLocator([](const QString &family, bool bold) {
            return family == QLatin1String("DejaVu Sans") ? QString() : bold ? kLiberationBold : kLiberation;
        });
        env.options(true, false, false);
        const auto ink = [this](const QString &note, const char *file) {
            prompter.messages.clear();
            run(QStringLiteral("Jo Bloggs"), QStringLiteral("North Weir"), {note}, {file});
            EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
            long dark = 0;
            for (const QImage &page : pictures(path(file), QString::fromLatin1(file).section('.', 0, 0)))
                for (int y = 0; y < page.height(); ++y)
                    for (int x = 0; x < page.width(); ++x)
                        dark += page.pixelColor(x, y).lightness() < 128;
            return dark;
        };
        const long with = ink(c.note, "cff.pdf");
        const long without = ink(QStringLiteral("ok"), "plain.pdf");
        EXPECT_GT(with - without, 4L * c.note.size()) << "the glyphs show";
        const auto fonts = ToolRunner::run(QStringLiteral("pdffonts"), {path("cff.pdf")});
        EXPECT_TRUE(fonts.value_or(QString()).contains(QString::fromLatin1(c.type))) << fonts.value_or(QString()).toStdString();
        EXPECT_TRUE(pdfText(path("cff.pdf")).contains(c.note));
        const auto check = ToolRunner::run(QStringLiteral("qpdf"), {QStringLiteral("--check"), path("cff.pdf")});
        EXPECT_TRUE(check.value_or(QString()).contains(QStringLiteral("No syntax or stream encoding errors found")));
    }
    if (ran == 0)
        GTEST_SKIP() << "no font with CFF outlines installed";
}

// Shaping changes nothing for Latin text: the pages of an all-Latin report
// are pixel for pixel those the report printed before its text was shaped
// (the reference was written by that code, with this report's fonts
// embedded; benchmarks/bench_report writes the same report).
TEST_F(ReportFonts, AnAllLatinReportIsPixelIdenticalToTheOneBeforeShaping)
{
    needTools({"pdftoppm"});
    ReportFixture::Feed feed = ReportFixture::Feed::typicalLatin();
    TRptReport report;
    feed.bind(report);
    ASSERT_TRUE(report.PrepareReport());
    TRptPDFExport pdf;
    pdf.FileName = path("latin.pdf");
    ASSERT_TRUE(report.Export(pdf)) << pdf.lastError.toStdString();
    const QString before = QFileInfo(QString::fromUtf8(__FILE__)).dir().filePath(
        QStringLiteral("golden/latin-report-unshaped.pdf"));
    const std::vector<QImage> was = pictures(before, QStringLiteral("unshaped"));
    const std::vector<QImage> now = pictures(pdf.FileName, QStringLiteral("shaped"));
    ASSERT_EQ(was.size(), 4u);
    ASSERT_EQ(now.size(), was.size());
    for (std::size_t p = 0; p < was.size(); ++p)
        EXPECT_TRUE(now[p] == was[p]) << "page " << p + 1;
}
