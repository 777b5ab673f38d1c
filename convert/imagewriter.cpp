#include "imagewriter.h"

#include "error.h"
#include "filereplace.h"
#include "machineshare.h"
#include "pngrows.h"
#include "webpencode.h"

namespace {

// The picture as 8-bit grey. A page drawn grey has its grey in every channel, and
// the lightness Qt takes of red, green and blue alike is that grey itself.
QImage greyOf(const QImage &picture)
{
    if (picture.format() == QImage::Format_Grayscale8)
        return picture;
    QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    if (grey.isNull())
        failImageSave(ImageStatus::OutOfMemory);
    return grey;
}

// The picture as 0xAARRGGBB words, converted only when it is not already.
QImage wordsOf(const QImage &picture)
{
    switch (picture.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return picture;
    default:
        break;
    }
    QImage words = picture.convertToFormat(QImage::Format_RGB32);
    if (words.isNull())
        failImageSave(ImageStatus::OutOfMemory);
    return words;
}

void writePng(const QImage &picture, const QString &path, bool grey)
{
    const QImage source = grey ? greyOf(picture) : wordsOf(picture);
    const PngSource png{source.constBits(), source.width(), int(source.bytesPerLine()),
                        source.height(), grey ? 1 : 4};
    const std::string bytes = encodePng(png, machineshare::cpus());
    if (bytes.empty())
        failImageSave(ImageStatus::GenericError);
    saveEncodedImage(path, bytes);
}

void writeWebp(const QImage &picture, const QString &path, int quality, bool grey)
{
    const QImage source = wordsOf(grey ? greyOf(picture) : picture);
    const std::string bytes = encodeWebp(source.constBits(), source.width(), source.height(),
                                         int(source.bytesPerLine()), quality);
    if (bytes.empty())
        failImageSave(ImageStatus::GenericError);
    saveEncodedImage(path, bytes);
}

} // namespace

QString imageExtension(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Png:
        return QStringLiteral("png");
    case ImageFormat::Webp:
        return QStringLiteral("webp");
    case ImageFormat::Jpeg:
        break;
    }
    return QStringLiteral("jpg");
}

std::optional<ImageFormat> imageFormatNamed(const QString &name)
{
    const QString lower = name.toLower();
    if (lower == QLatin1String("jpeg") || lower == QLatin1String("jpg"))
        return ImageFormat::Jpeg;
    if (lower == QLatin1String("png"))
        return ImageFormat::Png;
    if (lower == QLatin1String("webp"))
        return ImageFormat::Webp;
    return std::nullopt;
}

void writeImage(const QImage &picture, const QString &path, const ImageOptions &options)
{
    if (picture.isNull() || options.quality < 0 || options.quality > 100 || path.isEmpty())
        failImageSave(ImageStatus::InvalidParameter);
    switch (options.format) {
    case ImageFormat::Jpeg:
        writeJpeg(options.grey ? greyOf(picture) : picture, path, quint8(options.quality));
        return;
    case ImageFormat::Png:
        writePng(picture, path, options.grey);
        return;
    case ImageFormat::Webp:
        writeWebp(picture, path, options.quality, options.grey);
        return;
    }
}

void failImageSave(ImageStatus status, const QString &explanation)
{
    QString message =
        QStringLiteral("Cannot save the image. GDI+ Error:") + QString::number(int(status));
    if (!explanation.isEmpty())
        message += QStringLiteral("\n\n") + explanation;
    throw Error(kJpegErrorNumber, message);
}

void saveEncodedImage(const QString &path, std::string_view bytes)
{
    // Written beside the target and renamed over it, so a failure never leaves a
    // half-written file or loses the file that was there.
    const int error = replaceFile(path, QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (error != 0)
        failImageSave(
            ImageStatus::Win32Error,
            QStringLiteral("\"%1\" cannot be written: %2.").arg(path, fileErrorReason(error)));
}
