// Metrics of the standard PDF fonts the report engine uses, compiled in so
// that text is measured and wrapped the same on every machine, and the
// mapping of text onto the 8-bit WinAnsi code page those fonts are set in.
#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <vector>

namespace Rpt {

// The standard faces the report prints with (sans-serif families map here).
enum class FontFace { Helvetica, HelveticaBold };

// PostScript name of a face ("Helvetica", "Helvetica-Bold").
const char *faceName(FontFace face);

// Advance widths in 1/1000 em of WinAnsi codes 0..255 (0 for codes without a glyph).
const std::array<uint16_t, 256> &faceWidths(FontFace face);

// The WinAnsi byte of a character; '?' for a character the code page lacks.
// Tabs and other control characters become blanks.
uint8_t toWinAnsi(QChar c);
QByteArray toWinAnsi(const QString &text);

// Width of the text in points at the given font size.
double textWidthPt(const QString &text, FontFace face, double sizePt);

// Breaks text into lines no wider than widthPt: at blanks where it can,
// inside a word only when the word alone is wider than a line. Explicit
// line breaks (CR, LF, CR LF) always break. Blanks at a break are dropped;
// blanks that begin the text are kept.
std::vector<QString> wrapText(const QString &text, FontFace face, double sizePt, double widthPt);

} // namespace Rpt
