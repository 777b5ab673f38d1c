#include "jpegwriter.h"

#include "error.h"
#include "filereplace.h"

#include <turbojpeg.h>

#include <memory>

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

struct TurboDeleter
{
    void operator()(void *handle) const { tjDestroy(handle); }
};

struct JpegBufferDeleter
{
    void operator()(unsigned char *buffer) const { tjFree(buffer); }
};

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

    std::unique_ptr<void, TurboDeleter> compressor(tjInitCompress());
    if (!compressor)
        fail(ImageStatus::OutOfMemory);

    unsigned char *jpeg = nullptr;
    unsigned long jpegSize = 0;
    const int grey = pixelFormat == TJPF_GRAY;
    const int result = tjCompress2(compressor.get(), source->constBits(), source->width(),
                                   int(source->bytesPerLine()), source->height(), pixelFormat,
                                   &jpeg, &jpegSize, grey ? TJSAMP_GRAY : TJSAMP_420, quality, 0);
    std::unique_ptr<unsigned char, JpegBufferDeleter> jpegBuffer(jpeg);
    if (result != 0 || !jpeg)
        fail(ImageStatus::GenericError);

    // Written beside the target and renamed over it, so a failure never leaves a
    // half-written file or loses the file that was there.
    const int error = replaceFile(
        path, QByteArrayView(reinterpret_cast<const char *>(jpeg), qsizetype(jpegSize)));
    if (error != 0)
        fail(ImageStatus::Win32Error,
             QStringLiteral("\"%1\" cannot be written: %2.").arg(path, fileErrorReason(error)));
}
