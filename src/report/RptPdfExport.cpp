#include "report/RptPdfExport.h"

#include <zlib.h>

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

const char *fontResource(FontFace f) { return f == FontFace::HelveticaBold ? "/F2" : "/F1"; }

// Draws one page in PDF user space (points, origin at the bottom left).
class PageWriter {
public:
    explicit PageWriter(double paperHeightMm) : h_(pt(paperHeightMm)) {}

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
        out_ += "q " + rect(m) + " re W n\nBT " + fontResource(face) + ' ' + num(size) + " Tf\n";
        out_ += colour(m.font.color, "rg");
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
            out_ += num(px - last_x) + ' ' + num(py - last_y) + " Td " + pdfLiteral(toWinAnsi(s)) + " Tj\n";
            last_x = px;
            last_y = py;
        }
        out_ += "ET Q\n";
    }

    double h_;
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

QByteArray fontObject(FontFace face)
{
    return QByteArray("<< /Type /Font /Subtype /Type1 /BaseFont /") + faceName(face) +
           " /Encoding /WinAnsiEncoding >>";
}

QByteArray pdfDate(const QDateTime &t)
{
    return "(D:" + t.toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + ")";
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
    const int regular = pdf.add(Rpt::fontObject(Rpt::FontFace::Helvetica));
    const int bold = pdf.add(Rpt::fontObject(Rpt::FontFace::HelveticaBold));
    const QByteArray mediaBox = "[0 0 " + Rpt::num(Rpt::pt(report.paperWidth)) + ' ' +
                                Rpt::num(Rpt::pt(report.paperHeight)) + ']';
    QByteArray kids;
    for (const Rpt::Page &p : report.pages) {
        const QByteArray content = Rpt::deflate(Rpt::PageWriter(report.paperHeight).page(p));
        const int stream = pdf.add("<< /Length " + QByteArray::number(content.size()) +
                                   " /Filter /FlateDecode >>\nstream\n" + content + "\nendstream");
        const int page = pdf.add("<< /Type /Page /Parent " + PdfFile::ref(pages) + " /MediaBox " + mediaBox +
                                 " /Resources << /Font << /F1 " + PdfFile::ref(regular) + " /F2 " +
                                 PdfFile::ref(bold) + " >> >> /Contents " + PdfFile::ref(stream) + " >>");
        kids += PdfFile::ref(page) + ' ';
    }
    pdf.set(catalog, "<< /Type /Catalog /Pages " + PdfFile::ref(pages) + " >>");
    pdf.set(pages, "<< /Type /Pages /Kids [" + kids.trimmed() + "] /Count " +
                       QByteArray::number(static_cast<int>(report.pages.size())) + " >>");
    return pdf.write(catalog, info);
}
