#pragma once

// Whole reads and writes on descriptors, and descriptors passed along with bytes on
// Unix sockets: the plumbing under the engine's calls and the launcher's orders, for
// both sides. No Qt. Interrupted calls are retried; SIGPIPE is never raised.

#include "uniquefd.h"
#include "wireformat.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <sys/uio.h>
#include <vector>

namespace engineprotocol {

// Reads exactly `size` bytes. False at the end of the input or on an error.
bool readFully(int fd, void *data, size_t size);
// Writes every part in order. False when the other end has gone or on an error.
bool writeFully(int fd, std::span<iovec> parts);
bool writeFully(int fd, std::string_view data);

// One send of `size` bytes with `fds` attached (at most two). Returns the number of
// bytes sent, or -1. The descriptors travel with the first bytes; a caller whose send
// came up short writes the rest as usual.
ssize_t sendWithDescriptors(int socket, const void *data, size_t size, std::span<const int> fds,
                            int flags = 0);
// Writes all of `data`, with `fd` (when not negative) along with its first bytes.
bool writeWithDescriptor(int socket, std::string_view data, int fd);

// The document at `path` opened for an engine to read through the descriptor: a
// regular file, or a folder (which the engine refuses as one). Nothing for a path
// that cannot be opened or names anything else (a named pipe would block, a device
// could act on being opened): the engine then tells by the path what it is.
UniqueFd openDocument(const std::string &path);
// One receive into `data`; descriptors that came along (close-on-exec) are appended
// to `fds`. `flags` as for recvmsg (MSG_DONTWAIT for a socket that must not block).
// Returns the number of bytes received, 0 at the end, or -1 with errno set.
ssize_t receiveWithDescriptors(int socket, void *data, size_t size, std::vector<UniqueFd> &fds,
                               int flags = 0);

// Reads one whole frame into `frame`, its length included. False when the input ends
// first or the frame would be longer than `maxSize` bytes in all.
bool readFrame(int fd, std::string &frame, size_t maxSize);

enum class ReadResult
{
    Ok,
    Ended,     // the other side closed its end
    Malformed, // too long, cut short or not a request
};
// Requests read from a descriptor as they come, as many at once as have arrived: a
// client that writes a hundred calls in one go costs one read rather than two hundred.
// Descriptors sent along with them (a document's, with its Open call) are kept in the
// order they came.
class RequestReader
{
public:
    explicit RequestReader(int fd) : m_fd(fd) {}
    // The next request, waiting for it if none has arrived yet.
    ReadResult next(Request &request);
    // The same request next() gives next, which stays to be taken.
    ReadResult peek(Request &request);
    // Whether another whole request has already arrived, so that next() will not wait.
    bool holdsWhole() const;
    // The oldest descriptor received and not taken yet; empty when there is none.
    UniqueFd takeDescriptor();
    // The same descriptor, left to be taken; -1 when there is none.
    int descriptorAhead() const { return m_descriptors.empty() ? -1 : m_descriptors.front().get(); }

private:
    ReadResult take(Request &request, bool consume);
    ssize_t receive(char *data, size_t size);

    int m_fd;
    bool m_socket = true; // until a receive finds a pipe
    std::string m_buffer;
    size_t m_start = 0; // where the next request begins in m_buffer
    std::deque<UniqueFd> m_descriptors;
};

// The launcher's answer to one order: the engine's process id with the engine's end of
// its call socket and a pidfd of it, or a failed fork (pid -1, no descriptors).
bool sendLaunchedEngine(int control, int32_t pid, int socket, int pidfd);
struct LaunchedEngine
{
    int32_t pid = -1;
    UniqueFd socket;
    UniqueFd pidfd;
};
// Receives one answer; false (and `engine` left empty) when the launcher has gone or
// answered a failed fork.
bool receiveLaunchedEngine(int control, LaunchedEngine &engine);

} // namespace engineprotocol
