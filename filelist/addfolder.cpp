#include "addfolder.h"

#include "dialogs.h"
#include "events.h"
#include "filelistview.h"
#include "folderscan.h"
#include "mousepointer.h"

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
    const QString folder = dialogs.browseForFolder(owner, QStringLiteral("Please select folder:"));
    if (folder.isEmpty())
        return;
    // The extension is taken as typed: ".doc" gives "*..doc" and finds nothing.
    const BusyPointer busy(pointer);
    list.appendRows(
        folderTreeRows(folder, QStringLiteral("*.") + extension, events::processPending));
}
