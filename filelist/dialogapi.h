#pragma once

#include <QString>

class Dialogs;
class QWidget;

// The folder picker over `owner`, with `instruction` shown above it; the chosen
// folder, or the empty text when nothing was chosen.
QString BrowseForFolder(QWidget *owner, const QString &instruction, Dialogs &dialogs);
