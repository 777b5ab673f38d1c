#pragma once

#include <QList>
#include <QString>

#include <map>
#include <utility>

// The images one run has written, so that it can tell when a document's images replace
// those of an earlier document of the same run: report.doc and report.docx in one
// folder name their pages alike, and the second's overwrite the first's.
class RunImages
{
public:
    // Notes that `document` wrote `image`.
    void note(const QString &document, const QString &image);

    // Each (earlier document, later document) whose images met, once, in the order
    // it happened.
    const QList<std::pair<QString, QString>> &replacements() const { return m_replacements; }

    // One sentence per replacement, for the end of a run; empty when there were none.
    QString describe() const;

private:
    std::map<QString, QString> m_writers; // image -> the document that wrote it last
    QList<std::pair<QString, QString>> m_replacements;
};
