// Every script printed as it is read: each line put in reading order,
// shaped in the font that has its letters, drawn with the glyphs and
// advances the shaper gives for that font and run, and given back as it was
// typed by the readers technicians use (poppler's pdftotext, mupdf's mutool,
// pdf.js).
#include "PdfProbe.h"
#include "PdfReaders.h"
#include "InstalledFonts.h"
#include "ReportFixture.h"
#include "ToolRunner.h"
#include "report/RptPdfExport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <tuple>

using namespace ReportFixture;
using PdfReaders::Reader;

namespace {

// A line of the notes as typed. Readers give each back word by word as
// typed, with a blank between words, but for the limits each reader is
// known for:
// - poppler sets the runs of a line that holds both directions where they
//   show, on a page that reads mostly left to right, and moves a blank
//   beside a right-to-left run to its other end: such a line comes back
//   with every word whole, in some order and spacing;
// - mupdf starts a new line where a left-to-right run begins inside a
//   right-to-left line;
// - poppler sets a colon after a right-to-left word on the word's other
//   side, as a run of its own ("label: text");
// - mupdf starts a new line where a left-to-right run begins inside a
//   right-to-left line;
// - pdf.js reads a blank only where the text goes on to the right: a line
//   of a right-to-left paragraph comes back without blanks. It gives Thai
//   SARA AM back decomposed, as its own table of compatibility characters
//   says.
struct Script {
    const char *name;
    QString typed;
    bool popplerReordersRuns = false;
    bool mupdfBreaksAtRuns = false;
    bool popplerMovesPunctuation = false;
};

const Script kScripts[] = {
    {"Arabic", QStringLiteral("\u0645\u0631\u062d\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645 \u0644\u0627")},
    {"ArabicWithVowels", QStringLiteral("\u0628\u0650\u0633\u0652\u0645\u0650 \u0627\u0644\u0644\u0651\u064e\u0647\u0650 "
                                        "\u0645\u064f\u062d\u064e\u0645\u0651\u064e\u062f \u0631\u064e\u0633\u064f\u0648\u0644")},
    {"ArabicLabelAndText", QStringLiteral("\u0627\u0644\u0639\u0631\u0628\u064a\u0629: \u062a\u0645 \u0641\u062d\u0635 "
                                          "\u0627\u0644\u0639\u062f\u0627\u062f"),
     true, false, true},
    {"ArabicWithLatinDigits", QStringLiteral("\u0627\u0644\u0639\u062f\u062f 123 \u0645\u062a\u0631"), true},
    {"ArabicWithArabicIndicDigits", QStringLiteral("\u0627\u0644\u0639\u062f\u062f \u0661\u0662\u0663 \u0645\u062a\u0631"), true},
    {"PersianWithZwnj", QStringLiteral("\u0645\u06cc\u200c\u062e\u0648\u0627\u0647\u0645 \u0641\u0634\u0627\u0631 \u0631\u0627 "
                                       "\u0628\u0633\u0646\u062c\u0645")},
    {"Urdu", QStringLiteral("\u067e\u0627\u0646\u06cc \u06a9\u0627 \u0645\u06cc\u0679\u0631 \u0679\u06be\u06cc\u06a9 \u06c1\u06d2")},
    {"Hebrew", QStringLiteral("\u05e9\u05dc\u05d5\u05dd \u05e2\u05d5\u05dc\u05dd")},
    {"HebrewWithNiqqud", QStringLiteral("\u05e9\u05c1\u05b8\u05dc\u05d5\u05b9\u05dd \u05e2\u05d5\u05b9\u05dc\u05b8\u05dd")},
    {"HebrewWithEnglishAndDigits", QStringLiteral("\u05e6\u05d9\u05e0\u05d5\u05e8 DN100 \u05e0\u05d1\u05d3\u05e7 5 "
                                                  "\u05e4\u05e2\u05de\u05d9\u05dd"),
     true, true},
    {"LatinWithHebrew", QStringLiteral("Pipe \u05e6\u05d9\u05e0\u05d5\u05e8 DN100"), true},
    {"Devanagari", QStringLiteral("\u0928\u092e\u0938\u094d\u0924\u0947 \u0915\u093f\u0924\u093e\u092c \u0915\u0947\u092c\u0932 "
                                  "\u0926\u093f\u0938\u0902\u092c\u0930 \u0915\u093f")},
    {"DevanagariConjuncts", QStringLiteral("\u0915\u094d\u0937\u0924\u094d\u0930\u093f\u092f \u0936\u094d\u0930\u0940")},
    {"Bengali", QStringLiteral("\u0995\u09cb\u09b7 \u09aa\u09b0\u09c0\u0995\u09cd\u09b7\u09be \u0995\u09b0\u09be "
                               "\u09b9\u09af\u09bc\u09c7\u099b\u09c7 \u09ae\u09bf\u099f\u09be\u09b0")},
    {"Thai", QStringLiteral("\u0e15\u0e23\u0e27\u0e08\u0e2a\u0e2d\u0e1a\u0e21\u0e32\u0e15\u0e23\u0e27\u0e31\u0e14 "
                            "\u0e44\u0e1f\u0e1f\u0e49\u0e32 \u0e19\u0e49\u0e33")},
    {"Khmer", QStringLiteral("\u17a7\u1794\u1780\u179a\u178e\u17cd \u179c\u17b6\u179f\u17cb \u1780\u17c4\u17c7 "
                             "\u1796\u17b7\u1793\u17b7\u178f\u17d2\u1799")},
    {"KhmerTwoPieceVowels", QStringLiteral("\u17a0\u17be\u1799 \u179a\u17c0\u1793 \u1780\u17c4\u17c7")},
    // Decomposed as typed on some keyboards; printed and given back composed (NFC).
    {"DecomposedVietnamese", QString::fromUtf8("Tie\xcc\x82\xcc\x81ng Vie\xcc\xa3\xcc\x82t co\xcc\x83 da\xcc\x82\xcc\x81u")},
    {"Japanese", QStringLiteral("\u6d41\u91cf\u8a08\u3092\u70b9\u691c\u3057\u307e\u3057\u305f\u3002")},
    {"Chinese", QStringLiteral("\u6d41\u91cf\u8ba1\u5df2\u68c0\u67e5\uff0c\u6b63\u5e38")},
    // Pairs of halves with joiners: whole, never a replacement character.
    {"JoinedPairsOfHalves", QString::fromUtf8("ok \xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7 "
                                              "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA \xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD "
                                              "a\xF0\x9D\x90\x80\xE2\x80\x8D""b")},
};

// A line's words: what stands between blanks, composed (NFC), without the
// invisible characters typed into the notes (joiners, direction marks),
// which a reader may give back or leave out. One the notes do not hold
// stays: a word with it is not the word typed.
QStringList wordsOf(const QString &line, const QString &notes)
{
    QString visible;
    for (const char32_t c : line.normalized(QString::NormalizationForm_C).toStdU32String())
        if (!Rpt::isDefaultIgnorable(c) || !notes.contains(QString::fromUcs4(&c, 1)))
            visible += QString::fromUcs4(&c, 1);
    return visible.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

// The characters pdf.js gives back decomposed, by its own table.
const std::pair<QChar, QString> kPdfjsDecomposes[] = {{QChar(0x0E33), QStringLiteral("\u0E4D\u0E32")}};

// Whether a reader's line gives the typed words back as the reader's known
// limits allow (see Script).
bool givesBack(Reader r, const Script &s, const QStringList &line, const QString &notes)
{
    QStringList typed = wordsOf(s.typed, notes);
    if (r == Reader::Pdfjs)
        for (QString &w : typed)
            for (const auto &[c, decomposed] : kPdfjsDecomposes)
                w.replace(c, decomposed);
    if (line == typed)
        return true;
    const QString joined = line.join(QString()), whole = typed.join(QString());
    if (r == Reader::Pdfjs && Rpt::paragraphDirection(s.typed) == Rpt::LineForm::RightToLeft)
        return joined == whole;
    if (r == Reader::Poppler && s.popplerReordersRuns) {
        QList<uint> a = joined.toUcs4(), b = whole.toUcs4();
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        // Where poppler moves the punctuation, each word whole without it.
        if (s.popplerMovesPunctuation)
            for (QString &w : typed)
                w.remove(QRegularExpression(QStringLiteral("\\p{P}")));
        return a == b && std::all_of(typed.begin(), typed.end(), [&](const QString &w) { return joined.contains(w); });
    }
    return false;
}

using PdfProbe::contentText;

using InstalledFonts::anyFontHas;

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
Shaped shape(FT_Library lib, const QString &path, int index, const QString &text, bool rtl)
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
    hb_buffer_set_direction(buf, rtl ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
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

// The faces a test reads glyphs from: the report's font files and the
// subsets a PDF embeds, each opened once.
class Faces {
public:
    explicit Faces(FT_Library lib) : lib_(lib) {}

    FT_Face whole(const Rpt::FontFile &file)
    {
        return open(file.path().toUtf8() + '#' + QByteArray::number(file.index()), file.index(), [&] {
            QFile program(file.path());
            EXPECT_TRUE(program.open(QIODevice::ReadOnly));
            return program.readAll();
        });
    }

    FT_Face subset(const PdfProbe::Font &font)
    {
        return open(font.baseFont, 0, [&] { return font.program; });
    }

    void close()
    {
        for (auto &[key, face] : faces_)
            FT_Done_Face(face.second);
        faces_.clear();
    }

private:
    FT_Face open(const QByteArray &key, int index, const std::function<QByteArray()> &data)
    {
        auto it = faces_.find(key);
        if (it == faces_.end()) {
            it = faces_.emplace(key, std::make_pair(data(), FT_Face(nullptr))).first;
            const QByteArray &bytes = it->second.first;
            EXPECT_EQ(FT_New_Memory_Face(lib_, reinterpret_cast<const FT_Byte *>(bytes.constData()), bytes.size(),
                                         index, &it->second.second),
                      0);
        }
        return it->second.second;
    }

    FT_Library lib_;
    std::map<QByteArray, std::pair<QByteArray, FT_Face>> faces_;
};

// The glyph of the embedded program a code draws.
uint32_t subsetGlyph(const PdfProbe::Font &font, uint32_t code)
{
    return font.glyphOf.empty() ? code : font.glyphOf.at(code);
}

// Whether a path traces the glyph's outline: as many contours, each
// segment ending where the outline passes through a point of its own (an
// on-curve point, or midway between two quadratic control points).
bool tracesOutline(const PdfProbe::Path &path, FT_Face face, uint32_t glyph)
{
    if (FT_Load_Glyph(face, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0)
        return false;
    const FT_Outline &o = face->glyph->outline;
    std::set<std::pair<long, long>> through;  // doubled, to keep the midpoints whole
    for (int c = 0, first = 0; c < o.n_contours; first = o.contours[c++] + 1) {
        for (int i = first; i <= o.contours[c]; ++i) {
            const int next = i == o.contours[c] ? first : i + 1;
            const FT_Vector &p = o.points[i], &q = o.points[next];
            if (FT_CURVE_TAG(o.tags[i]) == FT_CURVE_TAG_ON)
                through.emplace(2 * p.x, 2 * p.y);
            else if (FT_CURVE_TAG(o.tags[i]) == FT_CURVE_TAG_CONIC && FT_CURVE_TAG(o.tags[next]) == FT_CURVE_TAG_CONIC)
                through.emplace(p.x + q.x, p.y + q.y);
        }
    }
    if (path.contours != o.n_contours || path.ends.empty())
        return false;
    return std::all_of(path.ends.begin(), path.ends.end(), [&](const std::pair<double, double> &e) {
        return through.count({std::lround(2 * e.first), std::lround(2 * e.second)}) > 0;
    });
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
        if (const QByteArray keep = qgetenv("VANTORO_KEEP_REPORT"); !keep.isEmpty()) {
            const QString to = QDir(QString::fromLocal8Bit(keep)).filePath(QStringLiteral("scripts.pdf"));
            QFile::remove(to);
            QFile::copy(pdf.FileName, to);
        }
        return pdf.FileName;
    }

    QTemporaryDir dir;
    TRptReport report;
    TRptPDFExport pdf;
};

} // namespace

// Every line as each reader gives it back, word by word: every word with
// its letters and marks in the order typed, nothing inside it twice, no
// blank inside it and a blank between words.
TEST_F(ReportScripts, TheReadersGiveEveryLineBackAsTyped)
{
    for (const Reader r : PdfReaders::kAll)
        ASSERT_TRUE(PdfReaders::available(r)) << PdfReaders::missing(r).toStdString();
    QStringList notes;
    for (const Script &s : kScripts)
        notes << s.typed;
    const QString path = write(notes);
    const QString typedNotes = notes.join(QLatin1Char('\n'));
    const int page = static_cast<int>(report.prepared().pages.size());

    for (const Reader r : PdfReaders::kAll) {
        SCOPED_TRACE(PdfReaders::name(r));
        const QString text = PdfReaders::pageText(r, path, page).value_or(QString());
        ASSERT_FALSE(text.isEmpty());
        EXPECT_FALSE(text.contains(QChar(0xFFFD))) << text.toStdString();
        std::vector<QStringList> lines;
        for (const QString &l : text.split(QLatin1Char('\n')))
            lines.push_back(wordsOf(l, typedNotes));
        for (const Script &s : kScripts) {
            SCOPED_TRACE(s.name);
            bool found = false;
            // A line mupdf breaks where a run begins: up to three of its lines read as one.
            const size_t most = r == Reader::Mupdf && s.mupdfBreaksAtRuns ? 3 : 1;
            for (size_t i = 0; i < lines.size() && !found; ++i) {
                QStringList words;
                for (size_t n = 0; n < most && i + n < lines.size() && !found; ++n) {
                    words += lines[i + n];
                    found = givesBack(r, s, words, typedNotes);
                }
            }
            EXPECT_TRUE(found) << "typed " << s.typed.normalized(QString::NormalizationForm_C).toStdString() << "\n"
                               << PdfReaders::name(r) << " gave:\n" << text.toStdString();
        }
    }
}

// Each line drawn with the glyphs, advances and offsets HarfBuzz gives for
// its runs, in the font that has their letters; boxes only for what no
// installed font has. Every glyph the shaper chose is drawn at its place:
// shown with a code, or filled as its outline where it stands for no text
// of its own; what else is shown draws nothing (blank glyphs that carry
// what another glyph cannot). The codes, as drawn, stand for the line as
// typed.
TEST_F(ReportScripts, EveryScriptPrintsWithTheShapersGlyphs)
{
    QStringList notes;
    for (const Script &s : kScripts)
        notes << s.typed;
    const QString path = write(notes);
    EXPECT_LT(QFileInfo(path).size(), 120 * 1024) << "with Chinese and Japanese text in it";
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const PdfProbe::Document doc(f.readAll());
    const int page = doc.pages().back();
    const auto fonts = doc.fonts(page);
    const std::vector<PdfProbe::Line> lines = doc.lines(page);
    const std::vector<PdfProbe::Path> paths = doc.paths(page);
    FT_Library lib = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    Faces faces(lib);

    for (const QString &note : notes) {
        const QString typed = note.normalized(QString::NormalizationForm_C);
        SCOPED_TRACE(typed.toStdString());
        const auto shaped = Rpt::shapeLine(typed, Rpt::FontFace::Regular, 10,
                                           Rpt::wrapLines(typed, Rpt::FontFace::Regular, 10, 1000).forms.front());
        const PdfProbe::Line *line = nullptr;
        for (const PdfProbe::Line &l : lines)
            if (contentText(l.glyphs, fonts) == typed)
                line = &l;
        ASSERT_NE(line, nullptr) << "no line gives back " << typed.toStdString();

        // Runs of one font and direction, each as HarfBuzz shapes its text in that font.
        for (size_t from = 0; from < shaped->glyphs.size();) {
            const Rpt::ShapedGlyph &head = shaped->glyphs[from];
            const bool rtl = shaped->rightToLeft[static_cast<size_t>(head.cluster)];
            size_t to = from;
            std::set<int> clusters;
            while (to < shaped->glyphs.size() && shaped->glyphs[to].file == head.file &&
                   shaped->rightToLeft[static_cast<size_t>(shaped->glyphs[to].cluster)] == rtl)
                clusters.insert(shaped->glyphs[to++].cluster);
            QString text;
            for (int c : clusters)
                text += shaped->clusters[static_cast<size_t>(c)];
            SCOPED_TRACE(head.file->postScriptName().toStdString() + " \"" + text.toStdString() + "\"");
            const Shaped want = shape(lib, head.file->path(), head.file->index(), text, rtl);
            ASSERT_EQ(to - from, want.outlines.size());
            for (size_t i = from; i < to; ++i) {
                const Rpt::ShapedGlyph &g = shaped->glyphs[i];
                EXPECT_EQ(outline(faces.whole(*g.file), g.glyph), want.outlines[i - from]) << "glyph " << i;
                EXPECT_NEAR(g.x - head.x, want.x[i - from] - want.x.front(), 1.01) << "glyph " << i;
                EXPECT_NEAR(g.y, want.y[i - from], 1.01) << "glyph " << i;
                // The missing-glyph box only for what no installed font has.
                if (g.glyph == 0) {
                    for (const uint c : shaped->clusters[static_cast<size_t>(g.cluster)].toUcs4()) {
                        if (!Rpt::isDefaultIgnorable(c)) {
                            EXPECT_FALSE(anyFontHas(c)) << "a box for U+" << std::hex << c;
                        }
                    }
                }
            }
            from = to;
        }

        // Every glyph drawn where the shaper put it, as a shown glyph of the
        // same outline or as the outline itself; nothing else draws.
        const double size = line->size;
        std::vector<std::vector<long>> outlines;
        for (const PdfProbe::Shown &s : line->glyphs)
            outlines.push_back(outline(faces.subset(fonts.at(s.font)), subsetGlyph(fonts.at(s.font), s.code)));
        std::vector<bool> shown(line->glyphs.size(), false);
        for (size_t i = 0; i < shaped->glyphs.size(); ++i) {
            const Rpt::ShapedGlyph &g = shaped->glyphs[i];
            const std::vector<long> wanted = outline(faces.whole(*g.file), g.glyph);
            bool drawn = false;
            for (size_t k = 0; k < line->glyphs.size() && !drawn; ++k) {
                const PdfProbe::Shown &s = line->glyphs[k];
                drawn = !shown[k] && std::abs(s.x - g.x) < 1.01 && std::abs(s.rise - g.y * size / 1000) < 0.01 &&
                        outlines[k] == wanted;
                shown[k] = shown[k] || drawn;
            }
            for (const PdfProbe::Path &p : paths)
                drawn = drawn || (std::abs(p.x - (line->x + g.x * size / 1000)) < 0.01 &&
                                  std::abs(p.y - (line->y + g.y * size / 1000)) < 0.01 &&
                                  std::abs(p.scale - size / g.file->unitsPerEm()) < 1e-3 &&
                                  tracesOutline(p, faces.whole(*g.file), g.glyph));
            EXPECT_TRUE(drawn) << "glyph " << i << " of " << g.file->postScriptName().toStdString();
        }
        for (size_t k = 0; k < line->glyphs.size(); ++k) {
            if (!shown[k]) {
                EXPECT_TRUE(outlines[k].empty()) << "a further glyph that draws, standing for "
                                                 << fonts.at(line->glyphs[k].font).toUnicode.at(line->glyphs[k].code).toStdString();
            }
        }
    }
    faces.close();
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

    // The marks read back (lineOf found the line by its text) and draw nothing.
    const PdfProbe::Line *marked = lineOf(marks);
    ASSERT_NE(marked, nullptr);
    FT_Library lib = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    Faces faces(lib);
    int drawing = 0;
    for (const PdfProbe::Shown &g : marked->glyphs) {
        const PdfProbe::Font &font = fonts.at(g.font);
        drawing += !outline(faces.subset(font), subsetGlyph(font, g.code)).empty();
    }
    EXPECT_EQ(drawing, 5) << "one glyph a letter, none for the marks";
    faces.close();
    FT_Done_FreeType(lib);

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

// A right-to-left line begins at the right, and its tab stops count from
// there: the columns of two such lines line up.
TEST_F(ReportScripts, ARightToLeftLinesTabStopsCountFromItsStart)
{
    const QString name = QStringLiteral("\u05e9\u05dd"), level = QStringLiteral("\u05e8\u05de\u05d4");
    const QString path = write({name + QStringLiteral("\t25.5\tl/s"), level + QStringLiteral("\t1.25\tm")});
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const PdfProbe::Document doc(f.readAll());
    const int page = doc.pages().back();
    const auto fonts = doc.fonts(page);
    const Rpt::PlacedMemo &memo = report.prepared().pages.back().row(QStringLiteral("NotesDS"), 0)->memos.front();
    const double right = (memo.left + memo.width - Rpt::kMemoPadX) / Rpt::kMmPerPt;  // where the lines begin

    // The right end of the glyphs on a line that stand for these characters.
    const auto rightEnd = [&](const PdfProbe::Line &l, const QString &chars) {
        double end = -1;
        for (const PdfProbe::Shown &g : l.glyphs) {
            const PdfProbe::Font &font = fonts.at(g.font);
            const auto text = font.toUnicode.find(g.code);
            if (text != font.toUnicode.end() && chars.contains(text->second))
                end = std::max(end, l.x + (g.x + font.widths.at(g.code)) * l.size / 1000);
        }
        return end;
    };
    int found = 0;
    for (const PdfProbe::Line &l : doc.lines(page)) {
        const QString text = contentText(l.glyphs, fonts, true);
        for (const auto &[first, second, third] : {std::make_tuple(name, QStringLiteral("25.5"), QStringLiteral("l/s")),
                                                   std::make_tuple(level, QStringLiteral("1.25"), QStringLiteral("m"))}) {
            if (text != first + second + third)
                continue;
            SCOPED_TRACE(text.toStdString());
            ++found;
            EXPECT_NEAR(rightEnd(l, first), right, 1e-2);
            EXPECT_NEAR(rightEnd(l, second), right - 36, 1e-2);
            EXPECT_NEAR(rightEnd(l, third), right - 72, 1e-2);
        }
    }
    EXPECT_EQ(found, 2);
}
