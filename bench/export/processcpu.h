#pragma once

#include <QHash>
#include <QSet>

// The processor time (user + system, in seconds) of this process and of the processes
// it started, at one moment. A process's time shows in its own /proc entry while it
// lives, and once it has ended and been waited for, in its parent's time for waited-for
// children. Summed over a tree of live processes, each with its waited-for children,
// nothing is missed as long as every process in the tree waits for its children (the
// engine launchers reap their engines; the office's oosplash waits for soffice.bin).
// The difference of two snapshots is the time spent between them.
struct CpuSnapshot
{
    double self = 0;                    // this process
    double reaped = 0;                  // its children that ended and were waited for, with theirs
    QHash<qint64, double> liveChildren; // each live child: its whole tree's time so far

    static CpuSnapshot take();

    // The time of the live children's trees, except those rooted at `except`.
    double childrenExcept(const QSet<qint64> &except) const;
    // The time of the tree rooted at the live child `pid`, or 0.
    double child(qint64 pid) const { return liveChildren.value(pid); }
};
