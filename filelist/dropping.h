#pragma once

#include <QStringList>

class FileListView;

// Appends dropped paths in drop order: a file as it stands, a folder as the rows of
// its whole tree (every file, whatever its extension), before the next path. The
// window's events are handled while a folder is scanned.
void appendDroppedPaths(FileListView &list, const QStringList &paths);
