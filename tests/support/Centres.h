// Whether one window's frame stands centred on another's (or on a screen).
// A window is centred by whole pixels, halves truncated, so where a width or
// height is odd the two centres lie half a pixel apart: how far depends on
// the sizes, which the desktop's fonts decide. Compared doubled, the centres
// of two frames centred on each other differ by at most one, however odd.
#pragma once

#include <QPoint>
#include <QRect>

#include <cstdlib>
#include <string>

namespace TestSupport {

// Twice the centre, so that odd sizes need no rounding.
inline QPoint doubleCentre(const QRect &r) { return {2 * r.left() + r.width(), 2 * r.top() + r.height()}; }

inline bool centredOn(const QRect &frame, const QRect &area)
{
    const QPoint d = doubleCentre(frame) - doubleCentre(area);
    return std::abs(d.x()) <= 1 && std::abs(d.y()) <= 1;
}

// "x,y wxh", for a failure's message.
inline std::string describe(const QRect &r)
{
    return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
           std::to_string(r.height());
}

} // namespace TestSupport
