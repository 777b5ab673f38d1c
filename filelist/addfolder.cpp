#include "addfolder.h"

#include "dialogapi.h"
#include "dialogs.h"
#include "filelistview.h"
#include "mousepointer.h"

#include <QCoreApplication>
#include <QStringBuilder>

namespace {

void processPendingEvents()
{
    QCoreApplication::processEvents();
}

// Shows the hourglass for as long as it lives.
class BusyPointer
{
public:
    explicit BusyPointer(PointerOwner &owner) : m_owner(owner)
    {
        m_owner.setMousePointer(vbHourglass);
    }
    ~BusyPointer() { m_owner.setMousePointer(vbDefault); }
    BusyPointer(const BusyPointer &) = delete;
    BusyPointer &operator=(const BusyPointer &) = delete;

private:
    PointerOwner &m_owner;
};

// One level below `level`, then every deeper level, in order.
QStringList collectBelow(const QStringList &level, VisitedFolders &visited)
{
    QStringList below;
    for (const QString &entry : level) {
        DirListing listing(entry, DirectoryAttribute);
        processPendingEvents();
        while (listing.next()) {
            processPendingEvents();
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
    const QStringList deeper = collectBelow(below, visited);
    for (const QString &entry : deeper) {
        processPendingEvents();
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

void CollectSubfolders(FolderSet &folders)
{
    const QStringList below = collectBelow(folders.m_entries, folders.m_visited);
    for (const QString &entry : below) {
        processPendingEvents();
        folders.m_entries << entry;
    }
}

QStringList ListFiles(const QString &folder, const QString &pattern)
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

QStringList folderTreeRows(const QString &folder, const QString &pattern)
{
    FolderSet folders(folder);
    CollectSubfolders(folders);
    QStringList rows;
    for (const QString &entry : folders.entries()) {
        const QString folderText = entry.chopped(1);
        const QStringList names = ListFiles(folderText, pattern);
        for (const QString &name : names) {
            if (!name.startsWith(u'~'))
                rows << folderText % u'/' % name;
        }
    }
    return rows;
}

void addAllWordFilesInFolder(QWidget *owner, Dialogs &dialogs, PointerOwner &pointer,
                             FileListView &list)
{
    const QString extension = dialogs.inputBox(
        owner,
        QStringLiteral("Enter file extension to load:\n\n"
                       "(* for all files, txt for all txt files, doc for all doc files, etc.)"),
        QStringLiteral("doc"));
    if (extension.isEmpty())
        return;
    const QString folder = BrowseForFolder(owner, QStringLiteral("Please select folder:"), dialogs);
    if (folder.isEmpty())
        return;
    // The extension is taken as typed: ".doc" gives "*..doc" and finds nothing.
    const BusyPointer busy(pointer);
    list.appendRows(folderTreeRows(folder, QStringLiteral("*.") + extension));
}
