// A line shaped as it prints: split into runs by its embedding levels, each
// run shaped (HarfBuzz) in the font that has its characters (RptFonts.h),
// the runs put left to right, tabs going on to the next stop.
#pragma once

#include "report/RptFonts.h"
#include "report/RptParagraph.h"

#include <QString>

#include <cmath>
#include <string>
#include <vector>

namespace Rpt {

// Tabs go on to stops every 36 pt from where a line begins to be read.
constexpr double kTabStopPt = 36.0;

// The tab stop a tab at pen goes on to: the next multiple of stop.
inline double nextTabStop(double pen, double stop) { return (std::floor(pen / stop + 1e-9) + 1) * stop; }

// One glyph of a shaped line.
struct ShapedGlyph {
    const FontFile *file = nullptr;  // null only when no font at all can be used
    uint32_t glyph = 0;              // in the whole font
    double x = 0, y = 0;             // its origin: 1/1000 em right of the line's left end, above the baseline
    double pen = 0;                  // where the pen stood for it (x less the shaper's offset)
    double advance = 0;              // how far it moves the pen
    int cluster = 0;                 // what it stands for: an index into ShapedLine::clusters
    int origin = 0;                  // the first character the shaper gave it (code points into the line)
    // Its share of its cluster's text: the cluster's glyphs in the order
    // they are read give their cluster's text as typed. Empty for a piece
    // of a character drawn in more glyphs than it has characters.
    QString text;
};

struct ShapedLine {
    QString text;                     // as typed (normalised)
    std::vector<ShapedGlyph> glyphs;  // left to right, as they print
    // The glyphs in the order the line is read: cluster by cluster as
    // typed, and within a cluster in the order of the pen (leftwards in a
    // right-to-left cluster), a mark after the glyph it sits on.
    std::vector<size_t> reading;
    // The typed text each cluster of glyphs stands for, in the order typed:
    // a glyph and its characters, or glyphs drawn in another order than
    // their characters (a vowel sign drawn before its consonant, a
    // character drawn in pieces, a mark placed over its letter).
    std::vector<QString> clusters;
    std::vector<bool> rightToLeft;    // each cluster's direction
    double width = 0;                 // 1/1000 em
    bool mixed = false;               // runs of both directions
};

// A glyph of the font cannot be drawn: the line is shaped again without that font.
struct DamagedGlyph {
    const FontFile *file;
    QString fault;
};

// Shapes the characters into the line (whose text is set) in the face at
// this size; throws DamagedGlyph for a glyph that cannot be drawn.
void shapeInto(ShapedLine &line, std::u32string chars, FontFace face, double sizePt, LineForm form);

} // namespace Rpt
