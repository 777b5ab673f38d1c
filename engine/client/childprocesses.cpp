#include "childprocesses.h"

#include "enginechannel.h"
#include "uniquefd.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A fixed table rather than a container, so that killAll() may run in a signal
// handler while the program adds or removes a child.
constexpr int kSlots = 256;

std::atomic<qint64> &slot(int i)
{
    static std::atomic<qint64> table[kSlots];
    return table[i];
}

// The processes below this one, as /proc lists them.
std::vector<pid_t> childProcesses()
{
    std::vector<pid_t> children;
    DIR *tasks = ::opendir("/proc/self/task");
    if (!tasks)
        return children;
    while (const dirent *task = ::readdir(tasks)) {
        if (task->d_name[0] == '.')
            continue;
        FILE *list = std::fopen(
            (QByteArray("/proc/self/task/") + task->d_name + "/children").constData(), "r");
        if (!list)
            continue;
        long pid;
        while (std::fscanf(list, "%ld", &pid) == 1)
            children.push_back(pid_t(pid));
        std::fclose(list);
    }
    ::closedir(tasks);
    return children;
}

} // namespace

namespace childprocesses {

void add(qint64 pid)
{
    if (pid <= 0)
        return;
    for (int i = 0; i < kSlots; ++i) {
        qint64 empty = 0;
        if (slot(i).compare_exchange_strong(empty, pid))
            return;
    }
}

void remove(qint64 pid)
{
    for (int i = 0; i < kSlots; ++i) {
        qint64 expected = pid;
        if (slot(i).compare_exchange_strong(expected, 0))
            return;
    }
}

void killAll()
{
    for (int i = 0; i < kSlots; ++i) {
        const qint64 pid = slot(i).exchange(0);
        if (pid > 0)
            ::kill(pid_t(pid), SIGKILL);
    }
}

int count()
{
    int alive = 0;
    for (int i = 0; i < kSlots; ++i)
        alive += slot(i).load() > 0;
    return alive;
}

void end(qint64 pid, int signal, int graceMs)
{
    if (pid <= 0)
        return;
    const UniqueFd pidfd(int(::syscall(SYS_pidfd_open, pid_t(pid), 0)));
    ::kill(pid_t(pid), signal);
    if (!pidfd || !waitForDescriptor(pidfd.get(), POLLIN, QDeadlineTimer(graceMs)))
        ::kill(pid_t(pid), SIGKILL);
    while (::waitpid(pid_t(pid), nullptr, 0) < 0 && errno == EINTR) {
    }
    remove(pid);
}

void reapEndedDescendants()
{
    // Registered children are their owners' to reap: their ids stay theirs until then.
    for (pid_t child : childProcesses()) {
        bool registered = false;
        for (int i = 0; i < kSlots && !registered; ++i)
            registered = slot(i).load() == child;
        if (!registered)
            ::waitpid(child, nullptr, WNOHANG);
    }
}

void endAndReapDescendants(int graceMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const std::vector<pid_t> children = childProcesses();
        if (children.empty())
            return;
        for (pid_t child : children) {
            if (::waitpid(child, nullptr, WNOHANG) == 0 && clock.elapsed() > graceMs)
                ::kill(child, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace childprocesses
