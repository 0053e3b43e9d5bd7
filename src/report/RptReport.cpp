#include "report/RptReport.h"

#include "platform/SaveWhole.h"
#include "platform/ShellOpen.h"

#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <stdexcept>

namespace Rpt {

QString PlacedMemo::text() const
{
    QStringList parts;
    for (const QString &l : lines)
        parts << l;
    return parts.join(QLatin1Char('\n'));
}

HAlign PlacedMemo::lineAlign(size_t i) const
{
    if (!field && align == HAlign::Left && form(i).direction == LineForm::RightToLeft)
        return HAlign::Right;
    return align;
}

std::vector<QString> Page::lines() const
{
    std::vector<QString> out;
    for (const PlacedBand &b : bands)
        for (const PlacedMemo &m : b.memos)
            out.insert(out.end(), m.lines.begin(), m.lines.end());
    return out;
}

const PlacedBand *Page::row(const QString &dataSet, int record, int slice) const
{
    for (const PlacedBand &b : bands)
        if (b.kind == BandKind::MasterData && b.dataSet == dataSet && b.record == record && b.slice == slice)
            return &b;
    return nullptr;
}

const PlacedBand *Page::band(const QString &name) const
{
    for (const PlacedBand &b : bands)
        if (b.name == name)
            return &b;
    return nullptr;
}

int PreparedReport::pageOf(const QString &dataSet, int record, int slice) const
{
    for (const Page &p : pages)
        if (p.row(dataSet, record, slice))
            return p.number;
    return 0;
}

namespace {

constexpr double kEps = 1e-6;

double toPt(double mm) { return mm / kMmPerPt; }

// The token of a display format and how many letters it spans.
struct FormatToken {
    QChar letter;
    int count;
};

QString two(int v) { return QString::number(v).rightJustified(2, QLatin1Char('0')); }

QString formatToken(const FormatToken &t, bool minutes, const QDateTime &v, const QLocale &loc)
{
    const QDate d = v.date();
    const QTime tm = v.time();
    switch (t.letter.toLower().unicode()) {
    case 'y': return t.count <= 2 ? two(d.year() % 100) : QString::number(d.year());
    case 'm':
        if (minutes)
            return t.count >= 2 ? two(tm.minute()) : QString::number(tm.minute());
        if (t.count >= 4) return loc.monthName(d.month(), QLocale::LongFormat);
        if (t.count == 3) return loc.monthName(d.month(), QLocale::ShortFormat);
        return t.count == 2 ? two(d.month()) : QString::number(d.month());
    case 'n': return t.count >= 2 ? two(tm.minute()) : QString::number(tm.minute());
    case 'd':
        if (t.count >= 4) return loc.dayName(d.dayOfWeek(), QLocale::LongFormat);
        if (t.count == 3) return loc.dayName(d.dayOfWeek(), QLocale::ShortFormat);
        return t.count == 2 ? two(d.day()) : QString::number(d.day());
    case 'h': return t.count >= 2 ? two(tm.hour()) : QString::number(tm.hour());
    case 's': return t.count >= 2 ? two(tm.second()) : QString::number(tm.second());
    default: return QString(t.count, t.letter);
    }
}

} // namespace

QString formatDateTime(const QDateTime &value, const QString &format, const QLocale &locale)
{
    QString out;
    bool afterHour = false;
    for (int i = 0; i < format.size();) {
        const QChar c = format[i];
        if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {  // quoted literal
            const int end = format.indexOf(c, i + 1);
            const int stop = end < 0 ? format.size() : end;
            out += format.mid(i + 1, stop - i - 1);
            i = stop + 1;
            continue;
        }
        if (!QStringLiteral("ymndhsYMNDHS").contains(c)) {
            out += c;
            ++i;
            continue;
        }
        int n = 1;
        while (i + n < format.size() && format[i + n].toLower() == c.toLower())
            ++n;
        const QChar lower = c.toLower();
        out += formatToken({c, n}, lower == QLatin1Char('m') && afterHour, value, locale);
        afterHour = lower == QLatin1Char('h');
        i += n;
    }
    return out;
}

namespace {

// Lays a template out into pages.
class Layouter {
public:
    using Resolve = std::function<QString(const QString &name, const Memo &memo)>;

    Layouter(const Template &tpl, PreparedReport &out) : tpl_(tpl), out_(out)
    {
        bodyTop_ = tpl.marginTop;
        bodyBottom_ = tpl.paperHeight - tpl.marginBottom - tpl.pageFooter.height;
    }

    void title(const Resolve &resolve)
    {
        openPage();
        if (tpl_.title.memos.empty() && tpl_.title.height <= 0)
            return;
        PlacedBand b = materialise(tpl_.title, resolve);
        if (!b.memos.empty())
            out_.title = b.memos.front().text();
        place(std::move(b));
    }

    void group(const Group &g, int records, const std::function<void(int)> &setRecord, const Resolve &resolve)
    {
        if (records <= 0)
            return;  // an empty section prints nothing, not even its header
        const PlacedBand header = materialise(g.header, resolve);
        std::vector<PlacedBand> rows;
        for (int r = 0; r < records; ++r) {
            setRecord(r);
            appendRows(g, r, resolve, rows);
        }
        PlacedBand footer = materialise(g.footer, resolve);

        if (g.header.startNewPage && hasContent_)
            newPage();
        double total = header.height + footer.height;
        for (const PlacedBand &r : rows)
            total += r.height;
        if (g.header.keepTogether && !fits(total) && total <= bodyHeight() + kEps && hasContent_)
            newPage();
        if (!fits(header.height + rows.front().height) && hasContent_)
            newPage();  // a header never stands alone at the foot of a page
        place(header);
        for (PlacedBand &row : rows) {
            if (!fits(row.height)) {
                if (row.slice > 0)
                    closeBottom(out_.pages.back().bands.back());  // the record goes on overleaf
                newPage();
                if (g.header.reprintOnNewPage) {
                    PlacedBand again = header;
                    again.reprinted = true;
                    place(std::move(again));
                }
                if (row.slice > 0)
                    closeTop(row);  // a continued record needs its top line on the new page
            }
            place(std::move(row));
        }
        if (fits(footer.height))
            place(std::move(footer));  // a gap at a page's foot is dropped: the break is gap enough
    }

    void finish(const std::function<Resolve(int page)> &footerResolve)
    {
        for (Page &p : out_.pages) {
            PlacedBand f = materialise(tpl_.pageFooter, footerResolve(p.number));
            f.top = bodyBottom_;
            offset(f);
            p.bands.push_back(std::move(f));
        }
    }

private:
    double bodyHeight() const { return bodyBottom_ - bodyTop_; }
    bool fits(double h) const { return y_ + h <= bodyBottom_ + kEps; }

    void openPage()
    {
        Page p;
        p.number = static_cast<int>(out_.pages.size()) + 1;
        out_.pages.push_back(std::move(p));
        y_ = bodyTop_;
        hasContent_ = false;
    }
    void newPage() { openPage(); }

    // Moves a band's memos from band-relative to page coordinates.
    void offset(PlacedBand &b) const
    {
        for (PlacedMemo &m : b.memos) {
            m.left += tpl_.marginLeft;
            m.top += b.top;
        }
    }

    void place(PlacedBand b)
    {
        b.top = y_;
        offset(b);
        y_ += b.height;
        hasContent_ = true;
        out_.pages.back().bands.push_back(std::move(b));
    }

    static void closeTop(PlacedBand &row)
    {
        for (PlacedMemo &m : row.memos)
            if (m.frame & (FrameLeft | FrameRight))
                m.frame |= FrameTop;
    }
    static void closeBottom(PlacedBand &row)
    {
        for (PlacedMemo &m : row.memos)
            if (m.frame & (FrameLeft | FrameRight))
                m.frame |= FrameBottom;
    }

    static PlacedMemo placeMemo(const Memo &m, QString text)
    {
        PlacedMemo p;
        p.name = m.name;
        p.left = m.left;
        p.top = m.top;
        p.width = m.width;
        p.height = m.height;
        p.font = m.font;
        p.fill = m.fill;
        p.frame = m.frame;
        p.align = m.align;
        p.field = m.field;
        if (m.field)
            text.replace(QLatin1Char('\t'), QLatin1Char(' '));  // a field has no tab stops
        WrappedLines wrapped = wrapLines(text, m.font.face(), m.font.sizePt, toPt(m.width - 2 * kMemoPadX));
        p.lines = std::move(wrapped.lines);
        p.forms = std::move(wrapped.forms);
        return p;
    }

    static QString expand(const Memo &m, const Resolve &resolve)
    {
        QString out;
        const QString &t = m.text;
        for (int i = 0; i < t.size(); ++i) {
            const int close = t[i] == QLatin1Char('[') ? t.indexOf(QLatin1Char(']'), i + 1) : -1;
            if (close < 0) {
                out += t[i];
                continue;
            }
            // Values are inserted as they are: brackets inside a value are text.
            out += resolve(t.mid(i + 1, close - i - 1), m);
            i = close;
        }
        return out;
    }

    PlacedBand materialise(const Band &band, const Resolve &resolve) const
    {
        PlacedBand b;
        b.name = band.name;
        b.kind = band.kind;
        b.height = band.height;
        for (const Memo &m : band.memos) {
            PlacedMemo p = placeMemo(m, expand(m, resolve));
            const size_t keep = static_cast<size_t>(linesThatFit(m));
            if (p.lines.size() > keep) {
                p.lines.resize(keep);  // cut off at the memo's border
                p.forms.resize(keep);
            }
            b.memos.push_back(std::move(p));
        }
        return b;
    }

    // One data row per record, or several when a memo continues into rows.
    void appendRows(const Group &g, int record, const Resolve &resolve, std::vector<PlacedBand> &rows) const
    {
        std::vector<PlacedMemo> memos;
        size_t slices = 1;
        for (const Memo &m : g.data.memos) {
            PlacedMemo p = placeMemo(m, expand(m, resolve));
            const size_t per = static_cast<size_t>(linesThatFit(m));
            if (m.wrapIntoRows)
                slices = std::max(slices, (p.lines.size() + per - 1) / per);
            memos.push_back(std::move(p));
        }
        for (size_t slice = 0; slice < slices; ++slice) {
            PlacedBand b;
            b.name = g.data.name;
            b.kind = BandKind::MasterData;
            b.dataSet = g.dataSet;
            b.record = record;
            b.slice = static_cast<int>(slice);
            b.height = g.data.height;
            for (size_t i = 0; i < memos.size(); ++i) {
                const Memo &m = g.data.memos[i];
                const size_t per = static_cast<size_t>(linesThatFit(m));
                if (!m.wrapIntoRows && slice > 0)
                    continue;
                PlacedMemo p = memos[i];
                const size_t from = std::min(p.lines.size(), slice * per);
                const size_t to = std::min(p.lines.size(), from + per);
                p.lines = std::vector<QString>(memos[i].lines.begin() + from, memos[i].lines.begin() + to);
                p.forms = std::vector<LineForm>(memos[i].forms.begin() + from, memos[i].forms.begin() + to);
                if (m.wrapIntoRows && slices > 1) {
                    // One record's rows read as one box: no lines between its slices.
                    if (slice > 0) p.frame &= ~FrameTop;
                    if (slice + 1 < slices) p.frame &= ~FrameBottom;
                }
                b.memos.push_back(std::move(p));
            }
            rows.push_back(std::move(b));
        }
    }

    const Template &tpl_;
    PreparedReport &out_;
    double bodyTop_ = 0, bodyBottom_ = 0;
    double y_ = 0;
    bool hasContent_ = false;
};

void defaultOpen(const QString &path)
{
    Platform::shellOpen(path);  // whether a viewer started is not the export's concern
}

} // namespace
} // namespace Rpt

int TRptUserDataSet::recordCount() const
{
    return RangeEnd == TRptRangeEnd::reCount && RangeEndCount > 0 ? RangeEndCount : 0;
}

TRptExportFilter::TRptExportFilter() : Opener(Rpt::defaultOpen) {}
TRptExportFilter::~TRptExportFilter() = default;

bool TRptExportFilter::exportReport(const Rpt::PreparedReport &report)
{
    lastError.clear();
    failedOnFont = false;
    if (FileName.isEmpty()) {
        lastError = QStringLiteral("No file name given");
        return false;
    }
    QByteArray bytes;
    try {
        bytes = render(report);
    } catch (const Rpt::FontError &e) {
        lastError = QString::fromUtf8(e.what());
        failedOnFont = true;
        return false;
    } catch (const std::exception &e) {
        lastError = QString::fromLocal8Bit(e.what());
        return false;
    }
    QSaveFile file(FileName);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        lastError = file.errorString();
        return false;
    }
    if (!Platform::commitWhole(file, bytes)) {
        lastError = file.errorString();
        return false;
    }
    if (OpenAfterExport && Opener)
        Opener(QFileInfo(FileName).absoluteFilePath());
    return true;
}

TRptReport::TRptReport(Rpt::Template tpl) : tpl_(std::move(tpl))
{
    for (const Rpt::Group &g : tpl_.groups)
        if (!dataSets_.count(g.dataSet))
            dataSets_.emplace(g.dataSet, std::make_unique<TRptUserDataSet>(g.dataSet));
    Clock = [] { return QDateTime::currentDateTime(); };
}

TRptReport::~TRptReport() = default;

TRptUserDataSet &TRptReport::dataSet(const QString &userName)
{
    auto it = dataSets_.find(userName);
    if (it == dataSets_.end())
        throw std::invalid_argument("The report template has no data set " + userName.toStdString());
    return *it->second;
}

bool TRptReport::PrepareReport()
{
    prepared_ = Rpt::PreparedReport{};
    prepared_.paperSize = tpl_.paperSize;
    prepared_.paperWidth = tpl_.paperWidth;
    prepared_.paperHeight = tpl_.paperHeight;
    prepared_.marginLeft = tpl_.marginLeft;
    prepared_.marginTop = tpl_.marginTop;
    prepared_.marginRight = tpl_.marginRight;
    prepared_.marginBottom = tpl_.marginBottom;
    prepared_.preparedAt = Clock ? Clock() : QDateTime::currentDateTime();

    auto valueOf = [this](const QString &name, const Rpt::Memo &memo, int page) -> QString {
        QVariant v;
        if (name.compare(QLatin1String("Page#"), Qt::CaseInsensitive) == 0)
            v = page;
        else if (name.compare(QLatin1String("Date"), Qt::CaseInsensitive) == 0 ||
                 name.compare(QLatin1String("Time"), Qt::CaseInsensitive) == 0)
            v = prepared_.preparedAt;
        else if (OnGetValue)
            OnGetValue(name, v);
        if (!v.isValid())
            return QString();
        if (v.typeId() == QMetaType::QDateTime && !memo.displayFormat.isEmpty())
            return Rpt::formatDateTime(v.toDateTime(), memo.displayFormat, locale);
        return v.toString();
    };
    auto onPage = [&valueOf](int page) {
        return [&valueOf, page](const QString &name, const Rpt::Memo &memo) { return valueOf(name, memo, page); };
    };

    isPrepared_ = false;
    lastError.clear();
    Rpt::beginFontUse(locale.bcp47Name());
    try {
        Rpt::Layouter layout(tpl_, prepared_);
        layout.title(onPage(1));
        for (const Rpt::Group &g : tpl_.groups) {
            TRptUserDataSet &ds = dataSet(g.dataSet);
            ds.RecNo = 0;
            layout.group(g, ds.recordCount(), [&ds](int r) { ds.RecNo = r; }, onPage(0));
        }
        layout.finish(onPage);
        prepared_.fontFailures = Rpt::fontFailures();
    } catch (const Rpt::FontError &e) {
        prepared_.pages.clear();
        lastError = QString::fromUtf8(e.what());
        return false;
    }
    isPrepared_ = true;
    return true;
}

bool TRptReport::Export(TRptExportFilter &filter)
{
    if (!isPrepared_) {
        filter.lastError = lastError.isEmpty() ? QStringLiteral("The report has not been prepared") : lastError;
        return false;
    }
    return filter.exportReport(prepared_);
}
