// The banded report engine: user data sets that count records, a value
// callback for bracketed variables, the layout of a template into pages and
// the export of those pages through a file filter.
#pragma once

#include "report/RptTemplate.h"

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QVariant>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace Rpt {

// A memo as it prints on a page. Coordinates are millimetres from the
// paper's top-left corner.
struct PlacedMemo {
    QString name;
    double left = 0, top = 0, width = 0, height = 0;
    std::vector<QString> lines;  // the lines that print, after wrapping and cutting
    std::vector<LineForm> forms; // how each line prints (its paragraph's direction, a hyphen)
    Font font;
    std::optional<Color> fill;
    uint8_t frame = FrameNone;
    HAlign align = HAlign::Left;
    bool field = false;  // a one-line field of the template (Memo::field)

    QString text() const;  // the printed lines joined by '\n'
    // How line i prints; one without a form takes its direction from its text.
    LineForm form(size_t i) const { return i < forms.size() ? forms[i] : LineForm{}; }
    // Where line i is set: a right-to-left paragraph of a left-aligned memo
    // begins at the right, where its tab stops count from; a field keeps
    // the template's alignment.
    HAlign lineAlign(size_t i) const;
};

struct PlacedBand {
    QString name;
    BandKind kind = BandKind::MasterData;
    QString dataSet;   // data rows and their group's header and footer
    int record = -1;   // data rows: the record printed
    int slice = 0;     // data rows: 0, or the continuation row of a wrapped record
    bool reprinted = false;  // a header repeated at the top of a further page
    double top = 0, height = 0;
    std::vector<PlacedMemo> memos;
};

struct Page {
    int number = 1;
    std::vector<PlacedBand> bands;

    // Every printed line of the page, in print order.
    std::vector<QString> lines() const;
    // The band that prints this record of this data set, or null.
    const PlacedBand *row(const QString &dataSet, int record, int slice = 0) const;
    const PlacedBand *band(const QString &name) const;
};

struct PreparedReport {
    int paperSize = 9;
    double paperWidth = 210, paperHeight = 297;
    double marginLeft = 10, marginTop = 10, marginRight = 10, marginBottom = 10;
    QString title;  // text of the report title band
    QDateTime preparedAt;
    // Why the report's own fonts cannot be used: the pages are laid out all
    // the same (for the RTF file), but no PDF file can be set in them.
    QStringList fontFailures;
    std::vector<Page> pages;

    // The page (1-based) on which a data row prints; 0 when it is absent.
    int pageOf(const QString &dataSet, int record, int slice = 0) const;
};

} // namespace Rpt

// How a user data set's record range ends: reCount takes RangeEndCount
// records; reLast, without an end-of-data event to ask, gives none.
enum class TRptRangeEnd { reLast, reCount };

// A data set without values of its own: only a record counter over a list
// held elsewhere. RecNo is the record whose row is being prepared.
class TRptUserDataSet {
public:
    explicit TRptUserDataSet(QString userName) : UserName(std::move(userName)) {}

    QString UserName;
    TRptRangeEnd RangeEnd = TRptRangeEnd::reLast;
    int RangeEndCount = 0;
    int RecNo = 0;

    int recordCount() const;
};

// Writes prepared pages to a file in one format.
class TRptExportFilter {
public:
    virtual ~TRptExportFilter();

    QString FileName;
    bool OpenAfterExport = false;
    // Opens the written file with its associated program (the platform shell
    // by default); replaceable for tests.
    std::function<void(const QString &path)> Opener;
    // Why the last export failed (empty after a success), and whether it
    // was a font that could not be read, cut down or used.
    QString lastError;
    bool failedOnFont = false;

    // The whole file for these pages.
    virtual QByteArray render(const Rpt::PreparedReport &report) const = 0;

    // Writes the file: to a temporary file beside it, renamed over FileName
    // only when complete, so a failure keeps any earlier file whole.
    bool exportReport(const Rpt::PreparedReport &report);

protected:
    TRptExportFilter();
};

class TRptReport {
public:
    explicit TRptReport(Rpt::Template tpl = Rpt::z960ReportTemplate());
    ~TRptReport();
    TRptReport(const TRptReport &) = delete;
    TRptReport &operator=(const TRptReport &) = delete;

    const Rpt::Template &reportTemplate() const { return tpl_; }

    // The data set of that name the template's groups use; throws
    // std::invalid_argument for a name the template lacks.
    TRptUserDataSet &dataSet(const QString &userName);

    // Called with each variable met in a memo; leaving the value invalid
    // prints nothing. "Page#", "Date" and "Time" are the engine's own
    // ("Page#" belongs in the page footer: rows are prepared before pages).
    std::function<void(const QString &name, QVariant &value)> OnGetValue;
    // The engine's clock, read once per preparation ("[Date]", "[Time]").
    std::function<QDateTime()> Clock;
    // Locale for month and day names in display formats.
    QLocale locale;

    // Lays the template out into pages, replacing any earlier result. A
    // font of the report that cannot be used leaves the pages laid out with
    // the next font and its reason in prepared().fontFailures. False, with
    // nothing prepared and the reason in lastError, when the font library
    // itself cannot be started.
    bool PrepareReport();
    QString lastError;
    const Rpt::PreparedReport &prepared() const { return prepared_; }

    // Writes the prepared pages through the filter; false (with the filter's
    // lastError set) when nothing is prepared or the file cannot be written.
    bool Export(TRptExportFilter &filter);

private:
    Rpt::Template tpl_;
    std::map<QString, std::unique_ptr<TRptUserDataSet>> dataSets_;
    Rpt::PreparedReport prepared_;
    bool isPrepared_ = false;
};

namespace Rpt {
// A date/time in a display format of the "hh:nn:ss", "mmmm dd, yyyy" kind
// ("mm" right after an hour means minutes).
QString formatDateTime(const QDateTime &value, const QString &format, const QLocale &locale);
} // namespace Rpt
