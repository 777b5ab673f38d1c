#include "runimages.h"

void RunImages::note(const QString &document, const QString &image)
{
    QStringList &wrote = m_wrote[document];
    if (!wrote.contains(image))
        wrote << image;
    auto [writer, fresh] = m_writers.try_emplace(image, document);
    if (fresh || writer->second == document)
        return;
    const std::pair<QString, QString> met{writer->second, document};
    if (!m_replacements.contains(met))
        m_replacements << met;
    writer->second = document;
}

QStringList RunImages::ownImages(const QString &document) const
{
    QStringList own;
    const auto wrote = m_wrote.find(document);
    if (wrote == m_wrote.end())
        return own;
    for (const QString &image : wrote->second) {
        if (m_writers.at(image) == document)
            own << image;
    }
    return own;
}

QList<std::pair<QString, QString>> RunImages::replacedImages(const QString &document) const
{
    QList<std::pair<QString, QString>> replaced;
    const auto wrote = m_wrote.find(document);
    if (wrote == m_wrote.end())
        return replaced;
    for (const QString &image : wrote->second) {
        const QString &writer = m_writers.at(image);
        if (writer != document)
            replaced << std::pair{image, writer};
    }
    return replaced;
}

QString RunImages::describe() const
{
    QStringList sentences;
    for (const auto &[earlier, later] : m_replacements) {
        const qsizetype total = m_wrote.at(earlier).size();
        qsizetype byLater = 0;
        for (const auto &[image, writer] : replacedImages(earlier))
            byLater += writer == later;
        if (byLater == 0)
            continue; // replaced again by a document after `later`
        if (byLater == total)
            sentences << QStringLiteral("The images of \"%1\" were replaced by those of \"%2\", "
                                        "which have the same names.")
                             .arg(earlier, later);
        else if (byLater == 1)
            sentences << QStringLiteral("1 of the %1 images of \"%2\" was replaced by one of "
                                        "\"%3\", which has the same name.")
                             .arg(total)
                             .arg(earlier, later);
        else
            sentences << QStringLiteral("%1 of the %2 images of \"%3\" were replaced by those of "
                                        "\"%4\", which have the same names.")
                             .arg(byLater)
                             .arg(total)
                             .arg(earlier, later);
    }
    return sentences.join(u'\n');
}
