#include "pagecompare.h"

#include <algorithm>
#include <cmath>
#include <limits>

QImage shrunk(const QImage &source, int factor)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    QImage small(image.width() / factor, image.height() / factor, QImage::Format_RGB32);
    const int area = factor * factor;
    for (int by = 0; by < small.height(); ++by) {
        QRgb *out = reinterpret_cast<QRgb *>(small.scanLine(by));
        for (int bx = 0; bx < small.width(); ++bx) {
            int r = 0, g = 0, b = 0;
            for (int y = 0; y < factor; ++y) {
                const QRgb *line =
                    reinterpret_cast<const QRgb *>(image.constScanLine(by * factor + y));
                for (int x = 0; x < factor; ++x) {
                    const QRgb p = line[bx * factor + x];
                    r += qRed(p), g += qGreen(p), b += qBlue(p);
                }
            }
            out[bx] = qRgb((r + area / 2) / area, (g + area / 2) / area, (b + area / 2) / area);
        }
    }
    return small;
}

double psnr(const QImage &first, const QImage &second)
{
    const QImage a = first.convertToFormat(QImage::Format_RGB32);
    const QImage b = second.convertToFormat(QImage::Format_RGB32);
    const int width = std::min(a.width(), b.width());
    const int height = std::min(a.height(), b.height());
    if (width <= 0 || height <= 0)
        return 0;
    double sum = 0;
    for (int y = 0; y < height; ++y) {
        const QRgb *p = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const QRgb *q = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            for (int d :
                 {qRed(p[x]) - qRed(q[x]), qGreen(p[x]) - qGreen(q[x]), qBlue(p[x]) - qBlue(q[x])})
                sum += double(d) * d;
        }
    }
    if (sum == 0)
        return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(255.0 * 255.0 * 3.0 * width * height / sum);
}

int largestBlockDifference(const QImage &a, const QImage &b)
{
    const QImage small = eighth(a);
    const QImage other = eighth(b);
    int largest = 0;
    for (int y = 0; y < std::min(small.height(), other.height()); ++y) {
        for (int x = 0; x < std::min(small.width(), other.width()); ++x) {
            const QRgb p = small.pixel(x, y);
            const QRgb q = other.pixel(x, y);
            for (int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)})
                largest = std::max(largest, std::abs(d));
        }
    }
    return largest;
}

bool pureWhite(const QImage &picture)
{
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (line[x] != 0xFFFFFFFF)
                return false;
        }
    }
    return true;
}
