#include "worker.h"

#include "childprocesses.h"
#include "enginepool.h"
#include "error.h"
#include "filereplace.h"
#include "machineshare.h"
#include "offscreen.h"
#include "pagememory.h"
#include "workerprotocol.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <deque>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

void endAtOnce(int signal)
{
    removeUnfinishedFile();
    childprocesses::killAll();
    ::_exit(128 + signal);
}

struct Job
{
    QByteArray index;
    QString document;
    QString outputPath;
};

// The jobs sent so far, read as they arrive.
class JobQueue
{
public:
    // Reads what has arrived; with `wait`, waits until a job or the end comes. False
    // once the input has ended and nothing is left.
    bool fill(bool wait)
    {
        for (;;) {
            pollfd input{STDIN_FILENO, POLLIN, 0};
            const int ready = ::poll(&input, 1, wait && m_jobs.empty() && !m_ended ? -1 : 0);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                break;
            char chunk[4096];
            const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_ended = true;
                break;
            }
            m_buffer.append(chunk, qsizetype(n));
            takeLines();
        }
        return !m_jobs.empty();
    }

    std::deque<Job> &jobs() { return m_jobs; }

private:
    void takeLines()
    {
        qsizetype end;
        while ((end = m_buffer.indexOf('\n')) >= 0) {
            const QList<QByteArray> fields = workerprotocol::fields(m_buffer.left(end));
            m_buffer.remove(0, end + 1);
            if (fields.size() == 4 && fields[0] == "job")
                m_jobs.push_back({fields[1], workerprotocol::fromText(fields[2]),
                                  workerprotocol::fromText(fields[3])});
            else if (fields.size() == 3 && fields[0] == "protect")
                protectFromReplacement(dev_t(fields[1].toULongLong()),
                                       ino_t(fields[2].toULongLong()));
        }
    }

    QByteArray m_buffer;
    std::deque<Job> m_jobs;
    bool m_ended = false;
};

void report(const QList<QByteArray> &fields)
{
    const QByteArray line = workerprotocol::line(fields);
    const char *data = line.constData();
    qsizetype left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            endAtOnce(SIGTERM); // the program that sent the jobs has gone
        data += n;
        left -= n;
    }
}

} // namespace

int runWorker(int &argc, char **argv, const WorkerSettings &settings)
{
    // Dies with the program that started it, cleaning up as for an interruption.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() == 1)
        return 1;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::signal(signal, endAtOnce);
    ::signal(SIGPIPE, SIG_IGN);
    keepPageMemoryForReuse();
    // Its engines and their launcher are started later, and keep to its CPUs too.
    machineshare::keepToCpus(settings.cpuList);
    machineshare::keepCpusAtMost(settings.cpus);

    // The page path is the window's, widgets and clipboard included, drawn offscreen.
    const std::unique_ptr<QApplication> app = OffscreenPages::application(argc, argv);

    // A run of one document is done soonest by an engine started the plain way; engines
    // made from a launcher's office pay its start back over the documents that follow.
    std::shared_ptr<EnginePool> pool;
    if (!settings.oneDocument)
        pool = std::make_shared<EnginePool>(
            settings.engineFolder, settings.document.callTimeoutMs, settings.memoryLimitBytes,
            settings.spares, EnginePool::kDefaultDocumentsPerEngine, settings.sandbox);
    const WordFactory createWord = pool
                                       ? pooledEngineFactory(pool, settings.document)
                                       : engineFactory(settings.engineFolder, settings.document,
                                                       settings.memoryLimitBytes, settings.sandbox);
    OffscreenPages pages(settings.image.quality);

    JobQueue queue;
    while (queue.fill(true)) {
        queue.fill(false);
        const Job job = queue.jobs().front();
        queue.jobs().pop_front();
        // The documents sent after it are opened ahead while it is converted.
        QStringList expected{job.document};
        for (const Job &next : queue.jobs())
            expected << next.document;
        if (pool)
            pool->expect(expected, settings.document.dpi);

        ExportHost host = pages.host();
        host.outputPath = job.outputPath;
        host.format = settings.image.format;
        host.grey = settings.image.grey;
        host.pages = settings.document.pages;
        host.imageWritten = [&](const QString &image) {
            report({"image", job.index, workerprotocol::text(image)});
        };
        host.leftOut = [&](const QStringList &links) {
            for (const QString &link : links)
                report({"leftout", job.index, workerprotocol::text(link)});
        };
        qint32 pageCount = 0;
        if (const auto failure =
                failureOf([&] { pageCount = exportPages(job.document, createWord, host); }))
            report({"failed", job.index, workerprotocol::text(*failure)});
        else
            report({"done", job.index, QByteArray::number(pageCount)});
    }
    if (pool)
        pool->expect({});
    return 0;
}
