#include "conversion.h"

#include "engineclient.h"
#include "jobcount.h"
#include "leftout.h"
#include "machineshare.h"
#include "options.h"
#include "pageexporter.h"
#include "pathbytes.h"
#include "printable.h"
#include "report.h"
#include "runimages.h"
#include "workerprocess.h"
#include "workerprotocol.h"

#include <QDir>
#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <memory>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

// Spare engines each worker makes ready: none. An engine serves many documents, so a
// spare would rarely be needed, yet its launcher and its warm-up cost every worker a
// core's worth of start-up and memory: on two cores, 200 short documents took 23 s
// with one spare against 21.7 s without on one core, and 14 s against 12.8 s on two.
constexpr int kSparesPerWorker = 0;
// Documents sent to a worker before it is done with the first: the one it converts
// and the one it opens ahead.
constexpr size_t kJobsPerWorker = 2;

int signalPipe[2] = {-1, -1};
volatile sig_atomic_t interruption = 0;

void onInterrupt(int signal)
{
    interruption = signal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

struct Worker
{
    std::unique_ptr<WorkerProcess> process;
    int cpuGroup = -1;    // the group of CPUs it keeps to; -1: any
    std::deque<int> jobs; // sent and not yet reported, the one in progress first
};

// The images a document names are its base name's: documents with the same base name
// write over each other's images.
QString imageBase(const Job &job)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(
        baseName(job.outputPath.isEmpty() ? job.document : job.outputPath)));
}

class Conversion
{
public:
    Conversion(const ConvertOptions &options, const Collection &collection, const QString &program,
               FILE *out, FILE *err)
        : m_options(options), m_jobs(collection.jobs), m_documentFiles(collection.documentFiles),
          m_program(program), m_out(out), m_err(err), m_results(m_jobs.size()),
          m_laterSameBase(m_jobs.size()),
          // Once for the run: a worker started later to replace one would otherwise
          // see the others' memory as taken.
          m_engineMemoryLimit(engineMemoryLimit(std::max(1, options.jobs) * (1 + kSparesPerWorker)))
    {
        std::map<QString, int> lastWithBase;
        for (int i = int(m_jobs.size()) - 1; i >= 0; --i) {
            auto [last, fresh] = lastWithBase.try_emplace(imageBase(m_jobs[i]), i);
            if (!fresh)
                m_laterSameBase[i] = last->second;
        }
        for (int i = 0; i < int(m_jobs.size()); ++i) {
            if (m_jobs[i].error.isEmpty())
                m_waiting.push_back(i);
            else
                finish(i, false, m_jobs[i].error);
        }
    }

    int run()
    {
        m_clock.start();
        const int workers = std::max(1, std::min<int>(m_options.jobs, int(m_jobs.size())));
        // Each worker encodes on its part of the CPUs, so that the workers' threads do
        // not queue for the same CPUs (engines draw alongside them as it is).
        m_workerCpus = std::max(1, machineshare::cpus() / workers);
        // With a CPU for each, each worker keeps to CPUs of its own, as a process per
        // core would: its pages stay in that core's caches, and the workers' engines do
        // not take turns on both cores.
        m_cpuGroups = workerCpuGroups(machineshare::affinityCpuList(), workers);
        m_toConvert = std::count_if(m_jobs.begin(), m_jobs.end(),
                                    [](const Job &job) { return job.error.isEmpty(); });
        for (int i = 0; i < workers; ++i)
            startWorker();
        while (m_printed < m_jobs.size() && !m_stopped) {
            if (interruption)
                return interrupted();
            dispatch();
            wait();
            checkDeadlines();
            print(false);
            if (m_reportLost)
                return reportLost();
            m_progress.show(m_finished, m_jobs.size(), m_pages);
            if (m_clock.elapsed() - m_lastReaped > 500) {
                WorkerProcess::reapEndedDescendants();
                m_lastReaped = m_clock.elapsed();
            }
        }
        if (interruption)
            return interrupted();
        closeWorkers();
        WorkerProcess::endDescendants();
        m_progress.clear();
        summarise({});
        return m_anyFailed ? 1 : 0;
    }

private:
    void startWorker()
    {
        // A worker started in place of one that ended takes the CPUs it left.
        int group = -1;
        for (int candidate = 0; group < 0 && candidate < int(m_cpuGroups.size()); ++candidate) {
            if (std::none_of(m_workers.begin(), m_workers.end(),
                             [&](const Worker &worker) { return worker.cpuGroup == candidate; }))
                group = candidate;
        }
        QStringList cpuList;
        if (group >= 0) {
            for (int cpu : m_cpuGroups[size_t(group)])
                cpuList << QString::number(cpu);
        }
        const QStringList arguments = {
            QStringLiteral("--worker"),
            QStringLiteral("-q"),
            QString::number(m_options.quality),
            QStringLiteral("-f"),
            imageExtension(m_options.format),
            QStringLiteral("--gray"),
            QString::number(int(m_options.grey)),
            QStringLiteral("--pages"),
            QString::fromStdString(m_options.pages.text()), // empty: every page
            QStringLiteral("--box-width"),
            QString::number(m_options.boxWidth),
            QStringLiteral("--box-height"),
            QString::number(m_options.boxHeight),
            QStringLiteral("-r"),
            QString::number(m_options.dpi),
            QStringLiteral("--timeout"),
            QString::number(m_options.timeoutSeconds),
            QStringLiteral("--memory-limit"),
            QString::number(qulonglong(m_engineMemoryLimit)),
            QStringLiteral("--spares"),
            QString::number(kSparesPerWorker),
            QStringLiteral("--cpus"),
            QString::number(m_workerCpus),
            QStringLiteral("--one-document"),
            QString::number(int(m_toConvert == 1)),
            QStringLiteral("--cpu-list"),
            cpuList.join(u','),
            QStringLiteral("--linked-files"),
            m_options.linkedBeside ? QStringLiteral("beside") : QStringLiteral("none"),
            QStringLiteral("--require-sandbox"),
            m_options.requireSandbox ? QStringLiteral("yes") : QStringLiteral("no"),
        };
        Worker worker;
        worker.cpuGroup = group;
        worker.process = WorkerProcess::start(m_program, arguments);
        if (!worker.process) {
            std::fprintf(m_err, "pagelift-convert: cannot start a worker (%s)\n",
                         std::strerror(errno));
            return;
        }
        // The run's documents, which no image may replace, before any job.
        QByteArray protect;
        for (const auto &[device, inode] : m_documentFiles)
            protect += workerprotocol::line({"protect", QByteArray::number(qulonglong(device)),
                                             QByteArray::number(qulonglong(inode))});
        if (!worker.process->send(protect)) {
            worker.process->end(SIGTERM);
            return;
        }
        m_workers.push_back(std::move(worker));
    }

    void dispatch()
    {
        if (m_workers.empty() && !m_waiting.empty()) {
            // Every worker failed to start: the documents cannot be converted.
            while (!m_waiting.empty()) {
                finish(m_waiting.front(), false, QStringLiteral("no worker could be started"));
                m_waiting.pop_front();
            }
            return;
        }
        for (Worker &worker : m_workers) {
            // Once a document failed and the run is to stop there, only the documents
            // before it are still converted, as the window would have.
            while (worker.jobs.size() < kJobsPerWorker && !m_waiting.empty() &&
                   (!m_stopping || m_waiting.front() < firstFailure())) {
                const int index = m_waiting.front();
                m_waiting.pop_front();
                const Job &job = m_jobs[index];
                const QByteArray line = workerprotocol::line(
                    {"job", QByteArray::number(index), workerprotocol::text(job.document),
                     workerprotocol::text(job.outputPath)});
                if (!worker.process->send(line)) {
                    m_waiting.push_front(index);
                    break;
                }
                if (worker.jobs.empty())
                    worker.process->beginDocument();
                worker.jobs.push_back(index);
            }
        }
    }

    void wait()
    {
        std::vector<pollfd> fds{{signalPipe[0], POLLIN, 0}};
        for (const Worker &worker : m_workers)
            fds.push_back({worker.process->descriptor(), POLLIN, 0});
        const int n = ::poll(fds.data(), nfds_t(fds.size()), 200);
        if (n <= 0)
            return;
        if (fds[0].revents) {
            char drain[16];
            [[maybe_unused]] const ssize_t ignored = ::read(signalPipe[0], drain, sizeof drain);
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents)
                readFrom(m_workers[i - 1]);
        }
        dropEndedWorkers();
    }

    void readFrom(Worker &worker)
    {
        const auto lines = worker.process->read();
        if (!lines) {
            lost(worker, QStringLiteral("stopped unexpectedly"));
            return;
        }
        for (const QList<QByteArray> &fields : *lines)
            handle(worker, fields);
    }

    void dropEndedWorkers()
    {
        std::erase_if(m_workers, [](const Worker &worker) { return worker.process->ended(); });
    }

    void handle(Worker &worker, const QList<QByteArray> &fields)
    {
        if (fields.size() < 3)
            return;
        bool ok = false;
        const int index = fields[1].toInt(&ok);
        if (!ok || index < 0 || index >= int(m_results.size()))
            return;
        if (fields[0] == "leftout") {
            m_results[index].leftOut << workerprotocol::fromText(fields[2]);
            return;
        }
        if (fields[0] == "image") {
            const QString image = workerprotocol::fromText(fields[2]);
            m_results[index].images << image;
            ++m_pages;
            m_written.note(m_jobs[index].document, image);
            worker.process->wroteImage();
            return;
        }
        const bool done = fields[0] == "done";
        // Ctrl-C reaches the workers and engines too: what fails after it failed
        // because of it, and is no fault of the document.
        if (!done && (fields[0] != "failed" || interruption))
            return;
        if (done)
            m_results[index].pageCount = fields[2].toInt();
        finish(index, done, done ? QString() : workerprotocol::fromText(fields[2]),
               worker.process->documentSeconds());
        if (!worker.jobs.empty() && worker.jobs.front() == index) {
            worker.jobs.pop_front();
            worker.process->beginDocument();
        }
    }

    void finish(int index, bool converted, const QString &error, double seconds = 0)
    {
        DocumentResult &result = m_results[index];
        result.finished = true;
        result.failed = !converted;
        result.error = error;
        result.seconds = seconds;
        ++m_finished;
        if (!converted && m_options.stopOnError)
            m_stopping = true;
    }

    // A worker that ended, or was ended: the document in progress failed; the ones
    // sent after it go to another worker.
    void lost(Worker &worker, const QString &why)
    {
        if (!worker.jobs.empty() && !interruption) {
            const int index = worker.jobs.front();
            finish(index, false,
                   QStringLiteral("The conversion of \"%1\" %2.").arg(m_jobs[index].document, why));
            worker.jobs.pop_front();
        }
        for (auto it = worker.jobs.rbegin(); it != worker.jobs.rend(); ++it)
            m_waiting.push_front(*it);
        worker.jobs.clear();
        worker.process->end(SIGTERM);
        if (!m_stopping && !m_waiting.empty())
            m_replacements++;
    }

    void checkDeadlines()
    {
        for (Worker &worker : m_workers) {
            if (!worker.jobs.empty() && worker.process->missedDeadline(m_options.timeoutSeconds)) {
                lost(worker, QStringLiteral("made no progress for %1")
                                 .arg(plural(m_options.timeoutSeconds, "second", "seconds")));
            }
        }
        dropEndedWorkers();
        for (; m_replacements > 0; --m_replacements)
            startWorker();
        // Once a document failed and the run stops, documents after it that are in
        // progress are ended, as the window would never have begun them.
        if (m_stopping) {
            for (Worker &worker : m_workers) {
                if (!worker.jobs.empty() && worker.jobs.front() > firstFailure())
                    worker.process->end(SIGTERM);
            }
            dropEndedWorkers();
        }
    }

    int firstFailure() const
    {
        for (int i = 0; i < int(m_results.size()); ++i) {
            if (m_results[i].finished && m_results[i].failed)
                return i;
        }
        return int(m_results.size());
    }

    // Workers with nothing left to do end when their input ends.
    void closeWorkers()
    {
        for (Worker &worker : m_workers)
            worker.process->closeInput();
        for (Worker &worker : m_workers)
            worker.process->end(worker.jobs.empty() ? 0 : SIGTERM);
        m_workers.clear();
    }

    void endWorkers(int signal)
    {
        for (Worker &worker : m_workers)
            worker.process->end(signal);
        m_workers.clear();
    }

    // Every document that was finished is reported, in the documents' order, then the
    // interruption.
    int interrupted()
    {
        endWorkers(SIGTERM);
        WorkerProcess::endDescendants();
        m_progress.clear();
        print(true);
        if (!m_reportLost)
            summarise(QStringLiteral("interrupted: "));
        return 128 + int(interruption);
    }

    // Standard output went away or failed: the report cannot be given, so the run
    // ends at once, as the document being written is ended. A reader that went away
    // ends the program as it ends other tools; any other failure is told.
    int reportLost()
    {
        endWorkers(SIGTERM);
        WorkerProcess::endDescendants();
        m_progress.clear();
        if (m_reportError == EPIPE) {
            ::signal(SIGPIPE, SIG_DFL);
            ::raise(SIGPIPE);
        }
        std::fprintf(m_err, "pagelift-convert: cannot write the report to standard output: %s\n",
                     m_reportError == EBADF ? "it is closed" : std::strerror(m_reportError));
        return 1;
    }

    // Whether the document at `index` may be reported: it is finished, and so is
    // every later document whose images might replace some of its own.
    bool reportable(qsizetype index) const
    {
        if (!m_results[index].finished)
            return false;
        for (int later = m_laterSameBase[index]; later > index; later = m_laterSameBase[later]) {
            if (!m_results[later].finished)
                return false;
        }
        return true;
    }

    // Results go out in the documents' order, as each can be told (see reportable);
    // at an interruption, every finished one.
    void print(bool everyFinished)
    {
        for (; m_printed < m_jobs.size() && !m_reportLost; ++m_printed) {
            if (everyFinished ? !m_results[m_printed].finished : !reportable(m_printed)) {
                if (everyFinished)
                    continue;
                return;
            }
            const DocumentResult &result = m_results[m_printed];
            const QString &document = m_jobs[m_printed].document;
            m_progress.clear();
            if (result.failed) {
                m_anyFailed = true;
                std::fprintf(m_err, "pagelift-convert: %s\n",
                             printableLine(result.error).constData());
            }
            if (const QString leftOut = describeLeftOut(document, result.leftOut);
                !leftOut.isEmpty())
                std::fprintf(m_err, "pagelift-convert: %s\n", printable(leftOut).constData());
            const QByteArray line = documentLine(document, result, m_written, m_options.json);
            if (std::fputs(line.constData(), m_out) == EOF || std::fflush(m_out) != 0) {
                m_reportLost = true;
                m_reportError = errno ? errno : EIO;
                return;
            }
            if (result.failed && m_options.stopOnError) {
                m_stopped = true;
                ++m_printed;
                return;
            }
        }
    }

    void summarise(const QString &lead)
    {
        qsizetype converted = 0, failed = 0;
        for (qsizetype i = 0; i < m_printed; ++i) {
            if (m_results[i].finished)
                (m_results[i].failed ? failed : converted)++;
        }
        writeSummary(m_err, lead, converted, m_jobs.size(), failed, m_pages,
                     m_clock.elapsed() / 1000.0, m_written);
    }

    const ConvertOptions &m_options;
    const QList<Job> &m_jobs;
    const std::set<std::pair<dev_t, ino_t>> &m_documentFiles;
    QString m_program;
    FILE *m_out;
    FILE *m_err;
    std::vector<DocumentResult> m_results;
    std::vector<int> m_laterSameBase; // the next document with the same image names, or 0
    size_t m_engineMemoryLimit;
    int m_workerCpus = 1;                      // what each worker may keep busy
    qsizetype m_toConvert = 0;                 // documents the workers are given
    std::vector<std::vector<int>> m_cpuGroups; // each worker's CPUs; empty: any
    std::deque<int> m_waiting;
    std::vector<Worker> m_workers;
    RunImages m_written;
    qsizetype m_printed = 0;
    qsizetype m_finished = 0;
    int m_pages = 0;
    int m_replacements = 0;
    bool m_stopping = false;
    bool m_stopped = false;
    bool m_anyFailed = false;
    ProgressLine m_progress{m_err};
    bool m_reportLost = false;
    int m_reportError = 0;
    QElapsedTimer m_clock;
    qint64 m_lastReaped = 0;
};

} // namespace

int runConversion(const ConvertOptions &options, const Collection &collection,
                  const QString &program, FILE *out, FILE *err)
{
    WorkerProcess::adoptDescendants();
    // Interruptions wake the run through this pipe.
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::fprintf(err, "pagelift-convert: cannot watch for interruptions: %s\n",
                     std::strerror(errno));
        return 1;
    }
    struct sigaction action
    {
    };
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    ConvertOptions resolved = options;
    const machineshare::Share share = machineshare::current();
    if (resolved.jobs <= 0)
        resolved.jobs = defaultJobs(share, options.dpi);
    if (options.verbose)
        std::fprintf(err, "pagelift-convert: %s%s\n",
                     qPrintable(describeJobs(share, resolved.jobs)),
                     options.jobs > 0 ? ", as --jobs asks" : "");
    return Conversion(resolved, collection, program, out, err).run();
}
