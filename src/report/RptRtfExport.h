// RTF export filter: the prepared pages as an RTF document, each band a
// table row of at least the memos' height with their frames and fills, one
// page break between pages and no page header or footer.
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

// Text as RTF: \, { and } escaped, code-page 1252 characters as \'hh and
// the rest as \u with a '?' fallback.
QByteArray rtfText(const QString &text);
} // namespace Rpt
