#include "enginechannel.h"

#include "childprocesses.h"
#include "events.h"
#include "socketio.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

// While waiting, the GUI thread handles the window's events every so often. User
// input included: closing the window is user input to the window system, and it must
// end the program at once, whatever the engine is doing.
constexpr int kWaitSliceMs = 25;

} // namespace

bool waitForDescriptor(int fd, short events, QDeadlineTimer deadline)
{
    const bool guiThread = QCoreApplication::instance() &&
                           QThread::currentThread() == QCoreApplication::instance()->thread();
    for (;;) {
        // Polled once more after the deadline: an event handled meanwhile (a dialog
        // the user opened) may have held this wait while the engine answered in time.
        const qint64 remaining = deadline.remainingTime();
        int slice = remaining < 0 ? kWaitSliceMs : int(std::min<qint64>(remaining, kWaitSliceMs));
        if (!guiThread)
            slice = remaining < 0 ? -1 : int(std::min<qint64>(remaining, INT_MAX));
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, slice);
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return true; // let the read or write report the failure
        if (deadline.hasExpired())
            return false;
        if (guiThread)
            events::processPending();
    }
}

namespace {

// The call socket of an engine; how the engine's process is ended and waited for is
// up to the kind of channel.
class SocketChannel : public EngineChannel
{
public:
    explicit SocketChannel(UniqueFd socket) : m_socket(std::move(socket)) {}

    ChannelStatus write(const char *data, size_t size, QDeadlineTimer deadline) override
    {
        return writeWithDescriptor(data, size, -1, deadline);
    }

    ChannelStatus writeWithDescriptor(const char *data, size_t size, int descriptor,
                                      QDeadlineTimer deadline) override
    {
        return transfer(POLLOUT, size, deadline, [&](size_t done) {
            if (descriptor < 0)
                return ::send(m_socket.get(), data + done, size - done,
                              MSG_DONTWAIT | MSG_NOSIGNAL);
            const ssize_t n = engineprotocol::sendWithDescriptors(
                m_socket.get(), data + done, size - done, {&descriptor, 1}, MSG_DONTWAIT);
            if (n > 0)
                descriptor = -1; // it went with these bytes
            return n;
        });
    }

    ChannelStatus read(void *data, size_t size, QDeadlineTimer deadline) override
    {
        UniqueFd unused;
        return readWithDescriptor(data, size, unused, deadline);
    }

    ChannelStatus readWithDescriptor(void *data, size_t size, UniqueFd &descriptor,
                                     QDeadlineTimer deadline) override
    {
        auto *bytes = static_cast<char *>(data);
        std::vector<UniqueFd> received;
        const ChannelStatus status = transfer(POLLIN, size, deadline, [&](size_t done) {
            return engineprotocol::receiveWithDescriptors(m_socket.get(), bytes + done, size - done,
                                                          received, MSG_DONTWAIT);
        });
        // One descriptor per answer; anything more is not ours to keep.
        descriptor = received.empty() ? UniqueFd() : std::move(received.front());
        return status;
    }

protected:
    void closeSocket() { m_socket.reset(); }

private:
    // Moves `size` bytes, `step(done)` trying the rest without blocking; waits for
    // `events` whenever the socket is not ready, until the deadline.
    template <typename Step>
    ChannelStatus transfer(short events, size_t size, QDeadlineTimer deadline, Step step)
    {
        size_t done = 0;
        while (done < size) {
            if (!m_socket)
                return ChannelStatus::Closed;
            const ssize_t n = step(done);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                if (errno == EAGAIN && !waitForDescriptor(m_socket.get(), events, deadline))
                    return ChannelStatus::TimedOut;
                continue;
            }
            if (n <= 0)
                return ChannelStatus::Closed;
            done += size_t(n);
        }
        return ChannelStatus::Ok;
    }

    UniqueFd m_socket; // the engine's standard input and output
};

// An engine this process started, and so reaps.
class ProcessChannel : public SocketChannel
{
public:
    ProcessChannel(pid_t pid, UniqueFd socket) : SocketChannel(std::move(socket)), m_pid(pid)
    {
        childprocesses::add(m_pid);
    }

    ~ProcessChannel() override { kill(); }

    qint64 pid() const override { return m_pid; }
    bool isRunning() const override { return m_pid > 0; }

    void finish(QDeadlineTimer deadline) override
    {
        closeSocket();
        // Signal 0: the engine ends by itself once its socket is closed, else is killed
        // at the deadline.
        end(0, deadline.isForever() ? -1 : int(deadline.remainingTime()));
    }

    void kill() override
    {
        closeSocket();
        end(SIGKILL, 0);
    }

private:
    void end(int signal, int graceMs)
    {
        if (m_pid <= 0)
            return;
        childprocesses::end(m_pid, signal, graceMs);
        m_pid = 0;
    }

    pid_t m_pid;
};

// An engine another process forked and reaps. Its pidfd names the process for as long
// as this channel lives, so a signal can never reach a process that took its id.
class AdoptedChannel : public SocketChannel
{
public:
    AdoptedChannel(pid_t pid, UniqueFd socket, UniqueFd pidfd, std::shared_ptr<void> keepAlive)
        : SocketChannel(std::move(socket)), m_pid(pid), m_pidfd(std::move(pidfd)),
          m_keepAlive(std::move(keepAlive))
    {
        childprocesses::add(m_pid);
    }

    ~AdoptedChannel() override { kill(); }

    qint64 pid() const override { return m_pid; }

    bool isRunning() const override
    {
        if (!m_pidfd)
            return false;
        pollfd p{m_pidfd.get(), POLLIN, 0};
        return ::poll(&p, 1, 0) == 0;
    }

    void finish(QDeadlineTimer deadline) override
    {
        closeSocket();
        if (!m_pidfd)
            return;
        if (waitForDescriptor(m_pidfd.get(), POLLIN, deadline))
            forget();
        else
            kill();
    }

    void kill() override
    {
        closeSocket();
        if (!m_pidfd)
            return;
        ::syscall(SYS_pidfd_send_signal, m_pidfd.get(), SIGKILL, nullptr, 0);
        pollfd p{m_pidfd.get(), POLLIN, 0};
        while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
        }
        forget();
    }

private:
    void forget()
    {
        m_pidfd.reset();
        childprocesses::remove(m_pid);
        m_keepAlive.reset();
    }

    pid_t m_pid;
    UniqueFd m_pidfd;
    std::shared_ptr<void> m_keepAlive;
};

} // namespace

std::unique_ptr<EngineChannel> adoptEngine(qint64 pid, UniqueFd socket, UniqueFd pidfd,
                                           std::shared_ptr<void> keepAlive)
{
    return std::make_unique<AdoptedChannel>(pid_t(pid), std::move(socket), std::move(pidfd),
                                            std::move(keepAlive));
}

std::unique_ptr<EngineChannel> startEngineProcess(const QString &program,
                                                  const QStringList &arguments)
{
    qint64 pid = 0;
    UniqueFd socket;
    if (!spawnConnected(program, arguments, pid, socket))
        return nullptr;
    return std::make_unique<ProcessChannel>(pid_t(pid), std::move(socket));
}

bool spawnConnected(const QString &program, const QStringList &arguments, qint64 &pidOut,
                    UniqueFd &socketOut)
{
    if (!QFileInfo(program).isExecutable())
        return false;
    // A socket rather than pipes: writing to an engine that has died then fails
    // with an error instead of a SIGPIPE that would end the program.
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    UniqueFd ours(ends[0]);
    const UniqueFd theirs(ends[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, theirs.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, theirs.get(), STDOUT_FILENO);

    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> storage{path};
    for (const QString &argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int failed =
        ::posix_spawn(&pid, path.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed)
        return false;
    pidOut = pid;
    socketOut = std::move(ours);
    return true;
}
