#pragma once

#include "pagebuffers.h"
#include "uniquefd.h"

#include <QDeadlineTimer>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <memory>
#include <string>

// How a transfer with the engine ended.
enum class ChannelStatus
{
    Ok,
    Closed,   // the engine closed its end: it has ended
    TimedOut, // the deadline passed first
};

// A running engine process and the connection to its standard input and output. The
// client talks through this interface only, so engines can be started in other ways
// (for example forked from a launcher) without the client changing.
class EngineChannel
{
public:
    virtual ~EngineChannel() = default;

    virtual qint64 pid() const = 0;
    virtual ChannelStatus write(const char *data, size_t size, QDeadlineTimer deadline) = 0;
    // As write(), with `descriptor` sent along with the first bytes (a document for the
    // engine to read).
    virtual ChannelStatus writeWithDescriptor(const char *data, size_t size, int descriptor,
                                              QDeadlineTimer deadline) = 0;
    // Reads exactly `size` bytes into `data`.
    virtual ChannelStatus read(void *data, size_t size, QDeadlineTimer deadline) = 0;
    // As read(), and takes over a descriptor that the engine sent along with these
    // bytes: `descriptor` holds it, or nothing when none came.
    virtual ChannelStatus readWithDescriptor(void *data, size_t size, UniqueFd &descriptor,
                                             QDeadlineTimer deadline) = 0;
    // Waits for the engine to end by itself until the deadline, then kills it. Either
    // way the process is gone when this returns.
    virtual void finish(QDeadlineTimer deadline) = 0;
    // Kills the engine at once and waits for it to be gone.
    virtual void kill() = 0;
    virtual bool isRunning() const = 0;

    // The frame of the Open call sent before the engine was handed over (the next
    // document of a run, opened ahead); its answer is still to be read. Empty when
    // none was.
    const std::string &openedAhead() const { return m_openedAhead; }
    void setOpenedAhead(std::string frame) { m_openedAhead = std::move(frame); }

    // The pictures of this engine's cuts, kept for the documents it serves.
    const std::shared_ptr<PageBuffers> &pageBuffers() const { return m_pageBuffers; }

private:
    std::string m_openedAhead;
    std::shared_ptr<PageBuffers> m_pageBuffers = std::make_shared<PageBuffers>();
};

// Starts `program` with `arguments`, its standard input and output connected to a
// socket of this process. The process is registered
// with childprocesses until it has ended. Returns null when it cannot be started.
std::unique_ptr<EngineChannel> startEngineProcess(const QString &program,
                                                  const QStringList &arguments = {});

// Starts `program` as startEngineProcess does, but hands back the bare process id and
// this side's socket (close-on-exec). The caller registers, supervises and reaps it.
bool spawnConnected(const QString &program, const QStringList &arguments, qint64 &pid,
                    UniqueFd &socket);

// Takes over an engine that another process (a launcher) forked: `socket` is its call
// socket and `pidfd` refers to its process. The engine is
// registered with childprocesses until it has ended; `keepAlive` is held as long as
// the engine may run, since engines die with the process that forked them.
std::unique_ptr<EngineChannel> adoptEngine(qint64 pid, UniqueFd socket, UniqueFd pidfd,
                                           std::shared_ptr<void> keepAlive);

// Waits for `events` on `fd` until the deadline; on the GUI thread, the window's
// events are handled meanwhile (closing the window ends the program at once). False
// on time-out.
bool waitForDescriptor(int fd, short events, QDeadlineTimer deadline);
