#pragma once

#include <QString>
#include <QStringList>

#include <functional>

struct ConvertOptions;

// One document to convert, and where its images go: named after `outputPath` (its own
// path when images go beside it).
struct Job
{
    QString document;
    QString outputPath;
};

struct Collection
{
    QList<Job> jobs;
    QStringList problems; // folders or lists that could not be read, in the user's words
};

// Reads a list of paths (--from); false when it cannot be read.
using ListReader = std::function<bool(const QString &file, QByteArray &content)>;
bool readListFile(const QString &file, QByteArray &content);

// The documents the options name: each path that is not a folder as it stands, each
// folder's whole tree (hidden files and folders included, a folder reached again
// through a link walked once, names in byte order) for the files with one of the
// extensions, then the lists' paths. Names beginning with "~" (an office's lock and
// temporary files) are left out of folders.
Collection collectDocuments(const ConvertOptions &options,
                            const ListReader &readList = readListFile);

// Whether `name` has one of `extensions` (lower case, without the dot; "*" takes every
// name), without regard to case.
bool hasExtension(const QString &name, const QStringList &extensions);
