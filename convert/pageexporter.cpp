#include "pageexporter.h"

#include "automation.h"
#include "error.h"
#include "events.h"
#include "filereplace.h"
#include "jpegwriter.h"
#include "mousepointer.h"
#include "picturebox.h"
#include "picturefile.h"

#include <QClipboard>
#include <QImage>
#include <QSlider>

namespace {

// Error numbers of the exporter's own failures.
constexpr int kPictureError = 481; // an invalid picture

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

    const int quality = host.quality->value();
    writeJpeg(host.canvas->image(), path, quint8(qBound(0, quality, 100)));
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

QString pageFileName(const QString &documentPath, int page)
{
    return baseName(documentPath) + u'_' + QString::number(page) + QStringLiteral(".jpg");
}

void exportPages(const QString &path, const WordFactory &createWord, const ExportHost &host)
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

    bool finished = false;
    qint32 page = 0;
    qint32 pagesDone = 0;
    while (!finished) {
        host.busy->show();
        ++page;
        if (pageCount - pagesDone > 1) {
            word->selectionGoTo(automation::kGoToPage, automation::kGoToNext, 2);
            // A fixed number of steps, without an early exit: from the start of the
            // second page they always reach the start of the document.
            for (int step = 0; step < 100; ++step) {
                events::processPending();
                word->selectionMoveUp(automation::kLine, 200, automation::kExtend);
            }
        } else {
            word->selectionEndKey(automation::kStory, automation::kExtend);
            finished = true;
        }
        word->selectionCut();
        const QString image = pageFileName(named, page);
        writePage(image, host);
        if (host.imageWritten)
            host.imageWritten(image);
        ++pagesDone;
        if (host.pageWritten)
            host.pageWritten(pagesDone, pageCount);
    }

    word->activeDocumentClose(automation::kDoNotSaveChanges);
    word->quit();
}
