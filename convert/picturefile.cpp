#include "picturefile.h"

#include <cstring>

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 108; // BITMAPV4HEADER: bit fields with an alpha mask
// The pixels start on a 16-byte boundary so that a loaded file is used where it lies.
constexpr int kPixelOffset = 128;
constexpr quint32 kBitFields = 3;

void put16(uchar *at, quint32 v)
{
    at[0] = uchar(v);
    at[1] = uchar(v >> 8);
}

void put32(uchar *at, quint32 v)
{
    put16(at, v & 0xFFFF);
    put16(at + 2, v >> 16);
}

quint32 get32(const uchar *at)
{
    return quint32(at[0]) | quint32(at[1]) << 8 | quint32(at[2]) << 16 | quint32(at[3]) << 24;
}

QByteArray headerFor(int width, int height)
{
    QByteArray header(kPixelOffset, '\0');
    auto *h = reinterpret_cast<uchar *>(header.data());
    const quint32 pixelBytes = quint32(width) * quint32(height) * 4;
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, kPixelOffset + pixelBytes);
    put32(h + 10, kPixelOffset);
    uchar *info = h + kFileHeaderSize;
    put32(info, kInfoHeaderSize);
    put32(info + 4, quint32(width));
    put32(info + 8, quint32(-height)); // negative: rows top to bottom
    put16(info + 12, 1);
    put16(info + 14, 32);
    put32(info + 16, kBitFields);
    put32(info + 20, pixelBytes);
    put32(info + 24, 3780); // 96 dots per inch, in dots per metre
    put32(info + 28, 3780);
    put32(info + 40, 0x00FF0000); // red
    put32(info + 44, 0x0000FF00); // green
    put32(info + 48, 0x000000FF); // blue
    put32(info + 52, 0xFF000000); // alpha
    put32(info + 56, 0x73524742); // "sRGB"
    return header;
}

bool allOpaque(const QImage &image)
{
    const int width = image.width();
    const int height = image.height();
    quint32 alpha = 0xFF000000;
    for (int y = 0; y < height; ++y) {
        const auto *row = reinterpret_cast<const quint32 *>(image.constScanLine(y));
        for (int x = 0; x < width; ++x)
            alpha &= row[x];
    }
    return alpha == 0xFF000000;
}

} // namespace

QByteArray savePicture(const QImage &picture)
{
    if (picture.isNull())
        return {};
    // 0xAARRGGBB words are blue, green, red, alpha in memory on this byte order.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    QImage converted;
    const QImage *source = &picture;
    switch (picture.format()) {
    case QImage::Format_ARGB32:
        break;
    case QImage::Format_RGB32:
        // Its unused byte is 0xFF by Qt's rules, so it reads as opaque.
        break;
    case QImage::Format_ARGB32_Premultiplied:
        // A BMP's alpha is not premultiplied; opaque pixels are the same either way.
        if (allOpaque(picture))
            break;
        [[fallthrough]];
    default:
        converted = picture.convertToFormat(QImage::Format_ARGB32);
        if (converted.isNull())
            return {};
        source = &converted;
    }

    const qsizetype rowBytes = qsizetype(source->width()) * 4;
    QByteArray file = headerFor(source->width(), source->height());
    file.reserve(kPixelOffset + rowBytes * source->height());
    if (source->bytesPerLine() == rowBytes) {
        file.append(reinterpret_cast<const char *>(source->constBits()),
                    rowBytes * source->height());
    } else {
        for (int y = 0; y < source->height(); ++y)
            file.append(reinterpret_cast<const char *>(source->constScanLine(y)), rowBytes);
    }
    return file;
}

QImage loadPicture(const QByteArray &file)
{
    const auto *head = reinterpret_cast<const uchar *>(file.constData());
    if (file.size() < kPixelOffset)
        return QImage::fromData(file);
    const int width = int(get32(head + kFileHeaderSize + 4));
    const int height = -int(get32(head + kFileHeaderSize + 8));
    const QByteArray expected = width > 0 && height > 0 && qint64(width) * height < (1 << 28)
                                    ? headerFor(width, height)
                                    : QByteArray();
    if (expected.isEmpty() || std::memcmp(expected.constData(), head, kPixelOffset) != 0)
        return QImage::fromData(file);
    // One of ours, cut short or grown: not the picture that was saved.
    if (file.size() != kPixelOffset + qint64(width) * height * 4)
        return {};

    // The pixels are used where they lie: the picture shares the bytes, which live as
    // long as it does.
    auto *keep = new QByteArray(file);
    return QImage(
        reinterpret_cast<const uchar *>(keep->constData()) + kPixelOffset, width, height,
        qsizetype(width) * 4, QImage::Format_ARGB32,
        [](void *bytes) { delete static_cast<QByteArray *>(bytes); }, keep);
}
