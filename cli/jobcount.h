#pragma once

#include <QString>

#include <cstddef>
#include <vector>

namespace machineshare {
struct Share;
}

// The documents converted at once when the user does not say: one per CPU this process
// may use, fewer when the memory it may use would not hold that many jobs at `dpi`.
int defaultJobs(int dpi);
int defaultJobs(const machineshare::Share &share, int dpi);
// What a number of jobs rests on, in the user's words: "2 CPUs of 64, 1.8 GiB of
// memory: 2 jobs".
QString describeJobs(const machineshare::Share &share, int jobs);
// What one job may take at `dpi`, in bytes: its worker, engines and page pictures.
size_t jobMemory(int dpi);
// The CPUs each of `workers` workers keeps to, from the CPUs `cpus` this process may run
// on: consecutive groups of as equal a size as they divide into. None when there are
// more workers than CPUs (each then runs where the kernel puts it).
std::vector<std::vector<int>> workerCpuGroups(const std::vector<int> &cpus, int workers);
