#include "filetree.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <dirent.h>

void makeTree(const QString &root, const QStringList &paths)
{
    QMap<QString, QByteArray> files;
    for (const QString &path : paths)
        files.insert(path, {});
    writeTree(root, files);
}

void writeTree(const QString &root, const QMap<QString, QByteArray> &files)
{
    for (auto file = files.begin(); file != files.end(); ++file) {
        const QString full = root + u'/' + file.key();
        if (file.key().endsWith(u'/')) {
            QVERIFY(QDir().mkpath(full));
            continue;
        }
        QVERIFY(QDir().mkpath(QFileInfo(full).absolutePath()));
        QFile out(full);
        QVERIFY2(out.open(QIODevice::WriteOnly) && out.write(file.value()) == file.value().size(),
                 qPrintable(full));
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
