#pragma once

#include <QImage>
#include <QString>

// Status numbers of a failed save, after the imaging library's own list.
enum class ImageStatus : int
{
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    Win32Error = 7, // the operating system refused, for example a file that cannot be written
    FileNotFound = 10,
};

// The error number every failed save reports.
inline constexpr int kJpegErrorNumber = 5;

// Writes `picture` to `path` as a JPEG of the given quality (0 smallest file, 100
// best), replacing any file there (a symbolic link there is replaced itself). The
// file is replaced in one step: a failed call leaves an earlier file at `path` as it
// was. Throws Error 5, "Cannot save the image. GDI+ Error:" followed by the status
// number, when the save fails; when the system refused the file, the message goes on
// to name the file and say why ("the disk is full").
void writeJpeg(const QImage &picture, const QString &path, quint8 quality);
