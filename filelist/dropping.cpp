#include "dropping.h"

#include "dirlisting.h"
#include "events.h"
#include "filelistview.h"
#include "folderscan.h"

void appendDroppedPaths(FileListView &list, const QStringList &paths)
{
    for (const QString &path : paths) {
        const int attributes = fileAttributes(path);
        if (attributes >= 0 && (attributes & DirectoryAttribute))
            list.appendRows(folderTreeRows(path, QStringLiteral("*.*"), events::processPending));
        else
            list.appendRow(path);
    }
}
