#include "dropping.h"

#include "addfolder.h"
#include "dirlisting.h"
#include "filelistview.h"

void appendDroppedPaths(FileListView &list, const QStringList &paths)
{
    for (const QString &path : paths) {
        const int attributes = fileAttributes(path);
        if (attributes >= 0 && (attributes & DirectoryAttribute))
            list.appendRows(folderTreeRows(path, QStringLiteral("*.*")));
        else
            list.appendRow(path);
    }
}
