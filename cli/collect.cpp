#include "collect.h"

#include "dirlisting.h"
#include "filereplace.h"
#include "options.h"
#include "pathbytes.h"

#include <QDir>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

// A folder's entries by their bytes, in byte order, hidden ones included, without "."
// and "..". False when it cannot be read, with the reason in `error`.
bool listFolder(const QString &folder, QList<QByteArray> &names, int &error)
{
    DirListing listing(folder.endsWith(u'/') ? folder : folder + u'/',
                       HiddenAttribute | SystemAttribute | DirectoryAttribute);
    if (!listing.isOpen()) {
        error = listing.openError();
        return false;
    }
    while (listing.next()) {
        const QByteArray name = listing.rawName();
        if (name != "." && name != "..")
            names << name;
    }
    std::sort(names.begin(), names.end());
    return true;
}

QString reasonOf(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Why a path that stat() refused cannot be used, in the user's words; empty when it
// simply is not there (the conversion says so in the window's words).
QString unusablePath(const QString &path, int error)
{
    struct stat info;
    if (error == ENAMETOOLONG)
        return QStringLiteral("\"%1\" is longer than the system allows.").arg(path);
    if (error == ELOOP)
        return QStringLiteral("\"%1\" is a link that loops.").arg(path);
    if (error == ENOENT && ::lstat(encodePath(path).constData(), &info) == 0 &&
        S_ISLNK(info.st_mode))
        return QStringLiteral("\"%1\" is a link to nothing.").arg(path);
    if (error == ENOENT || error == ENOTDIR)
        return {};
    return QStringLiteral("\"%1\" cannot be read: %2.").arg(path, reasonOf(error));
}

QString withoutTrailingSlashes(QString folder)
{
    while (folder.size() > 1 && folder.endsWith(u'/'))
        folder.chop(1);
    return folder;
}

// Why images cannot go under `folder`, or empty. A folder that does not exist yet is
// made when the first image is written, so its nearest existing parent must take it.
QString outputFolderProblem(const QString &folder)
{
    QByteArray path = encodePath(withoutTrailingSlashes(folder));
    for (;;) {
        struct stat info;
        if (::stat(path.constData(), &info) == 0) {
            if (!S_ISDIR(info.st_mode))
                return QStringLiteral("the output folder \"%1\": \"%2\" is not a folder")
                    .arg(folder, decodePath(path));
            if (::access(path.constData(), W_OK | X_OK) != 0)
                return QStringLiteral("the output folder \"%1\" may not be written: %2")
                    .arg(folder, reasonOf(errno));
            return {};
        }
        if (errno != ENOENT && errno != ENOTDIR)
            return QStringLiteral("the output folder \"%1\" cannot be used: %2")
                .arg(folder, reasonOf(errno));
        const qsizetype slash = path.lastIndexOf('/');
        path = slash > 0 ? path.left(slash) : slash == 0 ? QByteArray("/") : QByteArray(".");
    }
}

class Collector
{
public:
    Collector(const ConvertOptions &options, Collection &collection)
        : m_options(options), m_collection(collection)
    {
        struct stat info;
        if (!options.outputFolder.isEmpty() &&
            ::stat(encodePath(options.outputFolder).constData(), &info) == 0)
            m_outputFolder = std::pair{info.st_dev, info.st_ino};
    }

    // A path as the user gave it: a folder is walked, anything else is a document.
    void path(const QString &path)
    {
        struct stat info;
        if (::stat(encodePath(path).constData(), &info) != 0) {
            const int error = errno;
            add(path, {}, nullptr, unusablePath(path, error));
        } else if (S_ISDIR(info.st_mode)) {
            m_root = path.endsWith(u'/') ? path : path + u'/';
            folder(path);
        } else {
            add(path, {}, &info, {});
        }
    }

private:
    void folder(const QString &path)
    {
        if (!m_visited.firstVisit(path))
            return; // walked already, through a link
        QList<QByteArray> names;
        int error = 0;
        if (!listFolder(path, names, error)) {
            problem(QStringLiteral("cannot read the folder \"%1\": %2").arg(path, reasonOf(error)));
            return;
        }
        const QString prefix = path.endsWith(u'/') ? path : path + u'/';
        for (const QByteArray &name : names) {
            const QString child = prefix + decodePath(name);
            const bool wanted =
                !name.startsWith('~') && hasExtension(decodePath(name), m_options.extensions);
            struct stat info;
            if (::stat(encodePath(child).constData(), &info) != 0) {
                // A path too long might be a folder: it is named whatever its name.
                const int error = errno;
                const QString why = unusablePath(child, error);
                if (!why.isEmpty() && (wanted || error == ENAMETOOLONG))
                    problem(why);
            } else if (S_ISDIR(info.st_mode)) {
                if (std::pair{info.st_dev, info.st_ino} != m_outputFolder)
                    folder(child);
            } else if (wanted && S_ISREG(info.st_mode)) {
                add(child, outputPathFor(child), &info, {});
            }
        }
    }

    QString outputPathFor(const QString &document) const
    {
        if (m_options.outputFolder.isEmpty())
            return {};
        return withoutTrailingSlashes(m_options.outputFolder) + u'/' + document.mid(m_root.size());
    }

    // Adds a document once: the same file with the same images is converted once,
    // however many ways it was named.
    void add(const QString &document, QString outputPath, const struct stat *info,
             const QString &error)
    {
        if (outputPath.isEmpty() && !m_options.outputFolder.isEmpty())
            outputPath = withoutTrailingSlashes(m_options.outputFolder) + u'/' +
                         document.mid(document.lastIndexOf(u'/') + 1);
        const QString named = QDir::cleanPath(
            QDir::current().absoluteFilePath(outputPath.isEmpty() ? document : outputPath));
        const Key key = info ? Key{info->st_dev, info->st_ino, named} : Key{0, 0, named};
        if (!m_added.insert(key).second)
            return;
        if (info)
            m_collection.documentFiles.insert({info->st_dev, info->st_ino});
        m_collection.jobs.append({document, outputPath, error});
    }

    void problem(const QString &text) { m_collection.problems << text; }

    using Key = std::tuple<dev_t, ino_t, QString>;
    const ConvertOptions &m_options;
    Collection &m_collection;
    VisitedFolders m_visited;
    std::set<Key> m_added;
    std::optional<std::pair<dev_t, ino_t>> m_outputFolder;
    QString m_root; // the folder being walked, with one "/" at its end
};

// The paths of a list, by its separator; a line of a list that is not NUL-separated
// may end with CR LF.
QList<QByteArray> listEntries(const QByteArray &content, bool nulSeparated)
{
    QList<QByteArray> entries;
    for (QByteArray line : content.split(nulSeparated ? '\0' : '\n')) {
        if (!nulSeparated && line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            entries << line;
    }
    return entries;
}

} // namespace

int readListFile(const QString &file, QByteArray &content)
{
    FILE *in = file == QLatin1String("-") ? stdin : std::fopen(encodePath(file).constData(), "rb");
    if (!in)
        return errno;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        content.append(buffer, qsizetype(n));
    const int error = std::ferror(in) ? (errno ? errno : EIO) : 0;
    if (in != stdin)
        std::fclose(in);
    return error;
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
    if (!options.outputFolder.isEmpty()) {
        collection.usageError = outputFolderProblem(options.outputFolder);
        if (!collection.usageError.isEmpty())
            return collection;
    }
    // Every list is read before anything is converted: one that cannot be read is a
    // mistake in the command, not a document that failed.
    QList<QByteArray> listed;
    for (const QString &file : options.fromFiles) {
        QByteArray content;
        if (const int error = readList(file, content)) {
            collection.usageError =
                QStringLiteral("cannot read the list \"%1\": %2").arg(file, reasonOf(error));
            return collection;
        }
        listed += listEntries(content, options.nulSeparated);
    }

    Collector collector(options, collection);
    for (const QString &path : options.paths)
        collector.path(path);
    for (const QByteArray &entry : std::as_const(listed)) {
        if (entry.contains('\0')) {
            // A NUL-separated list read line by line: its paths run together, and
            // the system would read the name only up to the first NUL.
            collection.problems << QStringLiteral("\"%1\" holds a NUL character, which no "
                                                  "file name can: for a list separated by NUL "
                                                  "characters, add -0")
                                       .arg(decodePath(QByteArray(entry).replace('\0', "\\0")));
            continue;
        }
        collector.path(decodePath(entry));
    }
    return collection;
}
