// Text set as it is read: normalised (NFC), split into runs by the Unicode
// bidirectional algorithm (FriBidi), each run shaped (HarfBuzz) in the font
// that has its characters (RptFonts.h). Widths, wrapping and page breaks
// follow the shaped glyphs the PDF file draws.
#pragma once

#include "report/RptFonts.h"

#include <QString>

#include <memory>
#include <string>
#include <vector>

namespace Rpt {

// How a line prints beyond its text.
struct LineForm {
    // The base direction of the paragraph the line belongs to; Auto takes it
    // from the line's first letter of a strong direction.
    enum Direction : uint8_t { Auto, LeftToRight, RightToLeft };
    Direction direction = Auto;
    // The line was broken at the soft hyphen that ends it: it shows "-".
    bool hyphen = false;

    bool operator==(const LineForm &o) const { return direction == o.direction && hyphen == o.hyphen; }
};

// One glyph of a shaped line.
struct ShapedGlyph {
    const FontFile *file = nullptr;  // null only when no font at all can be used
    uint32_t glyph = 0;              // in the whole font
    double x = 0, y = 0;             // its origin: 1/1000 em right of the line's left end, above the baseline
    double pen = 0;                  // where the pen stood for it (x less the shaper's offset)
    double advance = 0;              // how far it moves the pen
    int cluster = 0;                 // what it stands for: an index into ShapedLine::clusters
    // The characters it stands for on its own, in the order typed; empty
    // for a further glyph of a character drawn in several.
    QString text;
};

struct ShapedLine {
    QString text;                     // as typed (normalised)
    std::vector<ShapedGlyph> glyphs;  // left to right, as they print
    std::vector<size_t> reading;      // the glyphs in the order the line is read, cluster by cluster
    // The typed text each cluster of glyphs stands for, in the order typed:
    // a glyph and its characters, or glyphs that only together stand for
    // their characters (a vowel sign drawn before its consonant, a
    // character drawn in two pieces, a mark placed over its letter).
    std::vector<QString> clusters;
    std::vector<bool> rightToLeft;    // each cluster's direction
    std::vector<bool> whole;          // each cluster: its glyphs stand for its text only together
    double width = 0;                 // 1/1000 em
    bool mixed = false;               // runs of both directions
};

// The line shaped in the face at this size (tab stops every 36 pt from
// its start). Lines are kept while the fonts stay the same.
std::shared_ptr<const ShapedLine> shapeLine(const QString &text, FontFace face, double sizePt, LineForm form = {});

// Width of the line in points at the given font size.
double textWidthPt(const QString &text, FontFace face, double sizePt, LineForm form = {});

// Characters without a visible glyph of their own (soft hyphen, direction
// marks, joiners, variation selectors).
bool isDefaultIgnorable(char32_t c);

// A paragraph's direction: that of its first letter of a strong direction
// (left to right when it has none).
LineForm::Direction paragraphDirection(const QString &para);

// The embedding levels of a line's characters in a paragraph of the given
// direction (odd: right to left), by the Unicode bidirectional algorithm.
std::vector<signed char> embeddingLevels(const std::u32string &chars, bool rightToLeft);

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
