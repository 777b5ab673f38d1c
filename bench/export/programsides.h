#pragma once

// pagelift-bench's sides that run programs: pagelift-convert, the cold pipeline,
// pdftoppm, and warm LibreOffice listeners.

#include "side.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

// The command prefix that runs a program on `core` alone.
QStringList pinnedTo(int core);

// Converts the documents with pagelift-convert, in one call, with `options` (jobs, size,
// format...), through `prefix` (for example taskset, to pin it to one core). The images
// go beside the documents as JPEGs, or into `out`, emptied before each run.
class ConvertSide
{
public:
    explicit ConvertSide(QStringList options, QStringList prefix = {}, QString out = {})
        : m_options(std::move(options)), m_prefix(std::move(prefix)), m_out(std::move(out))
    {
    }

    Outcome operator()(const QStringList &documents);

private:
    QStringList m_options;
    QStringList m_prefix;
    QString m_out;
};

// pagelift-convert's options for pages at `dpi`, `jobs` at once (0: its default), and
// `more`.
QStringList drawnAt(int dpi, int jobs = 0, const QStringList &more = {});

// Page 1 of each document as a file manager asks for it: `pagelift-convert --thumbnail
// SIZE IN OUT`, one call per document, into `out`; with the time limit of the other
// sides rather than a file manager's few seconds, so that a long document is timed too.
class ThumbnailSide
{
public:
    ThumbnailSide(int size, QString out) : m_size(size), m_out(std::move(out)) {}

    Outcome operator()(const QStringList &documents);

private:
    int m_size;
    QString m_out;
};

// The cold pipeline, done the best way for it: LibreOffice's PDF export over all the
// documents in one call, then pdftoppm per PDF.
class ColdSide
{
public:
    ColdSide(QString profile, QString out, int dpi = 96)
        : m_profile(std::move(profile)), m_out(std::move(out)), m_dpi(dpi)
    {
    }

    Outcome operator()(const QStringList &documents);

private:
    QString m_profile;
    QString m_out;
    int m_dpi;
};

// pdftoppm -jpeg -r 96 on each PDF, `atOnce` at a time, through `prefix`.
class PdftoppmSide
{
public:
    PdftoppmSide(QString out, int atOnce, QStringList prefix = {})
        : m_out(std::move(out)), m_atOnce(atOnce), m_prefix(std::move(prefix))
    {
    }

    Outcome operator()(const QStringList &pdfs);

private:
    QString m_out;
    int m_atOnce;
    QStringList m_prefix;
};

// A warm LibreOffice listener (listener.py), as conversion servers run it: started with
// an office profile of its own, through `prefix` (taskset, to pin it and its office to
// one core), and warmed up on `warmUp` before any timing.
class Listener
{
public:
    Listener(const QString &profile, const QString &warmUp, const QStringList &prefix = {});

    // The listener ends its office when its input closes, and kills it when the office
    // does not end in time.
    ~Listener();

    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;

    qint64 pid() const { return m_process.processId(); }

    // Writes one order: its fields on one line, separated by tabs. Written at once, not
    // when this listener is next waited for, so that several listeners work together.
    void send(const QStringList &order);

    // The next line the listener answers, or empty when it ended or took too long.
    QByteArray answer();

private:
    QProcess m_process;
};

// Gives warm listeners each case's documents with one order of listener.py: `convert`
// (JPEG pages), `png` (PNG pages) or `preview` (with its width). With several
// listeners, each takes an equal share of the documents, all at the same time.
class ListenerSide
{
public:
    ListenerSide(QList<std::shared_ptr<Listener>> listeners, QString out, QString order,
                 QStringList orderArguments = {})
        : m_listeners(std::move(listeners)), m_out(std::move(out)), m_order(std::move(order)),
          m_orderArguments(std::move(orderArguments))
    {
    }

    Outcome operator()(const QStringList &documents);

private:
    QList<std::shared_ptr<Listener>> m_listeners;
    QString m_out;
    QString m_order;
    QStringList m_orderArguments;
};
