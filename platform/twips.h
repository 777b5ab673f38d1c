#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <cmath>

// Window geometry is designed in twips: 1440 to the inch, 15 to the logical pixel.
// It is converted to pixels only where it is applied to a widget.
namespace twips {

constexpr int perPixel = 15;

constexpr int toPixels(double twips)
{
    return static_cast<int>(twips >= 0 ? twips / perPixel + 0.5 : twips / perPixel - 0.5);
}

constexpr double fromPixels(int pixels)
{
    return double(pixels) * perPixel;
}

inline QRect rect(double left, double top, double width, double height)
{
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

inline QSize size(double width, double height)
{
    return QSize(toPixels(width), toPixels(height));
}

inline QPoint point(double x, double y)
{
    return QPoint(toPixels(x), toPixels(y));
}

} // namespace twips
