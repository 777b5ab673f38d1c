#include "socketio.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace engineprotocol {

bool readFully(int fd, void *data, size_t size)
{
    auto *bytes = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= size_t(n);
    }
    return true;
}

bool writeFully(int fd, std::span<iovec> parts)
{
    while (!parts.empty()) {
        if (parts.front().iov_len == 0) {
            parts = parts.subspan(1);
            continue;
        }
        msghdr message{};
        message.msg_iov = parts.data();
        message.msg_iovlen = parts.size();
        ssize_t n = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK)
            n = ::writev(fd, parts.data(), int(parts.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        size_t written = size_t(n);
        while (!parts.empty() && written >= parts.front().iov_len) {
            written -= parts.front().iov_len;
            parts = parts.subspan(1);
        }
        if (!parts.empty()) {
            parts.front().iov_base = static_cast<char *>(parts.front().iov_base) + written;
            parts.front().iov_len -= written;
        }
    }
    return true;
}

bool writeFully(int fd, std::string_view data)
{
    iovec part{const_cast<char *>(data.data()), data.size()};
    return writeFully(fd, std::span<iovec>(&part, 1));
}

ssize_t sendWithDescriptors(int socket, const void *data, size_t size, std::span<const int> fds,
                            int flags)
{
    constexpr size_t kMaxDescriptors = 2;
    if (fds.size() > kMaxDescriptors)
        return -1;
    iovec part{const_cast<void *>(data), size};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char space[CMSG_SPACE(kMaxDescriptors * sizeof(int))];
    if (!fds.empty()) {
        message.msg_control = space;
        message.msg_controllen = CMSG_SPACE(fds.size_bytes());
        cmsghdr *header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(fds.size_bytes());
        std::memcpy(CMSG_DATA(header), fds.data(), fds.size_bytes());
    }
    for (;;) {
        const ssize_t n = ::sendmsg(socket, &message, MSG_NOSIGNAL | flags);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

ssize_t receiveWithDescriptors(int socket, void *data, size_t size, std::vector<UniqueFd> &fds,
                               int flags)
{
    iovec part{data, size};
    alignas(cmsghdr) char space[CMSG_SPACE(4 * sizeof(int))];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = space;
    message.msg_controllen = sizeof space;
    ssize_t n;
    do {
        n = ::recvmsg(socket, &message, flags | MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        return n;
    for (cmsghdr *header = CMSG_FIRSTHDR(&message); header;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
            fds.emplace_back(fd);
        }
    }
    return n;
}

bool writeWithDescriptor(int socket, std::string_view data, int fd)
{
    if (fd < 0)
        return writeFully(socket, data);
    const ssize_t n = sendWithDescriptors(socket, data.data(), data.size(), {&fd, 1});
    return n > 0 && writeFully(socket, data.substr(size_t(n)));
}

UniqueFd openDocument(const std::string &path)
{
    struct stat info = {};
    if (::stat(path.c_str(), &info) != 0 || !(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)))
        return {};
    UniqueFd document(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    // What was checked may have been replaced meanwhile.
    if (!document || ::fstat(document.get(), &info) != 0 ||
        !(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)))
        return {};
    return document;
}

bool readFrame(int fd, std::string &frame, size_t maxSize)
{
    frame.assign(4, '\0');
    if (!readFully(fd, frame.data(), 4))
        return false;
    const size_t size = detail::get32(frame.data());
    if (size > maxSize - 4)
        return false;
    frame.resize(4 + size);
    return readFully(fd, frame.data() + 4, size);
}

ReadResult RequestReader::next(Request &request)
{
    return take(request, true);
}

ReadResult RequestReader::peek(Request &request)
{
    return take(request, false);
}

UniqueFd RequestReader::takeDescriptor()
{
    if (m_descriptors.empty())
        return {};
    UniqueFd descriptor = std::move(m_descriptors.front());
    m_descriptors.pop_front();
    return descriptor;
}

ReadResult RequestReader::take(Request &request, bool consume)
{
    for (;;) {
        const size_t held = m_buffer.size() - m_start;
        if (held >= 4) {
            const uint32_t size = detail::get32(m_buffer.data() + m_start);
            if (size > kMaxRequestSize)
                return ReadResult::Malformed;
            if (held >= 4 + size_t(size)) {
                const std::string_view payload(m_buffer.data() + m_start + 4, size);
                if (consume)
                    m_start += 4 + size_t(size);
                return decodeRequest(payload, request) ? ReadResult::Ok : ReadResult::Malformed;
            }
        }
        // The part of a request already read moves to the front; the rest is read
        // after it, with whatever follows.
        m_buffer.erase(0, m_start);
        m_start = 0;
        constexpr size_t kChunk = 64 * 1024;
        const size_t had = m_buffer.size();
        m_buffer.resize(had + kChunk);
        const ssize_t n = receive(m_buffer.data() + had, kChunk);
        m_buffer.resize(had + size_t(std::max<ssize_t>(n, 0)));
        if (n <= 0)
            return had < 4 ? ReadResult::Ended : ReadResult::Malformed;
    }
}

ssize_t RequestReader::receive(char *data, size_t size)
{
    // Documents come as descriptors along with their Open calls, on a socket; a pipe
    // carries calls alone.
    if (m_socket) {
        std::vector<UniqueFd> fds;
        const ssize_t n = receiveWithDescriptors(m_fd, data, size, fds);
        for (UniqueFd &fd : fds)
            m_descriptors.push_back(std::move(fd));
        if (n >= 0 || errno != ENOTSOCK)
            return n;
        m_socket = false;
    }
    ssize_t n;
    do {
        n = ::read(m_fd, data, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool RequestReader::holdsWhole() const
{
    const size_t held = m_buffer.size() - m_start;
    return held >= 4 && held >= 4 + size_t(detail::get32(m_buffer.data() + m_start));
}

bool sendLaunchedEngine(int control, int32_t pid, int socket, int pidfd)
{
    const int fds[2] = {socket, pidfd};
    const std::span<const int> attached(fds, pid > 0 ? 2 : 0);
    return sendWithDescriptors(control, &pid, sizeof pid, attached) == ssize_t(sizeof pid);
}

bool receiveLaunchedEngine(int control, LaunchedEngine &engine)
{
    int32_t pid = 0;
    std::vector<UniqueFd> fds;
    const ssize_t n = receiveWithDescriptors(control, &pid, sizeof pid, fds);
    if (n != ssize_t(sizeof pid) || pid <= 0 || fds.size() != 2)
        return false;
    engine.pid = pid;
    engine.socket = std::move(fds[0]);
    engine.pidfd = std::move(fds[1]);
    return true;
}

} // namespace engineprotocol
