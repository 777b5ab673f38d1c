#pragma once

#include "collect.h"

#include <QString>
#include <QStringList>

#include <cstdio>

struct ConvertOptions;

// What became of one document.
struct DocumentResult
{
    bool finished = false;
    bool failed = false;
    QString error;
    QStringList images;
    QStringList leftOut; // links the engine left out of the document
    double seconds = 0;
};

// The documents converted at once when the user does not say: one per core, fewer
// when the memory available would not hold that many engines at `dpi`.
int defaultJobs(int dpi);
// What one job may take at `dpi`, in bytes: its worker, engines and page pictures.
size_t jobMemory(int dpi);

// Converts `jobs` with `options.jobs` workers started from `program` (this program),
// writing one line (or JSON object) per document to `out` in the documents' order, and
// progress and problems to `err`. Returns the exit status: 0 when every document was
// converted, 1 when any failed, 130 or 143 when interrupted.
int runConversion(const ConvertOptions &options, const QList<Job> &jobs, const QString &program,
                  FILE *out, FILE *err);

// `value` as a JSON string; a byte of a file name that is not UTF-8 comes out as
// \udcXX, as the path decoding keeps it.
QByteArray jsonString(const QString &value);
