#include "launcher.h"

#include "folderwatch.h"
#include "messages.h"
#include "office.h"
#include "sandbox.h"
#include "server.h"
#include "session.h"
#include "socketio.h"
#include "systempaper.h"
#include "warmup.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace launcher = engineprotocol::launcher;

namespace {

// Switches every thread of this process to idle-time scheduling, or back to normal
// scheduling (which an unprivileged process may do from idle).
void setIdlePriority(bool idle, pid_t except = 0)
{
    const sched_param none{};
    const int policy = idle ? SCHED_IDLE : SCHED_OTHER;
    std::error_code ec;
    for (const auto &task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        const pid_t thread = pid_t(std::atoi(task.path().filename().c_str()));
        if (thread > 0 && thread != except)
            ::sched_setscheduler(thread, policy, &none);
    }
}

// Watches a socket, at normal priority, until a call waits in it (or it closes), and
// then puts every thread of the process back to normal scheduling. Watching begins
// with watch(), once the process has gone to idle time: a call may wait already.
// A thread that the office starts from one still at idle time while the others are put
// back takes idle time too, and the office may wait for it: until the watch ends (the
// office has started and warmed up), the threads are put back again every 50 ms.
class CallWatch
{
public:
    explicit CallWatch(int socket)
        : m_thread([this, socket] {
              m_id = pid_t(::syscall(SYS_gettid));
              m_started.test_and_set();
              m_started.notify_one();
              m_watching.wait(false);
              bool called = false;
              while (!m_done.test()) {
                  pollfd call{socket, POLLIN, 0};
                  if (called || ::poll(&call, 1, 50) > 0) {
                      called = true;
                      setIdlePriority(false);
                      ::poll(nullptr, 0, 50);
                  }
              }
          })
    {
        m_started.wait(false);
    }
    ~CallWatch()
    {
        m_done.test_and_set();
        watch();
        m_thread.join();
    }
    CallWatch(const CallWatch &) = delete;
    CallWatch &operator=(const CallWatch &) = delete;

    // The watching thread, which stays at normal priority.
    pid_t thread() const { return m_id; }
    void watch()
    {
        m_watching.test_and_set();
        m_watching.notify_one();
    }

private:
    std::atomic_flag m_done;
    std::atomic_flag m_started;
    std::atomic_flag m_watching;
    pid_t m_id = 0;
    std::thread m_thread;
};

// The office's signature checks ask gpgme which crypto engines there are, and gpgme
// runs gpgconf, gpg and gpgsm to find out: five forks of a process this large in
// every engine. gpgme keeps the answers in memory, so asking once here, before any
// fork, leaves them to every engine.
void askGpgmeOnce()
{
    void *library = ::dlopen("libgpgme.so.11", RTLD_NOW | RTLD_NOLOAD);
    if (!library)
        return;
    using CheckVersion = const char *(*)(const char *);
    using EngineInfo = unsigned (*)(void **);
    auto checkVersion = reinterpret_cast<CheckVersion>(::dlsym(library, "gpgme_check_version"));
    auto engineInfo = reinterpret_cast<EngineInfo>(::dlsym(library, "gpgme_get_engine_info"));
    if (checkVersion && engineInfo) {
        checkVersion(nullptr);
        void *engines = nullptr;
        engineInfo(&engines);
    }
    ::dlclose(library);
}

// Whether a process of this user may go back from idle-time to normal scheduling:
// without CAP_SYS_NICE that takes a nice limit most systems do not grant. Tried in a
// child of its own, which nothing depends on.
bool canLeaveIdlePriority()
{
    const pid_t child = ::fork();
    if (child == 0) {
        const sched_param none{};
        const bool left = ::sched_setscheduler(0, SCHED_IDLE, &none) == 0 &&
                          ::sched_setscheduler(0, SCHED_OTHER, &none) == 0;
        ::_exit(left ? 0 : 1);
    }
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void reapAll(int)
{
    const int saved = errno;
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    errno = saved;
}

// Installed while the launcher waits for no child of its own (the profile's first
// start, gpgme's helpers): reaping here would take their exit status from them.
void reapEndedEngines()
{
    struct sigaction action = {};
    action.sa_handler = reapAll;
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGCHLD, &action, nullptr);
    reapAll(0);
}

// Tells the launcher that this engine's office has started, by closing its end of the
// pipe.
void reportStarted(int &started)
{
    if (started >= 0)
        ::close(started);
    started = -1;
}

int serveForked(const std::string &installDir, const ProfileSlot &profile, int socket,
                const std::string &warmUpDocument, bool idleWarmUp, int started,
                size_t memoryLimitBytes, int documents, const SandboxOptions &sandbox)
{
    // Before any thread starts: Landlock confines the thread that applies it.
    engineprotocol::RequestReader calls(socket);
    const SandboxState confined =
        confineEngine(sandbox, calls, installDir, profile.folder(), profile.temporaryFolder());
    // An engine made ready ahead warms up on idle time only, where it may, so that it
    // never slows the document being converted meanwhile; its threads inherit that.
    // One whose first call is already written (the next document, opened ahead) runs
    // at normal priority: the run will wait for that document soon, and on a busy
    // processor idle time may not come.
    const bool idle = !warmUpDocument.empty() && idleWarmUp;
    // A call may come while the office still starts or warms up: the run wants a
    // document of this engine now. On a busy processor idle time may not come for
    // minutes, so the engine leaves it as soon as a call waits.
    std::optional<CallWatch> leaveIdleOnCall;
    if (idle) {
        leaveIdleOnCall.emplace(socket);
        setIdlePriority(true, leaveIdleOnCall->thread());
        leaveIdleOnCall->watch();
    }
    std::string error = sandboxShortfall(sandbox, confined);
    std::unique_ptr<EngineOffice> office;
    if (error.empty())
        office = EngineOffice::startPreinitialised(installDir, profile, error);
    reportStarted(started);
    const std::unique_ptr<EngineSession> session =
        startSession(office.get(), warmUpDocument, documents, memoryLimitBytes);
    if (idle) {
        leaveIdleOnCall.reset();
        setIdlePriority(false);
    }
    return serveCalls(calls, socket, session.get(), error, memoryLimitBytes);
}

// An engine without an office, for a PDF document, which poppler draws from the file:
// it starts in milliseconds from a launcher that has not loaded the office. It enters
// the sandbox of every engine before it reads its first call.
int servePdf(const std::string &installDir, const ProfileSlot &profile, int socket, int started,
             size_t memoryLimitBytes, const SandboxOptions &sandbox)
{
    reportStarted(started);
    engineprotocol::RequestReader calls(socket);
    const SandboxState confined =
        confineEngine(sandbox, calls, installDir, profile.folder(), profile.temporaryFolder());
    const std::string error = sandboxShortfall(sandbox, confined);
    std::unique_ptr<EngineSession> session;
    if (error.empty())
        session = startPdfSession(memoryLimitBytes);
    return serveCalls(calls, socket, session.get(), error, memoryLimitBytes);
}

// Pre-initialisation loads the dictionaries and extensions in a throw-away profile, a
// folder it makes in its temporary folder and removes when it is done. The office's
// path settings keep that folder as the user's profile, though, so every engine forked
// later looks there for what the user part of a profile holds (the Basic libraries
// with the engine's own macros among them) and finds nothing: each macro fails as "Sub
// or Function not defined". In place of the removed folder goes a link to this
// launcher's profile, so that engines find what a plain start finds. Pre-initialisation
// gets a temporary folder of its own for this: nothing else is made there, and it is
// not emptied between engines as theirs is.
bool preinitialise(const std::string &installDir, const ProfileSlot &profile)
{
    const std::filesystem::path scratch = profile.preinitialisationFolder();
    profile.clearPreinitialisationFolder();
    ::setenv("TMPDIR", scratch.c_str(), 1);
    FolderWatch watch(scratch);
    // Loads the office's libraries and reads its profile once.
    const bool done = EngineOffice::preinitialise(installDir, profile);
    ::setenv("TMPDIR", profile.temporaryFolder().c_str(), 1);
    // Only a lone folder is taken for the throw-away profile: with none or several
    // there is nothing to tell which it is, and engines run without their macros.
    std::vector<std::string> made;
    if (done && watch.takeMadeFolders(made) && made.size() == 1) {
        std::error_code ec;
        std::filesystem::create_directory_symlink("..", scratch / made.front(), ec);
    }
    return done;
}

// One order from the control socket: its letter and, for an engine with its first
// call already written, that call's frame.
struct Order
{
    char kind = 0;
    std::string callAhead;
    UniqueFd document; // sent with the call ahead, for the engine to read
};

enum class OrderRead
{
    Ok,
    Ended,     // the program has gone
    Malformed, // not an order this launcher knows
};

OrderRead readOrder(int control, Order &order)
{
    char kind = 0;
    std::vector<UniqueFd> descriptors;
    if (engineprotocol::receiveWithDescriptors(control, &kind, 1, descriptors) != 1)
        return OrderRead::Ended;
    if (kind != launcher::kEngine && kind != launcher::kWarmEngine &&
        kind != launcher::kEngineWithCall)
        return OrderRead::Malformed;
    order.kind = kind;
    order.callAhead.clear();
    order.document = descriptors.empty() ? UniqueFd() : std::move(descriptors.front());
    if (kind == launcher::kEngineWithCall &&
        !engineprotocol::readFrame(control, order.callAhead, launcher::kMaxCallAhead))
        return OrderRead::Malformed;
    return OrderRead::Ok;
}

// Whether the engine for `order` needs no office: its first call opens a PDF.
bool needsNoOffice(const Order &order)
{
    engineprotocol::Request first;
    return order.kind == launcher::kEngineWithCall && order.callAhead.size() > 4 &&
           engineprotocol::decodeRequest(std::string_view(order.callAhead).substr(4), first) &&
           opensPdf(first, order.document.get());
}

// What every forked engine and the launcher share.
struct LauncherState
{
    std::string installDir;
    ProfileSlot *profile = nullptr;
    std::filesystem::path warmUpDocument; // empty when it could not be written
    bool idleWarmUp = false;
    size_t memoryLimitBytes = 0;
    int documents = 1; // the most each engine serves
    SandboxOptions sandbox;
    int control = -1;
    pid_t self = 0;
    bool officeReady = false; // pre-initialised, and the launcher in its sandbox
};

// What a launcher does once for all the engines with an office it forks: their warm-up
// document written, the office pre-initialised, gpgme's and the system's answers heard,
// and then its sandbox. False when the office could not be pre-initialised.
bool prepareOffice(LauncherState &state)
{
    // gpgme, and the test of idle-time scheduling, wait for the processes they start:
    // engines that end meanwhile are reaped afterwards.
    ::signal(SIGCHLD, SIG_DFL);
    const std::filesystem::path warmUp = state.profile->folder() / "warm-up.docx";
    if (writeWarmUpDocument(warmUp))
        state.warmUpDocument = warmUp;
    state.idleWarmUp = canLeaveIdlePriority();
    if (!preinitialise(state.installDir, *state.profile)) {
        std::fprintf(messageStream(),
                     "pagelift-engine: the office in %s could not be pre-initialised\n",
                     state.installDir.c_str());
        return false;
    }
    askGpgmeOnce();
    // The office's one question for a program, asked for every engine while programs
    // still run.
    systempaper::askOnce();
    reapEndedEngines();
    // From here on the launcher holds what the office read. Where each engine's files
    // depend on its document, only the calls are confined here.
    if (state.sandbox.linkedBeside) {
        SandboxState confined;
        confineCalls(confined);
    } else {
        enterSandbox(engineFiles(state.installDir, state.profile->folder(),
                                 state.profile->temporaryFolder()));
    }
    state.officeReady = true;
    return true;
}

// The engine's side of a fork: it serves its call socket until the client is done,
// and never returns.
[[noreturn]] void runForkedEngine(const LauncherState &state, const Order &order, bool withOffice,
                                  UniqueFd socket, UniqueFd started)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != state.self)
        ::_exit(0); // the launcher died before the line above took effect
    ::signal(SIGCHLD, SIG_DFL);
    ::close(state.control);
    if (!withOffice) {
        const int code = servePdf(state.installDir, *state.profile, socket.get(), started.release(),
                                  state.memoryLimitBytes, state.sandbox);
        std::fflush(messageStream());
        ::_exit(code);
    }
    // An engine that may serve several documents warms up before its first in any
    // case, on the same document as every other, so that each of its documents finds
    // the office as in any other engine (see EngineSession).
    const bool warm = order.kind == launcher::kWarmEngine || state.documents > 1;
    const std::string document = warm ? state.warmUpDocument.string() : std::string();
    const int code =
        serveForked(state.installDir, *state.profile, socket.get(), document,
                    state.idleWarmUp && order.kind == launcher::kWarmEngine, started.release(),
                    state.memoryLimitBytes, state.documents, state.sandbox);
    std::fflush(messageStream());
    ::_exit(code);
}

// Forks one engine for `order`, with an office or without, and answers the order with
// it (or with a failed fork). False when the program can no longer be answered.
bool launchEngine(const LauncherState &state, const Order &order, bool withOffice)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return engineprotocol::sendLaunchedEngine(state.control, -1, -1, -1);
    UniqueFd ours(ends[0]);
    UniqueFd theirs(ends[1]);
    // The call ahead waits in the socket for the engine to read it, with its document.
    if (!engineprotocol::writeWithDescriptor(ours.get(), order.callAhead, order.document.get()))
        return engineprotocol::sendLaunchedEngine(state.control, -1, -1, -1);

    // The engine before this one has ended: its temporary files can go, and the fonts
    // its documents brought, so that what this engine finds there is its own.
    state.profile->clearTemporaryFolder();
    // Engines start one at a time: an office's start brings the extensions of its
    // profile up to date, and two doing that at once in this profile can fail. The
    // engine closes its end of this pipe once its office has started.
    int pipe[2] = {-1, -1};
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return engineprotocol::sendLaunchedEngine(state.control, -1, -1, -1);
    UniqueFd startedRead(pipe[0]);
    UniqueFd startedWrite(pipe[1]);

    // An engine that ends at once is not reaped before its pidfd is open: its process
    // id could otherwise be taken by another process.
    sigset_t childSignal;
    sigset_t before;
    ::sigemptyset(&childSignal);
    ::sigaddset(&childSignal, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &childSignal, &before);
    const pid_t child = ::fork();
    if (child == 0) {
        ::sigprocmask(SIG_SETMASK, &before, nullptr);
        ours.reset();
        startedRead.reset();
        runForkedEngine(state, order, withOffice, std::move(theirs), std::move(startedWrite));
    }
    theirs.reset();
    startedWrite.reset();
    const UniqueFd pidfd(child > 0 ? int(::syscall(SYS_pidfd_open, child, 0)) : -1);
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    if (child > 0 && !pidfd)
        ::kill(child, SIGKILL);
    const bool launched = child > 0 && pidfd;
    if (!engineprotocol::sendLaunchedEngine(state.control, launched ? child : -1, ours.get(),
                                            pidfd.get()))
        return false;
    // Until the engine has started or ended; a start that takes longer than this has
    // gone wrong, and the next one need not wait for it.
    if (launched && startedRead) {
        constexpr int kStartLimitMs = 60000;
        pollfd done{startedRead.get(), POLLIN, 0};
        while (::poll(&done, 1, kStartLimitMs) < 0 && errno == EINTR) {
        }
    }
    return true;
}

} // namespace

int runLauncher(const std::string &installDir, int control, size_t memoryLimitBytes, int documents,
                const SandboxOptions &sandbox)
{
    std::string error;
    EngineOffice::configureEnvironment();
    std::unique_ptr<ProfileSlot> profile = EngineOffice::readySlot(installDir, error);
    if (!profile) {
        std::fprintf(messageStream(), "pagelift-engine: %s\n", error.c_str());
        return 1;
    }
    // Pre-initialisation reads the profile that this variable names, not its argument.
    ::setenv("UserInstallation", profile->url().c_str(), 1);
    LauncherState state;
    state.installDir = installDir;
    state.profile = profile.get();
    state.control = control;
    state.memoryLimitBytes = memoryLimitBytes;
    state.documents = documents;
    state.sandbox = sandbox;
    state.self = ::getpid();
    // Ended engines are reaped here, at once, rather than by the kernel: the time they
    // spent then counts in this launcher's children's usage (getrusage, time, top), so
    // the program's own figures show its engines' work. The client watches each engine
    // through its pidfd.
    reapEndedEngines();

    for (;;) {
        Order order;
        switch (readOrder(control, order)) {
        case OrderRead::Ended:
            return 0;
        case OrderRead::Malformed:
            return 2;
        case OrderRead::Ok:
            break;
        }
        // A PDF needs no office: until an order needs one, the launcher has none, and
        // its engines for PDFs fork from a small process.
        const bool withOffice = state.officeReady || !needsNoOffice(order);
        if (withOffice && !state.officeReady && !prepareOffice(state))
            return 1;
        if (!launchEngine(state, order, withOffice))
            return 0;
    }
}
