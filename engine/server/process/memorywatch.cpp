#include "memorywatch.h"

#include "uniquefd.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

// Often enough that a document growing by a hundred megabytes a second passes the
// limit by a few megabytes at most; reading the figure costs microseconds.
constexpr auto kInterval = std::chrono::milliseconds(20);

size_t residentBytes(int statm)
{
    char text[128];
    const ssize_t n = ::pread(statm, text, sizeof text - 1, 0);
    if (n <= 0)
        return 0;
    text[n] = '\0';
    unsigned long long size = 0, resident = 0;
    if (std::sscanf(text, "%llu %llu", &size, &resident) != 2)
        return 0;
    return size_t(resident) * size_t(::sysconf(_SC_PAGESIZE));
}

} // namespace

size_t residentBytes()
{
    const UniqueFd statm(::open("/proc/self/statm", O_RDONLY | O_CLOEXEC));
    return statm ? residentBytes(statm.get()) : 0;
}

void watchMemory(size_t limitBytes, std::function<void()> onExceeded)
{
    if (limitBytes == 0)
        return;
    UniqueFd statm(::open("/proc/self/statm", O_RDONLY | O_CLOEXEC));
    if (!statm)
        return;
    std::thread([statm = std::move(statm), limitBytes, onExceeded = std::move(onExceeded)] {
        for (;;) {
            if (residentBytes(statm.get()) > limitBytes)
                onExceeded();
            std::this_thread::sleep_for(kInterval);
        }
    }).detach();
}

void goFirstWhenMemoryRunsOut()
{
    // Raising the score needs no privilege; a system without /proc keeps its own.
    const UniqueFd score(::open("/proc/self/oom_score_adj", O_WRONLY | O_CLOEXEC));
    if (score) {
        [[maybe_unused]] const ssize_t n = ::write(score.get(), "1000", 4);
    }
}
