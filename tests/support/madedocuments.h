#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

// Documents that tests and benchmarks make themselves: flat OpenDocument text,
// saved in other formats by the engine's converter.

enum class Page
{
    A4,
    Letter,
    Landscape,
    BlankA4,
};

// Flat OpenDocument text with one page per entry: a heading in blue that names the
// page and enough body text to make the page recognisable, or nothing at all for a
// blank page.
// A `subject` goes into every sentence, so that documents made alike still differ in
// their text.
QByteArray flatOdt(const QList<Page> &pages, const QString &subject = {});

// Writes `content` to `path`, replacing what was there; false when it cannot.
bool writeFile(const QString &path, const QByteArray &content);
// The whole content of `path`; empty when it cannot be read.
QByteArray readFile(const QString &path);

// Writes `pages` as `folder`/`name`.fodt and saves it as `name`.`format` with the
// document maker in `engineFolder` (pagelift-documentmaker, beside the engine); returns the new
// document's path, or an empty string with the reason in `error`.
QString makeDocument(const QString &engineFolder, const QString &folder, const QString &name,
                     const QList<Page> &pages, const QString &format, QString *error = nullptr);

// Saves each pair's first file as its second, in the format the second's extension
// names, in one run of the document maker in `engineFolder`; false with the reason in
// `error`.
bool saveDocuments(const QString &engineFolder, const QList<std::pair<QString, QString>> &saves,
                   QString *error = nullptr);

// A document for makeDocuments: its name without extension, its pages, and the
// subject its sentences name.
struct DocumentPlan
{
    QString name;
    QList<Page> pages;
    QString subject;
};

// As makeDocument for many documents, saved by one run of the document maker (an
// office start costs more than saving a small document). Returns the new documents'
// paths in the order of `plans`, or an empty list with the reason in `error`.
QStringList makeDocuments(const QString &engineFolder, const QString &folder,
                          const QList<DocumentPlan> &plans, const QString &format,
                          QString *error = nullptr);
