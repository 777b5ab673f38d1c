#pragma once

#include <QImage>

// How pages are compared with LibreOffice's own print path, by the tests and by
// pagelift-fidelity alike: at an eighth of their size (each 8 x 8 block averaged), so
// that sub-pixel placement and anti-aliasing do not count, by PSNR.

// Each `factor` x `factor` block of pixels averaged into one (a box filter); a partial
// block at the edge is dropped.
QImage shrunk(const QImage &source, int factor);
inline QImage eighth(const QImage &source)
{
    return shrunk(source, 8);
}

// Over the area both pictures cover, in dB; infinity when they are the same there, 0
// when they share no pixel.
double psnr(const QImage &a, const QImage &b);

// The largest difference of one colour of one block between two pictures seen at an
// eighth of their size.
int largestBlockDifference(const QImage &a, const QImage &b);

bool pureWhite(const QImage &picture);
