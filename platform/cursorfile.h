#pragma once

#include <QImage>
#include <QPoint>
#include <QString>

// A Windows cursor file (.cur): the picture and the hotspot stored with it.
struct CursorFile
{
    enum class Status
    {
        Ok,
        Unreadable,  // the file cannot be opened
        NotACursor,  // the header is not a cursor directory
        Truncated,   // an entry or picture lies beyond the end of the file
        Unsupported, // a picture format this reader does not know
    };

    Status status = Status::Unreadable;
    QImage image; // ARGB32, with the mask applied as transparency
    QPoint hotSpot;

    // Reads the first picture of the file.
    static CursorFile read(const QString &path);
    static CursorFile fromData(const QByteArray &data);
};
