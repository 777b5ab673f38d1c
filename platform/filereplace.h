#pragma once

#include <QByteArrayView>
#include <QString>

#include <sys/types.h>

// Replaces the file at `path` with `bytes` in one step: they are written to a
// temporary file beside it (a hidden name ending in ".tmp", never the target's name)
// and renamed over it. At any instant `path` holds either what it held before or all
// of `bytes`; a write that fails (a full disk, a name too long...) leaves it as it
// was and leaves no temporary file. A symbolic link at `path` is itself replaced,
// never the file it points to. A new file gets the usual permissions (0666 less the
// umask), a replaced one keeps its own.
//
// A file that cannot be written (a read-only file: its mode forbids it to this user)
// is kept, as cp keeps it, and so is a file protected below: nothing replaces them.
//
// Returns 0, the errno value of the step that failed, or one of the codes below.
int replaceFile(const QString &path, QByteArrayView bytes);

// replaceFile's own reasons, beside the errno values.
inline constexpr int kTargetIsReadOnly = -1;
inline constexpr int kTargetIsADocument = -2;

// The documents of the run under way: replaceFile never writes over one of them,
// whatever name leads to it (the same device and inode), so that a name gone wrong
// can never turn a document into one of its own images.
void protectFromReplacement(dev_t device, ino_t inode);
void clearProtectedFiles();

// For a program interrupted by a signal: removes the temporary file of the write in
// progress, if there is one, so that nothing of it is left behind. Safe to call from
// a signal handler (while writes happen on one thread).
void removeUnfinishedFile();

// Makes `folder` and the folders above it that are missing (by the path's own bytes).
// Returns 0, or the errno value of the step that failed.
int makeFolders(const QString &folder);

// The reason for a failed write, in the user's words ("the disk is full").
QString fileErrorReason(int error);
