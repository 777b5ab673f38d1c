#include "folderscan.h"

#include <QStringBuilder>

namespace {

void step(const KeepResponsive &keepResponsive)
{
    if (keepResponsive)
        keepResponsive();
}

// One level below `level`, then every deeper level, in order.
QStringList collectBelow(const QStringList &level, VisitedFolders &visited,
                         const KeepResponsive &keepResponsive)
{
    QStringList below;
    for (const QString &entry : level) {
        DirListing listing(entry, DirectoryAttribute);
        step(keepResponsive);
        while (listing.next()) {
            step(keepResponsive);
            if (!(listing.attributes() & DirectoryAttribute))
                continue;
            const QString name = listing.name();
            if (name == QLatin1String(".") || name == QLatin1String(".."))
                continue;
            const QString path = entry % name;
            if (visited.firstVisit(path))
                below << path % u'/';
        }
    }
    if (below.isEmpty())
        return below;
    const QStringList deeper = collectBelow(below, visited, keepResponsive);
    for (const QString &entry : deeper) {
        step(keepResponsive);
        below << entry;
    }
    return below;
}

} // namespace

FolderSet::FolderSet(const QString &folder)
{
    m_entries << (folder.endsWith(u'/') ? folder : folder + u'/');
    m_visited.firstVisit(m_entries.first());
}

void collectSubfolders(FolderSet &folders, const KeepResponsive &keepResponsive)
{
    const QStringList below = collectBelow(folders.m_entries, folders.m_visited, keepResponsive);
    for (const QString &entry : below) {
        step(keepResponsive);
        folders.m_entries << entry;
    }
}

QStringList listFiles(const QString &folder, const QString &pattern)
{
    const QString path = (folder.endsWith(u'/') ? folder : folder + u'/') + pattern;
    QStringList names;
    names.reserve(100);
    DirListing listing(path, HiddenAttribute | SystemAttribute);
    while (listing.next())
        names << listing.name();
    names.squeeze();
    return names;
}

QStringList folderTreeRows(const QString &folder, const QString &pattern,
                           const KeepResponsive &keepResponsive)
{
    FolderSet folders(folder);
    collectSubfolders(folders, keepResponsive);
    QStringList rows;
    for (const QString &entry : folders.entries()) {
        const QString folderText = entry.chopped(1);
        const QStringList names = listFiles(folderText, pattern);
        for (const QString &name : names) {
            if (!name.startsWith(u'~'))
                rows << folderText % u'/' % name;
        }
    }
    return rows;
}
