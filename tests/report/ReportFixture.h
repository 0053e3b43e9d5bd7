// Feeds the report engine seven sections of section lines the way the meter
// report does: each data set counts its list's lines and the value callback
// gives the left and right column of the current line.
#pragma once

#include "report/RptReport.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>

#include <array>

namespace ReportFixture {

enum Section { Info, Totals, Diagnostic, Config, Cal, BasicCal, Notes, SectionCount };

inline const char *dataSetName(Section s)
{
    static const char *names[] = {"InfoDS", "TotalsDS", "DiagnosticDS", "ConfigDS", "CalDS", "BasicCalDS", "NotesDS"};
    return names[s];
}

// Caption padded to 30 characters, "= ", value.
inline QString line(const QString &caption, const QString &value)
{
    return caption.leftJustified(30, QLatin1Char(' ')) + QStringLiteral("= ") + value;
}

// n lines "<prefix> k" = "value k".
inline QStringList lines(const QString &prefix, int n)
{
    QStringList out;
    for (int k = 0; k < n; ++k)
        out << line(prefix + QLatin1Char(' ') + QString::number(k), QStringLiteral("value ") + QString::number(k));
    return out;
}

struct Feed {
    std::array<QStringList, SectionCount> sections;
    QString title = QStringLiteral("Z960 Report MeterID - 123456");
    QString footerText;  // empty: the footer's middle memo prints empty
    QStringList asked;   // every variable the engine asked for, in order

    QStringList &operator[](Section s) { return sections[s]; }

    static QString left(const QString &l) { const int p = l.indexOf(QLatin1Char('=')); return p < 0 ? QString() : l.left(p); }
    static QString right(const QString &l) { const int p = l.indexOf(QLatin1Char('=')); return p < 0 ? l : l.mid(p + 1); }

    // Binds the data sets and the value callback of the report to this feed.
    void bind(TRptReport &r)
    {
        for (int s = 0; s < SectionCount; ++s) {
            TRptUserDataSet &ds = r.dataSet(QString::fromLatin1(dataSetName(Section(s))));
            ds.RangeEnd = TRptRangeEnd::reCount;
            ds.RangeEndCount = static_cast<int>(sections[s].size());
        }
        r.Clock = [] { return QDateTime(QDate(2026, 12, 9), QTime(14, 5, 33)); };
        r.locale = QLocale(QLocale::English, QLocale::UnitedKingdom);
        r.OnGetValue = [this, &r](const QString &name, QVariant &value) {
            asked << name;
            static const struct { const char *left, *right; Section s; } vars[] = {
                {"siteInfo1", "siteInfo2", Info},       {"Totals1", "Totals2", Totals},
                {"Diagnostic1", "Diagnostic2", Diagnostic}, {"Configuration1", "Configuration2", Config},
                {"Calibration1", "Calibration2", Cal},  {"BasicCalibration1", "BasicCalibration2", BasicCal},
            };
            if (name == QLatin1String("ReportTitle")) { value = title; return; }
            if (name == QLatin1String("FooterText")) { if (!footerText.isEmpty()) value = footerText; return; }
            if (name == QLatin1String("Notes1")) {
                value = sections[Notes].value(r.dataSet(QStringLiteral("NotesDS")).RecNo);
                return;
            }
            for (const auto &v : vars) {
                const int rec = r.dataSet(QString::fromLatin1(dataSetName(v.s))).RecNo;
                if (name == QLatin1String(v.left)) { value = left(sections[v.s].value(rec)); return; }
                if (name == QLatin1String(v.right)) { value = right(sections[v.s].value(rec)); return; }
            }
        };
    }

    // A report of the usual shape: 8 information lines, 10 totals, 27
    // diagnostics, and a few lines in each later section.
    static Feed typical()
    {
        Feed f;
        f[Info] = lines(QStringLiteral("Info"), 8);
        f[Totals] = lines(QStringLiteral("Total"), 10);
        f[Diagnostic] = lines(QStringLiteral("Diag"), 27);
        f[Config] = lines(QStringLiteral("Config"), 40);
        f[Cal] = lines(QStringLiteral("Cal"), 20);
        f[BasicCal] = lines(QStringLiteral("HwCal"), 12);
        f[Notes] = QStringList{QStringLiteral("Replaced the coil cable."), QStringLiteral("Meter checked (OK) \\ done.")};
        f.footerText = QStringLiteral("Validator ID: DAV01234");
        return f;
    }

    // The typical report with notes in several Latin letters, a long line
    // that wraps and signs beyond ASCII: the report the page comparison and
    // the report benchmark both write.
    static Feed typicalLatin()
    {
        Feed f = typical();
        f[Notes] = QStringList{
            QStringLiteral("Replaced the coil cable."),
            QStringLiteral("Checked the earthing rings, the liner and both electrodes; cleaned the flanges and re-torqued "
                           "every bolt to the maker's figure, then ran the meter for an hour \u2013 readings steady."),
            QStringLiteral("M\u00fcller's crew: \u00c5ngstr\u00f6m, na\u00efve fa\u00e7ade, \u00bd \u00b0C")};
        return f;
    }
};

// The header band of a section on a page, or null.
inline const Rpt::PlacedBand *header(const Rpt::Page &p, const char *name) { return p.band(QString::fromLatin1(name)); }

// The 1-based page on which a band first prints; 0 when it never does.
inline int pageOfBand(const Rpt::PreparedReport &r, const char *name)
{
    for (const Rpt::Page &p : r.pages)
        if (p.band(QString::fromLatin1(name)))
            return p.number;
    return 0;
}

} // namespace ReportFixture
