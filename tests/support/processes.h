#pragma once

#include <QByteArray>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// What /proc says of a process, for tests that check no engine is left behind.

// "R", "S", "Z"... or "gone".
QByteArray processState(qint64 pid);
// Ended: reaped, or a zombie where nobody reaps orphans.
bool ended(qint64 pid);
// Reaped: no such process at all.
bool processGone(qint64 pid);
qint64 parentOf(qint64 pid);
QList<qint64> childrenOf(qint64 pid);
// The processor time (user + system, seconds) of the children `pid` has reaped.
double reapedChildrenSeconds(qint64 pid);
// What /proc/PID/`name` holds ("maps", "status"), or nothing when it cannot be read.
QByteArray procFile(qint64 pid, const QString &name);
// What the out-of-memory killer adds to the score of process `pid` (0: this process),
// "0" to "1000", or "gone".
QByteArray oomScoreAdjustment(qint64 pid);

// What a program run to its end did: its exit code (-1 when it crashed, or did not end
// within the limit and was killed) and what it wrote.
struct Outcome
{
    int status = -1;
    QByteArray out;
    QByteArray err;
    QStringList lines() const { return QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts); }
};
// Runs `program` in `workingDirectory` with `input` on its standard input.
Outcome runToEnd(const QString &program, const QStringList &arguments,
                 const QProcessEnvironment &environment, const QString &workingDirectory,
                 const QByteArray &input = {}, int limitMs = 60000);
