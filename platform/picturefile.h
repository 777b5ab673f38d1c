#pragma once

#include <QImage>
#include <QString>

// A page picture saved in its own format: a 32-bit BMP whose pixels are the picture's
// memory as it stands (rows top to bottom, blue, green, red, alpha), so that saving
// is one write and loading one read, with no conversion either way. Any BMP reader
// opens it.

// Saves `picture` at `path`, replacing what is there. False when it cannot be written.
bool savePictureFile(const QImage &picture, const QString &path);
// Loads a picture file; a file of another layout or format is read by Qt's own
// readers. Null when it cannot be read.
QImage loadPictureFile(const QString &path);
