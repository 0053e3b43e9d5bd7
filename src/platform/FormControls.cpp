#include "platform/FormControls.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGridLayout>
#include <QPushButton>
#include <QWidget>

#include <algorithm>

namespace Platform {

namespace {

constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kCaptionPadding = 12; // on each side of the caption

void updateRadioTabStops(const QButtonGroup &group)
{
    const QList<QAbstractButton *> buttons = group.buttons();
    QAbstractButton *stop = group.checkedButton();
    if (!stop && !buttons.isEmpty())
        stop = buttons.first();
    for (QAbstractButton *b : buttons)
        b->setFocusPolicy(b == stop ? Qt::StrongFocus : Qt::ClickFocus);
}

int firstColumnWidth(const QGridLayout &grid)
{
    int width = 0;
    for (int i = 0; i < grid.count(); ++i) {
        int row, column, rowSpan, columnSpan;
        grid.getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
        if (column != 0 || columnSpan != 1)
            continue;
        QLayoutItem *item = grid.itemAt(i);
        const int hint = item->widget() ? item->widget()->sizeHint().width() : item->sizeHint().width();
        width = std::max(width, hint);
    }
    return width;
}

} // namespace

void padButton(QPushButton &button)
{
    const int caption = button.fontMetrics().horizontalAdvance(button.text());
    button.setMinimumSize(std::max(kButtonWidth, caption + 2 * kCaptionPadding),
                          std::max(kButtonHeight, button.sizeHint().height()));
}

void tabToCheckedRadio(QButtonGroup &group)
{
    updateRadioTabStops(group);
    QObject::connect(&group, &QButtonGroup::buttonToggled, &group, [&group] { updateRadioTabStops(group); });
}

void alignFirstColumns(std::initializer_list<QGridLayout *> grids)
{
    int width = 0;
    for (const QGridLayout *grid : grids)
        width = std::max(width, firstColumnWidth(*grid));
    for (QGridLayout *grid : grids)
        grid->setColumnMinimumWidth(0, width);
}

} // namespace Platform
