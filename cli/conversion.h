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
    int pageCount = 0; // the document's own, chosen or not
    double seconds = 0;
};

namespace machineshare {
struct Share;
}

// The documents converted at once when the user does not say: one per CPU this process
// may use, fewer when the memory it may use would not hold that many jobs at `dpi`.
int defaultJobs(int dpi);
int defaultJobs(const machineshare::Share &share, int dpi);
// What a number of jobs rests on, in the user's words: "2 CPUs of 64, 1.8 GiB of
// memory: 2 jobs".
QString describeJobs(const machineshare::Share &share, int jobs);
// What one job may take at `dpi`, in bytes: its worker, engines and page pictures.
size_t jobMemory(int dpi);

// Converts the collection's jobs with `options.jobs` workers started from `program`
// (this program), writing one line (or JSON object) per document to `out` in the
// documents' order, and progress and problems to `err`. No image is written over one
// of the collection's documents. Returns the exit status: 0 when every document was
// converted, 1 when any failed or the report could not be written, 130 or 143 when
// interrupted.
int runConversion(const ConvertOptions &options, const Collection &collection,
                  const QString &program, FILE *out, FILE *err);

// `value` as a JSON string; a byte of a file name that is not UTF-8 comes out as
// \udcXX, as the path decoding keeps it.
QByteArray jsonString(const QString &value);
