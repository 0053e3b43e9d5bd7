// The RTF writer, parsed back: groups, control words and the text per page,
// the marks of other scripts, and the file as a word processor reads it.
#include "InstalledFonts.h"
#include "ReportFixture.h"
#include "ToolRunner.h"
#include "report/RptFonts.h"
#include "report/RptPdfExport.h"
#include "report/RptRtfExport.h"
#include "support/RtfReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <QXmlStreamReader>

#include <fontconfig/fontconfig.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace ReportFixture;

namespace {

class RtfExport : public testing::Test {
protected:
    TestSupport::RtfDocument write()
    {
        EXPECT_TRUE(dir.isValid());
        feed.bind(report);
        report.PrepareReport();
        rtf.FileName = dir.filePath(QStringLiteral("report.rtf"));
        EXPECT_TRUE(report.Export(rtf)) << rtf.lastError.toStdString();
        QFile f(rtf.FileName);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        raw = f.readAll();
        // VANTORO_KEEP_REPORT=<folder> keeps a copy to look at, named after the test.
        if (const QByteArray keep = qgetenv("VANTORO_KEEP_REPORT"); !keep.isEmpty()) {
            const QString to = QDir(QString::fromLocal8Bit(keep))
                                   .filePath(QString::fromLatin1(testing::UnitTest::GetInstance()->current_test_info()->name()) +
                                             QStringLiteral(".rtf"));
            QFile::remove(to);
            QFile::copy(rtf.FileName, to);
        }
        return TestSupport::readRtf(raw);
    }

    QTemporaryDir dir;
    Feed feed = Feed::typical();
    TRptReport report;
    TRptRTFExport rtf;
    QByteArray raw;
};

} // namespace

TEST_F(RtfExport, GroupsBalanceAndPagesAreSeparatedByOneBreakEach)
{
    const TestSupport::RtfDocument doc = write();
    EXPECT_TRUE(raw.startsWith("{\\rtf1\\ansi\\ansicpg1252"));
    EXPECT_TRUE(doc.balanced);
    ASSERT_EQ(report.prepared().pages.size(), 4u);
    EXPECT_EQ(doc.words.count(QStringLiteral("page")) ? doc.words.at(QStringLiteral("page")) : 0, 3);
    EXPECT_EQ(doc.pages.size(), 4u);
    // A4 with 10 mm margins, in twips.
    for (const char *w : {"paperw", "paperh", "margl", "margr", "margt", "margb"})
        EXPECT_EQ(doc.words.count(QString::fromLatin1(w)), 1u) << w;
    EXPECT_TRUE(raw.contains("\\paperw11906\\paperh16838\\margl567\\margr567\\margt567\\margb567"));
    EXPECT_TRUE(raw.contains("{\\*\\generator Vantoro;}"));
}

TEST_F(RtfExport, NoPageHeaderOrFooter)
{
    const TestSupport::RtfDocument doc = write();
    for (const char *w : {"header", "footer", "headerl", "headerr", "headerf", "footerl", "footerr", "footerf"})
        EXPECT_EQ(doc.words.count(QString::fromLatin1(w)), 0u) << w;
    for (const QString &page : doc.pages) {
        EXPECT_FALSE(page.contains(QStringLiteral("Page "))) << page.toStdString();
        EXPECT_FALSE(page.contains(QStringLiteral("Validator ID")));
        EXPECT_FALSE(page.contains(QStringLiteral("14:05:33")));
    }
}

TEST_F(RtfExport, EveryPrintedLineIsOnItsPage)
{
    feed[Notes] << QStringLiteral("Braces {x} and \\ back") << QStringLiteral("Caf\u00e9 \u20ac5 \u0416");
    const TestSupport::RtfDocument doc = write();
    ASSERT_EQ(doc.pages.size(), report.prepared().pages.size());
    for (const Rpt::Page &page : report.prepared().pages) {
        const QString &text = doc.pages[static_cast<size_t>(page.number - 1)];
        for (const Rpt::PlacedBand &b : page.bands) {
            if (b.kind == Rpt::BandKind::PageFooter)
                continue;
            for (const Rpt::PlacedMemo &m : b.memos)
                for (const QString &l : m.lines)
                    EXPECT_TRUE(text.contains(l)) << "page " << page.number << ": " << l.toStdString();
        }
    }
    EXPECT_TRUE(doc.pages.back().contains(QStringLiteral("Caf\u00e9 \u20ac5 \u0416")));
}

// Rows are at least as high as their memos (a positive row height), so a
// reader whose font is wider than the report's grows a row to its wrapped
// text instead of hiding the rest of it.
TEST_F(RtfExport, RowsCarryTheirFramesFillsAndAtLeastTheirHeights)
{
    const TestSupport::RtfDocument doc = write();
    EXPECT_TRUE(raw.contains("\\red192\\green192\\blue192;")) << "title fill";
    EXPECT_TRUE(raw.contains("\\red204\\green204\\blue204;")) << "header fill";
    EXPECT_TRUE(raw.contains("\\cellx3402\\clbrdrt")) << "the 60 mm left column";
    EXPECT_TRUE(raw.contains("\\cellx10772")) << "190 mm wide rows";
    // Rows: title, seven headers, every data row.
    int rows = 1;
    for (int s = 0; s < SectionCount; ++s)
        rows += 1 + static_cast<int>(feed[Section(s)].size());
    EXPECT_EQ(doc.words.at(QStringLiteral("row")), rows);
    EXPECT_EQ(doc.words.at(QStringLiteral("trowd")), rows);
    // Row heights in twips: positive is "at least", negative "exactly".
    const QRegularExpression rowHeight(QStringLiteral("\\\\trrh(-?\\d+)"));
    QStringList heights;
    for (const QRegularExpressionMatch &m : rowHeight.globalMatch(QString::fromLatin1(raw)))
        heights << m.captured(1);
    EXPECT_EQ(heights.size(), rows);
    heights.removeDuplicates();
    EXPECT_EQ(heights.join(QLatin1Char(',')).toStdString(), "283") << "every row at least 5 mm, none of exact height";
}

// A report in Latin letters alone is written byte for byte as before right-
// to-left paragraphs and the fonts of other scripts had marks of their own
// (VANTORO_UPDATE_GOLDEN=1 rewrites the file instead of comparing).
TEST_F(RtfExport, AnAllLatinReportIsWrittenAsBefore)
{
    feed = Feed::typicalLatin();
    write();
    const QString golden = QFileInfo(QString::fromUtf8(__FILE__)).dir().filePath(QStringLiteral("golden/latin-report.rtf"));
    QFile f(golden);
    if (qEnvironmentVariableIsSet("VANTORO_UPDATE_GOLDEN")) {
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(raw);
        return;
    }
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << golden.toStdString();
    const QByteArray want = f.readAll();
    EXPECT_EQ(raw.size(), want.size());
    EXPECT_TRUE(raw == want);
}

TEST(RtfText, TextMapsOntoTheWinAnsiCodePage)
{
    struct Case { QString text; QByteArray bytes; } cases[] = {
        {QStringLiteral("A(b)\\"), QByteArray("A(b)\\")},
        {QStringLiteral("\u00e9\u00fc\u00df"), QByteArray("\xe9\xfc\xdf")},
        {QStringLiteral("\u20ac\u2013\u201c\u2122"), QByteArray("\x80\x96\x93\x99")},
        {QStringLiteral("\u0416\u4e2d"), QByteArray("??")},               // not in the code page
        {QString::fromUtf8("\xF0\x9F\x98\x80"), QByteArray("?")},           // one '?' for a pair
        {QStringLiteral("a\tb\x01"), QByteArray("a b ")},                   // controls print as blanks
    };
    for (const auto &c : cases)
        EXPECT_EQ(Rpt::toWinAnsi(c.text), c.bytes) << c.text.toStdString();
}

TEST(RtfText, Escapes)
{
    EXPECT_EQ(Rpt::rtfText(QStringLiteral("a{b}\\c")), QByteArray("a\\{b\\}\\\\c"));
    EXPECT_EQ(Rpt::rtfText(QStringLiteral("\u00e9\u20ac")), QByteArray("\\'e9\\'80"));
    EXPECT_EQ(Rpt::rtfText(QStringLiteral("\u0416")), QByteArray("\\u1046?"));
    // In a font of another character set every letter beyond ASCII goes as \u.
    EXPECT_EQ(Rpt::rtfText(QStringLiteral("\u00ab\u0645\u00bb\u9fa5"), Rpt::RtfEncoding::Unicode),
              QByteArray("\\u171?\\u1605?\\u187?\\u-24667?"));
}

// Tabs go to the reader's default stops (every 36 pt, as in the PDF file);
// a line broken at a soft hyphen shows the hyphen, other soft hyphens stay
// optional.
TEST_F(RtfExport, TabsAndSoftHyphensAsThePdfShowsThem)
{
    const QString word = QStringLiteral("Durch\u00adfluss\u00admess\u00adger\u00e4te").repeated(8);  // wider than the memo
    feed[Notes] = QStringList{QStringLiteral("Flow\t25.5\tl/s"), word};
    write();
    EXPECT_TRUE(raw.contains("Flow\\tab 25.5\\tab l/s"));
    const Rpt::PlacedMemo *note = nullptr;
    for (const Rpt::Page &p : report.prepared().pages)
        if (const Rpt::PlacedBand *row = p.row(QStringLiteral("NotesDS"), 1))
            note = &row->memos.front();
    ASSERT_NE(note, nullptr);  // its first row: the note goes on in further rows
    ASSERT_EQ(note->lines.size(), 1u);
    ASSERT_TRUE(note->forms.front().hyphen) << note->lines.front().toStdString();
    EXPECT_TRUE(raw.contains(Rpt::rtfText(note->lines.front().chopped(1)) + "-\\cell"));
    EXPECT_TRUE(raw.contains("Durch\\-fluss\\-mess\\-ger\\'e4te"));
}


// ---- other scripts: what a reader takes from the marks ----------------------------------

namespace {

bool rightToLeftText(const QString &text)
{
    for (const QChar c : text) {
        const QChar::Direction d = c.direction();
        if (d == QChar::DirL)
            return false;
        if (d == QChar::DirR || d == QChar::DirAL)
            return true;
    }
    return false;
}

// Which font slot a reader sets this letter from: the complex-text font,
// the East Asian one, or the regular one (Latin letters).
enum class Slot { Regular, Complex, EastAsian, None };
Slot slotOf(QChar c)
{
    switch (c.script()) {
    case QChar::Script_Arabic: case QChar::Script_Hebrew: case QChar::Script_Devanagari:
    case QChar::Script_Bengali: case QChar::Script_Thai: case QChar::Script_Khmer:
        return Slot::Complex;
    case QChar::Script_Han: case QChar::Script_Hiragana: case QChar::Script_Katakana:
        return Slot::EastAsian;
    case QChar::Script_Latin:
        return Slot::Regular;
    default:
        return Slot::None;
    }
}

using InstalledFonts::anyFontHas;

// The font a reader on this machine gets for the family is that family (or,
// for the document's Arial, the font fontconfig stands in for it) and has
// the character.
bool familyHas(const QString &family, char32_t c)
{
    FcInit();
    FcPattern *p = FcNameParse(reinterpret_cast<const FcChar8 *>(QString(family).replace(QLatin1Char('-'), QLatin1String("\\-")).toUtf8().constData()));
    FcConfigSubstitute(nullptr, p, FcMatchPattern);
    FcDefaultSubstitute(p);
    FcResult result = FcResultNoMatch;
    FcPattern *match = FcFontMatch(nullptr, p, &result);
    bool ok = false;
    if (match) {
        bool named = family == QLatin1String("Arial");
        FcChar8 *name = nullptr;
        for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; ++i)
            named = named || QString::fromUtf8(reinterpret_cast<const char *>(name)) == family;
        FcCharSet *cs = nullptr;
        ok = named && FcPatternGetCharSet(match, FC_CHARSET, 0, &cs) == FcResultMatch && FcCharSetHasChar(cs, c);
        FcPatternDestroy(match);
    }
    FcPatternDestroy(p);
    return ok;
}

// Lines of every script the report's readers meet, each a note of its own.
const QString kScriptNotes[] = {
    QStringLiteral("\u0627\u0644\u0639\u062f\u0627\u062f \u064a\u0639\u0645\u0644"),                     // Arabic
    QStringLiteral("\u0643\u064e\u062a\u064e\u0628\u064e \u0627\u0644\u0641\u0646\u0651\u064a\u0651"),  // Arabic, vowelled
    QStringLiteral("\u0642\u0637\u0631 \u0627\u0644\u0623\u0646\u0628\u0648\u0628 DN100 \u0645\u0645"), // Arabic with Latin
    QStringLiteral("\u0627\u0644\u0642\u0631\u0627\u0621\u0629 \u0661\u0662\u0663\u066b\u0664"),        // Arabic-Indic digits
    QStringLiteral("\u0645\u06cc\u200c\u062e\u0648\u0627\u0647\u0645 \u0628\u0631\u0631\u0633\u06cc"),  // Persian, ZWNJ
    QStringLiteral("\u05e9\u05b8\u05c1\u05dc\u05d5\u05b9\u05dd"),                                       // Hebrew, niqqud
    QStringLiteral("\u05e6\u05d9\u05e0\u05d5\u05e8 DN100 \u05e7\u05d5\u05d8\u05e8 100"),               // Hebrew, English, digits
    QStringLiteral("100 \u05de\u05f4\u05de \u05e7\u05d5\u05d8\u05e8"),  // right to left after digits
    QStringLiteral("Pipe \u05e6\u05d9\u05e0\u05d5\u05e8 DN100"),        // left to right around Hebrew
    QStringLiteral("\u0915\u0947\u092c\u0932 \u092c\u0926\u0932\u093e \u0917\u092f\u093e"),             // Devanagari
    QStringLiteral("\u09ae\u09bf\u099f\u09be\u09b0 \u09aa\u09b0\u09c0\u0995\u09cd\u09b7\u09be"),        // Bengali
    QStringLiteral("\u0e44\u0e1f\u0e1f\u0e49\u0e32 \u0e15\u0e23\u0e27\u0e08\u0e2a\u0e2d\u0e1a"),        // Thai
    QStringLiteral("\u17a7\u1794\u1780\u179a\u178e\u17cd \u179c\u17b6\u179f\u17cb"),                    // Khmer
    QStringLiteral("Kie\u0309m tra \u0111o\u0302\u0300ng ho\u0302\u0300").normalized(QString::NormalizationForm_C),  // Vietnamese
    QStringLiteral("\u6d41\u91cf\u8a08\u3092\u70b9\u691c\u3057\u307e\u3057\u305f\u3002"),               // Japanese
    QStringLiteral("\u6d41\u91cf\u8ba1\u5df2\u68c0\u67e5\uff08\u6b63\u5e38\uff09"),                     // Chinese
};

} // namespace

// Every note's paragraph reads in its direction (that of its first letter
// of a strong direction, starting at the right for right-to-left ones), each
// letter in its own direction, and letters of complex and East Asian
// scripts name a font this machine has them in.
TEST_F(RtfExport, OtherScriptsAreMarkedWithTheirDirectionAndAFontThatHasThem)
{
    feed[Notes] = QStringList(std::begin(kScriptNotes), std::end(kScriptNotes));
    feed[Notes].prepend(QStringLiteral("Replaced the coil cable."));
    write();
    const TestSupport::RtfDocument doc = TestSupport::readRtf(raw);
    for (const QString &note : kScriptNotes) {
        SCOPED_TRACE(note.toStdString());
        const TestSupport::RtfParagraph *p = doc.paragraph(note.normalized(QString::NormalizationForm_C));
        ASSERT_NE(p, nullptr);
        const bool rtl = rightToLeftText(note);
        EXPECT_EQ(p->rightToLeft, rtl);
        EXPECT_EQ(p->align, rtl ? 'r' : 'l');
        for (const TestSupport::RtfChar &m : p->chars) {
            const QChar::Direction d = m.c.direction();
            if (d == QChar::DirR || d == QChar::DirAL || d == QChar::DirL) {
                EXPECT_EQ(m.rightToLeft, d != QChar::DirL) << "U+" << std::hex << m.c.unicode();
            }
            const Slot slot = slotOf(m.c);
            if (slot == Slot::None || !anyFontHas(m.c.unicode()))
                continue;  // no font on this machine has it: no name can help
            const int font = slot == Slot::Complex ? m.complexFont : slot == Slot::EastAsian ? m.eastAsianFont : m.font;
            ASSERT_TRUE(doc.fonts.count(font)) << "U+" << std::hex << m.c.unicode() << " font " << std::dec << font;
            EXPECT_TRUE(familyHas(doc.fonts.at(font), m.c.unicode()))
                << doc.fonts.at(font).toStdString() << " for U+" << std::hex << m.c.unicode();
        }
    }
    // Latin cells beside them stay as they were, without marks.
    EXPECT_TRUE(raw.contains("\\pard\\intbl\\ql\\plain\\f0\\fs20\\cf1 Info 0"));
    EXPECT_TRUE(raw.contains("\\pard\\intbl\\ql\\plain\\f0\\fs20\\cf1 Replaced the coil cable.\\cell"));
}

namespace {

// The character set the font table gives font number n.
int charsetOf(const QByteArray &rtf, int n)
{
    const QRegularExpression entry(QStringLiteral("\\{\\\\f%1\\\\[^ ;]*\\\\fcharset(\\d+)").arg(n));
    const QRegularExpressionMatch m = entry.match(QString::fromLatin1(rtf));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// The PostScript name of the font fontconfig gives a reader for the family.
QByteArray postScriptNameOf(const QString &family)
{
    FcInit();
    FcPattern *p = FcPatternCreate();
    FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8 *>(family.toUtf8().constData()));
    FcConfigSubstitute(nullptr, p, FcMatchPattern);
    FcDefaultSubstitute(p);
    FcResult result = FcResultNoMatch;
    FcPattern *match = FcFontMatch(nullptr, p, &result);
    FcChar8 *name = nullptr;
    QByteArray out;
    if (match && FcPatternGetString(match, FC_POSTSCRIPT_NAME, 0, &name) == FcResultMatch)
        out = reinterpret_cast<const char *>(name);
    if (match)
        FcPatternDestroy(match);
    FcPatternDestroy(p);
    return out;
}

} // namespace

// Han letters without kana are Japanese in a report of a Japanese locale,
// Chinese in one of a Chinese locale and, as before, in any other; with
// kana they are Japanese. The RTF file names them with that language's
// character set and with the font the PDF file prints them with, chosen by
// fontconfig for the report's language.
TEST_F(RtfExport, HanLettersAreTaggedByTheReportsLanguage)
{
    if (!ToolRunner::available(QStringLiteral("pdffonts")))
        GTEST_SKIP() << "poppler not installed";
    const QString kanji = QStringLiteral("\u6d41\u91cf\u8a08\u70b9\u691c");  // no kana
    const QString kana = QStringLiteral("\u6d41\u91cf\u8a08\u3092\u70b9\u691c");
    if (!anyFontHas(kanji.front().unicode()))
        GTEST_SKIP() << "no font has Han letters";
    const struct {
        QLocale locale;
        QString note;
        const char *asked;  // the language fontconfig is asked
        int charset;        // 128 Japanese, 134 Chinese (simplified)
    } cases[] = {
        {QLocale(QLocale::Japanese, QLocale::Japan), kanji, "ja", 128},
        {QLocale(QLocale::Chinese, QLocale::China), kanji, "zh-cn", 134},
        {QLocale(QLocale::English, QLocale::UnitedKingdom), kanji, "en", 134},
        {QLocale(QLocale::English, QLocale::UnitedKingdom), kana, "en", 128},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString() + " " + c.note.toStdString());
        feed[Notes] = QStringList{c.note};
        feed.bind(report);
        report.locale = c.locale;
        ASSERT_TRUE(report.PrepareReport());
        EXPECT_EQ(Rpt::fontLanguage().toStdString(), c.asked);
        TRptPDFExport pdf;
        pdf.FileName = dir.filePath(QStringLiteral("report.pdf"));
        ASSERT_TRUE(report.Export(pdf)) << pdf.lastError.toStdString();
        rtf.FileName = dir.filePath(QStringLiteral("report.rtf"));
        ASSERT_TRUE(report.Export(rtf)) << rtf.lastError.toStdString();
        QFile f(rtf.FileName);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        raw = f.readAll();
        const TestSupport::RtfDocument doc = TestSupport::readRtf(raw);
        const TestSupport::RtfParagraph *p = doc.paragraph(c.note);
        ASSERT_NE(p, nullptr);
        const QString pdfFonts = ToolRunner::run(QStringLiteral("pdffonts"), {pdf.FileName}).value_or(QString());
        for (const TestSupport::RtfChar &m : p->chars) {
            if (m.c.script() != QChar::Script_Han)
                continue;
            SCOPED_TRACE("U+" + QString::number(m.c.unicode(), 16).toStdString());
            EXPECT_EQ(charsetOf(raw, m.eastAsianFont), c.charset);
            ASSERT_TRUE(doc.fonts.count(m.eastAsianFont));
            const QByteArray printedWith = postScriptNameOf(doc.fonts.at(m.eastAsianFont));
            EXPECT_FALSE(printedWith.isEmpty()) << doc.fonts.at(m.eastAsianFont).toStdString();
            EXPECT_TRUE(pdfFonts.contains(QLatin1Char('+') + QString::fromLatin1(printedWith) + QLatin1Char(' ')))
                << doc.fonts.at(m.eastAsianFont).toStdString() << " not in " << pdfFonts.toStdString();
        }
    }
}

// ---- the file as a word processor reads it ----------------------------------------------

namespace {

// A paragraph as the word processor holds it: its writing mode and, for
// each character, the fonts its text style gives it.
struct ReadParagraph {
    QString writingMode;
    QString text;
    std::vector<std::map<QString, QString>> fonts;  // per character: slot attribute -> family
};

// Reads a flat OpenDocument text: the font declarations, the styles'
// writing modes and fonts, and each paragraph's characters with the fonts
// of the style they stand in.
std::vector<ReadParagraph> readFlatDocument(const QByteArray &xml)
{
    const QString kStyle = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:style:1.0");
    const QString kSvg = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0");
    const QString kText = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:text:1.0");
    const QString fontSlots[] = {QStringLiteral("font-name"), QStringLiteral("font-name-complex"),
                                 QStringLiteral("font-name-asian")};
    std::map<QString, QString> faces;                          // declaration -> family
    std::map<QString, std::map<QString, QString>> styles;      // style -> property -> value
    std::vector<ReadParagraph> out;
    std::vector<QString> spanStyles;
    QString style;
    QString paragraphStyle;
    bool inParagraph = false;
    const auto put = [&](const QString &s) {
        for (const QChar c : s) {
            out.back().text += c;
            std::map<QString, QString> f;
            for (const QString &slot : fontSlots) {
                for (const QString &st : {spanStyles.empty() ? QString() : spanStyles.back(), paragraphStyle})
                    if (styles[st].count(slot)) {
                        f[slot] = faces[styles[st][slot]];
                        break;
                    }
            }
            out.back().fonts.push_back(f);
        }
    };
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement()) {
            const auto a = r.attributes();
            if (r.name() == QLatin1String("font-face")) {
                faces[a.value(kStyle, QStringLiteral("name")).toString()] =
                    a.value(kSvg, QStringLiteral("font-family")).toString().remove(QLatin1Char('\''));
            } else if (r.name() == QLatin1String("style") && r.namespaceUri() == kStyle) {
                style = a.value(kStyle, QStringLiteral("name")).toString();
            } else if (r.name() == QLatin1String("paragraph-properties") || r.name() == QLatin1String("text-properties")) {
                for (const QXmlStreamAttribute &attr : a)
                    styles[style][attr.name().toString()] = attr.value().toString();
            } else if (r.name() == QLatin1String("p") && r.namespaceUri() == kText) {
                inParagraph = true;
                paragraphStyle = a.value(kText, QStringLiteral("style-name")).toString();
                out.push_back(ReadParagraph{styles[paragraphStyle][QStringLiteral("writing-mode")], {}, {}});
            } else if (inParagraph && r.name() == QLatin1String("span")) {
                spanStyles.push_back(a.value(kText, QStringLiteral("style-name")).toString());
            } else if (inParagraph && r.name() == QLatin1String("tab")) {
                put(QStringLiteral("\t"));
            } else if (inParagraph && r.name() == QLatin1String("s")) {
                put(QString(qMax(1, a.value(kText, QStringLiteral("c")).toInt()), QLatin1Char(' ')));
            }
        } else if (r.isEndElement()) {
            if (r.name() == QLatin1String("p") && r.namespaceUri() == kText)
                inParagraph = false;
            else if (inParagraph && r.name() == QLatin1String("span"))
                spanStyles.pop_back();
        } else if (r.isCharacters() && inParagraph) {
            put(r.text().toString());
        }
    }
    return out;
}

struct WordBox {
    QString text;
    double xMin = 0, xMax = 0;
};

// The words of the PDF file's last page with their boxes, as poppler finds them.
std::vector<WordBox> lastPageWords(const QString &pdf)
{
    const auto bbox = ToolRunner::run(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    if (!bbox)
        return {};
    const QString page = bbox->mid(bbox->lastIndexOf(QLatin1String("<page ")));
    static const QRegularExpression word(
        QStringLiteral("<word xMin=\"([\\d.]+)\" yMin=\"[\\d.]+\" xMax=\"([\\d.]+)\" yMax=\"[\\d.]+\">([^<]*)</word>"));
    std::vector<WordBox> out;
    for (const QRegularExpressionMatch &m : word.globalMatch(page))
        out.push_back({m.captured(3), m.captured(1).toDouble(), m.captured(2).toDouble()});
    return out;
}

} // namespace

// LibreOffice, the word processor of Linux desktops, opens the file: every
// note reads as typed, a right-to-left one in a right-to-left paragraph
// whose tab stops count from its start at the right, and each letter of a
// complex or East Asian script takes a font that has it.
TEST_F(RtfExport, AWordProcessorReadsEveryScriptInItsDirectionWithItsFonts)
{
    if (!ToolRunner::available(QStringLiteral("soffice")) || !ToolRunner::available(QStringLiteral("pdftotext")))
        GTEST_SKIP() << "LibreOffice or poppler not installed";
    const QString column1 = QStringLiteral("\u05d0\t12\t\u05d1"), column2 = QStringLiteral("\u05d0\u05d0\u05d0\t3\t\u05d1\u05d1");
    feed[Notes] = QStringList(std::begin(kScriptNotes), std::end(kScriptNotes)) << column1 << column2;
    write();

    // Both conversions at once, each with a profile of its own.
    std::vector<std::unique_ptr<QProcess>> runs;
    for (const char *format : {"fodt", "pdf"}) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(QStringLiteral("soffice"),
                 {QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(dir.filePath(QStringLiteral("profile-") + QLatin1String(format))).toString(),
                  QStringLiteral("--headless"), QStringLiteral("--convert-to"), QString::fromLatin1(format),
                  QStringLiteral("--outdir"), dir.path(), rtf.FileName});
        runs.push_back(std::move(p));
    }
    for (auto &p : runs) {
        ASSERT_TRUE(p->waitForFinished(180000));
        ASSERT_EQ(p->exitCode(), 0) << p->readAll().toStdString();
    }
    QFile fodt(dir.filePath(QStringLiteral("report.fodt")));
    ASSERT_TRUE(fodt.open(QIODevice::ReadOnly));
    const std::vector<ReadParagraph> read = readFlatDocument(fodt.readAll());

    for (const QString &typed : kScriptNotes) {
        const QString note = typed.normalized(QString::NormalizationForm_C);
        SCOPED_TRACE(note.toStdString());
        const auto p = std::find_if(read.begin(), read.end(), [&](const ReadParagraph &r) { return r.text == note; });
        ASSERT_NE(p, read.end()) << "the note does not read back as typed";
        EXPECT_EQ(p->writingMode == QLatin1String("rl-tb"), rightToLeftText(note)) << p->writingMode.toStdString();
        for (qsizetype i = 0; i < note.size(); ++i) {
            const Slot slot = slotOf(note[i]);
            if (slot == Slot::None || slot == Slot::Regular || !anyFontHas(note[i].unicode()))
                continue;
            const auto &fonts = p->fonts[static_cast<size_t>(i)];
            const auto font = fonts.find(slot == Slot::Complex ? QStringLiteral("font-name-complex")
                                                               : QStringLiteral("font-name-asian"));
            const QString family = font == fonts.end() ? QString() : font->second;
            EXPECT_TRUE(familyHas(family, note[i].unicode())) << "'" << family.toStdString() << "' for U+" << std::hex << note[i].unicode();
        }
    }

    // The tab columns of the two right-to-left lines, as the pages show them.
    const std::vector<WordBox> words = lastPageWords(dir.filePath(QStringLiteral("report.pdf")));
    const auto right = [&](const QString &text) {
        const auto w = std::find_if(words.begin(), words.end(), [&](const WordBox &b) { return b.text == text; });
        return w == words.end() ? -1.0 : w->xMax;
    };
    const double start1 = right(QStringLiteral("\u05d0")), start2 = right(QStringLiteral("\u05d0\u05d0\u05d0"));
    ASSERT_GT(start1, 595.0 / 2) << "a right-to-left line starts at the right";
    EXPECT_NEAR(start2, start1, 0.5);
    EXPECT_NEAR(right(QStringLiteral("12")), start1 - 36, 0.5) << "the first stop, 36 pt from the start";
    EXPECT_NEAR(right(QStringLiteral("3")), start1 - 36, 0.5);
    EXPECT_NEAR(right(QStringLiteral("\u05d1")), start1 - 72, 0.5);
    EXPECT_NEAR(right(QStringLiteral("\u05d1\u05d1")), start1 - 72, 0.5);
}
