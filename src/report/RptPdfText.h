// How a shaped line's text goes into the PDF file so that the readers people
// use (poppler, mupdf, pdf.js) give it back as typed: the glyphs in the order
// read, each standing for its share of its cluster's text in a form every
// reader takes as it stands, and what a glyph cannot carry so carried by the
// font's blank glyph drawn without width beside it.
#pragma once

#include "report/RptShaper.h"

#include <QString>

#include <vector>

namespace Rpt {

// One thing the page draws for a line.
struct DrawnPiece {
    const FontFile *file = nullptr;
    uint32_t glyph = 0;   // in the whole font
    double x = 0, y = 0;  // its origin: 1/1000 em right of the line's left end, above the baseline
    int width = 0;        // 1/1000 em, from its origin to where the pen goes on for the next
    QString text;         // what its code stands for
    int cluster = 0;      // into ShapedLine::clusters
    bool carrier = false; // a blank glyph that only carries text
    // Its cluster carries its text as /ActualText too: for a reader that
    // places a mark drawn above or below the line on a line of its own, or
    // that gives back the word joiner of a piece that stands for nothing.
    bool spanned = false;
};

// What a glyph that stands for nothing of its own (a further piece of a
// character drawn in several) carries: a word joiner, which every reader
// gives back as nothing or as an invisible character that changes no word.
constexpr char32_t kNothing = 0x2060;

// The line's pieces in the order read, cluster by cluster. A glyph carries
// one character (left to right, a run of plain letters) and never a
// nonspacing mark unless it is drawn without width; the characters before
// and after that go on blank glyphs of their own, one each, at the pen.
// A right-to-left cluster of several pieces is spanned.
std::vector<DrawnPiece> drawnPieces(const ShapedLine &line);

// The /ActualText of a spanned cluster. poppler, the one reader of the
// three that reads it, lays its characters out left to right over the
// cluster and then reads a right-to-left run back from its right end, so a
// right-to-left cluster's characters go in the order drawn.
QString actualText(const ShapedLine &line, int cluster);

} // namespace Rpt
