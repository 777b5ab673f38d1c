#include "collect.h"

#include "dirlisting.h"
#include "options.h"
#include "pathbytes.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder's entries by their bytes, in byte order, without "." and "..". False when
// it cannot be read, with the reason in `error`.
bool listFolder(const QByteArray &folder, QList<QByteArray> &names, int &error)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir) {
        error = errno;
        return false;
    }
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names << name;
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return true;
}

struct Walk
{
    const ConvertOptions &options;
    VisitedFolders visited;
    Collection &collection;
    QString root; // the folder argument the walk started from, with one "/" at its end

    QString outputPathFor(const QString &document) const
    {
        if (options.outputFolder.isEmpty())
            return {};
        QString folder = options.outputFolder;
        while (folder.size() > 1 && folder.endsWith(u'/'))
            folder.chop(1);
        return folder + u'/' + document.mid(root.size());
    }

    void folder(const QString &path)
    {
        if (!visited.firstVisit(path))
            return; // walked already, through a link
        const QByteArray bytes = encodePath(path);
        QList<QByteArray> names;
        int error = 0;
        if (!listFolder(bytes, names, error)) {
            collection.problems << QStringLiteral("cannot read the folder \"%1\": %2")
                                       .arg(path, QString::fromLocal8Bit(std::strerror(error)));
            return;
        }
        const QString prefix = path.endsWith(u'/') ? path : path + u'/';
        for (const QByteArray &name : names) {
            const QString child = prefix + decodePath(name);
            struct stat info;
            if (::stat(encodePath(child).constData(), &info) != 0)
                continue; // a link that leads nowhere
            if (S_ISDIR(info.st_mode)) {
                folder(child);
            } else if (!name.startsWith('~') && S_ISREG(info.st_mode) &&
                       hasExtension(decodePath(name), options.extensions)) {
                collection.jobs.append({child, outputPathFor(child)});
            }
        }
    }
};

QString fileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

void addDocument(const ConvertOptions &options, const QString &path, Collection &collection)
{
    QString outputPath;
    if (!options.outputFolder.isEmpty()) {
        QString folder = options.outputFolder;
        while (folder.size() > 1 && folder.endsWith(u'/'))
            folder.chop(1);
        outputPath = folder + u'/' + fileNameOf(path);
    }
    collection.jobs.append({path, outputPath});
}

} // namespace

bool readListFile(const QString &file, QByteArray &content)
{
    FILE *in = file == QLatin1String("-") ? stdin : std::fopen(encodePath(file).constData(), "rb");
    if (!in)
        return false;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        content.append(buffer, qsizetype(n));
    const bool ok = !std::ferror(in);
    if (in != stdin)
        std::fclose(in);
    return ok;
}

bool hasExtension(const QString &name, const QStringList &extensions)
{
    if (extensions.contains(QLatin1String("*")))
        return true;
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0)
        return false;
    return extensions.contains(name.mid(dot + 1).toLower());
}

Collection collectDocuments(const ConvertOptions &options, const ListReader &readList)
{
    Collection collection;
    for (const QString &path : options.paths) {
        struct stat info;
        if (::stat(encodePath(path).constData(), &info) == 0 && S_ISDIR(info.st_mode)) {
            Walk walk{options, {}, collection, path.endsWith(u'/') ? path : path + u'/'};
            walk.folder(path);
        } else {
            addDocument(options, path, collection);
        }
    }
    for (const QString &file : options.fromFiles) {
        QByteArray content;
        if (!readList(file, content)) {
            collection.problems << QStringLiteral("cannot read the list \"%1\"").arg(file);
            continue;
        }
        const char separator = options.nulSeparated ? '\0' : '\n';
        for (const QByteArray &line : content.split(separator)) {
            if (!line.isEmpty())
                addDocument(options, decodePath(line), collection);
        }
    }
    return collection;
}
