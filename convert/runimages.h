#pragma once

#include <QList>
#include <QString>
#include <QStringList>

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

    // The images `document` wrote that are still its own, in the order written.
    QStringList ownImages(const QString &document) const;
    // The images `document` wrote that a later document wrote again: (image, that
    // document), in the order `document` wrote them.
    QList<std::pair<QString, QString>> replacedImages(const QString &document) const;

    // One sentence per pair of documents whose images met, for the end of a run, in
    // the order it happened; empty when there were none.
    QString describe() const;

private:
    std::map<QString, QString> m_writers;              // image -> the document that wrote it last
    std::map<QString, QStringList> m_wrote;            // document -> every image it wrote
    QList<std::pair<QString, QString>> m_replacements; // (earlier, later), once each
};
