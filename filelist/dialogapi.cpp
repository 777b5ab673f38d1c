#include "dialogapi.h"

#include "dialogs.h"

QString BrowseForFolder(QWidget *owner, const QString &instruction, Dialogs &dialogs)
{
    return dialogs.browseForFolder(owner, instruction);
}
