// Shaped lines kept while the fonts stay the same: the layout measures a
// line many times, and the PDF file draws it once more.
#pragma once

#include "report/RptShaper.h"

#include <memory>

namespace Rpt {

// The line shaped in the face at this size (tab stops every 36 pt from
// its start). Lines are kept while the fonts stay the same.
std::shared_ptr<const ShapedLine> shapeLine(const QString &text, FontFace face, double sizePt, LineForm form = {});

// Width of the line in points at the given font size.
double textWidthPt(const QString &text, FontFace face, double sizePt, LineForm form = {});

} // namespace Rpt
