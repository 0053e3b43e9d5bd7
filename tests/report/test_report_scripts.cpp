// Every script printed as it is read: each line put in reading order,
// shaped in the font that has its letters, drawn with the glyphs and
// advances the shaper gives for that font and run, and extracted again as
// it was typed.
#include "PdfProbe.h"
#include "ReportFixture.h"
#include "ToolRunner.h"
#include "report/RptPdfExport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb.h>

#include <gtest/gtest.h>

#include <algorithm>

using namespace ReportFixture;

namespace {

// How a line's text is given back: in content order, reversed (a line read
// right to left throughout), or as the whole line's /ActualText (a line
// that reads in both directions).
enum class Order { Forward, Reversed, Whole };

struct Script {
    const char *name;
    QString typed;
    Order order;
};

const Script kScripts[] = {
    {"Arabic", QStringLiteral("\u0645\u0631\u062d\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645 \u0644\u0627"),
     Order::Reversed},
    {"ArabicWithVowelMarks", QStringLiteral("\u0645\u064f\u062d\u064e\u0645\u0651\u064e\u062f"), Order::Reversed},
    {"Hebrew", QStringLiteral("\u05e9\u05dc\u05d5\u05dd \u05e2\u05d5\u05dc\u05dd"), Order::Reversed},
    {"ArabicWithLatinDigits", QStringLiteral("\u0627\u0644\u0639\u062f\u062f 123 \u0645\u062a\u0631"), Order::Whole},
    {"LatinWithHebrew", QStringLiteral("Pipe \u05e6\u05d9\u05e0\u05d5\u05e8 DN100"), Order::Whole},
    // Decomposed as typed on some keyboards; printed and extracted composed (NFC).
    {"DecomposedVietnamese", QString::fromUtf8("Tie\xcc\x82\xcc\x81ng Vie\xcc\xa3\xcc\x82t co\xcc\x83 da\xcc\x82\xcc\x81u"),
     Order::Forward},
    {"Japanese", QStringLiteral("\u6d41\u91cf\u8a08\u3092\u70b9\u691c\u3057\u307e\u3057\u305f"), Order::Forward},
    {"Chinese", QStringLiteral("\u6d41\u91cf\u8ba1\u5df2\u68c0\u67e5\uff0c\u6b63\u5e38"), Order::Forward},
    {"Devanagari", QStringLiteral("\u0928\u092e\u0938\u094d\u0924\u0947 \u0915\u093f\u0924\u093e\u092c"),
     Order::Forward},
    {"Thai", QStringLiteral("\u0e2a\u0e27\u0e31\u0e2a\u0e14\u0e35\u0e04\u0e23\u0e31\u0e1a"), Order::Forward},
    {"EmojiSequences",
     QString::fromUtf8("ok \xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7 "
                       "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA \xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"),
     Order::Forward},
};

using PdfProbe::contentText;
using PdfProbe::reversed;

// Whether some installed font with outlines has the character.
bool anyFontHas(char32_t c)
{
    FcInit();
    FcPattern *p = FcPatternCreate();
    FcCharSet *cs = FcCharSetCreate();
    FcCharSetAddChar(cs, c);
    FcPatternAddCharSet(p, FC_CHARSET, cs);
    FcPatternAddBool(p, FC_OUTLINE, FcTrue);
    FcObjectSet *os = FcObjectSetBuild(FC_FILE, FC_COLOR, nullptr);
    FcFontSet *set = FcFontList(nullptr, p, os);
    bool found = false;
    for (int i = 0; set && i < set->nfont; ++i) {
        FcBool color = FcFalse;
        FcPatternGetBool(set->fonts[i], FC_COLOR, 0, &color);
        found = found || !color;
    }
    if (set)
        FcFontSetDestroy(set);
    FcObjectSetDestroy(os);
    FcCharSetDestroy(cs);
    FcPatternDestroy(p);
    return found;
}

// The installed file with this PostScript name, and its face.
std::pair<QString, int> fontFile(const QByteArray &postScriptName)
{
    FcInit();
    FcPattern *p = FcPatternCreate();
    FcPatternAddString(p, FC_POSTSCRIPT_NAME, reinterpret_cast<const FcChar8 *>(postScriptName.constData()));
    FcObjectSet *os = FcObjectSetBuild(FC_FILE, FC_INDEX, nullptr);
    FcFontSet *set = FcFontList(nullptr, p, os);
    std::pair<QString, int> out;
    if (set && set->nfont > 0) {
        FcChar8 *file = nullptr;
        FcPatternGetString(set->fonts[0], FC_FILE, 0, &file);
        FcPatternGetInteger(set->fonts[0], FC_INDEX, 0, &out.second);
        out.first = QString::fromUtf8(reinterpret_cast<const char *>(file));
    }
    if (set)
        FcFontSetDestroy(set);
    FcObjectSetDestroy(os);
    FcPatternDestroy(p);
    return out;
}

// A glyph's outline, to tell glyphs apart across a subset's new numbering.
std::vector<long> outline(FT_Face face, uint32_t glyph)
{
    std::vector<long> out;
    if (FT_Load_Glyph(face, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0)
        return {-1};
    const FT_Outline &o = face->glyph->outline;
    for (int i = 0; i < o.n_points; ++i) {
        out.push_back(o.points[i].x);
        out.push_back(o.points[i].y);
    }
    for (int i = 0; i < o.n_contours; ++i)
        out.push_back(o.contours[i]);
    return out;
}

struct Shaped {
    std::vector<std::vector<long>> outlines;
    std::vector<double> x, y;  // 1/1000 em from the run's start
};

// What HarfBuzz gives for the text in the face, kerning off and the
// invisible characters removed, as the report asks for.
Shaped shape(FT_Library lib, const QString &path, int index, const QString &text)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    const QByteArray data = file.readAll();
    hb_blob_t *blob = hb_blob_create(data.constData(), static_cast<unsigned>(data.size()), HB_MEMORY_MODE_READONLY,
                                     nullptr, nullptr);
    hb_face_t *face = hb_face_create(blob, static_cast<unsigned>(index));
    hb_font_t *font = hb_font_create(face);
    const double upem = hb_face_get_upem(face);
    hb_buffer_t *buf = hb_buffer_create();
    const QList<uint> ucs4 = text.toUcs4();
    hb_buffer_add_utf32(buf, ucs4.constData(), static_cast<int>(ucs4.size()), 0, -1);
    hb_buffer_guess_segment_properties(buf);
    hb_buffer_set_flags(buf, static_cast<hb_buffer_flags_t>(HB_BUFFER_FLAG_BOT | HB_BUFFER_FLAG_EOT |
                                                            HB_BUFFER_FLAG_REMOVE_DEFAULT_IGNORABLES));
    const hb_feature_t noKern = {HB_TAG('k', 'e', 'r', 'n'), 0, HB_FEATURE_GLOBAL_START, HB_FEATURE_GLOBAL_END};
    hb_shape(font, buf, &noKern, 1);
    unsigned n = 0;
    const hb_glyph_info_t *info = hb_buffer_get_glyph_infos(buf, &n);
    const hb_glyph_position_t *pos = hb_buffer_get_glyph_positions(buf, &n);
    FT_Face ft = nullptr;
    EXPECT_EQ(FT_New_Memory_Face(lib, reinterpret_cast<const FT_Byte *>(data.constData()), data.size(), index, &ft), 0);
    Shaped out;
    double pen = 0;
    for (unsigned i = 0; i < n; ++i) {
        out.outlines.push_back(outline(ft, info[i].codepoint));
        out.x.push_back(pen + std::lround(pos[i].x_offset * 1000 / upem));
        out.y.push_back(std::lround(pos[i].y_offset * 1000 / upem));
        pen += std::lround(pos[i].x_advance * 1000 / upem);
    }
    FT_Done_Face(ft);
    hb_buffer_destroy(buf);
    hb_font_destroy(font);
    hb_face_destroy(face);
    hb_blob_destroy(blob);
    return out;
}

bool isRightToLeft(const QString &s)
{
    for (const uint c : s.toUcs4()) {
        const QChar::Direction d = QChar::direction(c);
        if (d == QChar::DirR || d == QChar::DirAL)
            return true;
        if (d == QChar::DirL)
            return false;
    }
    return false;
}

class ReportScripts : public testing::Test {
protected:
    // A report with only these notes, written to a file; its path.
    QString write(const QStringList &notes)
    {
        Feed feed;
        feed[Notes] = notes;
        feed.bind(report);
        EXPECT_TRUE(report.PrepareReport());
        pdf.FileName = dir.filePath(QStringLiteral("scripts.pdf"));
        EXPECT_TRUE(report.Export(pdf)) << pdf.lastError.toStdString();
        return pdf.FileName;
    }

    QTemporaryDir dir;
    TRptReport report;
    TRptPDFExport pdf;
};

} // namespace

TEST_F(ReportScripts, EveryScriptPrintsAsItIsReadAndIsExtractedAsTyped)
{
    if (!ToolRunner::available(QStringLiteral("pdftotext")))
        GTEST_SKIP() << "poppler-utils not installed";
    QStringList notes;
    for (const Script &s : kScripts)
        notes << s.typed;
    const QString path = write(notes);
    EXPECT_LT(QFileInfo(path).size(), 100 * 1024) << "with Chinese and Japanese text in it";

    QString extracted = ToolRunner::run(QStringLiteral("pdftotext"), {path, QStringLiteral("-")}).value_or(QString());
    extracted.remove(QRegularExpression(QStringLiteral("[\u202a-\u202e]")));  // poppler marks the direction it found
    const QStringList extractedLines = extracted.split(QLatin1Char('\n'));

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const PdfProbe::Document doc(f.readAll());
    const int page = doc.pages().back();
    const auto fonts = doc.fonts(page);
    std::vector<PdfProbe::Line> lines = doc.lines(page);
    FT_Library lib = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);

    for (const Script &s : kScripts) {
        SCOPED_TRACE(s.name);
        const QString typed = s.typed.normalized(QString::NormalizationForm_C);
        // The line that gives back this text.
        const PdfProbe::Line *line = nullptr;
        for (const PdfProbe::Line &l : lines) {
            const QString text = contentText(l.glyphs, fonts);
            const QString got = s.order == Order::Reversed ? reversed(text) : text;
            if (got == typed)
                line = &l;
        }
        ASSERT_NE(line, nullptr) << "no line gives back " << typed.toStdString();
        if (s.order == Order::Whole) {
            // One /ActualText around the whole line, in the order it was typed.
            for (const PdfProbe::Shown &g : line->glyphs)
                EXPECT_EQ(g.actualText, typed);
        } else {
            EXPECT_TRUE(extractedLines.contains(typed)) << "pdftotext gave:\n" << extracted.toStdString();
        }

        // Runs of one font, each as HarfBuzz shapes its text in that font.
        for (size_t from = 0; from < line->glyphs.size();) {
            size_t to = from;
            while (to < line->glyphs.size() && line->glyphs[to].font == line->glyphs[from].font)
                ++to;
            const std::vector<PdfProbe::Shown> run(line->glyphs.begin() + from, line->glyphs.begin() + to);
            const PdfProbe::Font &font = fonts.at(run.front().font);
            QString text = contentText(run, fonts, s.order == Order::Whole);
            if (isRightToLeft(text))
                text = reversed(text);
            SCOPED_TRACE(font.baseFont.toStdString() + " \"" + text.toStdString() + "\"");
            const auto [file, index] = fontFile(font.baseFont.mid(font.baseFont.indexOf('+') + 1));
            ASSERT_FALSE(file.isEmpty());
            const Shaped want = shape(lib, file, index, text);
            ASSERT_EQ(run.size(), want.outlines.size());
            FT_Face subset = nullptr;
            ASSERT_EQ(FT_New_Memory_Face(lib, reinterpret_cast<const FT_Byte *>(font.program.constData()),
                                         font.program.size(), 0, &subset),
                      0);
            for (size_t i = 0; i < run.size(); ++i) {
                const uint32_t glyph = font.glyphOf.empty() ? run[i].code : font.glyphOf.at(run[i].code);
                EXPECT_EQ(outline(subset, glyph), want.outlines[i]) << "glyph " << i;
                EXPECT_NEAR(run[i].x - run.front().x, want.x[i] - want.x.front(), 1.01) << "glyph " << i;
                EXPECT_NEAR(run[i].rise, want.y[i] * line->size / 1000, 0.01) << "glyph " << i;
                // The missing-glyph box only for what no installed font has.
                if (glyph == 0) {
                    const auto own = font.toUnicode.find(run[i].code);
                    const QString stands = own != font.toUnicode.end() ? own->second : run[i].actualText;
                    EXPECT_FALSE(stands.isEmpty());
                    for (const uint c : stands.toUcs4()) {
                        if (!Rpt::isDefaultIgnorable(c)) {
                            EXPECT_FALSE(anyFontHas(c)) << "a box for U+" << std::hex << c;
                        }
                    }
                }
            }
            FT_Done_Face(subset);
            from = to;
        }
    }
    FT_Done_FreeType(lib);
}

// Nothing shows where nothing should: soft hyphens only where a line
// breaks at them, direction marks and joiners not at all; columns after
// tabs begin at the same stop.
TEST_F(ReportScripts, InvisibleCharactersShowNothingAndTabsMakeColumns)
{
    const QString marks = QStringLiteral("A\u200eB\u200fC\u200dD\u2066E\u2069");
    const QString word = QStringLiteral("Durch\u00adfluss\u00admess\u00adger\u00e4te").repeated(8);
    const QString path = write({QStringLiteral("Flow\t25.5\tl/s"), QStringLiteral("Level of the weir\t1.25\tm"), marks, word});
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const PdfProbe::Document doc(f.readAll());
    const int page = doc.pages().back();
    const auto fonts = doc.fonts(page);
    const std::vector<PdfProbe::Line> lines = doc.lines(page);

    const auto lineOf = [&](const QString &typed) -> const PdfProbe::Line * {
        for (const PdfProbe::Line &l : lines)
            if (contentText(l.glyphs, fonts).remove(QLatin1Char('\t')) == QString(typed).remove(QLatin1Char('\t')))
                return &l;
        return nullptr;
    };
    const auto xOf = [&](const PdfProbe::Line &l, const QString &text) {  // its last glyph for the text
        double x = -1;
        for (const PdfProbe::Shown &g : l.glyphs)
            if (fonts.at(g.font).toUnicode.count(g.code) && fonts.at(g.font).toUnicode.at(g.code) == text)
                x = g.x * l.size / 1000;
        return x;
    };
    const PdfProbe::Line *flow = lineOf(QStringLiteral("Flow25.5l/s"));
    const PdfProbe::Line *level = lineOf(QStringLiteral("Level of the weir1.25m"));
    ASSERT_TRUE(flow && level);
    EXPECT_NEAR(xOf(*flow, QStringLiteral("2")), 36, 1e-3);
    EXPECT_NEAR(xOf(*level, QStringLiteral("1")), 108, 1e-3);  // the text runs past two stops
    EXPECT_NEAR(xOf(*flow, QStringLiteral("l")), 72, 1e-3);
    EXPECT_NEAR(xOf(*level, QStringLiteral("m")), 144, 1e-3);

    const PdfProbe::Line *marked = lineOf(marks);
    ASSERT_NE(marked, nullptr);
    EXPECT_EQ(marked->glyphs.size(), 5u) << "one glyph a letter, none for the marks";

    // The long word: every line but the last ends in a hyphen standing for a soft hyphen.
    int hyphens = 0, withSoftHyphens = 0;
    for (const PdfProbe::Line &l : lines) {
        const QString text = contentText(l.glyphs, fonts);
        if (!text.contains(QStringLiteral("fluss")) && !text.contains(QStringLiteral("ger")))
            continue;
        ++withSoftHyphens;
        const PdfProbe::Shown &last = l.glyphs.back();
        const bool hyphen = fonts.at(last.font).toUnicode.at(last.code) == QStringLiteral("\u00ad");
        hyphens += hyphen;
    }
    EXPECT_GE(withSoftHyphens, 2);
    EXPECT_EQ(hyphens, withSoftHyphens - 1);
    QString extracted =
        ToolRunner::run(QStringLiteral("pdftotext"), {path, QStringLiteral("-")}).value_or(QString()).remove(QChar(0x00ad));
    EXPECT_TRUE(extracted.remove(QLatin1Char('\n')).contains(QString(word).remove(QChar(0x00ad))));
}
