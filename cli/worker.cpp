#include "worker.h"

#include "childprocesses.h"
#include "enginepool.h"
#include "error.h"
#include "filereplace.h"
#include "mousepointer.h"
#include "pageexporter.h"
#include "pagememory.h"
#include "picturebox.h"
#include "workerprotocol.h"

#include <QApplication>
#include <QClipboard>
#include <QSlider>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <deque>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// No window, so no pointer to show.
class NoPointer : public PointerOwner
{
public:
    MousePointer mousePointer() const override { return m_pointer; }
    void setMousePointer(MousePointer pointer) override { m_pointer = pointer; }

private:
    MousePointer m_pointer = MousePointer::Arrow;
};

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

    // The page path is the window's, widgets and clipboard included, drawn offscreen.
    // Qt's notes about the desktop it runs without are no news to the user.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "pagelift-convert: %s\n", qPrintable(text));
    });
    QApplication app(argc, argv);

    auto pool = std::make_shared<EnginePool>(
        settings.engineFolder, settings.callTimeoutMs, settings.memoryLimitBytes, settings.spares,
        EnginePool::kDefaultDocumentsPerEngine, settings.sandbox);
    const WordFactory createWord =
        pooledEngineFactory(pool, {settings.callTimeoutMs, settings.dpi});
    PictureBox canvas;
    QSlider quality(Qt::Horizontal);
    quality.setRange(1, 100);
    quality.setValue(settings.quality);
    NoPointer pointer;
    BusyPointer busy(pointer);

    JobQueue queue;
    while (queue.fill(true)) {
        queue.fill(false);
        const Job job = queue.jobs().front();
        queue.jobs().pop_front();
        // The documents sent after it are opened ahead while it is converted.
        QStringList expected{job.document};
        for (const Job &next : queue.jobs())
            expected << next.document;
        pool->expect(expected, settings.dpi);

        ExportHost host;
        host.canvas = &canvas;
        host.quality = &quality;
        host.busy = &busy;
        host.clipboard = QGuiApplication::clipboard();
        host.outputPath = job.outputPath;
        int pages = 0;
        host.imageWritten = [&](const QString &image) {
            ++pages;
            report({"image", job.index, workerprotocol::text(image)});
        };
        host.leftOut = [&](const QStringList &links) {
            for (const QString &link : links)
                report({"leftout", job.index, workerprotocol::text(link)});
        };
        try {
            exportPages(job.document, createWord, host);
            report({"done", job.index, QByteArray::number(pages)});
        } catch (const Error &error) {
            report({"failed", job.index, workerprotocol::text(error.message())});
        } catch (const std::exception &error) {
            report(
                {"failed", job.index, workerprotocol::text(QString::fromLocal8Bit(error.what()))});
        }
    }
    pool->expect({});
    return 0;
}
