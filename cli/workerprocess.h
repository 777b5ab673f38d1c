#pragma once

#include "uniquefd.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

// One worker of pagelift-convert: this program started again with --worker, which
// reads its orders from a socket and writes its reports there (workerprotocol.h). It
// is registered with childprocesses from its start until it is ended and reaped.
//
// A worker enforces each document's time limit itself; should it write no image for
// that long and a grace beyond, the worker has hung and is to be ended.
class WorkerProcess
{
public:
    // For a worker told to end, before it is killed.
    static constexpr int kEndGraceMs = 2000;

    // Starts `program` with `arguments`. Null when it could not be started, with errno
    // set by the attempt.
    static std::unique_ptr<WorkerProcess> start(const QString &program,
                                                const QStringList &arguments);
    // A worker still running is ended (SIGTERM).
    ~WorkerProcess();
    WorkerProcess(const WorkerProcess &) = delete;
    WorkerProcess &operator=(const WorkerProcess &) = delete;

    // Whether end() has ended it.
    bool ended() const { return m_pid == 0; }
    // What to poll for the worker's reports; -1 once it is ended.
    int descriptor() const { return m_socket.get(); }
    // Writes `lines` to the worker; false when it takes no more.
    bool send(const QByteArray &lines);
    // Reads what the worker wrote: the fields of each line it completed, in order (none
    // while a line is incomplete). Nothing when the worker has gone.
    std::optional<std::vector<QList<QByteArray>>> read();

    // The document in progress began: its time, and its deadline, count from now.
    void beginDocument();
    // The document in progress wrote an image: its deadline counts from now.
    void wroteImage();
    // Whether the document in progress has written no image for `timeoutSeconds`, the
    // documents' time limit, and the grace beyond it.
    bool missedDeadline(int timeoutSeconds) const;
    // Seconds since the document in progress began.
    double documentSeconds() const { return m_document.elapsed() / 1000.0; }

    // Closes the worker's input, which a worker with nothing left to do ends on.
    void closeInput() { m_socket.reset(); }
    // Closes its input, sends it `signal` (0: none) and waits up to kEndGraceMs for it
    // to end; then kills it, and reaps it.
    void end(int signal);

    // Launchers and engines whose worker ended are this program's to reap: it makes
    // itself their subreaper, reaps those that ended from time to time, and at the end
    // of the run waits for the rest, killing those still there after kEndGraceMs.
    static void adoptDescendants();
    static void reapEndedDescendants();
    static void endDescendants();

private:
    WorkerProcess(qint64 pid, UniqueFd socket) : m_pid(pid), m_socket(std::move(socket)) {}

    qint64 m_pid = 0;
    UniqueFd m_socket;
    QByteArray m_buffer;      // what the worker wrote of a line not yet complete
    QElapsedTimer m_document; // since the document in progress began
    QElapsedTimer m_progress; // since it last wrote an image, or began
};
