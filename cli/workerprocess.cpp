#include "workerprocess.h"

#include "childprocesses.h"
#include "enginechannel.h"
#include "socketio.h"
#include "workerprotocol.h"

#include <cerrno>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// Beyond the document's time limit, for the worker to report it itself.
constexpr qint64 kDeadlineGraceMs = 5000;

} // namespace

std::unique_ptr<WorkerProcess> WorkerProcess::start(const QString &program,
                                                    const QStringList &arguments)
{
    qint64 pid = 0;
    UniqueFd socket;
    if (!spawnConnected(program, arguments, pid, socket))
        return nullptr;
    childprocesses::add(pid);
    return std::unique_ptr<WorkerProcess>(new WorkerProcess(pid, std::move(socket)));
}

WorkerProcess::~WorkerProcess()
{
    end(SIGTERM);
}

bool WorkerProcess::send(const QByteArray &lines)
{
    return engineprotocol::writeFully(m_socket.get(), lines.toStdString());
}

std::optional<std::vector<QList<QByteArray>>> WorkerProcess::read()
{
    std::vector<QList<QByteArray>> lines;
    char chunk[65536];
    const ssize_t n = ::read(m_socket.get(), chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return lines;
    if (n <= 0)
        return std::nullopt;
    m_buffer.append(chunk, qsizetype(n));
    qsizetype end;
    while ((end = m_buffer.indexOf('\n')) >= 0) {
        lines.push_back(workerprotocol::fields(m_buffer.left(end)));
        m_buffer.remove(0, end + 1);
    }
    return lines;
}

void WorkerProcess::beginDocument()
{
    m_document.start();
    m_progress.start();
}

void WorkerProcess::wroteImage()
{
    m_progress.start();
}

bool WorkerProcess::missedDeadline(int timeoutSeconds) const
{
    return m_progress.isValid() &&
           m_progress.elapsed() > qint64(timeoutSeconds) * 1000 + kDeadlineGraceMs;
}

void WorkerProcess::end(int signal)
{
    m_socket.reset();
    childprocesses::end(m_pid, signal, kEndGraceMs);
    m_pid = 0;
}

void WorkerProcess::adoptDescendants()
{
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

void WorkerProcess::reapEndedDescendants()
{
    childprocesses::reapEndedDescendants();
}

void WorkerProcess::endDescendants()
{
    childprocesses::endAndReapDescendants(kEndGraceMs);
}
