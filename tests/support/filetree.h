#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// Builds folder trees for tests. Paths are relative to `root`; a path that ends in
// "/" makes a folder, any other an empty file (parent folders made as needed).
void makeTree(const QString &root, const QStringList &paths);
// The same with each file's content.
void writeTree(const QString &root, const QMap<QString, QByteArray> &files);

// The names in `folder` in the file system's own order, without "." and "..".
QStringList nativeOrder(const QString &folder);
