#include "report/RptTemplate.h"

#include <cmath>

namespace Rpt {
namespace {

constexpr Color kSilver{192, 192, 192};
constexpr Color kLightGrey{204, 204, 204};

Font arial(bool bold, double sizePt)
{
    Font f;
    f.bold = bold;
    f.sizePt = sizePt;
    return f;
}

Memo memo(const QString &name, double left, double top, double width, const QString &text)
{
    Memo m;
    m.name = name;
    m.left = left;
    m.top = top;
    m.width = width;
    m.height = 5;
    m.text = text;
    return m;
}

Memo lineMemo(const QString &var, double left, double width)
{
    Memo m = memo(QStringLiteral("memo") + var, left, 0, width, QLatin1Char('[') + var + QLatin1Char(']'));
    m.font = arial(false, 10);
    m.frame = FrameAll;
    return m;
}

// One printed section of the report and the options of its bands.
struct SectionLayout {
    const char *header, *data, *footer;
    const char *dataSet, *field, *caption;
    const char *leftVar, *rightVar;  // rightVar null: one full-width column
    double footerHeight;
    double captionTop;
    bool keepTogether, startNewPage, reprint;
    bool rowAllowSplit, rowKeepTogether, rowKeepChild, rowKeepFooter, rowKeepHeader;
};

const SectionLayout kSections[] = {
    {"GroupHeader1", "MasterData3", "GroupFooter1", "InfoDS", "Information", "Information",
     "siteInfo1", "siteInfo2", 4, 0, true, false, false, false, false, false, false, false},
    {"GroupHeader2", "MasterData2", "GroupFooter2", "TotalsDS", "Totals", "Totals (Kilo Litres)",
     "Totals1", "Totals2", 4, 0, true, false, false, false, false, false, false, false},
    {"GroupHeader6", "MasterData6", "GroupFooter6", "DiagnosticDS", "Diagnostic", "Diagnostics",
     "Diagnostic1", "Diagnostic2", 4, 0, false, false, false, false, false, false, false, false},
    {"GroupHeader3", "MasterData1", "GroupFooter3", "ConfigDS", "Configuration", "Configuration",
     "Configuration1", "Configuration2", 2, 0, true, true, false, true, true, false, false, false},
    {"GroupHeader4", "MasterData4", "GroupFooter4", "CalDS", "Calibration", "Calibration",
     "Calibration1", "Calibration2", 4, 0.5, false, true, true, false, false, false, false, false},
    {"GroupHeader5", "MasterData5", "GroupFooter5", "BasicCalDS", "BasicCalibration", "HW Calibration",
     "BasicCalibration1", "BasicCalibration2", 4, 0, false, false, true, false, true, true, true, true},
    {"GroupHeader7", "MasterData7", "GroupFooter7", "NotesDS", "Notes", "Technician's Notes",
     "Notes1", nullptr, 4, 0, true, true, true, false, false, false, false, false},
};

Group buildGroup(const SectionLayout &s)
{
    Group g;
    g.dataSet = QString::fromLatin1(s.dataSet);
    g.condition = QString::fromLatin1(s.field);

    g.header.name = QString::fromLatin1(s.header);
    g.header.kind = BandKind::GroupHeader;
    g.header.height = 6;
    g.header.keepTogether = s.keepTogether;
    g.header.startNewPage = s.startNewPage;
    g.header.reprintOnNewPage = s.reprint;
    Memo caption = memo(QStringLiteral("memo") + g.header.name, 0, s.captionTop, 190,
                        QString::fromLatin1(s.caption));
    caption.font = arial(true, 10);
    caption.fill = kLightGrey;
    caption.frame = FrameAll;
    g.header.memos.push_back(caption);

    g.data.name = QString::fromLatin1(s.data);
    g.data.kind = BandKind::MasterData;
    g.data.height = 5;
    g.data.allowSplit = s.rowAllowSplit;
    g.data.keepTogether = s.rowKeepTogether;
    g.data.keepChild = s.rowKeepChild;
    g.data.keepFooter = s.rowKeepFooter;
    g.data.keepHeader = s.rowKeepHeader;
    if (s.rightVar) {
        g.data.memos.push_back(lineMemo(QString::fromLatin1(s.leftVar), 0, 60));
        g.data.memos.push_back(lineMemo(QString::fromLatin1(s.rightVar), 60, 130));
    } else {
        Memo notes = lineMemo(QString::fromLatin1(s.leftVar), 0, 190);
        notes.wrapIntoRows = true;  // the technician's notes are never cut off
        g.data.memos.push_back(notes);
    }

    g.footer.name = QString::fromLatin1(s.footer);
    g.footer.kind = BandKind::GroupFooter;
    g.footer.height = s.footerHeight;
    return g;
}

Band titleBand()
{
    Band b;
    b.name = QStringLiteral("ReportTitle1");
    b.kind = BandKind::ReportTitle;
    b.height = 10;
    Memo m = memo(QStringLiteral("memoReportTitle"), 0, 0, 190, QStringLiteral("[ReportTitle]"));
    m.font = arial(true, 11);
    m.fill = kSilver;
    m.frame = FrameAll;
    m.align = HAlign::Center;
    b.memos.push_back(m);
    return b;
}

Band pageFooterBand()
{
    Band b;
    b.name = QStringLiteral("PageFooter1");
    b.kind = BandKind::PageFooter;
    b.height = 15;
    Memo rule = memo(QStringLiteral("memoFooterRule"), 0, 0, 192, QString());
    rule.frame = FrameTop;
    Memo time = memo(QStringLiteral("memoTime"), 0, 0, 15, QStringLiteral("[Time]"));
    time.displayFormat = QStringLiteral("hh:mm:ss");
    Memo date = memo(QStringLiteral("memoDate"), 16, 0, 41, QStringLiteral("[Date]"));
    date.displayFormat = QStringLiteral("mmmm dd, yyyy");
    Memo text = memo(QStringLiteral("memoFooterText"), 61.1, 0.3, 63.1, QStringLiteral("[FooterText]"));
    Memo page = memo(QStringLiteral("memoPage"), 151, 0, 39, QStringLiteral("Page [Page#]"));
    page.align = HAlign::Right;
    for (Memo *m : {&time, &date, &text, &page})
        m->field = true;
    b.memos = {rule, time, date, text, page};
    return b;
}

} // namespace

int linesThatFit(const Memo &memo)
{
    const double n = std::floor((memo.height - 2 * kMemoPadY) / lineHeightMm(memo.font.sizePt) + 1e-9);
    return n < 1 ? 1 : static_cast<int>(n);
}

Template z960ReportTemplate()
{
    Template t;
    t.title = titleBand();
    for (const SectionLayout &s : kSections)
        t.groups.push_back(buildGroup(s));
    t.pageFooter = pageFooterBand();
    t.variables = QStringList{
        QStringLiteral("siteInfo1"), QStringLiteral("siteInfo2"),
        QStringLiteral("Configuration1"), QStringLiteral("Configuration2"),
        QStringLiteral("Calibration1"), QStringLiteral("Calibration2"),
        QStringLiteral("BasicCalibration1"), QStringLiteral("BasicCalibration2"),
        QStringLiteral("Totals1"), QStringLiteral("Totals2"), QStringLiteral("Notes1"),
        QStringLiteral("ReportTitle"), QStringLiteral("Diagnostic1"), QStringLiteral("Diagnostic2"),
        QStringLiteral("FooterText")};
    return t;
}

} // namespace Rpt
