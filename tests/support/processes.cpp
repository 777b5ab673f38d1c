#include "processes.h"

#include <QFile>
#include <QProcess>

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace {

// The fields after the command name of /proc/PID/stat, or nothing.
QList<QByteArray> statFields(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray stat = file.readAll();
    const qsizetype end = stat.lastIndexOf(')');
    return end < 0 ? QList<QByteArray>() : stat.mid(end + 2).split(' ');
}

} // namespace

QByteArray processState(qint64 pid)
{
    const QList<QByteArray> fields = statFields(pid);
    return fields.isEmpty() ? QByteArray("gone") : fields[0];
}

bool ended(qint64 pid)
{
    const QByteArray state = processState(pid);
    return state == "gone" || state == "Z" || state == "X";
}

bool processGone(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

qint64 parentOf(qint64 pid)
{
    const QList<QByteArray> fields = statFields(pid);
    return fields.size() > 1 ? fields[1].toLongLong() : 0;
}

QList<qint64> childrenOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    QList<qint64> children;
    if (!file.open(QIODevice::ReadOnly))
        return children;
    for (const QByteArray &field : file.readAll().split(' ')) {
        if (field.trimmed().toLongLong() > 0)
            children << field.trimmed().toLongLong();
    }
    return children;
}

double reapedChildrenSeconds(qint64 pid)
{
    // cutime and cstime, the 16th and 17th fields, counted here from the state (3rd).
    const QList<QByteArray> fields = statFields(pid);
    if (fields.size() < 15)
        return 0;
    return double(fields[13].toLongLong() + fields[14].toLongLong()) /
           double(::sysconf(_SC_CLK_TCK));
}

QByteArray procFile(qint64 pid, const QString &name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(name));
    return pid > 0 && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray oomScoreAdjustment(qint64 pid)
{
    QFile file(pid == 0 ? QStringLiteral("/proc/self/oom_score_adj")
                        : QStringLiteral("/proc/%1/oom_score_adj").arg(pid));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray("gone");
}

Outcome runToEnd(const QString &program, const QStringList &arguments,
                 const QProcessEnvironment &environment, const QString &workingDirectory,
                 const QByteArray &input, int limitMs)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    Outcome outcome;
    if (!process.waitForFinished(limitMs)) {
        process.kill();
        process.waitForFinished();
        return outcome;
    }
    outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = process.readAllStandardOutput();
    outcome.err = process.readAllStandardError();
    return outcome;
}
