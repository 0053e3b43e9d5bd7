// RTF export filter: the prepared pages as an RTF document, each band a
// table row of at least the memos' height with their frames and fills, one
// page break between pages and no page header or footer. A right-to-left
// paragraph is marked so (its tab stops count from its start, the right),
// each run of text by its direction, and text of complex and East Asian
// scripts names the font the PDF file prints it with.
#pragma once

#include "report/RptReport.h"

class TRptRTFExport : public TRptExportFilter {
public:
    TRptRTFExport();

    QString Creator = QStringLiteral("Vantoro");

    QByteArray render(const Rpt::PreparedReport &report) const override;
};

namespace Rpt {
// The code-page 1252 byte of a character; '?' for a character the code page
// lacks. Tabs and other control characters become blanks.
uint8_t toWinAnsi(QChar c);
QByteArray toWinAnsi(const QString &text);

// How characters beyond ASCII are written: as code-page 1252 bytes where
// the code page has them (text in the document's font), or all as \u (text
// in a font whose character set is another).
enum class RtfEncoding { CodePage, Unicode };

// Text as RTF: \, { and } escaped, code-page 1252 characters as \'hh and
// the rest as \u with a '?' fallback.
QByteArray rtfText(const QString &text, RtfEncoding encoding = RtfEncoding::CodePage);
} // namespace Rpt
