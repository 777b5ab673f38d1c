#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The lines pagelift-convert and its workers exchange on the worker's standard input
// and output. Fields are separated by tabs; paths and messages travel as the bytes of
// their path encoding, percent-encoded, so that any name (newlines and tabs included)
// fits on one line.
//
//   to a worker:    protect <device> <inode>   (a document of the run, before any job)
//                   job <index> <document> <output path or empty>
//   from a worker:  image <index> <image path>
//                   leftout <index> <link the engine left out of the document>
//                   done <index> <pages>
//                   failed <index> <message>
namespace workerprotocol {

QByteArray line(const QList<QByteArray> &fields);
QList<QByteArray> fields(const QByteArray &line);

QByteArray text(const QString &value);
QString fromText(const QByteArray &field);

} // namespace workerprotocol
