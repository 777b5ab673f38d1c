#include "leftout.h"

#include <QDir>

QString describeLeftOut(const QString &document, const QStringList &links)
{
    if (links.isEmpty())
        return {};
    return QStringLiteral("Pictures linked from outside \"%1\" were left out: %2.")
        .arg(QDir::toNativeSeparators(document), links.join(QStringLiteral(", ")));
}
