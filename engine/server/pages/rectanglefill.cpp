#include "rectanglefill.h"

#include <GfxState.h>
#include <SplashOutputDev.h>
#include <splash/Splash.h>
#include <splash/SplashBitmap.h>
#include <splash/SplashClip.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

struct Box
{
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// The device-space box of the path when it is one closed rectangle whose sides run
// along the pixel grid: four corners visited in turn, each step along one side.
bool gridRectangle(GfxState *state, Box &box)
{
    const GfxPath *path = state->getPath();
    if (!path || path->getNumSubpaths() != 1)
        return false;
    const GfxSubpath *outline = path->getSubpath(0);
    const int points = outline->getNumPoints();
    if (points < 4 || points > 6)
        return false;
    std::array<double, 6> xs{}, ys{};
    for (int i = 0; i < points; ++i) {
        if (outline->getCurve(i))
            return false;
        state->transform(outline->getX(i), outline->getY(i), &xs[size_t(i)], &ys[size_t(i)]);
    }
    // The fifth and sixth points, when there, only close the outline.
    for (int i = 4; i < points; ++i) {
        if (xs[size_t(i)] != xs[0] || ys[size_t(i)] != ys[0])
            return false;
    }
    box = {std::min({xs[0], xs[1], xs[2], xs[3]}), std::min({ys[0], ys[1], ys[2], ys[3]}),
           std::max({xs[0], xs[1], xs[2], xs[3]}), std::max({ys[0], ys[1], ys[2], ys[3]})};
    if (!(box.x1 - box.x0 > 0) || !(box.y1 - box.y0 > 0))
        return false;
    int corners = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t at = size_t(i), next = size_t((i + 1) % 4);
        const bool onCornerX = xs[at] == box.x0 || xs[at] == box.x1;
        const bool onCornerY = ys[at] == box.y0 || ys[at] == box.y1;
        const bool alongSide = (xs[at] == xs[next]) != (ys[at] == ys[next]);
        if (!onCornerX || !onCornerY || !alongSide)
            return false;
        corners |= 1 << ((xs[at] == box.x1) + 2 * (ys[at] == box.y1));
    }
    return corners == 0xF;
}

// The one colour, as the page's pixels hold it, of an opaque fill that poppler
// composites as a plain copy: no transparency, blending, soft mask, overprint or
// transfer function, in a device colour space.
bool opaqueColour(GfxState *state, Splash &splash, SplashColorMode mode,
                  std::array<uint8_t, 4> &pixel)
{
    GfxColorSpace *space = state->getFillColorSpace();
    if (!space || (space->getMode() != csDeviceRGB && space->getMode() != csDeviceGray))
        return false;
    if (state->getFillOpacity() != 1.0 || state->getBlendMode() != gfxBlendNormal ||
        state->getFillOverprint() || splash.getSoftMask() || splash.getInNonIsolatedGroup())
        return false;
    Function **transfer = state->getTransfer();
    for (int i = 0; i < 4; ++i) {
        if (transfer[i])
            return false;
    }
    if (mode == splashModeXBGR8) {
        GfxRGB rgb;
        state->getFillRGB(&rgb);
        pixel = {colToByte(rgb.b), colToByte(rgb.g), colToByte(rgb.r), 0xFF};
        return true;
    }
    if (mode == splashModeMono8) {
        GfxGray grey;
        state->getFillGray(&grey);
        pixel = {colToByte(grey), 0, 0, 0};
        return true;
    }
    return false;
}

} // namespace

bool fillRectangleQuickly(SplashOutputDev &device, GfxState *state, bool evenOdd)
{
    // The page is drawn over no paper, into colours and an alpha plane; anything
    // else (a Type 3 glyph being cached, say, a mask painted in a colour of poppler's
    // own) is left to poppler.
    Splash *splash = device.getSplash();
    SplashBitmap *bitmap = device.getBitmap();
    if (!splash || !bitmap || !bitmap->getDataPtr() || !bitmap->getAlphaPtr())
        return false;
    Box box;
    std::array<uint8_t, 4> pixel{};
    SplashClip *clip = splash->getClip();
    if (!clip || clip->getNumPaths() != 0 || !gridRectangle(state, box) ||
        !opaqueColour(state, *splash, bitmap->getMode(), pixel))
        return false;
    // What is painted: the rectangle within the clip's rectangle.
    box = {std::max(box.x0, double(clip->getXMin())), std::max(box.y0, double(clip->getYMin())),
           std::min(box.x1, double(clip->getXMax())), std::min(box.y1, double(clip->getYMax()))};
    const int width = bitmap->getWidth();
    const int height = bitmap->getHeight();
    // Pixels two or more from every edge are covered whole however poppler adjusts
    // the edges to the grid; the rest, around them, are poppler's to smooth.
    const auto inner = [](double from, double to, int size) {
        return std::pair{int(std::clamp(std::floor(from) + 2, 0.0, double(size))),
                         int(std::clamp(std::ceil(to) - 2, 0.0, double(size)))};
    };
    const auto outer = [](double from, double to, int size) {
        return std::pair{int(std::clamp(std::floor(from) - 1, 0.0, double(size))),
                         int(std::clamp(std::ceil(to) + 1, 0.0, double(size)))};
    };
    const auto [left, right] = inner(box.x0, box.x1, width);
    const auto [top, bottom] = inner(box.y0, box.y1, height);
    if (left >= right || top >= bottom)
        return false;
    const auto [outerLeft, outerRight] = outer(box.x0, box.x1, width);
    const auto [outerTop, outerBottom] = outer(box.y0, box.y1, height);

    const size_t bytesPerPixel = bitmap->getMode() == splashModeXBGR8 ? 4 : 1;
    const size_t span = size_t(right - left) * bytesPerPixel;
    const auto rowAt = [&](int y) {
        return bitmap->getDataPtr() + size_t(y) * size_t(bitmap->getRowSize()) +
               size_t(left) * bytesPerPixel;
    };
    // The first row pixel by pixel, the others copied from it.
    for (size_t at = 0; at < span; at += bytesPerPixel)
        std::memcpy(rowAt(top) + at, pixel.data(), bytesPerPixel);
    uint8_t *alpha = bitmap->getAlphaPtr();
    for (int y = top; y < bottom; ++y) {
        if (y > top)
            std::memcpy(rowAt(y), rowAt(top), span);
        std::memset(alpha + size_t(y) * size_t(bitmap->getAlphaRowSize()) + size_t(left), 0xFF,
                    size_t(right - left));
    }

    // The edges: the same fill, kept by a clip to each band of pixels around the
    // middle. A clip whose sides lie on pixel boundaries keeps or drops a pixel whole.
    const Box bands[] = {
        {double(outerLeft), double(outerTop), double(outerRight), double(top)},
        {double(outerLeft), double(bottom), double(outerRight), double(outerBottom)},
        {double(outerLeft), double(top), double(left), double(bottom)},
        {double(right), double(top), double(outerRight), double(bottom)}};
    constexpr double kJustInside = 1.0 / 1024;
    for (const Box &band : bands) {
        if (band.x0 >= band.x1 || band.y0 >= band.y1)
            continue;
        splash->saveState();
        splash->clipToRect(band.x0, band.y0, band.x1 - kJustInside, band.y1 - kJustInside);
        if (evenOdd)
            device.SplashOutputDev::eoFill(state);
        else
            device.SplashOutputDev::fill(state);
        splash->restoreState();
    }
    return true;
}
