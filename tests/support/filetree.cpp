#include "filetree.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <dirent.h>

void makeTree(const QString &root, const QStringList &paths)
{
    for (const QString &path : paths) {
        const QString full = root + u'/' + path;
        if (path.endsWith(u'/')) {
            QVERIFY(QDir().mkpath(full));
            continue;
        }
        QVERIFY(QDir().mkpath(QFileInfo(full).absolutePath()));
        QFile file(full);
        QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(full));
    }
}

QStringList nativeOrder(const QString &folder)
{
    QStringList names;
    DIR *dir = opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return names;
    while (const dirent *entry = readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name != QLatin1String(".") && name != QLatin1String(".."))
            names << name;
    }
    closedir(dir);
    return names;
}
