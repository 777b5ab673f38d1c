#include "runimages.h"

void RunImages::note(const QString &document, const QString &image)
{
    auto [writer, fresh] = m_writers.try_emplace(image, document);
    if (fresh || writer->second == document)
        return;
    const std::pair<QString, QString> met{writer->second, document};
    if (!m_replacements.contains(met))
        m_replacements << met;
    writer->second = document;
}

QString RunImages::describe() const
{
    QString text;
    for (const auto &[earlier, later] : m_replacements) {
        if (!text.isEmpty())
            text += u'\n';
        text += QStringLiteral("The images of \"%1\" were replaced by those of \"%2\", which have "
                               "the same names.")
                    .arg(earlier, later);
    }
    return text;
}
