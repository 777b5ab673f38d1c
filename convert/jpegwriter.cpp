#include "jpegwriter.h"

#include "imagewriter.h"
#include "jpegrows.h"
#include "machineshare.h"

#include <turbojpeg.h>

#include <algorithm>

namespace {

// The TurboJPEG pixel format that reads the image's memory as it is, or -1 when
// the image must be converted first.
int turboPixelFormat(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        // 0xAARRGGBB words: B, G, R, A in memory on little-endian machines.
        return Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB;
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied:
        return TJPF_RGBX;
    case QImage::Format_RGB888:
        return TJPF_RGB;
    case QImage::Format_BGR888:
        return TJPF_BGR;
    case QImage::Format_Grayscale8:
        return TJPF_GRAY;
    default:
        return -1;
    }
}

} // namespace

void writeJpeg(const QImage &picture, const QString &path, quint8 quality)
{
    if (picture.isNull() || quality > 100 || path.isEmpty())
        failImageSave(ImageStatus::InvalidParameter);

    QImage converted;
    const QImage *source = &picture;
    int pixelFormat = turboPixelFormat(picture.format());
    if (pixelFormat < 0) {
        converted = picture.convertToFormat(QImage::Format_RGB32);
        if (converted.isNull())
            failImageSave(ImageStatus::OutOfMemory);
        source = &converted;
        pixelFormat = turboPixelFormat(converted.format());
    }

    const JpegSource jpegSource{source->constBits(), source->width(), int(source->bytesPerLine()),
                                source->height(), pixelFormat};
    const std::string jpeg = encodeJpegByRows(jpegSource, quality, machineshare::cpus());
    if (jpeg.empty())
        failImageSave(ImageStatus::GenericError);

    saveEncodedImage(path, jpeg);
}
