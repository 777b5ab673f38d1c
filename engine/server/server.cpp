#include "server.h"

#include "memorywatch.h"
#include "session.h"
#include "socketio.h"

#include <mutex>
#include <string>
#include <unistd.h>

using namespace engineprotocol;

namespace {

// Pixels in shared memory go as its descriptor, along with the reply's header.
bool sendSharedReply(int fd, const EngineSession::Reply &reply)
{
    ReplyHeader header = reply.header;
    header.extra = 0;
    const std::string head = encodeReplyHeader(header);
    const int descriptor = reply.pixels->descriptor();
    const ssize_t n = sendWithDescriptors(fd, head.data(), head.size(), {&descriptor, 1});
    if (n <= 0)
        return false;
    // The descriptor went with the first bytes; the rest of a short send follows.
    return writeFully(fd, std::string_view(head).substr(size_t(n)));
}

bool sendReply(int fd, const EngineSession::Reply &reply)
{
    if (reply.pixels && reply.pixels->descriptor() >= 0)
        return sendSharedReply(fd, reply);
    ReplyHeader header = reply.header;
    const bool hasPixels = reply.pixels && !reply.pixels->empty();
    header.extra = uint32_t(hasPixels ? reply.pixels->size() : reply.detail.size());
    std::string head = encodeReplyHeader(header);
    iovec parts[2] = {
        {head.data(), head.size()},
        {hasPixels ? static_cast<void *>(const_cast<uint8_t *>(reply.pixels->data()))
                   : static_cast<void *>(const_cast<char *>(reply.detail.data())),
         header.extra},
    };
    return writeFully(fd, parts);
}

} // namespace

int serveCalls(int requests, int replies, EngineSession *session, const std::string &startError,
               size_t memoryLimitBytes)
{
    // Replies go out whole, one at a time: the memory watch may answer in the middle
    // of a call, from its own thread (which outlives this function until _exit).
    static std::mutex sending;
    watchMemory(memoryLimitBytes, [replies] {
        sending.lock(); // held until the process has ended
        EngineSession::Reply reply;
        reply.header.refusal = Refusal::TooMuchMemory;
        sendReply(replies, reply);
        ::_exit(kExitTooMuchMemory);
    });
    for (;;) {
        Request request;
        const ReadResult read = readRequest(requests, request);
        if (read == ReadResult::Ended)
            return 0; // the client has gone
        if (read == ReadResult::Malformed)
            return 2;

        EngineSession::Reply reply;
        if (session) {
            reply = session->handle(request);
        } else {
            reply.header.refusal = Refusal::EngineFailure;
            reply.detail = startError;
        }
        std::unique_lock lock(sending);
        if (!sendReply(replies, reply))
            return 0;
        lock.unlock();
        if (request.call == Call::Quit)
            return 0;
        if (session && reply.header.refusal == Refusal::None)
            session->afterReply(request);
    }
}
