#include "enginechannel.h"

#include "childprocesses.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <climits>
#include <cstring>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

// While waiting, the GUI thread still handles everything but user input every so
// often, so that closing the main window can end a hung engine; the exporter itself
// decides where user input is handled.
constexpr int kWaitSliceMs = 25;

} // namespace

bool waitForDescriptor(int fd, short events, QDeadlineTimer deadline)
{
    const bool guiThread = QCoreApplication::instance() &&
                           QThread::currentThread() == QCoreApplication::instance()->thread();
    for (;;) {
        const qint64 remaining = deadline.remainingTime();
        if (remaining == 0)
            return false;
        int slice = remaining < 0 ? kWaitSliceMs : int(std::min<qint64>(remaining, kWaitSliceMs));
        if (!guiThread)
            slice = remaining < 0 ? -1 : int(std::min<qint64>(remaining, INT_MAX));
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, slice);
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return true; // let the read or write report the failure
        if (guiThread)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

namespace {

bool waitFor(int fd, short events, QDeadlineTimer deadline)
{
    return waitForDescriptor(fd, events, deadline);
}

// The call socket of an engine; how the engine's process is ended and waited for is
// up to the kind of channel.
class SocketChannel : public EngineChannel
{
public:
    explicit SocketChannel(int socket) : m_socket(socket) {}

    ChannelStatus write(const char *data, size_t size, QDeadlineTimer deadline) override
    {
        while (size > 0) {
            if (m_socket < 0)
                return ChannelStatus::Closed;
            // Try first and wait only when the socket is full: most calls fit at once.
            const ssize_t n = ::send(m_socket, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN) {
                if (!waitFor(m_socket, POLLOUT, deadline))
                    return ChannelStatus::TimedOut;
                continue;
            }
            if (n <= 0)
                return ChannelStatus::Closed;
            data += n;
            size -= size_t(n);
        }
        return ChannelStatus::Ok;
    }

    ChannelStatus read(void *data, size_t size, QDeadlineTimer deadline) override
    {
        int descriptor = -1;
        const ChannelStatus status = readWithDescriptor(data, size, descriptor, deadline);
        if (descriptor >= 0)
            ::close(descriptor);
        return status;
    }

    ChannelStatus readWithDescriptor(void *data, size_t size, int &descriptor,
                                     QDeadlineTimer deadline) override
    {
        descriptor = -1;
        auto *bytes = static_cast<char *>(data);
        while (size > 0) {
            if (m_socket < 0)
                return ChannelStatus::Closed;
            iovec part{bytes, size};
            alignas(cmsghdr) char space[CMSG_SPACE(sizeof(int))];
            msghdr message{};
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = space;
            message.msg_controllen = sizeof space;
            const ssize_t n = ::recvmsg(m_socket, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
            if (n > 0)
                takeDescriptor(message, descriptor);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN) {
                if (!waitFor(m_socket, POLLIN, deadline))
                    return ChannelStatus::TimedOut;
                continue;
            }
            if (n <= 0)
                return ChannelStatus::Closed;
            bytes += n;
            size -= size_t(n);
        }
        return ChannelStatus::Ok;
    }

protected:
    static void takeDescriptor(msghdr &message, int &descriptor)
    {
        for (cmsghdr *header = CMSG_FIRSTHDR(&message); header;
             header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
                continue;
            const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (size_t i = 0; i < count; ++i) {
                int fd;
                std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
                // One descriptor per answer; anything more is not ours to keep.
                if (descriptor < 0)
                    descriptor = fd;
                else
                    ::close(fd);
            }
        }
    }

    void closeSocket()
    {
        if (m_socket >= 0)
            ::close(m_socket);
        m_socket = -1;
    }

private:
    int m_socket; // the engine's standard input and output
};

// An engine this process started, and so reaps.
class ProcessChannel : public SocketChannel
{
public:
    ProcessChannel(pid_t pid, int socket) : SocketChannel(socket), m_pid(pid)
    {
        childprocesses::add(m_pid);
    }

    ~ProcessChannel() override { kill(); }

    qint64 pid() const override { return m_pid; }
    bool isRunning() const override { return m_pid > 0; }

    void finish(QDeadlineTimer deadline) override
    {
        closeSocket();
        if (m_pid <= 0)
            return;
        // A pidfd becomes readable when the process ends, so the wait needs no polling.
        const int pidfd = int(::syscall(SYS_pidfd_open, m_pid, 0));
        if (pidfd >= 0) {
            const bool ended = waitFor(pidfd, POLLIN, deadline);
            ::close(pidfd);
            if (ended) {
                reap();
                return;
            }
        }
        kill();
    }

    void kill() override
    {
        closeSocket();
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        reap();
    }

private:
    void reap()
    {
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        childprocesses::remove(m_pid);
        m_pid = 0;
    }

    pid_t m_pid;
};

// An engine another process forked and reaps. Its pidfd names the process for as long
// as this channel lives, so a signal can never reach a process that took its id.
class AdoptedChannel : public SocketChannel
{
public:
    AdoptedChannel(pid_t pid, int socket, int pidfd, std::shared_ptr<void> keepAlive)
        : SocketChannel(socket), m_pid(pid), m_pidfd(pidfd), m_keepAlive(std::move(keepAlive))
    {
        childprocesses::add(m_pid);
    }

    ~AdoptedChannel() override { kill(); }

    qint64 pid() const override { return m_pid; }

    bool isRunning() const override
    {
        if (m_pidfd < 0)
            return false;
        pollfd p{m_pidfd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 0;
    }

    void finish(QDeadlineTimer deadline) override
    {
        closeSocket();
        if (m_pidfd < 0)
            return;
        if (waitFor(m_pidfd, POLLIN, deadline))
            forget();
        else
            kill();
    }

    void kill() override
    {
        closeSocket();
        if (m_pidfd < 0)
            return;
        ::syscall(SYS_pidfd_send_signal, m_pidfd, SIGKILL, nullptr, 0);
        pollfd p{m_pidfd, POLLIN, 0};
        while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
        }
        forget();
    }

private:
    void forget()
    {
        ::close(m_pidfd);
        m_pidfd = -1;
        childprocesses::remove(m_pid);
        m_keepAlive.reset();
    }

    pid_t m_pid;
    int m_pidfd;
    std::shared_ptr<void> m_keepAlive;
};

} // namespace

std::unique_ptr<EngineChannel> adoptEngine(qint64 pid, int socket, int pidfd,
                                           std::shared_ptr<void> keepAlive)
{
    return std::make_unique<AdoptedChannel>(pid_t(pid), socket, pidfd, std::move(keepAlive));
}

std::unique_ptr<EngineChannel> startEngineProcess(const QString &program,
                                                  const QStringList &arguments)
{
    qint64 pid = 0;
    int socket = -1;
    if (!spawnConnected(program, arguments, pid, socket))
        return nullptr;
    return std::make_unique<ProcessChannel>(pid_t(pid), socket);
}

bool spawnConnected(const QString &program, const QStringList &arguments, qint64 &pidOut,
                    int &socketOut)
{
    if (!QFileInfo(program).isExecutable())
        return false;
    // A socket rather than pipes: writing to an engine that has died then fails
    // with an error instead of a SIGPIPE that would end the program.
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return false;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);

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
    ::close(ends[1]);
    if (failed) {
        ::close(ends[0]);
        return false;
    }
    pidOut = pid;
    socketOut = ends[0];
    return true;
}
