#include "addfiles.h"

#include "dialogs.h"
#include "filelistview.h"

QStringList openDialogPaths(const QString &answer)
{
    if (answer.isEmpty())
        return {};
    // Every NUL splits, and an empty piece between two of them still counts.
    const QStringList parts = answer.split(QChar(0));
    if (parts.size() == 1)
        return parts;
    const QString &folder = parts.first();
    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    QStringList paths;
    for (qsizetype k = 1; k < parts.size(); ++k)
        paths << prefix + parts[k];
    return paths;
}

void addWordFiles(QWidget *owner, Dialogs &dialogs, FileListView &list)
{
    // The dialog keeps nothing between calls, so a cancel always reads back empty.
    const QString answer = dialogs.showOpen(
        owner, QStringLiteral("Add File(s) - Use Ctrl & Shift to select multiple files"),
        QStringLiteral("Word Documents (*.do*)|*.do*|All Files (*.*)|*.*"));
    list.appendRows(openDialogPaths(answer));
}
