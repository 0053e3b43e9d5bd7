// How a shaped line's text goes into the PDF file so that the readers people
// use (poppler, mupdf, pdf.js) give it back as typed: the glyphs in the order
// read, each standing for its share of its cluster's text in a form every
// reader takes as it stands, what a glyph cannot carry carried by the font's
// blank glyph drawn without width beside it, and a further piece of a
// character drawn in several as an outline, which no reader takes text from.
#pragma once

#include "report/RptShaper.h"

#include <QString>

#include <vector>

namespace Rpt {

// One thing the page draws for a line.
struct DrawnPiece {
    const FontFile *file = nullptr;
    uint32_t glyph = 0;    // in the whole font
    double x = 0, y = 0;   // its origin: 1/1000 em right of the line's left end, above the baseline
    int width = 0;         // 1/1000 em: its extent from its origin, as poppler and pdf.js measure it
    int reach = 0;         // 1/1000 em: its extent as mupdf measures it, by the font program's advance
    QString text;          // what its code stands for
    int cluster = 0;       // into ShapedLine::clusters
    bool carrier = false;  // a blank glyph that only carries text
    bool outline = false;  // drawn as its outline: a piece that stands for no text of its own
    bool spanned = false;  // its cluster carries its text, as typed, as /ActualText
};

// The line's pieces in the order they are drawn and read.
//
// Left to right, cluster by cluster as typed, a cluster's glyphs in the
// order of the pen: a glyph carries a run of plain characters, never a
// nonspacing mark unless it is drawn without width; the characters before
// and after that go on blank glyphs of their own, one each, at the pen. Each
// glyph reaches to where the pen goes on, so that no reader sees a gap.
//
// Right to left, one character a piece, a cluster's pieces drawn from the
// rightmost origin leftwards and its characters shared out in that order:
// poppler reads such a line by where each piece begins, mupdf and pdf.js in
// the order drawn, and so all three read it alike. Each piece reaches to
// the next origin on its right, so that poppler sees no gap inside a word,
// and far enough past the next piece drawn that poppler and pdf.js take that
// one on its own. A cluster two of whose pieces begin at one place (which
// poppler would read in either order) keeps its glyphs in pen order and is
// spanned instead.
//
// pdf.js does not move on past a glyph whose text holds a nonspacing mark:
// the last such piece before a blank has no width, lest pdf.js see the next
// word begin before the last ended; mupdf still measures it to the pen.
std::vector<DrawnPiece> drawnPieces(const ShapedLine &line);

} // namespace Rpt
