// Text measured with the report's own fonts (RptFonts.h), so that widths,
// wrapping and page breaks follow the glyphs the PDF file embeds.
#pragma once

#include "report/RptFonts.h"

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

namespace Rpt {

// The characters of a text as they print: whole code points (a surrogate
// pair is one), tabs and other control characters as blanks.
std::u32string printedCharacters(const QString &text);

// Width of the text in points at the given font size. Throws FontError when
// a font file it needs cannot be opened.
double textWidthPt(const QString &text, FontFace face, double sizePt);

// Breaks text into lines no wider than widthPt: at blanks where it can,
// inside a word only when the word alone is wider than a line. Explicit
// line breaks (CR, LF, CR LF) always break. Blanks at a break are dropped;
// blanks that begin the text are kept. A character is never split.
std::vector<QString> wrapText(const QString &text, FontFace face, double sizePt, double widthPt);

} // namespace Rpt
