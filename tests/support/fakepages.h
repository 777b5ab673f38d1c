#pragma once

#include <QImage>
#include <QString>

// What the fake engine (tests/fakeengine) is given and what it draws.

// Writes the fake's document script `text` as `name` in `folder` and returns its path;
// ends the test program when it cannot.
QString writeScript(const QString &folder, const QString &name, const QString &text);

// Whether `height` rows of `image` from row `top`, `width` pixels wide, are original
// page `page` of the fake: blue = page, green = x, red = y.
bool isFakePage(const QImage &image, int page, int top, int width, int height);
// Whether the whole of `image` is that page.
inline bool isFakePage(const QImage &image, int page)
{
    return isFakePage(image, page, 0, image.width(), image.height());
}
