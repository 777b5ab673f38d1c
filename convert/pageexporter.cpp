#include "pageexporter.h"

#include "automation.h"
#include "error.h"
#include "events.h"
#include "filereplace.h"
#include "mousepointer.h"
#include "picturebox.h"
#include "picturefile.h"

#include <QClipboard>
#include <QImage>
#include <QSlider>

#include <algorithm>

namespace {

// Error numbers of the exporter's own failures.
constexpr int kPictureError = 481; // an invalid picture
// Pages not chosen that one cut takes at most: a hundred moves of 200 lines up from
// the start of the page after them reach the start of the document for up to 333
// pages of 60 lines, as the engine counts them.
constexpr qint32 kMostPagesSkipped = 300;

// Makes the folders an output path lies in; a failure shows when its first image is
// written, with the reason.
void makeFolderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash > 0)
        makeFolders(path.left(slash));
}

void writePage(const QString &path, const ExportHost &host)
{
    // The clipboard picture, saved unchanged in its own format and read back. It is
    // kept in memory: the only file written is the JPEG, in one step, so that a page
    // file is only ever the earlier image or the new one.
    const QImage picture = host.clipboard->image();
    if (picture.isNull())
        throw Error(kPictureError, QStringLiteral("The word processor put no page picture on "
                                                  "the clipboard for \"%1\".")
                                       .arg(path));
    const QImage loaded = loadPicture(savePicture(picture));
    if (loaded.isNull())
        throw Error(kPictureError,
                    QStringLiteral("The page picture for \"%1\" cannot be read back.").arg(path));
    host.canvas->setPicture(loaded);

    const int quality = qBound(0, host.quality->value(), 100);
    writeImage(host.canvas->image(), path, {host.format, quality, host.grey});
}

// Selects the first `count` of the `left` pages still in the document and cuts them.
// True when that took the rest of it.
bool cutFromTop(WordApplication &word, qint32 count, qint32 left)
{
    const bool rest = left <= count;
    if (!rest) {
        word.selectionGoTo(automation::kGoToPage, automation::kGoToNext, qint16(count + 1));
        // A fixed number of steps, without an early exit: from the start of the page
        // after them they always reach the start of the document.
        for (int step = 0; step < 100; ++step) {
            events::processPending();
            word.selectionMoveUp(automation::kLine, 200, automation::kExtend);
        }
    } else {
        word.selectionEndKey(automation::kStory, automation::kExtend);
    }
    word.selectionCut();
    return rest;
}

} // namespace

QString baseName(const QString &documentPath)
{
    const qsizetype slash = documentPath.lastIndexOf(u'/');
    const qsizetype dot = documentPath.lastIndexOf(u'.');
    // Only a dot inside the file name counts, and not one that starts the name.
    if (dot <= slash + 1)
        return documentPath;
    return documentPath.left(dot);
}

QString pageFileName(const QString &documentPath, int page, ImageFormat format)
{
    return baseName(documentPath) + u'_' + QString::number(page) + u'.' + imageExtension(format);
}

qint32 exportPages(const QString &path, const WordFactory &createWord, const ExportHost &host)
{
    const QString document = path; // rows may change while events are processed
    const QString named = host.outputPath.isEmpty() ? document : host.outputPath;
    if (!host.outputPath.isEmpty())
        makeFolderOf(named);

    // Ending the instance on every path: a failed call leaves no engine behind.
    std::unique_ptr<WordApplication> word = createWord();
    word->documentsOpen(document);
    if (const QStringList links = word->leftOut(); host.leftOut && !links.isEmpty())
        host.leftOut(links);
    word->activeDocumentRepaginate();
    const qint32 pageCount =
        word->activeDocumentBuiltInDocumentProperties(automation::kPropertyPages);

    // Every page is cut from the top in turn, the first one at least; with a choice of
    // pages, only up to the last chosen one, those between cut without pictures.
    const PageChoice &choice = host.pages;
    qint32 cut = 0;
    qint32 pagesDone = 0;
    for (bool finished = false; !finished;) {
        const qint32 page = choice.everyPage() ? cut + 1 : choice.nextFrom(cut + 1, pageCount);
        if (page == 0)
            break;
        host.busy->show();
        while (cut + 1 < page) {
            const qint32 skipped = std::min(page - 1 - cut, kMostPagesSkipped);
            cutFromTop(*word, skipped, pageCount - cut);
            cut += skipped;
        }
        finished = cutFromTop(*word, 1, pageCount - cut);
        ++cut;
        const QString image =
            host.imagePath.isEmpty() ? pageFileName(named, page, host.format) : host.imagePath;
        writePage(image, host);
        if (host.imageWritten)
            host.imageWritten(image);
        ++pagesDone;
        if (host.pageWritten)
            host.pageWritten(pagesDone, pageCount);
        finished = finished || !host.imagePath.isEmpty();
    }

    word->activeDocumentClose(automation::kDoNotSaveChanges);
    word->quit();
    return pageCount;
}
