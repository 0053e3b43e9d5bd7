// A banded report template as plain data: the page, the bands in the order
// they print and the memos in each band. Lengths are millimetres from the
// band's (or the page's) top-left corner.
#pragma once

#include "report/RptFontMetrics.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace Rpt {

struct Color {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Color &o) const { return r == o.r && g == o.g && b == o.b; }
};

// Frame lines of a memo, one bit per side.
enum FrameSide : uint8_t {
    FrameNone = 0,
    FrameLeft = 1,
    FrameTop = 2,
    FrameRight = 4,
    FrameBottom = 8,
    FrameAll = FrameLeft | FrameTop | FrameRight | FrameBottom,
};

enum class HAlign { Left, Center, Right };

struct Font {
    QString family = QStringLiteral("Arial");
    bool bold = false;
    double sizePt = 10.0;
    Color color{};
    // The face this font prints with (the family is the template's name for it).
    FontFace face() const { return bold ? FontFace::Bold : FontFace::Regular; }
};

struct Memo {
    QString name;
    double left = 0, top = 0, width = 0, height = 5;
    // Literal text with bracketed variables, e.g. "Page [Page#]".
    QString text;
    Font font;
    std::optional<Color> fill;
    uint8_t frame = FrameNone;
    HAlign align = HAlign::Left;
    // Display format for a date/time value ("hh:mm:ss", "mmmm dd, yyyy").
    QString displayFormat;
    // A text too long for the memo continues in further rows of the band
    // instead of being cut off (used where no text may be lost).
    bool wrapIntoRows = false;
    // A one-line field (a date, a page number), not a memo of paragraphs:
    // it keeps its alignment whatever the direction of its text and has no
    // tab stops (a tab in it prints as a blank).
    bool field = false;
};

enum class BandKind { ReportTitle, GroupHeader, MasterData, GroupFooter, PageFooter };

struct Band {
    QString name;
    BandKind kind = BandKind::MasterData;
    double height = 5;
    std::vector<Memo> memos;
    bool keepTogether = false;     // header: move the whole group to a new page when it fits there
    bool startNewPage = false;     // header: the group begins on a page of its own
    bool reprintOnNewPage = false; // header: repeated at the top of every page the group runs onto
    // Row options carried over from the layout; rows are one fixed height,
    // so splitting a row or keeping it with its neighbours needs no action
    // beyond keepHeader (the header never stands alone at a page's foot).
    bool allowSplit = false;
    bool keepChild = false;
    bool keepFooter = false;
    bool keepHeader = false;
};

// A section: header, one data row per record of its data set, footer.
struct Group {
    QString dataSet;    // user data set name, e.g. "InfoDS"
    QString condition;  // the data set's field the group is keyed on
    Band header, data, footer;
};

struct Template {
    int paperSize = 9;  // A4
    double paperWidth = 210, paperHeight = 297;
    double marginLeft = 10, marginTop = 10, marginRight = 10, marginBottom = 10;
    Band title;
    std::vector<Group> groups;
    Band pageFooter;
    QStringList variables;  // report variables, all supplied by the value callback

    double bodyWidth() const { return paperWidth - marginLeft - marginRight; }
};

// Text layout inside a memo: padding, line height and baseline.
constexpr double kMmPerPt = 25.4 / 72.0;
constexpr double kMemoPadX = 0.5;   // mm left and right of the text
constexpr double kMemoPadY = 0.25;  // mm above and below the text
constexpr double kLineFactor = 1.15;  // line height / font size
constexpr double kAscentFactor = 0.905;

inline double lineHeightMm(double sizePt) { return sizePt * kLineFactor * kMmPerPt; }
// Whole lines a memo of this height shows (at least one, cut at the border).
int linesThatFit(const Memo &memo);

// The meter report's template: title, seven sections, page footer.
Template z960ReportTemplate();

} // namespace Rpt
