#include "side.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

QString binFolder()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
}

QString &keptImagesFolder()
{
    static QString folder;
    return folder;
}

void keepImages(const QStringList &documents)
{
    if (keptImagesFolder().isEmpty())
        return;
    QDir().mkpath(keptImagesFolder());
    for (const QString &document : documents) {
        const QFileInfo info(document);
        const QDir folder(info.absolutePath());
        for (const QString &image :
             folder.entryList({info.completeBaseName() + QStringLiteral("_*.jpg")}, QDir::Files)) {
            const QString copy = QDir(keptImagesFolder()).filePath(image);
            QFile::remove(copy);
            QFile::copy(folder.filePath(image), copy);
        }
    }
}

void addImages(Outcome &outcome, const QString &folder, const QString &pattern)
{
    const QFileInfoList images = QDir(folder).entryInfoList({pattern}, QDir::Files);
    outcome.pages += int(images.size());
    for (const QFileInfo &image : images)
        outcome.bytes += image.size();
}

void addImagesBeside(Outcome &outcome, const QStringList &documents)
{
    for (const QString &document : documents) {
        const QFileInfo info(document);
        addImages(outcome, info.absolutePath(), info.completeBaseName() + QStringLiteral("_*.jpg"));
    }
}

QSet<qint64> &referenceProcesses()
{
    static QSet<qint64> pids;
    return pids;
}
