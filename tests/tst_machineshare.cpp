// The share of the machine a process may use, read from made-up /proc and cgroup trees:
// cgroup v1 and v2, limits set and unset, nested, and a container's view of its cgroup.

#include "filetree.h"
#include "machineshare.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

using Tree = QMap<QString, QByteArray>;

constexpr qulonglong MiB = 1ull << 20;

QByteArray number(qulonglong value)
{
    return QByteArray::number(value) + '\n';
}

// A 64-CPU machine with `availableMiB` to give.
Tree machine(qulonglong availableMiB)
{
    return {{"proc/meminfo", "MemTotal:       67108864 kB\nMemFree:          524288 kB\n"
                             "MemAvailable:   " +
                                 QByteArray::number(availableMiB * 1024) + " kB\n"},
            {"sys/devices/system/cpu/online", "0-63\n"}};
}

// A process in the v2 cgroup `path`, under a machine of 8 GiB available.
Tree v2(const QByteArray &path)
{
    Tree tree = machine(8192);
    tree["proc/self/cgroup"] = "0::" + path + '\n';
    tree["proc/self/mountinfo"] = "24 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                  "30 24 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw\n";
    return tree;
}

// A process in the v1 cgroup `path` (cpu and memory alike), whose hierarchies are
// mounted from `mountRoot`, under a machine of 8 GiB available.
Tree v1(const QByteArray &path, const QByteArray &mountRoot = "/")
{
    Tree tree = machine(8192);
    tree["proc/self/cgroup"] =
        "5:memory:" + path + "\n3:cpu,cpuacct:" + path + "\n1:name=systemd:/\n";
    tree["proc/self/mountinfo"] = "31 24 0:28 / /sys/fs/cgroup rw - tmpfs tmpfs rw\n"
                                  "32 31 0:29 " +
                                  mountRoot +
                                  " /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n"
                                  "33 31 0:30 " +
                                  mountRoot +
                                  " /sys/fs/cgroup/cpuset rw - cgroup cgroup rw,cpuset\n"
                                  "35 31 0:32 " +
                                  mountRoot +
                                  " /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n";
    return tree;
}

// v2 limits of the cgroup folder `folder` (under sys/fs/cgroup): `cpuMax` as cpu.max
// writes it, `memoryMax` ("max" or bytes) and what is charged.
void v2Limits(Tree &tree, const QString &folder, const QByteArray &cpuMax,
              const QByteArray &memoryMax, qulonglong currentMiB, qulonglong inactiveFileMiB = 0)
{
    const QString at = "sys/fs/cgroup" + folder + '/';
    tree[at + "cpu.max"] = cpuMax + '\n';
    tree[at + "memory.max"] = memoryMax + '\n';
    tree[at + "memory.current"] = number(currentMiB * MiB);
    tree[at + "memory.stat"] =
        "anon 1000\nfile 2000\ninactive_file " + QByteArray::number(inactiveFileMiB * MiB) + '\n';
}

// v1 limits of `folder` in the cpu and memory hierarchies; a quota of -1 is none.
void v1Limits(Tree &tree, const QString &folder, const QByteArray &quota, qulonglong limit,
              qulonglong usageMiB)
{
    const QString cpu = "sys/fs/cgroup/cpu,cpuacct" + folder + '/';
    const QString memory = "sys/fs/cgroup/memory" + folder + '/';
    tree[cpu + "cpu.cfs_quota_us"] = quota + '\n';
    tree[cpu + "cpu.cfs_period_us"] = "100000\n";
    tree[memory + "memory.limit_in_bytes"] = number(limit);
    tree[memory + "memory.usage_in_bytes"] = number(usageMiB * MiB);
    tree[memory + "memory.stat"] = "cache 0\ninactive_file 0\ntotal_inactive_file 0\n";
}

// What v1 writes for "no limit".
constexpr qulonglong kV1Unlimited = 9223372036854771712ull;

} // namespace

class TestMachineShare : public QObject
{
    Q_OBJECT

private slots:
    void shareOfTheMachine_data()
    {
        QTest::addColumn<Tree>("tree");
        QTest::addColumn<int>("affinity");
        QTest::addColumn<int>("cpus");
        QTest::addColumn<qulonglong>("memoryMiB");

        QTest::newRow("no cgroups: the affinity mask and MemAvailable")
            << machine(3000) << 64 << 64 << 3000ull;
        QTest::newRow("taskset to two CPUs") << machine(3000) << 2 << 2 << 3000ull;

        Tree unset = v2("/job");
        v2Limits(unset, "/job", "max 100000", "max", 100);
        QTest::newRow("v2, no limits") << unset << 64 << 64 << 8192ull;

        Tree quota = v2("/job");
        v2Limits(quota, "/job", "150000 100000", "1073741824", 200);
        QTest::newRow("v2, 1.5 CPUs round up, room is the limit less the charge")
            << quota << 64 << 2 << 824ull;
        QTest::newRow("v2, quota above the affinity mask") << quota << 1 << 1 << 824ull;

        Tree cache = v2("/job");
        v2Limits(cache, "/job", "max 100000", "1073741824", 900, 500);
        QTest::newRow("v2, inactive page cache is room") << cache << 64 << 64 << 624ull;

        Tree full = v2("/job");
        v2Limits(full, "/job", "max 100000", "1073741824", 1500);
        QTest::newRow("v2, charged past the limit") << full << 64 << 64 << 0ull;

        Tree parent = v2("/slice/job");
        v2Limits(parent, "/slice/job", "max 100000", "max", 100);
        v2Limits(parent, "/slice", "100000 100000", "2147483648", 1536);
        QTest::newRow("v2, the parent's limits are lower") << parent << 64 << 1 << 512ull;

        Tree child = v2("/slice/job");
        v2Limits(child, "/slice/job", "200000 100000", "1073741824", 0);
        v2Limits(child, "/slice", "400000 100000", "4294967296", 0);
        QTest::newRow("v2, the child's limits are lower") << child << 64 << 2 << 1024ull;

        Tree roomy = v2("/job");
        v2Limits(roomy, "/job", "max 100000", "17179869184", 0);
        QTest::newRow("v2, MemAvailable below the limit") << roomy << 64 << 64 << 8192ull;

        Tree v1Unset = v1("/job");
        v1Limits(v1Unset, "/job", "-1", kV1Unlimited, 100);
        QTest::newRow("v1, no limits") << v1Unset << 64 << 64 << 8192ull;

        Tree v1Set = v1("/job");
        v1Limits(v1Set, "/job", "100000", 1ull << 30, 256);
        QTest::newRow("v1, one CPU and 1 GiB") << v1Set << 64 << 1 << 768ull;

        Tree v1Nested = v1("/slice/job");
        v1Limits(v1Nested, "/slice/job", "-1", kV1Unlimited, 100);
        v1Limits(v1Nested, "/slice", "300000", 2ull << 30, 1024);
        QTest::newRow("v1, the parent's limits are lower") << v1Nested << 64 << 3 << 1024ull;

        // Docker without a cgroup namespace: /proc/self/cgroup names the cgroup on the
        // host, and that cgroup is what is mounted.
        Tree container = v1("/docker/abc", "/docker/abc");
        v1Limits(container, "", "200000", 512 * MiB, 0);
        QTest::newRow("v1, a container mounted at its own cgroup")
            << container << 64 << 2 << 512ull;

        // Debian's hybrid layout: limits on v1, a v2 tree without controllers beside it.
        Tree hybrid = v1("/job");
        v1Limits(hybrid, "/job", "-1", 1ull << 30, 0);
        hybrid["proc/self/cgroup"] += "0::/job\n";
        hybrid["proc/self/mountinfo"] +=
            "41 31 0:38 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n";
        hybrid["sys/fs/cgroup/unified/job/cgroup.procs"] = "1\n";
        QTest::newRow("hybrid, limits on v1") << hybrid << 64 << 64 << 1024ull;
    }

    void shareOfTheMachine()
    {
        QFETCH(Tree, tree);
        QFETCH(int, affinity);
        QFETCH(int, cpus);
        QFETCH(qulonglong, memoryMiB);
        QTemporaryDir root;
        writeTree(root.path(), tree);
        const machineshare::Share share = machineshare::read(root.path().toStdString(), affinity);
        QCOMPARE(share.cpus, cpus);
        QCOMPARE(share.machineCpus, 64);
        QCOMPARE(qulonglong(share.memoryBytes), memoryMiB * MiB);
    }
};

QTEST_GUILESS_MAIN(TestMachineShare)
#include "tst_machineshare.moc"
