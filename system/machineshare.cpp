#include "machineshare.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include <sched.h>
#include <unistd.h>

namespace machineshare {

std::vector<int> affinityCpuList()
{
    // The mask may be larger than a cpu_set_t on machines of more than 1024 CPUs.
    for (int size = CPU_SETSIZE; size <= (1 << 20); size *= 2) {
        cpu_set_t *set = CPU_ALLOC(size);
        const size_t bytes = CPU_ALLOC_SIZE(size);
        const bool read = ::sched_getaffinity(0, bytes, set) == 0;
        std::vector<int> cpus;
        for (int cpu = 0; read && cpu < size; ++cpu) {
            if (CPU_ISSET_S(cpu, bytes, set))
                cpus.push_back(cpu);
        }
        CPU_FREE(set);
        if (read)
            return cpus;
        if (errno != EINVAL)
            break;
    }
    return {};
}

namespace {

constexpr uint64_t kNoLimit = std::numeric_limits<uint64_t>::max();

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(separator, start), text.size());
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::vector<std::string_view> words(std::string_view line)
{
    std::vector<std::string_view> found;
    for (std::string_view part : split(line, ' '))
        for (std::string_view word : split(part, '\t'))
            if (!word.empty())
                found.push_back(word);
    return found;
}

// The number `text` begins with; none for "max", "-1" (v1's "no quota") or nothing.
std::optional<uint64_t> numberIn(std::string_view text)
{
    const size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos)
        return std::nullopt;
    uint64_t value = 0;
    const auto [end, error] =
        std::from_chars(text.data() + start, text.data() + text.size(), value);
    return error == std::errc() ? std::optional(value) : std::nullopt;
}

// The number after `key` in a file of "key value" lines (memory.stat, and meminfo's
// "MemAvailable:   123 kB").
std::optional<uint64_t> valueOf(const std::string &text, std::string_view key)
{
    for (std::string_view line : split(text, '\n')) {
        const std::vector<std::string_view> w = words(line);
        if (w.size() >= 2 && w[0] == key)
            return numberIn(w[1]);
    }
    return std::nullopt;
}

// The CPUs in a list such as "0-3,8-11".
int countCpus(std::string_view list)
{
    int count = 0;
    for (std::string_view range : split(list.substr(0, list.find('\n')), ',')) {
        const std::vector<std::string_view> ends = split(range, '-');
        const std::optional<uint64_t> first = numberIn(ends.front());
        const std::optional<uint64_t> last = numberIn(ends.back());
        if (first && last && *last >= *first)
            count += int(*last - *first + 1);
    }
    return count;
}

// Mount points in mountinfo write a space, a tab, a newline and a backslash in octal.
std::string unescaped(std::string_view field)
{
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            text +=
                char((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

std::string joined(std::string_view folder, std::string_view name)
{
    std::string path(folder);
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    if (!name.empty() && name.front() != '/')
        path += '/';
    path += name;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// Where this process's cgroup lies in one mounted hierarchy, and where that hierarchy's
// root is mounted: the limits of every folder between the two apply.
struct Cgroup
{
    std::string folder;
    std::string top;
    bool v2 = false;
    bool cpu = false;
    bool memory = false;
};

std::vector<Cgroup> cgroupsOf(const std::string &root)
{
    // "4:cpu,cpuacct:/path" on v1, "0::/path" on v2 (whose controller list is empty).
    std::map<std::string, std::string, std::less<>> pathOf;
    const std::string cgroupFile = readFile(joined(root, "proc/self/cgroup"));
    for (std::string_view line : split(cgroupFile, '\n')) {
        const size_t first = line.find(':');
        const size_t second = line.find(':', first + 1);
        if (first == std::string_view::npos || second == std::string_view::npos)
            continue;
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        for (std::string_view controller : split(controllers, ','))
            pathOf[std::string(controller)] = std::string(line.substr(second + 1));
    }

    std::vector<Cgroup> cgroups;
    const std::string mountinfo = readFile(joined(root, "proc/self/mountinfo"));
    for (std::string_view line : split(mountinfo, '\n')) {
        // "36 31 0:32 /root /mount/point options... - cgroup cgroup rw,memory"
        const size_t dash = line.find(" - ");
        if (dash == std::string_view::npos)
            continue;
        const std::vector<std::string_view> mount = words(line.substr(0, dash));
        const std::vector<std::string_view> source = words(line.substr(dash + 3));
        if (mount.size() < 5 || source.size() < 3)
            continue;
        Cgroup cgroup;
        cgroup.v2 = source[0] == "cgroup2";
        if (cgroup.v2) {
            cgroup.cpu = cgroup.memory = true;
        } else if (source[0] == "cgroup") {
            const std::vector<std::string_view> options = split(source[2], ',');
            cgroup.cpu = std::find(options.begin(), options.end(), "cpu") != options.end();
            cgroup.memory = std::find(options.begin(), options.end(), "memory") != options.end();
        }
        const auto path = pathOf.find(cgroup.v2 ? "" : cgroup.cpu ? "cpu" : "memory");
        if (!(cgroup.cpu || cgroup.memory) || path == pathOf.end())
            continue;
        // A container sees its own cgroup as the hierarchy's root (mounted from
        // "/docker/ID"); a cgroup outside what is mounted leaves only the mount's limits.
        const std::string mountRoot = unescaped(mount[3]);
        std::string below = path->second;
        if (mountRoot != "/") {
            const bool inside = below.starts_with(mountRoot) && (below.size() == mountRoot.size() ||
                                                                 below[mountRoot.size()] == '/');
            below = inside ? below.substr(mountRoot.size()) : std::string();
        }
        cgroup.top = joined(root, unescaped(mount[4]));
        cgroup.folder = joined(cgroup.top, below);
        cgroups.push_back(std::move(cgroup));
    }
    return cgroups;
}

// The CPUs a quota of `quota` microseconds in every `period` keeps busy, rounded up.
std::optional<uint64_t> quotaCpus(std::optional<uint64_t> quota, std::optional<uint64_t> period)
{
    if (!quota || !period || *period == 0)
        return std::nullopt;
    return std::max<uint64_t>(1, (*quota + *period - 1) / *period);
}

std::optional<uint64_t> cpuLimit(const Cgroup &cgroup, const std::string &folder)
{
    if (cgroup.v2) {
        const std::string text = readFile(joined(folder, "cpu.max"));
        const std::vector<std::string_view> max = words(text);
        return max.size() == 2 ? quotaCpus(numberIn(max[0]), numberIn(max[1])) : std::nullopt;
    }
    return quotaCpus(numberIn(readFile(joined(folder, "cpu.cfs_quota_us"))),
                     numberIn(readFile(joined(folder, "cpu.cfs_period_us"))));
}

std::optional<uint64_t> memoryRoom(const Cgroup &cgroup, const std::string &folder)
{
    const std::optional<uint64_t> limit =
        numberIn(readFile(joined(folder, cgroup.v2 ? "memory.max" : "memory.limit_in_bytes")));
    if (!limit)
        return std::nullopt;
    const uint64_t usage =
        numberIn(readFile(joined(folder, cgroup.v2 ? "memory.current" : "memory.usage_in_bytes")))
            .value_or(0);
    const uint64_t cache = valueOf(readFile(joined(folder, "memory.stat")),
                                   cgroup.v2 ? "inactive_file" : "total_inactive_file")
                               .value_or(0);
    const uint64_t used = usage - std::min(usage, cache);
    return *limit > used ? *limit - used : 0;
}

int affinityCpus()
{
    const std::vector<int> cpus = affinityCpuList();
    return cpus.empty() ? int(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN))) : int(cpus.size());
}

} // namespace

Share read(const std::string &root, int affinity)
{
    uint64_t cpus = uint64_t(std::max(1, affinity));
    const std::string meminfo = readFile(joined(root, "proc/meminfo"));
    // Kernels before 3.14 have no MemAvailable.
    const std::optional<uint64_t> available = valueOf(meminfo, "MemAvailable:");
    uint64_t memory = available.value_or(valueOf(meminfo, "MemFree:").value_or(0)) * 1024;

    for (const Cgroup &cgroup : cgroupsOf(root)) {
        for (std::string folder = cgroup.folder;; folder = folder.substr(0, folder.rfind('/'))) {
            if (cgroup.cpu)
                cpus = std::min(cpus, cpuLimit(cgroup, folder).value_or(kNoLimit));
            if (cgroup.memory)
                memory = std::min(memory, memoryRoom(cgroup, folder).value_or(kNoLimit));
            if (folder.size() <= cgroup.top.size() || folder.rfind('/') == std::string::npos)
                break;
        }
    }

    Share share;
    share.cpus = int(cpus);
    share.machineCpus = std::max(
        std::max(1, affinity), countCpus(readFile(joined(root, "sys/devices/system/cpu/online"))));
    share.memoryBytes = memory;
    return share;
}

Share current()
{
    return read("/", affinityCpus());
}

namespace {

std::atomic<int> &cpusNow()
{
    static std::atomic<int> count{current().cpus};
    return count;
}

} // namespace

int cpus()
{
    return cpusNow();
}

bool keepToCpus(const std::vector<int> &cpus)
{
    if (cpus.empty())
        return false;
    const int size = *std::max_element(cpus.begin(), cpus.end()) + 1;
    cpu_set_t *set = CPU_ALLOC(size);
    const size_t bytes = CPU_ALLOC_SIZE(size);
    CPU_ZERO_S(bytes, set);
    for (int cpu : cpus)
        CPU_SET_S(cpu, bytes, set);
    const bool kept = ::sched_setaffinity(0, bytes, set) == 0;
    CPU_FREE(set);
    if (kept)
        keepCpusAtMost(int(cpus.size()));
    return kept;
}

void keepCpusAtMost(int most)
{
    std::atomic<int> &count = cpusNow();
    int now = count;
    while (most >= 1 && most < now && !count.compare_exchange_weak(now, most)) {
    }
}

} // namespace machineshare
