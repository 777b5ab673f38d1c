#include "jobcount.h"

#include "machineshare.h"

#include <algorithm>
#include <cstdint>

size_t jobMemory(int dpi)
{
    // Measured (the peak proportional set size of a worker, its launchers and engines
    // on A4 pages): about 300 MB, and about three times a page's pixels on top (drawn,
    // drawn ahead, received, saved and read back), here for the largest common page,
    // A3, with some room.
    const double a3Pixels = (11.69 * dpi) * (16.54 * dpi);
    return size_t(350) * 1024 * 1024 + size_t(3 * 4 * a3Pixels);
}

int defaultJobs(int dpi)
{
    return defaultJobs(machineshare::current(), dpi);
}

int defaultJobs(const machineshare::Share &share, int dpi)
{
    const uint64_t fit = share.memoryBytes / jobMemory(dpi);
    return int(std::clamp<uint64_t>(fit, 1, uint64_t(std::max(1, share.cpus))));
}

QString describeJobs(const machineshare::Share &share, int jobs)
{
    return QStringLiteral("%1 CPU%2 of %3, %4 GiB of memory: %5 job%6")
        .arg(share.cpus)
        .arg(share.cpus == 1 ? "" : "s")
        .arg(share.machineCpus)
        .arg(double(share.memoryBytes) / double(1 << 30), 0, 'f', 1)
        .arg(jobs)
        .arg(jobs == 1 ? "" : "s");
}

std::vector<std::vector<int>> workerCpuGroups(const std::vector<int> &cpus, int workers)
{
    const size_t count = cpus.size();
    if (workers < 1 || size_t(workers) > count)
        return {};
    std::vector<std::vector<int>> groups;
    for (size_t i = 0; i < size_t(workers); ++i)
        groups.emplace_back(cpus.begin() + ptrdiff_t(i * count / size_t(workers)),
                            cpus.begin() + ptrdiff_t((i + 1) * count / size_t(workers)));
    return groups;
}
