// Pictures of widgets for a person to look at, and what a test can check on
// them. Pictures go into the build tree beside the test executable
// ("screenshots/<name>.png"), so runs of other build trees never share a file.
//
//   const QImage shot = TestSupport::screenshot(*page->ECChart, "diag-ec-chart");
//   EXPECT_GT(TestSupport::pixelsNear(shot, plotRect, Qt::red), 20);
#pragma once

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QWidget>

#include <cstdlib>

namespace TestSupport {

inline QString screenshotPath(const QString &name)
{
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QStringLiteral("screenshots/%1.png").arg(name));
}

// Grabs the widget as it is painted now, saves it and returns the picture
// (a null image when it could not be saved).
inline QImage screenshot(QWidget &widget, const QString &name)
{
    QCoreApplication::processEvents();
    const QImage image = widget.grab().toImage();
    const QString path = screenshotPath(name);
    QDir().mkpath(QFileInfo(path).path());
    return image.save(path) ? image : QImage();
}

// How many pixels of the region are within `tolerance` of the colour in
// each channel (antialiased lines blend into their background).
inline int pixelsNear(const QImage &image, const QRect &region, const QColor &colour, int tolerance = 60)
{
    const QRect r = region.intersected(image.rect());
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) <= tolerance && std::abs(c.green() - colour.green()) <= tolerance &&
                std::abs(c.blue() - colour.blue()) <= tolerance)
                ++n;
        }
    return n;
}

// True when the widget is shown and lies whole inside the top widget.
inline bool shownWhole(const QWidget &top, const QWidget &widget)
{
    const QRect placed(widget.mapTo(&top, QPoint(0, 0)), widget.size());
    return widget.isVisible() && !placed.isEmpty() && top.rect().contains(placed);
}

// True when the row (its visual rectangle, as the view gives it) shows in
// the view's visible area: its whole height, and its start (a long text may
// run on past the right edge).
inline bool rowShown(const QAbstractItemView &view, const QRect &row)
{
    const QRect area = view.viewport()->rect();
    return view.isVisible() && !row.isEmpty() && row.top() >= area.top() && row.bottom() <= area.bottom() &&
           area.contains(row.topLeft());
}

} // namespace TestSupport
