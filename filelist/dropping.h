#pragma once

#include <QStringList>

class FileListView;

// Appends dropped paths in drop order: a file as it stands, a folder as the rows of
// its whole tree (every file, whatever its extension), before the next path.
void appendDroppedPaths(FileListView &list, const QStringList &paths);
