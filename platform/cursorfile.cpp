#include "cursorfile.h"

#include <QFile>

#include <cstdint>

namespace {

uint16_t u16(const QByteArray &d, qsizetype at)
{
    return uint16_t(uint8_t(d[at]) | uint8_t(d[at + 1]) << 8);
}

uint32_t u32(const QByteArray &d, qsizetype at)
{
    return uint32_t(u16(d, at)) | uint32_t(u16(d, at + 2)) << 16;
}

// A device-independent bitmap without its file header, as stored in cursor files:
// its height counts the colour picture and the AND mask below it, rows bottom-up.
CursorFile::Status readDib(const QByteArray &d, qsizetype offset, qsizetype size, QImage *out)
{
    if (size < 40 || u32(d, offset) < 40)
        return CursorFile::Status::Unsupported;
    const int width = int(int32_t(u32(d, offset + 4)));
    const int height = int(int32_t(u32(d, offset + 8))) / 2;
    const int bits = u16(d, offset + 14);
    const uint32_t compression = u32(d, offset + 16);
    uint32_t colours = u32(d, offset + 32);
    if (width <= 0 || height <= 0 || width > 256 || height > 256 || compression != 0)
        return CursorFile::Status::Unsupported;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return CursorFile::Status::Unsupported;
    if (bits <= 8 && colours == 0)
        colours = 1u << bits;
    if (bits > 8)
        colours = 0;

    const qsizetype palette = offset + u32(d, offset);
    const qsizetype pixels = palette + qsizetype(colours) * 4;
    const qsizetype stride = ((qsizetype(width) * bits + 31) / 32) * 4;
    const qsizetype maskStride = ((qsizetype(width) + 31) / 32) * 4;
    const qsizetype mask = pixels + stride * height;
    if (mask + maskStride * height > offset + size)
        return CursorFile::Status::Truncated;

    QImage image(width, height, QImage::Format_ARGB32);
    bool anyAlpha = false;
    for (int y = 0; y < height; ++y) {
        const qsizetype row = pixels + stride * (height - 1 - y);
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            QRgb rgb;
            if (bits == 32) {
                const qsizetype p = row + x * 4;
                rgb = qRgba(uint8_t(d[p + 2]), uint8_t(d[p + 1]), uint8_t(d[p]), uint8_t(d[p + 3]));
                anyAlpha = anyAlpha || qAlpha(rgb) != 0;
            } else if (bits == 24) {
                const qsizetype p = row + x * 3;
                rgb = qRgb(uint8_t(d[p + 2]), uint8_t(d[p + 1]), uint8_t(d[p]));
            } else {
                const int perByte = 8 / bits;
                const uint8_t byte = uint8_t(d[row + x / perByte]);
                const int shift = (perByte - 1 - x % perByte) * bits;
                const uint32_t index = (byte >> shift) & ((1u << bits) - 1);
                if (index >= colours)
                    return CursorFile::Status::Unsupported;
                const qsizetype p = palette + qsizetype(index) * 4;
                rgb = qRgb(uint8_t(d[p + 2]), uint8_t(d[p + 1]), uint8_t(d[p]));
            }
            line[x] = rgb;
        }
    }
    // Pictures without their own alpha take their transparency from the AND mask.
    if (!anyAlpha) {
        for (int y = 0; y < height; ++y) {
            const qsizetype row = mask + maskStride * (height - 1 - y);
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < width; ++x) {
                const bool transparent = (uint8_t(d[row + x / 8]) >> (7 - x % 8)) & 1;
                line[x] = transparent ? qRgba(0, 0, 0, 0) : (line[x] | 0xff000000u);
            }
        }
    }
    *out = image;
    return CursorFile::Status::Ok;
}

} // namespace

CursorFile CursorFile::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return fromData(file.readAll());
}

CursorFile CursorFile::fromData(const QByteArray &d)
{
    CursorFile result;
    // The directory: reserved 0, type 2 (cursor), count; then 16 bytes per entry.
    if (d.size() < 6 || u16(d, 0) != 0 || u16(d, 2) != 2 || u16(d, 4) == 0) {
        result.status = Status::NotACursor;
        return result;
    }
    if (d.size() < 6 + 16) {
        result.status = Status::Truncated;
        return result;
    }
    const QPoint hotSpot(u16(d, 6 + 4), u16(d, 6 + 6));
    const qsizetype size = u32(d, 6 + 8);
    const qsizetype offset = u32(d, 6 + 12);
    if (offset < 6 + 16 || size <= 0 || offset + size > d.size()) {
        result.status = Status::Truncated;
        return result;
    }

    QImage image;
    if (d.mid(offset, 8) == QByteArray("\x89PNG\r\n\x1a\n", 8)) {
        image = QImage::fromData(d.mid(offset, size), "PNG").convertToFormat(QImage::Format_ARGB32);
        result.status = image.isNull() ? Status::Unsupported : Status::Ok;
    } else {
        result.status = readDib(d, offset, size, &image);
    }
    if (result.status == Status::Ok) {
        result.image = image;
        result.hotSpot = hotSpot;
    }
    return result;
}
