#pragma once

class Dialogs;
class FileListView;
class PointerOwner;
class QWidget;

// "Add All Word Files In Folder": asks for an extension and a folder, then appends
// the matching files of the folder's whole tree, with the hourglass shown meanwhile
// and the window's events handled as the scan goes. A cancel or an empty answer at
// either question ends it without a trace.
void addAllWordFilesInFolder(QWidget *owner, Dialogs &dialogs, PointerOwner &pointer,
                             FileListView &list);
