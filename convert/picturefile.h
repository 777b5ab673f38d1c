#pragma once

#include <QByteArray>
#include <QImage>

// A page picture saved in its own format: a 32-bit BMP whose pixels are the picture's
// memory as it stands (rows top to bottom, blue, green, red, alpha), so that saving
// is one copy and loading none, with no conversion either way. Any BMP reader opens
// it. It is kept in memory: it never lies on disk, let alone under an image's name.

// The picture in its own format; empty when there is no picture.
QByteArray savePicture(const QImage &picture);
// The picture of such a file, over the file's own bytes; a file of another layout
// or format is read by Qt's own readers. Null when it holds no picture.
QImage loadPicture(const QByteArray &file);
