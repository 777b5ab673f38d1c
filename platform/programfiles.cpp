#include "programfiles.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString firstExisting(const QString &programFolder, const QString &name,
                      const char *installedFromProgram)
{
    const QString beside = QDir(programFolder).filePath(name);
    if (QFileInfo::exists(beside))
        return beside;
    const QString installed = QDir::cleanPath(
        QDir(programFolder).filePath(QLatin1String(installedFromProgram) + u'/' + name));
    return QFileInfo::exists(installed) ? installed : beside;
}

} // namespace

namespace programfiles {

QString engineFolder(const QString &programFolder)
{
    const QString engine = firstExisting(programFolder, QStringLiteral("pagelift-engine"),
                                         PAGELIFT_ENGINE_FROM_PROGRAM);
    return QFileInfo(engine).path();
}

QString dataPath(const QString &programFolder, const QString &name)
{
    return firstExisting(programFolder, name, PAGELIFT_DATA_FROM_PROGRAM);
}

} // namespace programfiles
