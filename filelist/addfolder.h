#pragma once

#include "dirlisting.h"

#include <QString>
#include <QStringList>

class Dialogs;
class FileListView;
class PointerOwner;
class QWidget;

// The folders that one scan works through, in breadth-first order, each ending in
// exactly one "/". It remembers the folders it holds, so that a folder reached again
// through a link is not added twice.
class FolderSet
{
public:
    // Starts with `folder`, given a trailing "/" unless it has one.
    explicit FolderSet(const QString &folder);

    const QStringList &entries() const { return m_entries; }

private:
    friend void CollectSubfolders(FolderSet &folders);

    QStringList m_entries;
    VisitedFolders m_visited;
};

// Appends every subfolder, at any depth, of the folders in the set: one level after
// the other, each level in the listing's order. Hidden folders are not entered, and
// folders that cannot be read contribute nothing. Pending events are processed while
// the folders are listed, so the window stays responsive on large trees.
void CollectSubfolders(FolderSet &folders);

// The names of the files in `folder` (with or without a trailing "/") that match
// `pattern`, hidden files included, in the listing's order. Empty when the folder
// cannot be read.
QStringList ListFiles(const QString &folder, const QString &pattern);

// The rows of a whole tree: each file of `folder` and its subfolders that matches
// `pattern`, as the folder, "/" and the name, breadth-first; names beginning with
// "~" (the word processor's lock and temporary files) are left out.
QStringList folderTreeRows(const QString &folder, const QString &pattern);

// "Add All Word Files In Folder": asks for an extension and a folder, then appends
// the matching files of the folder's whole tree, with the hourglass shown meanwhile.
// A cancel or an empty answer at either question ends it without a trace.
void addAllWordFilesInFolder(QWidget *owner, Dialogs &dialogs, PointerOwner &pointer,
                             FileListView &list);
