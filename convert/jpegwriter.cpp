#include "jpegwriter.h"

#include "error.h"
#include "filereplace.h"
#include "jpegrows.h"
#include "machineshare.h"

#include <turbojpeg.h>

#include <algorithm>

namespace {

[[noreturn]] void fail(ImageStatus status, const QString &explanation = {})
{
    QString message =
        QStringLiteral("Cannot save the image. GDI+ Error:") + QString::number(int(status));
    if (!explanation.isEmpty())
        message += QStringLiteral("\n\n") + explanation;
    throw Error(kJpegErrorNumber, message);
}

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
        fail(ImageStatus::InvalidParameter);

    QImage converted;
    const QImage *source = &picture;
    int pixelFormat = turboPixelFormat(picture.format());
    if (pixelFormat < 0) {
        converted = picture.convertToFormat(QImage::Format_RGB32);
        if (converted.isNull())
            fail(ImageStatus::OutOfMemory);
        source = &converted;
        pixelFormat = turboPixelFormat(converted.format());
    }

    const JpegSource jpegSource{source->constBits(), source->width(), int(source->bytesPerLine()),
                                source->height(), pixelFormat};
    const std::string jpeg = encodeJpegByRows(jpegSource, quality, machineshare::cpus());
    if (jpeg.empty())
        fail(ImageStatus::GenericError);

    // Written beside the target and renamed over it, so a failure never leaves a
    // half-written file or loses the file that was there.
    const int error = replaceFile(path, QByteArrayView(jpeg.data(), qsizetype(jpeg.size())));
    if (error != 0)
        fail(ImageStatus::Win32Error,
             QStringLiteral("\"%1\" cannot be written: %2.").arg(path, fileErrorReason(error)));
}
