#pragma once

#include <QString>
#include <QStringList>

class Dialogs;
class FileListView;
class QWidget;

// The paths in an open dialog's answer: none when empty, the answer itself when it
// holds no NUL, otherwise the folder (before the first NUL) joined with each name
// after it, with exactly one "/" between them.
QStringList openDialogPaths(const QString &answer);

// "Add Word File(s)": one row per file chosen in the open dialog, in the dialog's
// order; nothing when cancelled.
void addWordFiles(QWidget *owner, Dialogs &dialogs, FileListView &list);
