#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// A zip archive of uncompressed entries, in the given order: enough to make
// OpenDocument and Office Open XML containers for tests.
QByteArray storedZip(const QList<QPair<QByteArray, QByteArray>> &entries);
