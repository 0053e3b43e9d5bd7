// A paragraph filled into lines of a width, as the layout and the RTF file
// share them.
#pragma once

#include "report/RptParagraph.h"
#include "report/RptFonts.h"

#include <QString>

#include <vector>

namespace Rpt {

struct WrappedLines {
    std::vector<QString> lines;
    std::vector<LineForm> forms;  // one per line
};

// Breaks text into lines no wider than widthPt where the Unicode line
// breaking rules allow (ICU's, with its dictionaries for the scripts
// written without blanks), inside a word between grapheme clusters only
// when the word alone is wider than a line. Explicit line breaks (CR, LF,
// CR LF) always break. Blanks and tabs at a break are dropped; those that
// begin the text are kept. The text is normalised (NFC) first, and control
// characters other than the tab print as blanks. Linear in the text.
WrappedLines wrapLines(const QString &text, FontFace face, double sizePt, double widthPt);
std::vector<QString> wrapText(const QString &text, FontFace face, double sizePt, double widthPt);

} // namespace Rpt
