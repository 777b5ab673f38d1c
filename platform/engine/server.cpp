#include "server.h"

#include "engineprotocol.h"
#include "session.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

bool writeFully(int fd, iovec *parts, int count)
{
    while (count > 0) {
        const ssize_t n = ::writev(fd, parts, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        size_t written = size_t(n);
        while (count > 0 && written >= parts->iov_len) {
            written -= parts->iov_len;
            ++parts;
            --count;
        }
        if (count > 0) {
            parts->iov_base = static_cast<char *>(parts->iov_base) + written;
            parts->iov_len -= written;
        }
    }
    return true;
}

// Pixels in shared memory go as its descriptor, along with the reply's header.
bool sendSharedReply(int fd, const EngineSession::Reply &reply)
{
    engineprotocol::ReplyHeader header = reply.header;
    header.extra = 0;
    std::string head = engineprotocol::encodeReplyHeader(header);
    const int descriptor = reply.pixels.descriptor();
    const ssize_t n =
        engineprotocol::sendWithDescriptors(fd, head.data(), head.size(), &descriptor, 1);
    if (n <= 0)
        return false;
    // The descriptor went with the first bytes; the rest of a short send follows.
    iovec rest{head.data() + n, head.size() - size_t(n)};
    return writeFully(fd, &rest, 1);
}

bool sendReply(int fd, const EngineSession::Reply &reply)
{
    if (reply.pixels.descriptor() >= 0)
        return sendSharedReply(fd, reply);
    engineprotocol::ReplyHeader header = reply.header;
    const bool hasPixels = !reply.pixels.empty();
    header.extra = uint32_t(hasPixels ? reply.pixels.size() : reply.detail.size());
    std::string head = engineprotocol::encodeReplyHeader(header);
    iovec parts[2] = {
        {head.data(), head.size()},
        {hasPixels ? static_cast<void *>(const_cast<uint8_t *>(reply.pixels.data()))
                   : static_cast<void *>(const_cast<char *>(reply.detail.data())),
         header.extra},
    };
    return writeFully(fd, parts, 2);
}

} // namespace

int serveCalls(int requests, int replies, EngineSession *session, const std::string &startError)
{
    for (;;) {
        char length[4];
        if (!engineprotocol::readFully(requests, length, 4))
            return 0; // the client has gone
        uint32_t size;
        std::memcpy(&size, length, 4);
        if (size > engineprotocol::kMaxRequestSize)
            return 2;
        std::string payload(size, '\0');
        engineprotocol::Request request;
        if (!engineprotocol::readFully(requests, payload.data(), size) ||
            !engineprotocol::decodeRequest(payload, request))
            return 2;

        EngineSession::Reply reply;
        if (session) {
            reply = session->handle(request);
        } else {
            reply.header.refusal = engineprotocol::Refusal::EngineFailure;
            reply.detail = startError;
        }
        if (!sendReply(replies, reply))
            return 0;
        if (request.call == engineprotocol::Call::Quit)
            return 0;
        if (session && reply.header.refusal == engineprotocol::Refusal::None)
            session->afterReply(request);
    }
}
