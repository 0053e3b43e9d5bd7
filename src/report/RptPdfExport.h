// PDF export filter: the prepared pages as a PDF file of our own making, its
// text set in subsets of the report's fonts embedded in the file (every
// character as entered, extractable through a ToUnicode map), with deflated
// streams, a document information dictionary and no encryption.
#pragma once

#include "report/RptReport.h"

class TRptPDFExport : public TRptExportFilter {
public:
    TRptPDFExport();

    QString Author = QStringLiteral("Vantoro");
    QString Subject = QStringLiteral("Vantoro PDF export");
    QString Creator = QStringLiteral("Vantoro");
    // The document title; empty takes the report's title text.
    QString Title;

    QByteArray render(const Rpt::PreparedReport &report) const override;
};

namespace Rpt {
// A PDF literal string "(...)" of 8-bit bytes, with (, ) and \ escaped and
// bytes outside printable ASCII written as octal escapes.
QByteArray pdfLiteral(const QByteArray &bytes);
// A PDF text string for the information dictionary: a literal when the text
// is printable ASCII, else UTF-16BE with its byte-order mark, in hex.
QByteArray pdfTextString(const QString &text);
} // namespace Rpt
