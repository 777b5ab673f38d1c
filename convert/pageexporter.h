#pragma once

#include "imagewriter.h"
#include "pagechoice.h"
#include "wordapplication.h"

#include <QString>
#include <functional>

class PictureBox;
class BusyPointer;
class QClipboard;
class QSlider;

// The parts of the main window that the page exporter reads and writes.
struct ExportHost
{
    PictureBox *canvas = nullptr;     // every page picture passes through it
    const QSlider *quality = nullptr; // read again for every page
    BusyPointer *busy = nullptr;      // shown again at every pass
    QClipboard *clipboard = nullptr;  // where each cut lands
    // Told after each page is written: pages done so far and the page count read at
    // the start (which may be 0 or less when the document reports no pages).
    std::function<void(int pagesDone, int pageCount)> pageWritten;
    // Told the file of each page written. Optional.
    std::function<void(const QString &image)> imageWritten;
    // Told, once the document is open, what its word processor left out of it
    // (WordApplication::leftOut), when anything was. Optional.
    std::function<void(const QStringList &links)> leftOut;
    // Where the images go, as the path they are named after: empty for beside the
    // document (its own path), else a path whose base name the images take instead
    // (folders missing on the way are made).
    QString outputPath;
    // The format pages are written in, and whether in grey; the quality is the slider's.
    ImageFormat format = ImageFormat::Jpeg;
    bool grey = false;
    // The pages written. Pages before a chosen one are cut without a picture, and no
    // page after the last chosen one is cut at all.
    PageChoice pages{};
    // When set, the first page written goes to exactly this path, whatever its name.
    QString imagePath;
};

// The output file of page `page`: the document's path without the extension of its
// file name, "_", the page number, "." and the format's extension (".jpg").
QString pageFileName(const QString &documentPath, int page, ImageFormat format = ImageFormat::Jpeg);

// The path without the extension of its last component. A name without a dot, or
// whose only dot is its first character, keeps the whole path.
QString baseName(const QString &documentPath);

// Turns one document into one picture per page chosen (a JPEG unless the host says
// otherwise), beside the document (or as the host's output path says), through a fresh
// word processor made by `createWord`, and returns the document's own page count. The
// source document is never changed. Throws Error when a step fails; the word processor
// is ended either way, and no output file is left holding anything but a picture.
qint32 exportPages(const QString &path, const WordFactory &createWord, const ExportHost &host);
