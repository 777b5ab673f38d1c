#pragma once

#include <QString>
#include <QStringList>

// What a document's engine left out of it (pictures linked from files it may not read,
// or from the network), in one sentence for the user; empty when nothing was.
QString describeLeftOut(const QString &document, const QStringList &links);
