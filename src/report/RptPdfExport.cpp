#include "report/RptPdfExport.h"

#include "report/RptFontMetrics.h"

#include <zlib.h>

#include <map>
#include <set>
#include <stdexcept>

namespace Rpt {
namespace {

constexpr double kFrameWidthPt = 0.75;  // one pixel at 96 dpi
constexpr double kDescentFactor = 0.212;

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

// The fonts of one file: every font file its text draws from, with the
// characters it draws. Each is embedded as a subset (Type0 over
// CIDFontType2, Identity-H) with a ToUnicode map, so that readers draw and
// extract every character as it was entered. Each character has a code of
// its own, even where two characters share a glyph or one has none (the
// missing-glyph box): the codes map onto the subset's glyphs.
class FontUse {
public:
    // A stretch of a line drawn from one font file.
    struct Run {
        QByteArray resource;  // "/F1"
        QByteArray codes;     // "<0012003A>"
    };

    // Notes the characters a line prints.
    void add(FontFace face, const QString &text)
    {
        for (char32_t c : printedCharacters(text)) {
            const Glyph g = glyphFor(face, c);
            usedBy(g.file).glyphOf.emplace(c, g.index);
        }
    }

    // Cuts every font file down to its glyphs and writes the font objects;
    // the fonts' resource dictionary.
    QByteArray embed(PdfFile &pdf);

    // The line as runs of codes, after embed.
    std::vector<Run> runs(FontFace face, const QString &text) const
    {
        std::vector<Run> out;
        for (char32_t c : printedCharacters(text)) {
            const Used &u = used_.at(indexOf_.at(glyphFor(face, c).file));
            if (out.empty() || out.back().resource != u.resource)
                out.push_back(Run{u.resource, QByteArray()});
            out.back().codes += hex4(u.codeOf.at(c));
        }
        for (Run &r : out)
            r.codes = '<' + r.codes + '>';
        return out;
    }

private:
    struct Used {
        const FontFile *file = nullptr;
        QByteArray resource;
        std::map<char32_t, uint32_t> glyphOf;  // character -> its glyph in the whole font
        std::map<char32_t, uint32_t> codeOf;   // character -> its code, set by embed
    };

    Used &usedBy(const FontFile *file)
    {
        const auto [it, fresh] = indexOf_.emplace(file, used_.size());
        if (fresh)
            used_.push_back(Used{file, "/F" + QByteArray::number(static_cast<int>(used_.size()) + 1), {}, {}});
        return used_[it->second];
    }

    int embedOne(PdfFile &pdf, Used &u);

    std::vector<Used> used_;
    std::map<const FontFile *, size_t> indexOf_;
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
        QByteArray font;
        double last_x = 0, last_y = 0;
        for (size_t i = 0; i < m.lines.size(); ++i) {
            const QString &s = m.lines[i];
            const double wMm = textWidthPt(s, face, size) * kMmPerPt;
            double left = m.left + kMemoPadX;
            if (m.align == HAlign::Center)
                left = m.left + (m.width - wMm) / 2;
            else if (m.align == HAlign::Right)
                left = m.left + m.width - kMemoPadX - wMm;
            const double base = m.top + kMemoPadY + i * lh + halfLeading + kAscentFactor * size * kMmPerPt;
            const double px = x(left), py = y(base);
            out_ += num(px - last_x) + ' ' + num(py - last_y) + " Td";
            for (const FontUse::Run &r : fonts_.runs(face, s)) {
                if (r.resource != font)
                    out_ += ' ' + r.resource + ' ' + num(size) + " Tf";
                font = r.resource;
                out_ += ' ' + r.codes + " Tj";
            }
            out_ += '\n';
            last_x = px;
            last_y = py;
        }
        out_ += "ET Q\n";
    }

    double h_;
    const FontUse &fonts_;
    QByteArray out_;
};

// Collects numbered objects and writes the file with its cross-reference table.
class PdfFile {
public:
    int reserve() { objects_.emplace_back(); return static_cast<int>(objects_.size()); }
    void set(int id, QByteArray body) { objects_[static_cast<size_t>(id - 1)] = std::move(body); }
    int add(QByteArray body) { const int id = reserve(); set(id, std::move(body)); return id; }

    QByteArray write(int root, int info) const
    {
        QByteArray out("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
        std::vector<int> offsets;
        for (size_t i = 0; i < objects_.size(); ++i) {
            offsets.push_back(out.size());
            out += QByteArray::number(static_cast<int>(i + 1)) + " 0 obj\n" + objects_[i] + "\nendobj\n";
        }
        const int xref = out.size();
        out += "xref\n0 " + QByteArray::number(static_cast<int>(objects_.size() + 1)) + "\n";
        out += "0000000000 65535 f \n";
        for (int off : offsets)
            out += QByteArray::number(off).rightJustified(10, '0') + " 00000 n \n";
        out += "trailer\n<< /Size " + QByteArray::number(static_cast<int>(objects_.size() + 1)) + " /Root " +
               ref(root) + " /Info " + ref(info) + " >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
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

// Six capital letters naming a subset, the same for the same characters.
QByteArray subsetTag(const QByteArray &name, const std::map<char32_t, uint32_t> &characters)
{
    uint32_t h = 2166136261u;
    const auto mix = [&h](uint32_t v) { h = (h ^ v) * 16777619u; };
    for (char c : name)
        mix(static_cast<unsigned char>(c));
    for (const auto &c : characters)
        mix(static_cast<uint32_t>(c.first));
    QByteArray tag;
    for (int i = 0; i < 6; ++i, h /= 26)
        tag += static_cast<char>('A' + h % 26);
    return tag;
}

// What a code of an embedded font draws and stands for.
struct Code {
    uint32_t glyph;  // in the subset
    char32_t character;
    int width;       // 1/1000 em
};
using Codes = std::map<uint32_t, Code>;

// The character each code stands for, as a ToUnicode CMap.
QByteArray toUnicodeMap(const Codes &codes)
{
    std::vector<std::pair<uint32_t, char32_t>> entries;
    for (const auto &[code, c] : codes)
        entries.emplace_back(code, c.character);
    QByteArray out("/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
                   "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
                   "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
                   "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n");
    for (size_t at = 0; at < entries.size(); at += 100) {  // at most 100 entries a block
        const size_t n = std::min<size_t>(100, entries.size() - at);
        out += QByteArray::number(static_cast<int>(n)) + " beginbfchar\n";
        for (size_t i = at; i < at + n; ++i) {
            QByteArray utf16;
            for (QChar unit : QString::fromUcs4(&entries[i].second, 1))
                utf16 += hex4(unit.unicode());
            out += '<' + hex4(entries[i].first) + "> <" + utf16 + ">\n";
        }
        out += "endbfchar\n";
    }
    return out + "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
}

// The advance of every code, in runs of consecutive codes.
QByteArray widthArray(const Codes &codes)
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
QByteArray glyphMap(const Codes &codes)
{
    QByteArray out;
    for (const auto &[code, c] : codes) {
        out.resize(static_cast<qsizetype>(2 * (code + 1)), '\0');
        out[2 * code] = static_cast<char>(c.glyph >> 8);
        out[2 * code + 1] = static_cast<char>(c.glyph & 0xFF);
    }
    return out;
}

QByteArray pdfDate(const QDateTime &t)
{
    return "(D:" + t.toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + ")";
}

QByteArray FontUse::embed(PdfFile &pdf)
{
    QByteArray resources("<<");
    for (Used &u : used_)
        resources += ' ' + u.resource + ' ' + PdfFile::ref(embedOne(pdf, u));
    return resources + " >>";
}

int FontUse::embedOne(PdfFile &pdf, Used &u)
{
    const FontFile &f = *u.file;
    std::set<uint32_t> glyphs;
    for (const auto &g : u.glyphOf)
        glyphs.insert(g.second);
    std::map<uint32_t, uint32_t> newIndex;
    const QByteArray program = f.subset(glyphs, newIndex);
    Codes codes;
    uint32_t next = 1;  // code 0 stays the missing glyph's own
    for (const auto &[c, glyph] : u.glyphOf) {
        u.codeOf[c] = next;
        codes[next++] = Code{newIndex.at(glyph), c, f.advance(glyph)};
    }
    const QByteArray name = subsetTag(f.postScriptName(), u.glyphOf) + '+' + f.postScriptName();
    const int file = pdf.add(stream("/Length1 " + QByteArray::number(program.size()), program));
    const QByteArray bbox = QByteArray::number(f.bbox[0]) + ' ' + QByteArray::number(f.bbox[1]) + ' ' +
                            QByteArray::number(f.bbox[2]) + ' ' + QByteArray::number(f.bbox[3]);
    const int descriptor = pdf.add("<< /Type /FontDescriptor /FontName /" + name + " /Flags 4 /FontBBox [" + bbox +
                                   "] /ItalicAngle 0 /Ascent " + QByteArray::number(f.ascent) + " /Descent " +
                                   QByteArray::number(f.descent) + " /CapHeight " + QByteArray::number(f.capHeight) +
                                   " /StemV 80 /FontFile2 " + PdfFile::ref(file) + " >>");
    const int toGlyph = pdf.add(stream(QByteArray(), glyphMap(codes)));
    const int cidFont = pdf.add("<< /Type /Font /Subtype /CIDFontType2 /BaseFont /" + name +
                                " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>"
                                " /FontDescriptor " + PdfFile::ref(descriptor) + " /DW 1000 /W " +
                                widthArray(codes) + " /CIDToGIDMap " + PdfFile::ref(toGlyph) + " >>");
    const int toUnicode = pdf.add(stream(QByteArray(), toUnicodeMap(codes)));
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

QByteArray pdfTextString(const QString &text)
{
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
    PdfFile pdf;
    const int catalog = pdf.reserve();
    const int pages = pdf.reserve();
    const int info = pdf.add("<< /Title " + Rpt::pdfTextString(Title.isEmpty() ? report.title : Title) +
                             " /Author " + Rpt::pdfTextString(Author) + " /Subject " +
                             Rpt::pdfTextString(Subject) + " /Creator " + Rpt::pdfTextString(Creator) +
                             " /Producer " + Rpt::pdfTextString(Creator) + " /CreationDate " +
                             Rpt::pdfDate(report.preparedAt) + " >>");
    Rpt::FontUse fonts;
    for (const Rpt::Page &p : report.pages)
        for (const Rpt::PlacedBand &b : p.bands)
            for (const Rpt::PlacedMemo &m : b.memos)
                for (const QString &l : m.lines)
                    fonts.add(m.font.face(), l);
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
