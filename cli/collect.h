#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <set>
#include <sys/types.h>
#include <utility>

struct ConvertOptions;

// One document to convert, and where its images go: named after `outputPath` (its own
// path when images go beside it).
struct Job
{
    QString document;
    QString outputPath;
    QString error; // why it cannot be converted, known before any engine starts
};

struct Collection
{
    QList<Job> jobs;
    QStringList problems; // what was skipped while walking or reading lists
    QString usageError;   // a list that cannot be read, an output folder that cannot be
                          // used: nothing is converted
    std::set<std::pair<dev_t, ino_t>> documentFiles; // every document's file
};

// Reads a list of paths (--from); 0, or the errno value of the failure.
using ListReader = std::function<int(const QString &file, QByteArray &content)>;
int readListFile(const QString &file, QByteArray &content);

// The documents the options name, each once: each path that is not a folder as it
// stands, each folder's whole tree (hidden files and folders included, a folder reached
// again through a link walked once, names in byte order, the output folder left out)
// for the files with one of the extensions, then the lists' paths, folders walked as
// on the command line. Lines of a list end with LF or CRLF. Names beginning with "~"
// (an office's lock and temporary files) are left out of folders.
Collection collectDocuments(const ConvertOptions &options,
                            const ListReader &readList = readListFile);

// Whether `name` has one of `extensions` (lower case, without the dot; "*" takes every
// name), without regard to case.
bool hasExtension(const QString &name, const QStringList &extensions);
