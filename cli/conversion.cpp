#include "conversion.h"

#include "childprocesses.h"
#include "enginechannel.h"
#include "engineclient.h"
#include "machineshare.h"
#include "options.h"
#include "pageexporter.h"
#include "pathbytes.h"
#include "printable.h"
#include "runimages.h"
#include "socketio.h"
#include "workerprotocol.h"

#include <QDir>
#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
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
// Beyond the document's time limit, for the worker to report it itself.
constexpr qint64 kDeadlineGraceMs = 5000;

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
    qint64 pid = 0;
    UniqueFd socket;
    QByteArray buffer;
    std::deque<int> jobs;   // sent and not yet reported, the one in progress first
    QElapsedTimer current;  // since the document in progress began
    QElapsedTimer progress; // since it last wrote an image, or began
};

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

// Reaps whatever of ours has ended: this program is the subreaper of its workers'
// launchers and engines, so that none of them is left a zombie for somebody else.
void reapEnded()
{
    for (pid_t child : childProcesses())
        ::waitpid(child, nullptr, WNOHANG);
}

// Ends and reaps every process below this one, at the latest after a moment.
void endAndReapEverything()
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const std::vector<pid_t> children = childProcesses();
        if (children.empty())
            return;
        for (pid_t child : children) {
            if (::waitpid(child, nullptr, WNOHANG) == 0 && clock.elapsed() > 2000)
                ::kill(child, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

QString plural(qsizetype count, const char *one, const char *many)
{
    return QString::number(count) + u' ' + QLatin1String(count == 1 ? one : many);
}

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
        m_progress = ::isatty(::fileno(err));
    }

    int run()
    {
        m_clock.start();
        const int workers = std::max(1, std::min<int>(m_options.jobs, int(m_jobs.size())));
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
            showProgress();
            if (m_clock.elapsed() - m_lastReaped > 500) {
                reapEnded();
                m_lastReaped = m_clock.elapsed();
            }
        }
        if (interruption)
            return interrupted();
        closeWorkers();
        endAndReapEverything();
        clearProgress();
        summarise();
        return m_anyFailed ? 1 : 0;
    }

private:
    void startWorker()
    {
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
        };
        Worker worker;
        if (!spawnConnected(m_program, arguments, worker.pid, worker.socket)) {
            std::fprintf(m_err, "pagelift-convert: cannot start a worker (%s)\n",
                         std::strerror(errno));
            return;
        }
        childprocesses::add(worker.pid);
        // The run's documents, which no image may replace, before any job.
        QByteArray protect;
        for (const auto &[device, inode] : m_documentFiles)
            protect += workerprotocol::line({"protect", QByteArray::number(qulonglong(device)),
                                             QByteArray::number(qulonglong(inode))});
        if (!engineprotocol::writeFully(worker.socket.get(), protect.toStdString())) {
            endWorker(worker, SIGTERM);
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
                if (!engineprotocol::writeFully(worker.socket.get(), line.toStdString())) {
                    m_waiting.push_front(index);
                    break;
                }
                if (worker.jobs.empty()) {
                    worker.current.start();
                    worker.progress.start();
                }
                worker.jobs.push_back(index);
            }
        }
    }

    void wait()
    {
        std::vector<pollfd> fds{{signalPipe[0], POLLIN, 0}};
        for (const Worker &worker : m_workers)
            fds.push_back({worker.socket.get(), POLLIN, 0});
        const int n = ::poll(fds.data(), nfds_t(fds.size()), 200);
        if (n <= 0)
            return;
        if (fds[0].revents) {
            char drain[16];
            [[maybe_unused]] const ssize_t ignored = ::read(signalPipe[0], drain, sizeof drain);
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents)
                readFrom(i - 1);
        }
        std::erase_if(m_workers, [](const Worker &worker) { return !worker.socket; });
    }

    void readFrom(size_t index)
    {
        Worker &worker = m_workers[index];
        char chunk[65536];
        const ssize_t n = ::read(worker.socket.get(), chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n <= 0) {
            lost(worker, QStringLiteral("stopped unexpectedly"));
            return;
        }
        worker.buffer.append(chunk, qsizetype(n));
        qsizetype end;
        while ((end = worker.buffer.indexOf('\n')) >= 0) {
            const QList<QByteArray> fields = workerprotocol::fields(worker.buffer.left(end));
            worker.buffer.remove(0, end + 1);
            handle(worker, fields);
        }
    }

    void handle(Worker &worker, const QList<QByteArray> &fields)
    {
        if (fields.size() < 3)
            return;
        bool ok = false;
        const int index = fields[1].toInt(&ok);
        if (!ok || index < 0 || index >= int(m_results.size()))
            return;
        if (fields[0] == "image") {
            const QString image = workerprotocol::fromText(fields[2]);
            m_results[index].images << image;
            ++m_pages;
            m_written.note(m_jobs[index].document, image);
            worker.progress.start();
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
               worker.current.elapsed() / 1000.0);
        if (!worker.jobs.empty() && worker.jobs.front() == index) {
            worker.jobs.pop_front();
            worker.current.start();
            worker.progress.start();
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
        endWorker(worker, SIGTERM);
        if (!m_stopping && !m_waiting.empty())
            m_replacements++;
    }

    void checkDeadlines()
    {
        const qint64 limit = qint64(m_options.timeoutSeconds) * 1000 + kDeadlineGraceMs;
        for (Worker &worker : m_workers) {
            if (!worker.jobs.empty() && worker.progress.isValid() &&
                worker.progress.elapsed() > limit) {
                lost(worker, QStringLiteral("made no progress for %1")
                                 .arg(plural(m_options.timeoutSeconds, "second", "seconds")));
            }
        }
        std::erase_if(m_workers, [](const Worker &worker) { return !worker.socket; });
        for (; m_replacements > 0; --m_replacements)
            startWorker();
        // Once a document failed and the run stops, documents after it that are in
        // progress are ended, as the window would never have begun them.
        if (m_stopping) {
            for (Worker &worker : m_workers) {
                if (!worker.jobs.empty() && worker.jobs.front() > firstFailure())
                    endWorker(worker, SIGTERM);
            }
            std::erase_if(m_workers, [](const Worker &worker) { return !worker.socket; });
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

    void endWorker(Worker &worker, int signal)
    {
        if (worker.pid > 0) {
            ::kill(pid_t(worker.pid), signal);
            reap(worker.pid);
            childprocesses::remove(worker.pid);
        }
        worker.pid = 0;
        worker.socket.reset();
    }

    // Waits a moment for a worker told to end, then makes sure.
    static void reap(qint64 pid)
    {
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid_t(pid), nullptr, WNOHANG) != 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid_t(pid), SIGKILL);
        ::waitpid(pid_t(pid), nullptr, 0);
    }

    // Workers with nothing left to do end when their input ends.
    void closeWorkers()
    {
        for (Worker &worker : m_workers) {
            worker.socket.reset();
            if (!worker.jobs.empty())
                ::kill(pid_t(worker.pid), SIGTERM);
        }
        for (Worker &worker : m_workers) {
            reap(worker.pid);
            childprocesses::remove(worker.pid);
        }
        m_workers.clear();
    }

    void endWorkers(int signal)
    {
        for (Worker &worker : m_workers)
            endWorker(worker, signal);
        m_workers.clear();
    }

    // Every document that was finished is reported, in the documents' order, then the
    // interruption.
    int interrupted()
    {
        endWorkers(SIGTERM);
        endAndReapEverything();
        clearProgress();
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
        endAndReapEverything();
        clearProgress();
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
            clearProgress();
            if (result.failed) {
                m_anyFailed = true;
                const QString oneLine = QString(result.error).replace(u'\n', u' ').simplified();
                std::fprintf(m_err, "pagelift-convert: %s\n", printable(oneLine).constData());
            }
            const QByteArray line =
                m_options.json  ? jsonLine(document, result)
                : result.failed ? printable(document) + ": failed\n"
                                : printable(document) + ": " + pagesWritten(result).toUtf8() + '\n';
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

    // The document's own page count; never fewer than its images (a document that
    // reports no pages still gives its one picture).
    static qsizetype pageCount(const DocumentResult &result)
    {
        return std::max<qsizetype>(result.pageCount, result.images.size());
    }

    // "3 pages", or "1 of 180 pages" when only some were chosen.
    static QString pagesWritten(const DocumentResult &result)
    {
        const qsizetype images = result.images.size();
        if (images == pageCount(result))
            return plural(images, "page", "pages");
        return QStringLiteral("%1 of %2")
            .arg(images)
            .arg(plural(pageCount(result), "page", "pages"));
    }

    // The images listed are the document's own at the end of the run; those a later
    // document of the run wrote again are named with that document.
    QByteArray jsonLine(const QString &document, const DocumentResult &result) const
    {
        QByteArray object = "{\"document\":" + jsonString(document);
        if (result.failed)
            return object + ",\"error\":" + jsonString(result.error) + "}\n";
        object += ",\"pages\":" + QByteArray::number(pageCount(result)) + ",\"images\":[";
        const QStringList own = m_written.ownImages(document);
        for (qsizetype i = 0; i < own.size(); ++i)
            object += (i ? "," : "") + jsonString(own[i]);
        object += ']';
        const auto replaced = m_written.replacedImages(document);
        if (!replaced.isEmpty()) {
            object += ",\"replaced\":[";
            for (qsizetype i = 0; i < replaced.size(); ++i)
                object += (i ? "," : "") + QByteArray("{\"image\":") +
                          jsonString(replaced[i].first) +
                          ",\"by\":" + jsonString(replaced[i].second) + '}';
            object += ']';
        }
        return object + ",\"seconds\":" + QByteArray::number(result.seconds, 'f', 3) + "}\n";
    }

    void showProgress()
    {
        if (!m_progress || m_clock.elapsed() - m_lastProgress < 200)
            return;
        m_lastProgress = m_clock.elapsed();
        const double seconds = m_clock.elapsed() / 1000.0;
        const double rate = seconds > 0 ? m_pages / seconds : 0;
        const qsizetype left = m_jobs.size() - m_finished;
        QString line = QStringLiteral("%1 of %2 documents, %3 pages, %4 pages/s")
                           .arg(m_finished)
                           .arg(m_jobs.size())
                           .arg(m_pages)
                           .arg(rate, 0, 'f', 1);
        if (m_finished > 0 && left > 0) {
            const qint64 remaining = qint64(seconds / double(m_finished) * double(left));
            line += QStringLiteral(", about %1:%2 left")
                        .arg(remaining / 60)
                        .arg(remaining % 60, 2, 10, QChar(u'0'));
        }
        std::fprintf(m_err, "\r%s\033[K", printable(line).constData());
        std::fflush(m_err);
        m_progressShown = true;
    }

    void clearProgress()
    {
        if (m_progressShown) {
            std::fprintf(m_err, "\r\033[K");
            std::fflush(m_err);
            m_progressShown = false;
        }
    }

    void summarise(const QString &lead = {})
    {
        qsizetype converted = 0, failed = 0;
        for (qsizetype i = 0; i < m_printed; ++i) {
            if (m_results[i].finished)
                (m_results[i].failed ? failed : converted)++;
        }
        const QString replaced = m_written.describe();
        for (const QString &line : replaced.split(u'\n', Qt::SkipEmptyParts))
            std::fprintf(m_err, "pagelift-convert: %s\n", printable(line).constData());
        QString summary = lead + QStringLiteral("%1 of %2 converted, %3, %4 s")
                                     .arg(converted)
                                     .arg(plural(m_jobs.size(), "document", "documents"),
                                          plural(m_pages, "page", "pages"))
                                     .arg(m_clock.elapsed() / 1000.0, 0, 'f', 1);
        if (failed)
            summary += QStringLiteral("; %1 failed").arg(failed);
        std::fprintf(m_err, "pagelift-convert: %s\n", printable(summary).constData());
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
    bool m_progress = false;
    bool m_progressShown = false;
    bool m_reportLost = false;
    int m_reportError = 0;
    QElapsedTimer m_clock;
    qint64 m_lastProgress = 0;
    qint64 m_lastReaped = 0;
};

} // namespace

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

QByteArray jsonString(const QString &value)
{
    QByteArray out = "\"";
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t c = value[i].unicode();
        if (c == u'"' || c == u'\\') {
            out += '\\';
            out += char(c);
        } else if (c == u'\n') {
            out += "\\n";
        } else if (c == u'\t') {
            out += "\\t";
        } else if (c < 0x20) {
            out += QByteArray("\\u") + QByteArray::number(c, 16).rightJustified(4, '0');
        } else if (QChar::isHighSurrogate(c) && i + 1 < value.size() &&
                   value[i + 1].isLowSurrogate()) {
            out += value.mid(i, 2).toUtf8();
            ++i;
        } else if (QChar::isSurrogate(c)) {
            out += QByteArray("\\u") + QByteArray::number(c, 16);
        } else {
            out += QString(QChar(c)).toUtf8();
        }
    }
    return out + "\"";
}

int runConversion(const ConvertOptions &options, const Collection &collection,
                  const QString &program, FILE *out, FILE *err)
{
    // Launchers and engines whose worker ended are this program's to reap.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK);
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
