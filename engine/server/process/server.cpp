#include "server.h"

#include "filekind.h"
#include "memorywatch.h"
#include "office.h"
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

// What follows a reply's header: its pixels when they travel in the socket, or else
// its explanation.
std::string_view replyBody(const EngineSession::Reply &reply)
{
    if (reply.pixels && !reply.pixels->empty())
        return {reinterpret_cast<const char *>(reply.pixels->data()), reply.pixels->size()};
    return reply.detail;
}

std::string replyHead(const EngineSession::Reply &reply)
{
    ReplyHeader header = reply.header;
    header.extra = uint32_t(replyBody(reply).size());
    return encodeReplyHeader(header);
}

bool sendReply(int fd, const EngineSession::Reply &reply)
{
    if (reply.pixels && reply.pixels->descriptor() >= 0)
        return sendSharedReply(fd, reply);
    std::string head = replyHead(reply);
    const std::string_view body = replyBody(reply);
    iovec parts[2] = {
        {head.data(), head.size()},
        {const_cast<char *>(body.data()), body.size()},
    };
    return writeFully(fd, parts);
}

} // namespace

int serveCalls(RequestReader &reader, int replies, EngineSession *session,
               const std::string &startError, size_t memoryLimitBytes)
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
    // Small replies wait while further requests are already in hand, and go out
    // together before the engine handles the last of them: the hundred selection calls
    // a client writes in one go are answered in one write, and a call that fails or
    // brings the engine down still finds every earlier call answered.
    std::string held;
    const auto send = [&](const EngineSession::Reply *reply) {
        std::lock_guard lock(sending);
        if (!held.empty() && !writeFully(replies, std::exchange(held, {})))
            return false;
        return !reply || sendReply(replies, *reply);
    };
    for (;;) {
        Request request;
        const ReadResult read = reader.next(request);
        if (read == ReadResult::Ended)
            return 0; // the client has gone
        if (read == ReadResult::Malformed)
            return 2;
        const bool more = reader.holdsWhole();
        if (!more && !send(nullptr))
            return 0;

        // A document sent along is taken by its Open call, whatever else happens to it.
        UniqueFd document;
        if (request.call == Call::Open && (request.b & kDocumentAttached))
            document = reader.takeDescriptor();
        EngineSession::Reply reply;
        if (session) {
            reply = session->handle(request, std::move(document));
        } else {
            reply.header.refusal = Refusal::EngineFailure;
            reply.detail = startError;
        }
        const bool small = !reply.pixels && reply.detail.size() < 4096;
        if (more && small && request.call != Call::Quit) {
            held += replyHead(reply);
            held += replyBody(reply);
        } else if (!send(&reply)) {
            return 0;
        }
        if (request.call == Call::Quit)
            return 0;
        if (session && reply.header.refusal == Refusal::None)
            session->afterReply(request);
    }
}

namespace {

EngineSession::Reuse reuseOf(int documents, size_t memoryLimitBytes)
{
    return {documents, EngineSession::reuseResidentBytes(memoryLimitBytes), residentBytes};
}

} // namespace

std::unique_ptr<EngineSession> startSession(EngineOffice *office, const std::string &warmUpDocument,
                                            int documents, size_t memoryLimitBytes)
{
    if (!office)
        return nullptr;
    auto session = std::make_unique<EngineSession>(office, reuseOf(documents, memoryLimitBytes));
    if (!warmUpDocument.empty())
        session->warmUp(warmUpDocument);
    return session;
}

bool opensPdf(const Request &first, int document)
{
    return first.call == Call::Open && (first.b & kDocumentAttached) && isPdfFile(document);
}

std::unique_ptr<EngineSession> startPdfSession(size_t memoryLimitBytes)
{
    return std::make_unique<EngineSession>(nullptr, reuseOf(1, memoryLimitBytes));
}
