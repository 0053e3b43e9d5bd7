// The PDF writer, checked from outside with pdfinfo and the readers people
// use (pdftotext, mutool, pdf.js), and by the objects it writes.
#include "PdfProbe.h"
#include "PdfReaders.h"
#include "ReportFixture.h"
#include "ToolRunner.h"
#include "report/RptPdfExport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <ctime>
#include <map>
#include <set>

#include <gtest/gtest.h>
#include <zlib.h>

using namespace ReportFixture;

namespace {

class PdfExport : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        feed = Feed::typical();
    }

    // Prepares the feed and exports it; the path written.
    QString write(const QString &name = QStringLiteral("report.pdf"))
    {
        feed.bind(report);
        report.PrepareReport();
        pdf.FileName = dir.filePath(name);
        pdf.Opener = [this](const QString &p) { opened << p; };
        EXPECT_TRUE(report.Export(pdf)) << pdf.lastError.toStdString();
        return pdf.FileName;
    }

    // Every reader the file is read back with; a missing one fails the test.
    static void needReaders()
    {
        for (const PdfReaders::Reader r : PdfReaders::kAll)
            ASSERT_TRUE(PdfReaders::available(r)) << PdfReaders::missing(r).toStdString();
    }

    static void needTools()
    {
        if (!ToolRunner::available(QStringLiteral("pdfinfo")) || !ToolRunner::available(QStringLiteral("pdftotext")))
            GTEST_SKIP() << "poppler-utils not installed";
    }

    QString pageText(const QString &path, int page)
    {
        const auto text = ToolRunner::run(QStringLiteral("pdftotext"),
                                          {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(page),
                                           QStringLiteral("-l"), QString::number(page), path, QStringLiteral("-")});
        EXPECT_TRUE(text.has_value()) << "pdftotext failed on page " << page;
        return ToolRunner::simplified(text.value_or(QString()));
    }

    QTemporaryDir dir;
    Feed feed;
    TRptReport report;
    TRptPDFExport pdf;
    QStringList opened;
};

} // namespace

TEST_F(PdfExport, InformationPagesAndNoEncryption)
{
    needTools();
    const QString path = write();
    const auto info = ToolRunner::run(QStringLiteral("pdfinfo"), {path});
    ASSERT_TRUE(info.has_value()) << "pdfinfo rejected the file";
    EXPECT_EQ(ToolRunner::infoField(*info, QStringLiteral("Pages")), QStringLiteral("4"));
    EXPECT_TRUE(ToolRunner::infoField(*info, QStringLiteral("Page size")).startsWith(QStringLiteral("595.276 x 841.89 pts")))
        << info->toStdString();
    EXPECT_EQ(ToolRunner::infoField(*info, QStringLiteral("Author")), QStringLiteral("Vantoro"));
    EXPECT_EQ(ToolRunner::infoField(*info, QStringLiteral("Subject")), QStringLiteral("Vantoro PDF export"));
    EXPECT_EQ(ToolRunner::infoField(*info, QStringLiteral("Title")), QStringLiteral("Z960 Report MeterID - 123456"));
    EXPECT_EQ(ToolRunner::infoField(*info, QStringLiteral("Creator")), QStringLiteral("Vantoro"));
    EXPECT_EQ(ToolRunner::infoField(*info, QStringLiteral("Encrypted")), QStringLiteral("no"));
    EXPECT_TRUE(ToolRunner::infoField(*info, QStringLiteral("CreationDate")).contains(QStringLiteral("2026")));
}

TEST_F(PdfExport, EveryPrintedLineAndTheFooterAreOnTheirPage)
{
    needTools();
    const QString path = write();
    for (const Rpt::Page &page : report.prepared().pages) {
        const QString text = pageText(path, page.number);
        for (const QString &l : page.lines())
            EXPECT_TRUE(text.contains(l.simplified())) << "page " << page.number << ": " << l.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("Page ") + QString::number(page.number)));
        EXPECT_TRUE(text.contains(QStringLiteral("14:05:33 December 09, 2026 Validator ID: DAV01234")));
    }
    EXPECT_FALSE(pageText(path, 2).contains(QStringLiteral("Z960 Report MeterID"))) << "title on page one only";
    EXPECT_TRUE(opened.isEmpty()) << "not opened unless asked";
}

TEST_F(PdfExport, SpecialCharactersSurviveEscapingAndTheCodePage)
{
    needTools();
    feed[Notes] = QStringList{QStringLiteral("Valve (left) \\ checked"), QStringLiteral("Caf\u00e9 \u20ac5 \u2013 done"),
                              QStringLiteral("unbalanced ( and ))")};
    const QString path = write();
    const QString text = pageText(path, 4);
    for (const QString &l : feed[Notes])
        EXPECT_TRUE(text.contains(l)) << l.toStdString() << " in " << text.toStdString();
}

TEST_F(PdfExport, ContentStreamsAreDeflated)
{
    const QString path = write();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    // The version of what it uses: /ActualText (1.5) and OpenType font programs (1.6).
    EXPECT_TRUE(bytes.startsWith("%PDF-1.6\n"));
    EXPECT_TRUE(bytes.endsWith("%%EOF\n"));
    EXPECT_FALSE(bytes.contains("/Encrypt"));
    EXPECT_FALSE(bytes.contains(" Tj")) << "page text is not stored plain";
    int streams = 0, pages = 0;
    for (int at = bytes.indexOf("stream\n"); at >= 0; at = bytes.indexOf("stream\n", at + 1)) {
        if (at >= 3 && bytes.mid(at - 3, 3) == "end")
            continue;
        const int start = at + 7, end = bytes.indexOf("\nendstream", start);
        ASSERT_GT(end, start);
        QByteArray plain(1 << 20, '\0');
        uLongf size = static_cast<uLongf>(plain.size());
        ASSERT_EQ(uncompress(reinterpret_cast<Bytef *>(plain.data()), &size,
                             reinterpret_cast<const Bytef *>(bytes.constData() + start), static_cast<uLong>(end - start)),
                  Z_OK);
        plain.resize(static_cast<int>(size));
        // Page contents draw glyph codes of an embedded font; the other
        // streams are the fonts and their maps.
        if (plain.contains("BT\n")) {
            EXPECT_TRUE(plain.contains(" Tf <")) << "stream " << streams;
            ++pages;
        }
        ++streams;
    }
    EXPECT_EQ(pages, 4);
    EXPECT_GT(streams, pages);
}

TEST_F(PdfExport, ReplacesAnEarlierFileAndLeavesNoTemporaryFile)
{
    QFile old(dir.filePath(QStringLiteral("report.pdf")));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an older report");
    old.close();
    const QString path = write();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().startsWith("%PDF"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("report.pdf")});
}

TEST_F(PdfExport, OpensTheWrittenFileWhenAsked)
{
    pdf.OpenAfterExport = true;
    const QString path = write();
    EXPECT_EQ(opened, QStringList{path});
}

TEST_F(PdfExport, AFileThatCannotBeWrittenIsAFailure)
{
    feed.bind(report);
    report.PrepareReport();
    QFile blocker(dir.filePath(QStringLiteral("not-a-folder")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    pdf.Opener = [this](const QString &p) { opened << p; };
    pdf.OpenAfterExport = true;
    const QString cases[] = {dir.filePath(QStringLiteral("not-a-folder/report.pdf")),
                             dir.filePath(QStringLiteral("missing/report.pdf")), QString()};
    for (const QString &name : cases) {
        pdf.FileName = name;
        EXPECT_FALSE(report.Export(pdf)) << name.toStdString();
        EXPECT_FALSE(pdf.lastError.isEmpty()) << name.toStdString();
    }
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{QStringLiteral("not-a-folder")});
}

TEST_F(PdfExport, NothingPreparedIsAFailure)
{
    pdf.FileName = dir.filePath(QStringLiteral("report.pdf"));
    EXPECT_FALSE(report.Export(pdf));
    EXPECT_FALSE(QFile::exists(pdf.FileName));
}

TEST(PdfStrings, LiteralsAndTextStrings)
{
    EXPECT_EQ(Rpt::pdfLiteral("a(b)c\\d"), QByteArray("(a\\(b\\)c\\\\d)"));
    EXPECT_EQ(Rpt::pdfLiteral("\xe9\n"), QByteArray("(\\351\\012)"));
    EXPECT_EQ(Rpt::pdfTextString(QStringLiteral("Vantoro")), QByteArray("(Vantoro)"));
    EXPECT_EQ(Rpt::pdfTextString(QStringLiteral("M\u00fcller")), QByteArray("<FEFF004D00FC006C006C00650072>"));
    EXPECT_EQ(Rpt::pdfTextString(QString::fromUcs4(U"\U00020000x")), QByteArray("<FEFFD840DC000078>"));
    // Half a surrogate pair is no text.
    EXPECT_EQ(Rpt::pdfTextString(QStringLiteral("a") + QChar(0xD840) + QStringLiteral("b") + QChar(0xDC00)),
              QByteArray("<FEFF0061FFFD0062FFFD>"));
}

TEST(ExportFilter, AFailedRenderingKeepsTheEarlierFileAndSaysWhy)
{
    struct Failing : TRptExportFilter {
        QByteArray render(const Rpt::PreparedReport &) const override { throw std::runtime_error("disk on fire"); }
    } filter;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    filter.FileName = dir.filePath(QStringLiteral("report.pdf"));
    QFile old(filter.FileName);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("earlier report");
    old.close();
    TRptReport report;
    report.PrepareReport();
    EXPECT_FALSE(report.Export(filter));
    EXPECT_EQ(filter.lastError, QStringLiteral("disk on fire"));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("earlier report"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("report.pdf")});
}

// The page footer's fields start where the template puts them whatever the
// direction of their text: a date in right-to-left month names right after
// the time, as in a left-to-right locale, and a tab in a field is a blank.
// A right-to-left note still starts at its memo's right, where its tab
// stops count from. The locales are Qt's own: no system locale is needed.
TEST_F(PdfExport, TheFootersFieldsStartWhereTheTemplatePutsThem)
{
    const QString hebrewNote = QStringLiteral("\u05e9\u05dc\u05d5\u05dd \u05e2\u05d5\u05dc\u05dd");
    const struct {
        QLocale locale;
        Rpt::LineForm::Direction date;
    } cases[] = {
        {QLocale(QLocale::English, QLocale::UnitedKingdom), Rpt::LineForm::LeftToRight},
        {QLocale(QLocale::Arabic, QLocale::Egypt), Rpt::LineForm::RightToLeft},
        {QLocale(QLocale::Hebrew, QLocale::Israel), Rpt::LineForm::RightToLeft},
    };
    feed[Notes] = QStringList{hebrewNote};
    feed.footerText = QStringLiteral("Validator ID: DAV\t01234");
    const auto pt = [](double mm) { return mm / Rpt::kMmPerPt; };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        feed.bind(report);
        report.locale = c.locale;
        ASSERT_TRUE(report.PrepareReport());
        pdf.FileName = dir.filePath(c.locale.name() + QStringLiteral(".pdf"));
        ASSERT_TRUE(report.Export(pdf)) << pdf.lastError.toStdString();
        const Rpt::PreparedReport &pr = report.prepared();
        const QString date = Rpt::formatDateTime(pr.preparedAt, QStringLiteral("mmmm dd, yyyy"), c.locale);
        const Rpt::PlacedBand &footer = *pr.pages.front().band(QStringLiteral("PageFooter1"));
        ASSERT_EQ(footer.memos.at(2).text(), date);
        EXPECT_EQ(footer.memos.at(2).form(0).direction, c.date) << "the row prints the date it means to";
        EXPECT_EQ(footer.memos.at(3).text().toStdString(), "Validator ID: DAV 01234") << "a tab in a field is a blank";

        QFile f(pdf.FileName);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const PdfProbe::Document doc(f.readAll());
        // Where the printed line that reads as this text starts, in points.
        const auto startOf = [&doc](int page, const QString &text) {
            const int id = doc.pages().at(static_cast<size_t>(page - 1));
            const auto fonts = doc.fonts(id);
            for (const PdfProbe::Line &l : doc.lines(id))
                if (PdfProbe::letters(PdfProbe::contentText(l.glyphs, fonts)) == PdfProbe::letters(text))
                    return l.x;
            ADD_FAILURE() << "page " << page << " prints no line " << text.toStdString();
            return -1.0;
        };
        const struct {
            QString text;
            double memoLeft;  // mm from the margin
        } fields[] = {
            {QStringLiteral("14:05:33"), 0},
            {date, 16},
            {QStringLiteral("Validator ID: DAV 01234"), 61.1},
        };
        for (const Rpt::Page &p : pr.pages)
            for (const auto &field : fields)
                EXPECT_NEAR(startOf(p.number, field.text), pt(10 + field.memoLeft + Rpt::kMemoPadX), 0.01)
                    << "page " << p.number << ": " << field.text.toStdString();
        EXPECT_GT(startOf(static_cast<int>(pr.pages.size()), hebrewNote), pt(10 + 95))
            << "a right-to-left note starts in the right half of its memo";
    }
}

// The file's identifier, and its dates with the local zone's offset at that
// time of year; qpdf finds nothing wrong.
TEST_F(PdfExport, TheTrailerHasAnIdAndTheDatesTheirZone)
{
    const QByteArray savedZone = qgetenv("TZ");
    const struct {
        const char *zone;
        QDateTime at;
        const char *date;
    } cases[] = {
        {"Europe/Berlin", QDateTime(QDate(2026, 12, 9), QTime(14, 5, 33)), "(D:20261209140533+01'00')"},
        {"Europe/Berlin", QDateTime(QDate(2026, 7, 1), QTime(9, 0, 0)), "(D:20260701090000+02'00')"},
        {"America/St_Johns", QDateTime(QDate(2026, 12, 9), QTime(14, 5, 33)), "(D:20261209140533-03'30')"},
        {"UTC", QDateTime(QDate(2026, 12, 9), QTime(14, 5, 33)), "(D:20261209140533+00'00')"},
    };
    QByteArray firstId;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.zone);
        qputenv("TZ", c.zone);
        tzset();
        feed.bind(report);
        report.Clock = [&c] { return c.at; };
        ASSERT_TRUE(report.PrepareReport());
        pdf.FileName = dir.filePath(QStringLiteral("dated.pdf"));
        ASSERT_TRUE(report.Export(pdf)) << pdf.lastError.toStdString();
        const QString path = pdf.FileName;
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        EXPECT_TRUE(bytes.contains(QByteArray("/CreationDate ") + c.date)) << c.date;
        EXPECT_TRUE(bytes.contains(QByteArray("/ModDate ") + c.date)) << c.date;
        const auto id = QRegularExpression(QStringLiteral("/ID \\[<([0-9A-F]{32})> <([0-9A-F]{32})>\\]"))
                            .match(QString::fromLatin1(bytes.mid(bytes.lastIndexOf("trailer"))));
        ASSERT_TRUE(id.hasMatch());
        EXPECT_EQ(id.captured(1), id.captured(2));
        if (firstId.isEmpty())
            firstId = id.captured(1).toLatin1();
        else
            EXPECT_NE(id.captured(1).toLatin1(), firstId) << "another file, another identifier";
        if (ToolRunner::available(QStringLiteral("qpdf"))) {
            const auto check = ToolRunner::run(QStringLiteral("qpdf"), {QStringLiteral("--check"), path});
            ASSERT_TRUE(check.has_value()) << "qpdf --check found faults";
            EXPECT_TRUE(check->contains(QStringLiteral("No syntax or stream encoding errors found")));
        }
    }
    if (savedZone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", savedZone);
    tzset();
}

namespace {

// Whether every surrogate of the text is in a pair.
bool wholeUtf16(const QString &s)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate())
            ++i;
        else if (s[i].isSurrogate())
            return false;
    }
    return true;
}

// The text without white space and without the invisible characters
// (joiners) a reader may give back or leave out.
QString visible(const QString &text)
{
    QString out;
    for (const char32_t c : text.toStdU32String())
        if (!QChar::isSpace(c) && !Rpt::isDefaultIgnorable(c))
            out += QString::fromUcs4(&c, 1);
    return out;
}

// The fonts of the file (every page shares them), and every text it gives
// a glyph: each ToUnicode entry and each /ActualText.
struct FileText {
    std::map<QByteArray, PdfProbe::Font> fonts;
    QStringList texts;

    explicit FileText(const QString &path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            ADD_FAILURE() << "no file " << path.toStdString();
            return;
        }
        const PdfProbe::Document doc(f.readAll());
        fonts = doc.fonts(doc.pages().front());
        for (const auto &[resource, font] : fonts)
            for (const auto &[code, text] : font.toUnicode)
                texts << text;
        const QRegularExpression actual(QStringLiteral("/ActualText <FEFF([0-9A-F]*)>"));
        for (const auto &[id, stream] : doc.streams)
            for (auto m = actual.globalMatch(QString::fromLatin1(stream)); m.hasNext();) {
                const QString hex = m.next().captured(1);
                QString text;
                for (qsizetype k = 0; k + 4 <= hex.size(); k += 4)
                    text += QChar(char16_t(hex.mid(k, 4).toUInt(nullptr, 16)));
                texts << text;
            }
    }
};

} // namespace

// Text beyond the basic plane, alone and in clusters, reaches the file in
// whole surrogate pairs, and every reader gives it back as typed: letters a
// font has, and ideographs and emoji sequences no installed font has
// (printed as boxes that stand for them).
TEST_F(PdfExport, CharactersBeyondTheBasicPlaneAreNeverCutInTwo)
{
    ASSERT_NO_FATAL_FAILURE(needReaders());
    const struct {
        const char *name;
        QString typed;
    } rows[] = {
        {"MathematicalLetters", QString::fromUcs4(U"\U0001D400\U0001D401\U0001D402 bold")},
        {"CjkExtensionB", QString::fromUcs4(U"\U00020000\U00020001\U0002A6D6 ideographs")},
        {"EmojiWithJoiners", QString::fromUcs4(U"family \U0001F468\u200D\U0001F469\u200D\U0001F467 ok")},
        {"FlagAndSkinTone", QString::fromUcs4(U"\U0001F1E9\U0001F1EA \U0001F44D\U0001F3FD ok")},
        {"MarkOnALetterBeyond", QString::fromUcs4(U"\U0001D400\u0301 accent")},
    };
    feed[Notes].clear();
    for (const auto &row : rows)
        feed[Notes] << row.typed;
    const QString path = write();
    for (const QString &t : FileText(path).texts)
        EXPECT_TRUE(wholeUtf16(t)) << "a text cut inside a surrogate pair";
    const int notesPage = static_cast<int>(report.prepared().pages.size());
    for (const PdfReaders::Reader r : PdfReaders::kAll) {
        SCOPED_TRACE(PdfReaders::name(r));
        const QString text = PdfReaders::pageText(r, path, notesPage).value_or(QString());
        EXPECT_FALSE(text.contains(QChar(0xFFFD))) << text.toStdString();
        for (const auto &row : rows)
            EXPECT_TRUE(visible(text).contains(visible(row.typed)))
                << row.name << ": " << row.typed.toStdString() << " in " << text.toStdString();
    }
}

// A report that draws more distinct glyphs of one font than the two-byte
// codes of one subset can tell apart (characters no installed font has,
// each printed as the first font's box standing for itself) embeds that
// font in further subsets: every box's character is mapped whole, and the
// readers give every line back.
TEST_F(PdfExport, AFontDrawingMoreThanOneSubsetCanCodeGoesOnInAnother)
{
    ASSERT_NO_FATAL_FAILURE(needReaders());
    static constexpr std::pair<char32_t, char32_t> kNoFontHas[] = {
        {0x20000, 0x2A6DF}, {0x2A700, 0x2B739}, {0x2B740, 0x2B81D}, {0x2B820, 0x2CEA1},  // CJK Extensions B to E
        {0x2CEB0, 0x2EBE0}, {0x30000, 0x3134A},                                          // F and G
        {0x13000, 0x1342E},                                                              // Egyptian hieroglyphs
    };
    std::u32string chars;
    for (const auto &[from, to] : kNoFontHas)
        for (char32_t c = from; c <= to; ++c)
            chars.push_back(c);
    ASSERT_GT(chars.size(), 0xFFFFu);
    feed[Notes].clear();
    for (size_t at = 0; at < chars.size(); at += 60)
        feed[Notes] << QString::fromUcs4(chars.data() + at, static_cast<qsizetype>(std::min<size_t>(60, chars.size() - at)));
    const QString path = write();

    const FileText file(path);
    std::map<QByteArray, int> subsets;  // by font name
    for (const auto &[resource, font] : file.fonts)
        ++subsets[font.baseFont.mid(font.baseFont.indexOf('+') + 1)];
    EXPECT_GE(std::max_element(subsets.begin(), subsets.end(), [](auto &a, auto &b) { return a.second < b.second; })->second, 2);
    std::set<char32_t> mapped;
    for (const QString &t : file.texts) {
        EXPECT_TRUE(wholeUtf16(t)) << "a text cut inside a surrogate pair";
        for (const char32_t c : t.toStdU32String())
            mapped.insert(c);
    }
    EXPECT_EQ(std::count_if(chars.begin(), chars.end(), [&](char32_t c) { return !mapped.count(c); }), 0)
        << "characters no code stands for";

    for (const PdfReaders::Reader r : PdfReaders::kAll) {
        SCOPED_TRACE(PdfReaders::name(r));
        const int pages = static_cast<int>(report.prepared().pages.size());
        const QString text = visible(PdfReaders::pagesText(r, path, 1, pages).value_or(QString()));
        int lost = 0;
        for (const QString &note : feed[Notes])
            lost += !text.contains(note);
        EXPECT_EQ(lost, 0) << "of " << feed[Notes].size() << " lines";
    }
}
