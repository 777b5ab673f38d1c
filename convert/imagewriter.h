#pragma once

#include "jpegwriter.h"

#include <QImage>
#include <QString>

#include <optional>
#include <string_view>

// The picture formats pages are written in. JPEG is the window's.
enum class ImageFormat
{
    Jpeg,
    Png,
    Webp,
};

// How pages are written: the format, the quality of JPEG and lossy WebP (100 makes a
// WebP lossless; PNG is always lossless) and whether the pictures are 8-bit grey.
struct ImageOptions
{
    ImageFormat format = ImageFormat::Jpeg;
    int quality = 75;
    bool grey = false;
};

// The file name extension of a format, without the dot: "jpg", "png", "webp".
QString imageExtension(ImageFormat format);
// The format a user names ("jpeg", "jpg", "png", "webp", in any case), if any.
std::optional<ImageFormat> imageFormatNamed(const QString &name);

// Writes `picture` to `path` as `options` say, under writeJpeg's rules: the file is
// replaced in one step, a symbolic link there is replaced itself, and a failure throws
// Error 5 with the imaging library's status number. A grey picture is the picture's
// own grey where it is drawn grey already (every pixel's red, green and blue alike),
// else its lightness.
void writeImage(const QImage &picture, const QString &path, const ImageOptions &options);

// The failure every writer reports: Error 5, "Cannot save the image. GDI+ Error:" and
// the status number, then the explanation when there is one.
[[noreturn]] void failImageSave(ImageStatus status, const QString &explanation = {});
// Replaces the file at `path` with an encoded picture, or fails as the writers do.
void saveEncodedImage(const QString &path, std::string_view bytes);
