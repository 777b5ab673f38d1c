#pragma once

#include "collect.h"

#include <QString>
#include <QStringList>

#include <cstdio>

struct ConvertOptions;

// Converts the collection's jobs with `options.jobs` workers started from `program`
// (this program), writing one line (or JSON object) per document to `out` in the
// documents' order, and progress and problems to `err`. No image is written over one
// of the collection's documents. Returns the exit status: 0 when every document was
// converted, 1 when any failed or the report could not be written, 130 or 143 when
// interrupted.
int runConversion(const ConvertOptions &options, const Collection &collection,
                  const QString &program, FILE *out, FILE *err);
