#include "report/RptPdfExport.h"

#include "report/RptFontMetrics.h"
#include "report/RptGlyphOutline.h"
#include "report/RptPdfText.h"
#include "report/RptSubsetWidths.h"

#include <QCryptographicHash>

#include <zlib.h>

#include <algorithm>
#include <cmath>

#include <map>
#include <set>
#include <stdexcept>
#include <tuple>

namespace Rpt {
namespace {

constexpr double kFrameWidthPt = 0.75;  // one pixel at 96 dpi
constexpr double kDescentFactor = 0.212;
// Codes of a TrueType subset: two bytes each, 0 kept for the missing glyph.
constexpr size_t kMostCodes = 0xFFFF;

double pt(double mm) { return mm / kMmPerPt; }

QByteArray num(double v)
{
    QByteArray s = QByteArray::number(v, 'f', 3);  // never a decimal comma
    while (s.contains('.') && (s.endsWith('0') || s.endsWith('.')))
        s.chop(1);
    return s == "-0" ? QByteArray("0") : s;
}

QByteArray colour(const Color &c, const char *op)
{
    return num(c.r / 255.0) + ' ' + num(c.g / 255.0) + ' ' + num(c.b / 255.0) + ' ' + op + '\n';
}

QByteArray deflate(const QByteArray &in)
{
    uLongf size = compressBound(static_cast<uLong>(in.size()));
    QByteArray out(static_cast<int>(size), '\0');
    if (compress2(reinterpret_cast<Bytef *>(out.data()), &size, reinterpret_cast<const Bytef *>(in.constData()),
                  static_cast<uLong>(in.size()), Z_BEST_COMPRESSION) != Z_OK)
        throw std::runtime_error("Unable to compress the report page");
    out.resize(static_cast<int>(size));
    return out;
}

QByteArray hex4(uint32_t v) { return QByteArray::number(v, 16).rightJustified(4, '0').toUpper(); }

class PdfFile;

// What a code stands for, how wide it is and how far its glyph advances.
struct GlyphUse {
    QString text;
    int width = 0;  // 1/1000 em
    int reach = 0;  // 1/1000 em

    explicit GlyphUse(const DrawnPiece &p) : text(p.text), width(p.width), reach(p.reach) {}
    bool operator<(const GlyphUse &o) const
    {
        return std::tie(text, width, reach) < std::tie(o.text, o.width, o.reach);
    }
};

// The fonts of one file: every font file its text draws from, with the
// glyphs it draws and the text each stands for. Each is embedded as a
// subset (Type0 over CIDFontType2 with Identity-H for TrueType outlines,
// over CIDFontType0 with an OpenType program for CFF outlines) with a
// ToUnicode map, so that readers draw and extract the text as it was typed.
class FontUse {
public:
    // How one glyph is drawn: its font resource, its code and the code's width.
    struct Drawn {
        QByteArray resource;  // "/F1"
        uint32_t code = 0;
        int width = 0;        // 1/1000 em
        bool exact = true;    // the code's ToUnicode entry is the glyph's text
    };

    // Notes the pieces a line draws.
    void add(const std::vector<DrawnPiece> &pieces)
    {
        for (const DrawnPiece &p : pieces) {
            if (!p.file)
                throw FontError("No font that could be used was found for the report's text.");
            if (p.outline)
                continue;
            const auto use = std::make_pair(p.glyph, GlyphUse(p));
            if (!find(p.file, use))
                partFor(p.file).uses.emplace(use, 0);
        }
    }

    // Cuts every font file down to its glyphs and writes the font objects;
    // the fonts' resource dictionary.
    QByteArray embed(PdfFile &pdf);

    // How a piece is drawn, after embed.
    Drawn drawn(const DrawnPiece &p) const
    {
        const auto use = std::make_pair(p.glyph, GlyphUse(p));
        const Used &u = *find(p.file, use);
        const uint32_t code = u.uses.at(use);
        const Code &c = u.codes.at(code);
        return Drawn{u.resource, code, c.width, !p.spanned && c.text == p.text};
    }

private:
    // What a code of an embedded font draws and stands for.
    struct Code {
        uint32_t glyph = 0;  // in the subset
        QString text;
        int width = 0;       // 1/1000 em
        int reach = 0;       // 1/1000 em, how far its glyph advances
    };
    using Codes = std::map<uint32_t, Code>;

    struct Used {
        const FontFile *file = nullptr;
        QByteArray resource;
        std::map<std::pair<uint32_t, GlyphUse>, uint32_t> uses;  // (glyph in the whole font, use) -> code
        Codes codes;
    };

    // The subset of the file that holds this use, if any.
    const Used *find(const FontFile *file, const std::pair<uint32_t, GlyphUse> &use) const
    {
        if (const auto it = partsOf_.find(file); it != partsOf_.end())
            for (const size_t i : it->second)
                if (used_[i].uses.count(use))
                    return &used_[i];
        return nullptr;
    }

    // The subset of the file a new use goes into: a further one once a
    // TrueType subset has a code for every two-byte value.
    Used &partFor(const FontFile *file)
    {
        std::vector<size_t> &parts = partsOf_[file];
        if (parts.empty() || (file->outlines() == Outlines::TrueType && used_[parts.back()].uses.size() >= kMostCodes)) {
            parts.push_back(used_.size());
            used_.push_back(Used{file, "/F" + QByteArray::number(static_cast<int>(used_.size()) + 1), {}, {}});
        }
        return used_[parts.back()];
    }

    int embedOne(PdfFile &pdf, Used &u);
    static QByteArray advancingAsDrawn(const QByteArray &program, int unitsPerEm, Codes &codes);
    static QByteArray toUnicodeMap(const Codes &codes);
    static QByteArray widthArray(const Codes &codes);
    static QByteArray glyphMap(const Codes &codes);

    std::vector<Used> used_;
    std::map<const FontFile *, std::vector<size_t>> partsOf_;
};

// Draws one page in PDF user space (points, origin at the bottom left).
class PageWriter {
public:
    PageWriter(double paperHeightMm, const FontUse &fonts) : h_(pt(paperHeightMm)), fonts_(fonts) {}

    QByteArray page(const Page &p)
    {
        for (const PlacedBand &b : p.bands)
            for (const PlacedMemo &m : b.memos)
                memo(m);
        return out_;
    }

private:
    double x(double mm) const { return pt(mm); }
    double y(double mm) const { return h_ - pt(mm); }

    void memo(const PlacedMemo &m)
    {
        if (m.fill) {
            out_ += "q " + colour(*m.fill, "rg");
            out_ += rect(m) + " re f Q\n";
        }
        text(m);
        frame(m);
    }

    QByteArray rect(const PlacedMemo &m) const
    {
        return num(x(m.left)) + ' ' + num(y(m.top + m.height)) + ' ' + num(pt(m.width)) + ' ' + num(pt(m.height));
    }

    void line(double x1, double y1, double x2, double y2)
    {
        out_ += num(x(x1)) + ' ' + num(y(y1)) + " m " + num(x(x2)) + ' ' + num(y(y2)) + " l S\n";
    }

    void frame(const PlacedMemo &m)
    {
        if (m.frame == FrameNone)
            return;
        out_ += "q " + num(kFrameWidthPt) + " w 0 0 0 RG\n";
        const double l = m.left, t = m.top, r = m.left + m.width, b = m.top + m.height;
        if ((m.frame & FrameAll) == FrameAll) {
            out_ += rect(m) + " re S\n";
        } else {
            if (m.frame & FrameTop) line(l, t, r, t);
            if (m.frame & FrameBottom) line(l, b, r, b);
            if (m.frame & FrameLeft) line(l, t, l, b);
            if (m.frame & FrameRight) line(r, t, r, b);
        }
        out_ += "Q\n";
    }

    void text(const PlacedMemo &m)
    {
        if (m.lines.empty())
            return;
        const FontFace face = m.font.face();
        const double size = m.font.sizePt;
        const double lh = lineHeightMm(size);
        const double halfLeading = (lh - (kAscentFactor + kDescentFactor) * size * kMmPerPt) / 2;
        // Text never shows past the memo's border.
        out_ += "q " + rect(m) + " re W n\nBT\n";
        out_ += colour(m.font.color, "rg");
        font_.clear();
        double last_x = 0, last_y = 0;
        for (size_t i = 0; i < m.lines.size(); ++i) {
            const LineForm form = m.form(i);
            const std::shared_ptr<const ShapedLine> shaped = shapeLine(m.lines[i], face, size, form);
            const double wMm = shaped->width * size / 1000.0 * kMmPerPt;
            const HAlign align = m.lineAlign(i);
            double left = m.left + kMemoPadX;
            if (align == HAlign::Center)
                left = m.left + (m.width - wMm) / 2;
            else if (align == HAlign::Right)
                left = m.left + m.width - kMemoPadX - wMm;
            const double base = m.top + kMemoPadY + i * lh + halfLeading + kAscentFactor * size * kMmPerPt;
            const double px = x(left), py = y(base);
            out_ += num(px - last_x) + ' ' + num(py - last_y) + " Td";
            glyphs(*shaped, size, px, py);
            out_ += '\n';
            last_x = px;
            last_y = py;
        }
        const QByteArray filled = outlines();
        out_ += filled.isEmpty() ? QByteArray("ET Q\n") : "ET\n" + filled + "Q\n";
    }

    // A piece of a character drawn in several that stands for no text of its
    // own is drawn as the glyph's outline, filled in the text's colour,
    // where the glyph would be: no reader takes text from a path.
    struct Outline {
        const FontFile *file;
        uint32_t glyph;
        double x, y, size;  // its origin on the page and the font size, points
    };

    QByteArray outlines()
    {
        QByteArray out;
        for (const Outline &o : outlines_) {
            const QByteArray path = glyphOutline(*o.file, o.glyph);
            if (path.isEmpty())
                continue;
            const QByteArray scale = num(o.size / o.file->unitsPerEm());
            out += "q " + scale + " 0 0 " + scale + ' ' + num(o.x) + ' ' + num(o.y) + " cm\n" + path + "f Q\n";
        }
        outlines_.clear();
        return out;
    }

    // The line's pieces at their shaped places, in the order the line is
    // read: runs of codes, with the shift between two pieces where it
    // differs from the first one's width; the outlines put aside for after
    // the text. A spanned cluster, or one a code of which cannot stand for
    // its share of the text (a glyph of a CFF font drawn for another text
    // before), carries its text, as typed, as /ActualText.
    void glyphs(const ShapedLine &line, double size, double lineX, double lineY)
    {
        std::vector<DrawnPiece> pieces;
        for (const DrawnPiece &p : drawnPieces(line)) {
            if (p.outline)
                outlines_.push_back(Outline{p.file, p.glyph, lineX + p.x * size / 1000, lineY + p.y * size / 1000, size});
            else
                pieces.push_back(p);
        }
        std::vector<FontUse::Drawn> drawn;
        std::set<int> inexact;
        for (const DrawnPiece &p : pieces) {
            drawn.push_back(fonts_.drawn(p));
            if (!drawn.back().exact)
                inexact.insert(p.cluster);
        }
        double pen = 0, rise = 0;
        bool span = false;
        for (size_t k = 0; k < pieces.size(); ++k) {
            const DrawnPiece &p = pieces[k];
            const FontUse::Drawn &d = drawn[k];
            const bool first = k == 0 || pieces[k - 1].cluster != p.cluster;
            const bool last = k + 1 == pieces.size() || pieces[k + 1].cluster != p.cluster;
            if (first && inexact.count(p.cluster)) {
                flush();
                out_ += " /Span << /ActualText " + pdfTextString(line.clusters[static_cast<size_t>(p.cluster)]) +
                        " >> BDC";
                span = true;
            }
            if (d.resource != font_) {
                flush();
                out_ += ' ' + d.resource + ' ' + num(size) + " Tf";
                font_ = d.resource;
            }
            if (std::abs(p.y - rise) > 1e-9) {
                flush();
                out_ += ' ' + num(p.y * size / 1000.0) + " Ts";
                rise = p.y;
            }
            if (std::abs(p.x - pen) > 0.0005) {
                closeString();
                run_ << num(pen - p.x);
                adjusted_ = true;
            }
            if (!inString_) {
                run_ << "<";
                inString_ = true;
            }
            run_.back() += hex4(d.code);
            pen = p.x + d.width;
            if (last && span) {
                flush();
                out_ += " EMC";
                span = false;
            }
        }
        flush();
        if (rise != 0)
            out_ += " 0 Ts";
    }

    void closeString()
    {
        if (inString_)
            run_.back() += '>';
        inString_ = false;
    }

    void flush()
    {
        closeString();
        if (run_.empty())
            return;
        if (!adjusted_ && run_.size() == 1)
            out_ += ' ' + run_.front() + " Tj";
        else
            out_ += " [" + run_.join(' ') + "] TJ";
        run_.clear();
        adjusted_ = false;
    }

    double h_;
    const FontUse &fonts_;
    QByteArray out_;
    QByteArray font_;
    QByteArrayList run_;  // codes "<...>" and shifts of the current TJ array
    bool adjusted_ = false;
    bool inString_ = false;
    std::vector<Outline> outlines_;  // of the memo's text, drawn after it
};

// Collects numbered objects and writes the file with its cross-reference table.
class PdfFile {
public:
    int reserve() { objects_.emplace_back(); return static_cast<int>(objects_.size()); }
    void set(int id, QByteArray body) { objects_[static_cast<size_t>(id - 1)] = std::move(body); }
    int add(QByteArray body) { const int id = reserve(); set(id, std::move(body)); return id; }

    QByteArray write(int root, int info) const
    {
        // 1.6: the file uses /ActualText (1.5) and OpenType font programs (1.6).
        QByteArray out("%PDF-1.6\n%\xE2\xE3\xCF\xD3\n");
        std::vector<int> offsets;
        for (size_t i = 0; i < objects_.size(); ++i) {
            offsets.push_back(out.size());
            out += QByteArray::number(static_cast<int>(i + 1)) + " 0 obj\n" + objects_[i] + "\nendobj\n";
        }
        const int xref = out.size();
        // The file's identifier: a digest of what it holds, twice (as first written and as now).
        const QByteArray id = '<' + QCryptographicHash::hash(out, QCryptographicHash::Md5).toHex().toUpper() + '>';
        out += "xref\n0 " + QByteArray::number(static_cast<int>(objects_.size() + 1)) + "\n";
        out += "0000000000 65535 f \n";
        for (int off : offsets)
            out += QByteArray::number(off).rightJustified(10, '0') + " 00000 n \n";
        out += "trailer\n<< /Size " + QByteArray::number(static_cast<int>(objects_.size() + 1)) + " /Root " +
               ref(root) + " /Info " + ref(info) + " /ID [" + id + ' ' + id + "] >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
        return out;
    }

    static QByteArray ref(int id) { return QByteArray::number(id) + " 0 R"; }

private:
    std::vector<QByteArray> objects_;
};

QByteArray stream(const QByteArray &dict, const QByteArray &plain)
{
    const QByteArray packed = deflate(plain);
    return "<< " + dict + " /Length " + QByteArray::number(packed.size()) + " /Filter /FlateDecode >>\nstream\n" +
           packed + "\nendstream";
}

QByteArray pdfDate(const QDateTime &t)
{
    // The fields are the local clock's; the offset is the local zone's at that time.
    const QDateTime local(t.date(), t.time(), Qt::LocalTime);
    const int offset = local.isValid() ? local.offsetFromUtc() : 0;
    const int minutes = std::abs(offset) / 60;
    const QString zone = QStringLiteral("%1%2'%3'")
                             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                             .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                             .arg(minutes % 60, 2, 10, QLatin1Char('0'));
    return "(D:" + t.toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + zone.toLatin1() + ")";
}

// The text each code stands for, as a ToUnicode CMap (codes that stand for
// nothing of their own are left out).
QByteArray FontUse::toUnicodeMap(const Codes &codes)
{
    std::vector<std::pair<uint32_t, QString>> entries;
    for (const auto &[code, c] : codes)
        if (!c.text.isEmpty())
            entries.emplace_back(code, c.text);
    QByteArray out("/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
                   "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
                   "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
                   "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n");
    for (size_t at = 0; at < entries.size(); at += 100) {  // at most 100 entries a block
        const size_t n = std::min<size_t>(100, entries.size() - at);
        out += QByteArray::number(static_cast<int>(n)) + " beginbfchar\n";
        for (size_t i = at; i < at + n; ++i) {
            // At most 256 units, as the format allows, never half a pair.
            QString text = entries[i].second.left(256);
            if (text.size() < entries[i].second.size() && text.back().isHighSurrogate())
                text.chop(1);
            QByteArray utf16;
            for (QChar unit : text)
                utf16 += hex4(unit.unicode());
            out += '<' + hex4(entries[i].first) + "> <" + utf16 + ">\n";
        }
        out += "endbfchar\n";
    }
    return out + "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
}

// The advance of every code, in runs of consecutive codes.
QByteArray FontUse::widthArray(const Codes &codes)
{
    QByteArray out("[");
    uint32_t next = 0;
    bool open = false;
    for (const auto &[code, c] : codes) {
        if (!open || code != next) {
            out += QByteArray(open ? "] " : "") + QByteArray::number(code) + " [";
            open = true;
        } else {
            out += ' ';
        }
        out += QByteArray::number(c.width);
        next = code + 1;
    }
    return out + (open ? "]]" : "]");
}

// The glyph of every code, two bytes each, as the CIDToGIDMap stream wants it.
QByteArray FontUse::glyphMap(const Codes &codes)
{
    QByteArray out;
    for (const auto &[code, c] : codes) {
        out.resize(static_cast<qsizetype>(2 * (code + 1)), '\0');
        out[2 * code] = static_cast<char>(c.glyph >> 8);
        out[2 * code + 1] = static_cast<char>(c.glyph & 0xFF);
    }
    return out;
}

QByteArray FontUse::embed(PdfFile &pdf)
{
    QByteArray resources("<<");
    for (Used &u : used_)
        resources += ' ' + u.resource + ' ' + PdfFile::ref(embedOne(pdf, u));
    return resources + " >>";
}

// Six capital letters naming a subset, the same for the same glyphs.
QByteArray subsetTag(const QByteArray &name, const std::map<uint32_t, uint32_t> &glyphs)
{
    uint32_t h = 2166136261u;
    const auto mix = [&h](uint32_t v) { h = (h ^ v) * 16777619u; };
    for (char c : name)
        mix(static_cast<unsigned char>(c));
    for (const auto &g : glyphs)
        mix(g.first);
    QByteArray tag;
    for (int i = 0; i < 6; ++i, h /= 26)
        tag += static_cast<char>('A' + h % 26);
    return tag;
}

// The TrueType subset with each code's glyph advancing as far as the code reaches.
QByteArray FontUse::advancingAsDrawn(const QByteArray &program, int unitsPerEm, Codes &codes)
{
    std::vector<std::pair<uint32_t, int>> wanted;
    for (const auto &[code, c] : codes)
        wanted.emplace_back(c.glyph, static_cast<int>(std::lround(c.reach * unitsPerEm / 1000.0)));
    std::vector<uint32_t> glyphOf;
    const QByteArray out = withAdvances(program, wanted, glyphOf);
    size_t i = 0;
    for (auto &entry : codes)
        entry.second.glyph = glyphOf[i++];
    return out;
}

int FontUse::embedOne(PdfFile &pdf, Used &u)
{
    const FontFile &f = *u.file;
    std::set<uint32_t> glyphs;
    for (const auto &use : u.uses)
        glyphs.insert(use.first.first);
    std::map<uint32_t, uint32_t> newIndex;
    QByteArray program = f.subset(glyphs, newIndex);
    const bool cff = f.outlines() == Outlines::Cff;
    // TrueType: a code of its own for every glyph, text and width (code 0
    // stays the missing glyph's). CFF: the code is the glyph's character
    // identifier in the subset, standing for the first text it was drawn
    // for, at its own width.
    std::map<uint32_t, uint32_t> cids;
    bool cidKeyed = false;
    if (cff) {
        std::set<uint32_t> cut;
        for (const auto &n : newIndex)
            cut.insert(n.second);
        cids = cffCharacterIds(program, cut, cidKeyed);
    }
    uint32_t next = 1;
    for (auto &[use, code] : u.uses) {
        const uint32_t glyph = newIndex.at(use.first);
        code = cff ? cids.at(glyph) : next++;
        if (code > kMostCodes)  // Identity-H reads two bytes a code: a longer one would show other glyphs
            throw std::runtime_error("No two-byte code is left for a glyph of " + f.postScriptName().toStdString());
        const int width = cff ? f.advance(use.first) : use.second.width;
        const auto [c, fresh] = u.codes.emplace(code, Code{glyph, use.second.text, width, use.second.reach});
        if (!fresh && c->second.text.isEmpty())
            c->second.text = use.second.text;
    }
    if (!cff)
        program = advancingAsDrawn(program, f.unitsPerEm(), u.codes);
    const QByteArray name = subsetTag(f.postScriptName(), newIndex) + '+' + f.postScriptName();
    // A CID-keyed CFF program goes in bare: readers map its character
    // identifiers through its charset only then (inside an OpenType file
    // some draw nothing). Other CFF programs keep their OpenType file.
    const int file = cidKeyed ? pdf.add(stream("/Subtype /CIDFontType0C", cffTable(program)))
                     : cff    ? pdf.add(stream("/Subtype /OpenType", program))
                         : pdf.add(stream("/Length1 " + QByteArray::number(program.size()), program));
    const QByteArray bbox = QByteArray::number(f.bbox[0]) + ' ' + QByteArray::number(f.bbox[1]) + ' ' +
                            QByteArray::number(f.bbox[2]) + ' ' + QByteArray::number(f.bbox[3]);
    const int descriptor = pdf.add("<< /Type /FontDescriptor /FontName /" + name + " /Flags 4 /FontBBox [" + bbox +
                                   "] /ItalicAngle 0 /Ascent " + QByteArray::number(f.ascent) + " /Descent " +
                                   QByteArray::number(f.descent) + " /CapHeight " + QByteArray::number(f.capHeight) +
                                   " /StemV 80 " + (cff ? "/FontFile3 " : "/FontFile2 ") + PdfFile::ref(file) + " >>");
    const QByteArray toGlyph =
        cff ? QByteArray() : " /CIDToGIDMap " + PdfFile::ref(pdf.add(stream(QByteArray(), glyphMap(u.codes))));
    const int cidFont = pdf.add("<< /Type /Font /Subtype " + QByteArray(cff ? "/CIDFontType0" : "/CIDFontType2") +
                                " /BaseFont /" + name +
                                " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>"
                                " /FontDescriptor " + PdfFile::ref(descriptor) + " /DW 1000 /W " +
                                widthArray(u.codes) + toGlyph + " >>");
    const int toUnicode = pdf.add(stream(QByteArray(), toUnicodeMap(u.codes)));
    return pdf.add("<< /Type /Font /Subtype /Type0 /BaseFont /" + name + " /Encoding /Identity-H /DescendantFonts [" +
                   PdfFile::ref(cidFont) + "] /ToUnicode " + PdfFile::ref(toUnicode) + " >>");
}

} // namespace

QByteArray pdfLiteral(const QByteArray &bytes)
{
    QByteArray out("(");
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '(' || c == ')' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 32 || c > 126) {
            out += '\\';
            out += QByteArray::number(c, 8).rightJustified(3, '0');
        } else {
            out += ch;
        }
    }
    return out + ')';
}

QByteArray pdfTextString(const QString &given)
{
    // Half of a surrogate pair without its other half is no text: U+FFFD stands for it.
    const QString text = QString::fromStdU32String(given.toStdU32String());
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() >= 32 && c.unicode() < 127;
    if (ascii)
        return pdfLiteral(text.toLatin1());
    QByteArray hex("<FEFF");
    for (QChar c : text)
        hex += QByteArray::number(c.unicode(), 16).rightJustified(4, '0').toUpper();
    return hex + '>';
}

} // namespace Rpt

TRptPDFExport::TRptPDFExport() = default;

QByteArray TRptPDFExport::render(const Rpt::PreparedReport &report) const
{
    using Rpt::PdfFile;
    if (!report.fontFailures.isEmpty())
        throw Rpt::FontError(report.fontFailures.join(QLatin1Char('\n')).toStdString());
    PdfFile pdf;
    const int catalog = pdf.reserve();
    const int pages = pdf.reserve();
    const QByteArray date = Rpt::pdfDate(report.preparedAt);
    const int info = pdf.add("<< /Title " + Rpt::pdfTextString(Title.isEmpty() ? report.title : Title) +
                             " /Author " + Rpt::pdfTextString(Author) + " /Subject " +
                             Rpt::pdfTextString(Subject) + " /Creator " + Rpt::pdfTextString(Creator) +
                             " /Producer " + Rpt::pdfTextString(Creator) + " /CreationDate " + date +
                             " /ModDate " + date + " >>");
    Rpt::FontUse fonts;
    for (const Rpt::Page &p : report.pages)
        for (const Rpt::PlacedBand &b : p.bands)
            for (const Rpt::PlacedMemo &m : b.memos)
                for (size_t i = 0; i < m.lines.size(); ++i)
                    fonts.add(Rpt::drawnPieces(*Rpt::shapeLine(m.lines[i], m.font.face(), m.font.sizePt, m.form(i))));
    // A glyph first drawn here (not measured in the layout) that showed its
    // font damaged fails the file as a damage found in the layout does.
    if (const QStringList failures = Rpt::fontFailures(); !failures.isEmpty())
        throw Rpt::FontError(failures.join(QLatin1Char('\n')).toStdString());
    const QByteArray fontResources = fonts.embed(pdf);
    const QByteArray mediaBox = "[0 0 " + Rpt::num(Rpt::pt(report.paperWidth)) + ' ' +
                                Rpt::num(Rpt::pt(report.paperHeight)) + ']';
    QByteArray kids;
    for (const Rpt::Page &p : report.pages) {
        const int content = pdf.add(Rpt::stream(QByteArray(), Rpt::PageWriter(report.paperHeight, fonts).page(p)));
        const int page = pdf.add("<< /Type /Page /Parent " + PdfFile::ref(pages) + " /MediaBox " + mediaBox +
                                 " /Resources << /Font " + fontResources + " >> /Contents " +
                                 PdfFile::ref(content) + " >>");
        kids += PdfFile::ref(page) + ' ';
    }
    pdf.set(catalog, "<< /Type /Catalog /Pages " + PdfFile::ref(pages) + " >>");
    pdf.set(pages, "<< /Type /Pages /Kids [" + kids.trimmed() + "] /Count " +
                       QByteArray::number(static_cast<int>(report.pages.size())) + " >>");
    return pdf.write(catalog, info);
}
