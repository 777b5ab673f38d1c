#include "childprocesses.h"

#include <set>
#include <signal.h>

namespace {

std::set<qint64> &registry()
{
    static std::set<qint64> pids;
    return pids;
}

} // namespace

namespace childprocesses {

void add(qint64 pid)
{
    if (pid > 0)
        registry().insert(pid);
}

void remove(qint64 pid)
{
    registry().erase(pid);
}

void killAll()
{
    for (qint64 pid : registry())
        ::kill(pid_t(pid), SIGKILL);
    registry().clear();
}

int count()
{
    return int(registry().size());
}

} // namespace childprocesses
