// A TrueType subset whose glyphs advance by the widths the PDF gives the
// codes that draw them. Readers place glyphs by the PDF's widths, but mupdf
// measures a glyph's extent for its text by the font program's own advance:
// where the two differ it reads a blank that is not there (a mark drawn back
// over its letter) or runs glyphs together.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <utility>
#include <vector>

namespace Rpt {

// The program with every wanted glyph advancing by its wanted width (font
// units). A glyph wanted at more than one width is copied for each further
// width: a composite glyph of it alone, which draws exactly what it draws.
// glyphOf gets, for each wanted pair in turn, the glyph that draws it. A
// program that is not a TrueType font with glyf outlines, or that has no
// room for more glyphs, comes back as it was with the glyphs unchanged, as
// does one whose glyphs already advance as wanted.
QByteArray withAdvances(const QByteArray &program, const std::vector<std::pair<uint32_t, int>> &wanted,
                        std::vector<uint32_t> &glyphOf);

} // namespace Rpt
