// Text set as it is read: normalised (NFC), split into runs by the Unicode
// bidirectional algorithm (FriBidi), each run shaped (HarfBuzz) in the font
// that has its characters (RptFonts.h). Widths, wrapping and page breaks
// follow the shaped glyphs the PDF file draws. The steps, one file each,
// shared by the PDF and the RTF file: the paragraph's direction
// (RptParagraph), shaping (RptShaper), the line breaks (RptBreaks), line
// filling (RptLineFill) and the shaped lines kept (RptLineCache).
#pragma once

#include "report/RptLineCache.h"
#include "report/RptLineFill.h"
#include "report/RptParagraph.h"
#include "report/RptShaper.h"
