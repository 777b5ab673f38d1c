#pragma once

#include "dirlisting.h"

#include <QString>
#include <QStringList>

#include <functional>

// Called between the steps of a scan of a large tree, so that the caller's window can
// stay responsive; may be empty.
using KeepResponsive = std::function<void()>;

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
    friend void collectSubfolders(FolderSet &folders, const KeepResponsive &keepResponsive);

    QStringList m_entries;
    VisitedFolders m_visited;
};

// Appends every subfolder, at any depth, of the folders in the set: one level after
// the other, each level in the listing's order. Hidden folders are not entered, and
// folders that cannot be read contribute nothing. `keepResponsive` runs before and
// after every folder entry is looked at.
void collectSubfolders(FolderSet &folders, const KeepResponsive &keepResponsive = {});

// The names of the files in `folder` (with or without a trailing "/") that match
// `pattern`, hidden files included, in the listing's order. Empty when the folder
// cannot be read.
QStringList listFiles(const QString &folder, const QString &pattern);

// The rows of a whole tree: each file of `folder` and its subfolders that matches
// `pattern`, as the folder, "/" and the name, breadth-first; names beginning with
// "~" (the word processor's lock and temporary files) are left out.
QStringList folderTreeRows(const QString &folder, const QString &pattern,
                           const KeepResponsive &keepResponsive = {});
