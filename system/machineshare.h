#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The share of the machine this process may use, as the kernel enforces it. A job runner
// (Slurm, a container, taskset) gives a program a few CPUs and some memory of a larger
// machine: a program that counts the machine's cores starts workers that only queue for
// the CPUs it has, and one that counts the machine's memory grows past its own limit
// and is killed. Every part of Pagelift that counts CPUs or memory asks here.
namespace machineshare {

struct Share
{
    // CPUs this process may keep busy at once: its affinity mask, lowered by a cgroup
    // CPU quota rounded up (a quota of 1.5 CPUs keeps a second one busy half the time).
    int cpus = 1;
    // CPUs online on the machine.
    int machineCpus = 1;
    // Memory it may still take: the lower of what the kernel can give without swapping
    // (MemAvailable) and the room left under each cgroup limit from this process's
    // cgroup up to the root. Page cache charged to a cgroup counts as room, as it does
    // in MemAvailable: the kernel takes it back before it kills.
    uint64_t memoryBytes = 0;
};

// Reads the share from the files under `root` ("/" for the system's own):
// proc/meminfo, proc/self/cgroup and proc/self/mountinfo, the cgroup files they lead to
// (v1 and v2) and sys/devices/system/cpu/online. `affinityCpus` is the number of CPUs in
// this process's affinity mask.
Share read(const std::string &root, int affinityCpus);

// This process's share now.
Share current();

// This process's CPUs, read once: a job's quota and affinity hold for its whole life,
// and the JPEG encoder asks for every page.
int cpus();
// Lowers what cpus() answers to `most` (at least 1): a process that shares its CPUs
// with others of the same run keeps to its part, so that their threads do not queue
// for the same CPUs.
void keepCpusAtMost(int most);
// The CPUs of this process's affinity mask, in order; empty when it cannot be read.
std::vector<int> affinityCpuList();
// Keeps this process, and the processes it starts from now on, to `cpus` (CPUs of its
// affinity mask); cpus() answers their number. False when the kernel refused.
bool keepToCpus(const std::vector<int> &cpus);

} // namespace machineshare
