// A glyph drawn as a filled path instead of as text: for a piece of a
// character drawn in several glyphs, which stands for no text of its own, so
// that no reader takes anything from it.
#pragma once

#include "report/RptFonts.h"

#include <QByteArray>

namespace Rpt {

// The glyph's outline as PDF path operators in the font's units (y up, the
// origin at the glyph's), to be filled by the nonzero winding rule, as a
// font's outlines are. Empty for a glyph without one.
QByteArray glyphOutline(const FontFile &file, uint32_t glyph);

} // namespace Rpt
