#include "processcpu.h"

#include <QDir>
#include <QFile>
#include <QList>

#include <sys/resource.h>
#include <unistd.h>

namespace {

double seconds(const timeval &t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

double usageSeconds(int who)
{
    rusage usage{};
    ::getrusage(who, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct ProcessTimes
{
    qint64 parent = 0;
    double seconds = 0; // its own and its waited-for children's
};

// Every process's parent and times, from /proc/PID/stat.
QHash<qint64, ProcessTimes> allProcesses()
{
    static const double tick = double(::sysconf(_SC_CLK_TCK));
    QHash<qint64, ProcessTimes> processes;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!file.open(QIODevice::ReadOnly))
            continue; // ended meanwhile
        const QByteArray stat = file.readAll();
        // The command name may hold spaces and brackets; the fields follow its last ')'.
        const qsizetype end = stat.lastIndexOf(')');
        if (end < 0)
            continue;
        const QList<QByteArray> fields = stat.mid(end + 2).split(' ');
        // state ppid ... utime(12) stime(13) cutime(14) cstime(15), counted from state.
        if (fields.size() < 16)
            continue;
        ProcessTimes times;
        times.parent = fields[1].toLongLong();
        for (int field = 11; field <= 14; ++field)
            times.seconds += double(fields[field].toLongLong()) / tick;
        processes.insert(pid, times);
    }
    return processes;
}

} // namespace

CpuSnapshot CpuSnapshot::take()
{
    CpuSnapshot snapshot;
    snapshot.self = usageSeconds(RUSAGE_SELF);
    snapshot.reaped = usageSeconds(RUSAGE_CHILDREN);

    const QHash<qint64, ProcessTimes> processes = allProcesses();
    QHash<qint64, QList<qint64>> children;
    for (auto it = processes.begin(); it != processes.end(); ++it)
        children[it->parent].append(it.key());
    const qint64 self = ::getpid();
    for (const qint64 child : children.value(self)) {
        double total = 0;
        QList<qint64> pending{child};
        while (!pending.isEmpty()) {
            const qint64 pid = pending.takeLast();
            total += processes.value(pid).seconds;
            pending += children.value(pid);
        }
        snapshot.liveChildren.insert(child, total);
    }
    return snapshot;
}

double CpuSnapshot::childrenExcept(const QSet<qint64> &except) const
{
    double total = 0;
    for (auto it = liveChildren.begin(); it != liveChildren.end(); ++it) {
        if (!except.contains(it.key()))
            total += it.value();
    }
    return total;
}
