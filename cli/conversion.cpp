#include "conversion.h"

#include "childprocesses.h"
#include "enginechannel.h"
#include "engineclient.h"
#include "leftout.h"
#include "options.h"
#include "pathbytes.h"
#include "runimages.h"
#include "socketio.h"
#include "workerprotocol.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <poll.h>
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
    std::deque<int> jobs;  // sent and not yet reported, the one in progress first
    QElapsedTimer current; // since the document in progress began
};

class Conversion
{
public:
    Conversion(const ConvertOptions &options, const QList<Job> &jobs, const QString &program,
               FILE *out, FILE *err)
        : m_options(options), m_jobs(jobs), m_program(program), m_out(out), m_err(err),
          m_results(jobs.size())
    {
        for (int i = 0; i < int(jobs.size()); ++i)
            m_waiting.push_back(i);
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
            print();
            showProgress();
        }
        if (interruption)
            return interrupted();
        closeWorkers();
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
            QStringLiteral("-r"),
            QString::number(m_options.dpi),
            QStringLiteral("--timeout"),
            QString::number(m_options.timeoutSeconds),
            QStringLiteral("--memory-limit"),
            QString::number(qulonglong(
                engineMemoryLimit(std::max(1, m_options.jobs) * (1 + kSparesPerWorker)))),
            QStringLiteral("--spares"),
            QString::number(kSparesPerWorker),
            QStringLiteral("--linked-files"),
            m_options.linkedBeside ? QStringLiteral("beside") : QStringLiteral("none"),
            QStringLiteral("--require-sandbox"),
            m_options.requireSandbox ? QStringLiteral("yes") : QStringLiteral("no"),
        };
        Worker worker;
        if (!spawnConnected(m_program, arguments, worker.pid, worker.socket)) {
            std::fprintf(m_err, "pagelift-convert: cannot start a worker (%s)\n",
                         std::strerror(errno));
            return;
        }
        childprocesses::add(worker.pid);
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
                if (worker.jobs.empty())
                    worker.current.start();
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
        if (fields[0] == "leftout") {
            m_results[index].leftOut << workerprotocol::fromText(fields[2]);
            return;
        }
        if (fields[0] == "image") {
            const QString image = workerprotocol::fromText(fields[2]);
            m_results[index].images << image;
            ++m_pages;
            m_written.note(m_jobs[index].document, image);
            return;
        }
        const bool done = fields[0] == "done";
        if (!done && fields[0] != "failed")
            return;
        finish(index, done, done ? QString() : workerprotocol::fromText(fields[2]),
               worker.current.elapsed() / 1000.0);
        if (!worker.jobs.empty() && worker.jobs.front() == index) {
            worker.jobs.pop_front();
            worker.current.start();
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
        if (!worker.jobs.empty()) {
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
            if (!worker.jobs.empty() && worker.current.isValid() &&
                worker.current.elapsed() > limit) {
                lost(worker, QStringLiteral("did not finish within %1 seconds")
                                 .arg(m_options.timeoutSeconds));
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

    int interrupted()
    {
        endWorkers(SIGTERM);
        clearProgress();
        return 128 + int(interruption);
    }

    // Results go out in the documents' order, as each is known.
    void print()
    {
        while (m_printed < m_jobs.size() && m_results[m_printed].finished) {
            const qsizetype index = m_printed++;
            const DocumentResult &result = m_results[index];
            const QString &document = m_jobs[index].document;
            clearProgress();
            if (result.failed) {
                m_anyFailed = true;
                const QString oneLine = QString(result.error).replace(u'\n', u' ').simplified();
                std::fprintf(m_err, "pagelift-convert: %s\n", encodePath(oneLine).constData());
            }
            if (const QString leftOut = describeLeftOut(document, result.leftOut);
                !leftOut.isEmpty())
                std::fprintf(m_err, "pagelift-convert: %s\n", encodePath(leftOut).constData());
            if (m_options.json) {
                QByteArray object = "{\"document\":" + jsonString(document);
                if (result.failed) {
                    object += ",\"error\":" + jsonString(result.error);
                } else {
                    object +=
                        ",\"pages\":" + QByteArray::number(result.images.size()) + ",\"images\":[";
                    for (qsizetype i = 0; i < result.images.size(); ++i)
                        object += (i ? "," : "") + jsonString(result.images[i]);
                    object += "],\"left_out\":[";
                    for (qsizetype i = 0; i < result.leftOut.size(); ++i)
                        object += (i ? "," : "") + jsonString(result.leftOut[i]);
                    object += "],\"seconds\":" + QByteArray::number(result.seconds, 'f', 3);
                }
                std::fprintf(m_out, "%s}\n", object.constData());
            } else if (result.failed) {
                std::fprintf(m_out, "%s: failed\n", encodePath(document).constData());
            } else {
                const qsizetype pages = result.images.size();
                std::fprintf(m_out, "%s: %lld page%s\n", encodePath(document).constData(),
                             static_cast<long long>(pages), pages == 1 ? "" : "s");
            }
            std::fflush(m_out);
            if (result.failed && m_options.stopOnError) {
                m_stopped = true;
                return;
            }
        }
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
        std::fprintf(m_err, "\r%s\033[K", qPrintable(line));
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

    void summarise()
    {
        qsizetype converted = 0, failed = 0;
        for (qsizetype i = 0; i < m_printed; ++i)
            (m_results[i].failed ? failed : converted)++;
        const QString replaced = m_written.describe();
        for (const QString &line : replaced.split(u'\n', Qt::SkipEmptyParts))
            std::fprintf(m_err, "pagelift-convert: %s\n", encodePath(line).constData());
        std::fprintf(m_err, "pagelift-convert: %lld of %lld documents converted, %d pages, %.1f s",
                     static_cast<long long>(converted), static_cast<long long>(m_jobs.size()),
                     m_pages, m_clock.elapsed() / 1000.0);
        if (failed)
            std::fprintf(m_err, "; %lld failed", static_cast<long long>(failed));
        std::fprintf(m_err, "\n");
    }

    const ConvertOptions &m_options;
    const QList<Job> &m_jobs;
    QString m_program;
    FILE *m_out;
    FILE *m_err;
    std::vector<DocumentResult> m_results;
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
    QElapsedTimer m_clock;
    qint64 m_lastProgress = 0;
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
    const long cores = std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
    const size_t available = size_t(::sysconf(_SC_AVPHYS_PAGES)) * size_t(::sysconf(_SC_PAGESIZE));
    const long fit = long(available / jobMemory(dpi));
    return int(std::max(1L, std::min(cores, fit)));
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

int runConversion(const ConvertOptions &options, const QList<Job> &jobs, const QString &program,
                  FILE *out, FILE *err)
{
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
    if (resolved.jobs <= 0)
        resolved.jobs = defaultJobs(options.dpi);
    return Conversion(resolved, jobs, program, out, err).run();
}
