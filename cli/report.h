#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <cstdio>

class RunImages;

// What pagelift-convert tells of a run: a line per document on standard output, a
// progress line and a summary on standard error.

// What became of one document.
struct DocumentResult
{
    bool finished = false;
    bool failed = false;
    QString error;
    QStringList images;
    QStringList leftOut; // links the engine left out of the document
    int pageCount = 0;   // the document's own, chosen or not
    double seconds = 0;
};

// `value` as a JSON string; a byte of a file name that is not UTF-8 comes out as
// \udcXX, as the path decoding keeps it.
QByteArray jsonString(const QString &value);

// "1 page", "2 pages".
QString plural(qsizetype count, const char *one, const char *many);

// The line that reports a finished document: "path: N pages" or "path: failed", or its
// JSON object. The images listed in JSON are the document's own at the end of the
// run; those a later document of the run wrote again are named with that document.
QByteArray documentLine(const QString &document, const DocumentResult &result,
                        const RunImages &written, bool json);

// The run's last words: whose images were replaced, then how many documents were
// converted of how many.
void writeSummary(FILE *err, const QString &lead, qsizetype converted, qsizetype total,
                  qsizetype failed, int pages, double seconds, const RunImages &written);

// The line on a terminal that shows documents and pages done, pages per second and the
// time left, drawn again at most five times a second.
class ProgressLine
{
public:
    explicit ProgressLine(FILE *err);
    void show(qsizetype finished, qsizetype total, int pages);
    // Before anything else is written to the terminal.
    void clear();

private:
    FILE *m_err;
    bool m_enabled;
    bool m_shown = false;
    QElapsedTimer m_clock;
    qint64 m_last = -1000;
};
