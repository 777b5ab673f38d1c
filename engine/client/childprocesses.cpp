#include "childprocesses.h"

#include <atomic>
#include <signal.h>

namespace {

// A fixed table rather than a container, so that killAll() may run in a signal
// handler while the program adds or removes a child.
constexpr int kSlots = 256;

std::atomic<qint64> &slot(int i)
{
    static std::atomic<qint64> slots[kSlots];
    return slots[i];
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

} // namespace childprocesses
