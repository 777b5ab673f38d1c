// A stand-in for pagelift-engine that speaks its protocol without an office. The
// "document" it opens is a script of plain lines that says what the fake is and does:
//
//   pages N            the document has N pages (default 1)
//   size W H           every page is W x H pixels (default 8 x 6)
//   crash CALL [K]     exit without answering the K-th (default first) CALL
//   hang CALL [K]      stop answering at the K-th CALL
//   refuse CALL R TEXT refuse every CALL with refusal number R and the detail TEXT
//   garble CALL        answer CALL with a frame whose length is wrong
//   log PATH           append every call with its arguments to PATH (an Open that
//                      prints some pages only, with "printing" and those pages)
//   drawn PATH         append each page (from 1) that a cut draws to PATH, a line each
//   shared [short]     send a cut's pixels in shared memory (short: one row too few)
//   grow MB            take MB megabytes of memory while opening, a megabyte at a time
//   state              the document leaves state of its own behind: its engine ends
//
// With --documents N a fake serves up to N documents, as the real engine does: it
// answers Close with kServesAnother while fewer than N were opened, none of them left
// state behind and no call was refused; logged calls then follow one another in the
// same log for as long as the fake lives, each Open preceded by "engine PID".
//
// CALL is one of open, repaginate, property, goto, moveup, endkey, cut, close, quit,
// drawing. The Drawing call is honoured as the engine honours it: a cut of pages none of
// which is chosen draws nothing and answers with no picture; a box fits each page's
// W x H into it, and grey pages have their grey, (x + y + p) % 256, in every colour.
//
// With --launcher it stands in for the engine's launcher: it forks fakes on order, as
// the real one does, and a fake ordered warm (or any, with --documents above 1) writes
// "warmed" before its first logged call; an order with a call ahead puts that call in the fake's
// socket before the fork. FAKE_LAUNCHER in the environment makes it misbehave: "exit" ends it
// before it answers anything, "refuse" answers every order with a failed fork. Pixel (x, y) of
// original page p (from 0) is B = p, G = x % 256, R = y % 256, A = 255, so a test can tell which
// page it sees and that no row is shifted.
//
// With --sandbox-check it answers as the real engine's check does, without entering any
// sandbox: complete, or, with FAKE_SANDBOX_MISSING in the environment, incomplete for
// that reason.

#include "memorywatch.h"
#include "pagechoice.h"
#include "remainingpages.h"
#include "socketio.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace engineprotocol;

namespace {

size_t memoryLimitBytes = 0;
int documentsPerEngine = 1;

struct Script
{
    int pages = 1;
    int width = 8;
    int height = 6;
    std::map<std::string, int> crash; // call -> which occurrence
    std::map<std::string, int> hang;
    std::map<std::string, std::pair<int, std::string>> refuse;
    std::map<std::string, bool> garble;
    std::string log;
    std::string drawn;
    bool shared = false;
    bool sharedShort = false;
    int growMegabytes = 0;
    bool leavesState = false;
};

const char *callName(Call call)
{
    switch (call) {
    case Call::Open:
        return "open";
    case Call::Repaginate:
        return "repaginate";
    case Call::Property:
        return "property";
    case Call::GoTo:
        return "goto";
    case Call::MoveUp:
        return "moveup";
    case Call::EndKey:
        return "endkey";
    case Call::Cut:
        return "cut";
    case Call::Close:
        return "close";
    case Call::Quit:
        return "quit";
    case Call::Drawing:
        return "drawing";
    }
    return "unknown";
}

// Sends on standard output; the fake ends when its client has gone.
void send(std::string_view bytes)
{
    if (!writeFully(STDOUT_FILENO, bytes))
        ::_exit(0);
}

// Replies go out whole: the memory watch may answer from its own thread, as the real
// engine's does.
std::mutex sending;

void reply(ReplyHeader header, const void *extra, size_t size)
{
    const std::lock_guard lock(sending);
    header.extra = uint32_t(size);
    send(encodeReplyHeader(header));
    send(std::string_view(static_cast<const char *>(extra), size));
}

// The pixels in a shared memory file whose descriptor goes with the header, as the
// real engine sends them; `missing` bytes short when told to get it wrong.
void replyShared(ReplyHeader header, const std::vector<uint8_t> &pixels, size_t missing)
{
    const std::lock_guard lock(sending);
    header.extra = 0;
    const int memory = ::memfd_create("fake-page", MFD_CLOEXEC);
    const size_t size = pixels.size() - missing;
    if (memory < 0 || ::write(memory, pixels.data(), size) != ssize_t(size))
        ::_exit(4);
    const std::string head = encodeReplyHeader(header);
    if (sendWithDescriptors(STDOUT_FILENO, head.data(), head.size(), {&memory, 1}) !=
        ssize_t(head.size()))
        ::_exit(0);
    ::close(memory);
}

void refuse(Refusal refusal, const std::string &detail)
{
    ReplyHeader header;
    header.refusal = refusal;
    reply(header, detail.data(), detail.size());
}

std::optional<Script> readScript(const std::string &path)
{
    std::ifstream in(path);
    if (!in)
        return std::nullopt;
    Script script;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string verb, call;
        words >> verb;
        if (verb == "pages") {
            words >> script.pages;
        } else if (verb == "size") {
            words >> script.width >> script.height;
        } else if (verb == "crash" || verb == "hang") {
            int occurrence = 1;
            words >> call >> occurrence;
            (verb == "crash" ? script.crash : script.hang)[call] = occurrence;
        } else if (verb == "refuse") {
            int refusal = 0;
            words >> call >> refusal;
            std::string detail;
            std::getline(words >> std::ws, detail);
            script.refuse[call] = {refusal, detail};
        } else if (verb == "garble") {
            words >> call;
            script.garble[call] = true;
        } else if (verb == "shared") {
            std::string kind;
            words >> kind;
            script.shared = true;
            script.sharedShort = kind == "short";
        } else if (verb == "grow") {
            words >> script.growMegabytes;
        } else if (verb == "state") {
            script.leavesState = true;
        } else if (verb == "log") {
            std::getline(words >> std::ws, script.log);
        } else if (verb == "drawn") {
            std::getline(words >> std::ws, script.drawn);
        }
    }
    return script;
}

} // namespace

int serve(bool warmed)
{
    watchMemory(memoryLimitBytes, [] {
        sending.lock(); // held until the process has ended
        ReplyHeader header;
        header.refusal = Refusal::TooMuchMemory;
        const std::string head = encodeReplyHeader(header);
        writeFully(STDOUT_FILENO, head);
        ::_exit(4);
    });
    std::optional<Script> script;
    std::optional<RemainingPages> rest;
    // The open document's Drawing call.
    PageChoice chosen;
    int boxWidth = 0;
    int boxHeight = 0;
    bool grey = false;
    std::map<std::string, int> seen; // calls of the open document, by name
    int opened = 0;
    bool refused = false;
    bool stateLeft = false;
    bool closed = false; // the last document was closed

    RequestReader requests(STDIN_FILENO);
    for (;;) {
        Request request;
        const ReadResult read = requests.next(request);
        if (read == ReadResult::Ended)
            return 0;
        if (read == ReadResult::Malformed)
            return 2;

        if (request.call == Call::Open) {
            script = readScript(std::string(splitOpenText(request.text).path));
            if (std::exchange(closed, false))
                seen.clear(); // the next document counts its own calls
            if (!script) {
                refused = true;
                refuse(Refusal::FileNotFound, "");
                continue;
            }
            ++opened;
            stateLeft = stateLeft || script->leavesState;
            rest.emplace(script->pages);
            chosen = {};
            boxWidth = boxHeight = 0;
            grey = false;
            // Memory taken and touched, so that it counts as resident; never freed.
            for (int megabyte = 0; megabyte < script->growMegabytes; ++megabyte) {
                auto *block = static_cast<char *>(std::malloc(1 << 20));
                std::memset(block, megabyte, 1 << 20);
                ::usleep(2000);
            }
        }
        const std::string name = callName(request.call);
        const int occurrence = ++seen[name];
        if (script && !script->log.empty()) {
            std::ofstream log(script->log, std::ios::app);
            if (std::exchange(warmed, false))
                log << "warmed\n";
            if (request.call == Call::Open && documentsPerEngine > 1)
                log << "engine " << ::getpid() << '\n';
            log << name << ' ' << request.a << ' ' << request.b << ' ' << request.c;
            if (request.call == Call::Drawing)
                log << ' ' << request.text;
            else if (request.call == Call::Open && !splitOpenText(request.text).pages.empty())
                log << " printing " << splitOpenText(request.text).pages;
            log << '\n';
        }
        if (script && script->crash.count(name) && script->crash[name] == occurrence)
            ::_exit(3);
        if (script && script->hang.count(name) && script->hang[name] == occurrence) {
            for (;;)
                ::pause();
        }
        if (script && script->garble.count(name)) {
            // A whole header whose frame length disagrees with it.
            std::string head = encodeReplyHeader(ReplyHeader{});
            head[0] = char(head[0] + 1);
            const std::lock_guard lock(sending);
            send(head);
            continue;
        }
        if (script && script->refuse.count(name)) {
            refused = true;
            refuse(Refusal(script->refuse[name].first), script->refuse[name].second);
            continue;
        }
        if (!rest) {
            refused = true;
            refuse(Refusal::NoDocument, "no document is open");
            continue;
        }

        ReplyHeader header;
        switch (request.call) {
        case Call::Property:
            header.value = rest->pageCount();
            break;
        case Call::GoTo:
            rest->goToPage(request.c);
            break;
        case Call::MoveUp:
            rest->moveUp(request.b,
                         request.c ? RemainingPages::Extend::Extend : RemainingPages::Extend::Move);
            break;
        case Call::EndKey:
            rest->endKey(request.b ? RemainingPages::Extend::Extend : RemainingPages::Extend::Move);
            break;
        case Call::Cut: {
            if (rest->selection().count == 0) {
                refused = true;
                refuse(Refusal::NothingSelected, "nothing is selected");
                continue;
            }
            const std::vector<int> pages = rest->cut();
            if (std::none_of(pages.begin(), pages.end(),
                             [&](int page) { return chosen.contains(page + 1); })) {
                reply(header, nullptr, 0);
                continue;
            }
            PixelSize size{script->width, script->height};
            if (boxWidth > 0 || boxHeight > 0)
                size = fitToBox(script->width, script->height, boxWidth, boxHeight);
            header.width = size.width;
            header.height = size.height * int(pages.size());
            std::vector<uint8_t> pixels;
            for (int page : pages) {
                if (!script->drawn.empty())
                    std::ofstream(script->drawn, std::ios::app) << page + 1 << '\n';
                for (int y = 0; y < size.height; ++y) {
                    for (int x = 0; x < size.width; ++x) {
                        const uint8_t v = uint8_t(x + y + page);
                        if (grey)
                            pixels.insert(pixels.end(), {v, v, v, 255});
                        else
                            pixels.insert(pixels.end(),
                                          {uint8_t(page), uint8_t(x), uint8_t(y), 255});
                    }
                }
            }
            header.value = 0; // no page buffers: the pixels follow the header
            if (script->shared) {
                replyShared(header, pixels, script->sharedShort ? size_t(script->width) * 4 : 0);
                continue;
            }
            reply(header, pixels.data(), pixels.size());
            continue;
        }
        case Call::Drawing:
            chosen = request.text.empty() ? PageChoice()
                                          : PageChoice::parse(request.text).value_or(PageChoice());
            boxWidth = request.a;
            boxHeight = request.b;
            grey = request.c == kDrawGrey;
            break;
        case Call::Close:
            closed = true;
            if (opened < documentsPerEngine && !refused && !stateLeft)
                header.value = kServesAnother;
            break;
        default:
            break;
        }
        reply(header, nullptr, 0);
        if (request.call == Call::Quit)
            return 0;
    }
}

namespace {

int launch()
{
    const std::string mode = std::getenv("FAKE_LAUNCHER") ? std::getenv("FAKE_LAUNCHER") : "";
    if (mode == "exit")
        return 1;
    ::signal(SIGCHLD, SIG_IGN);
    const pid_t self = ::getpid();
    for (;;) {
        char order = 0;
        if (::read(STDIN_FILENO, &order, 1) != 1)
            return 0;
        std::string callAhead;
        if (order == launcher::kEngineWithCall &&
            !readFrame(STDIN_FILENO, callAhead, launcher::kMaxCallAhead))
            return 2;
        if (mode == "refuse") {
            sendLaunchedEngine(STDOUT_FILENO, -1, -1, -1);
            continue;
        }
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
            return 1;
        if (!writeFully(ends[0], callAhead))
            return 1;
        const pid_t child = ::fork();
        if (child == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != self)
                ::_exit(0);
            ::signal(SIGCHLD, SIG_DFL);
            ::dup2(ends[1], STDIN_FILENO);
            ::dup2(ends[1], STDOUT_FILENO);
            // Engines that may serve several documents always warm up first, as the
            // real launcher's do.
            ::_exit(serve(order == launcher::kWarmEngine || documentsPerEngine > 1));
        }
        ::close(ends[1]);
        const int pidfd = int(::syscall(SYS_pidfd_open, child, 0));
        sendLaunchedEngine(STDOUT_FILENO, child, ends[0], pidfd);
        ::close(ends[0]);
        ::close(pidfd);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto limit = std::find(arguments.begin(), arguments.end(), "--memory-limit");
    if (limit != arguments.end() && limit + 1 != arguments.end()) {
        // Forked fakes inherit the watch's thread only in their launcher, so each
        // fake starts its own, as real engines do.
        memoryLimitBytes = std::stoull(limit[1]);
    }
    const auto documents = std::find(arguments.begin(), arguments.end(), "--documents");
    if (documents != arguments.end() && documents + 1 != arguments.end())
        documentsPerEngine = std::stoi(documents[1]);
    if (!arguments.empty() && arguments[0] == "--launcher")
        return launch();
    if (!arguments.empty() && arguments[0] == "--sandbox-check") {
        const char *missing = std::getenv("FAKE_SANDBOX_MISSING");
        if (missing)
            std::printf("sandbox incomplete: %s\n", missing);
        else
            std::printf("sandbox complete\n");
        return 0;
    }
    return serve(false);
}
