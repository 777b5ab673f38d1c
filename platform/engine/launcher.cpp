#include "launcher.h"

#include "office.h"
#include "server.h"
#include "session.h"
#include "warmup.h"

#include <LibreOfficeKit/LibreOfficeKit.hxx>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace launcher = engineprotocol::launcher;

namespace {

// Switches every thread of this process to idle-time scheduling, or back to normal
// scheduling (which an unprivileged process may do from idle).
void setIdlePriority(bool idle)
{
    const sched_param none{};
    const int policy = idle ? SCHED_IDLE : SCHED_OTHER;
    std::error_code ec;
    for (const auto &task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        const pid_t thread = pid_t(std::atoi(task.path().filename().c_str()));
        if (thread > 0)
            ::sched_setscheduler(thread, policy, &none);
    }
}

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

// Tells the launcher that this engine's office has started, by closing its end of the
// pipe.
void reportStarted(int &started)
{
    if (started >= 0)
        ::close(started);
    started = -1;
}

int serveForked(const std::string &installDir, const std::string &profileUrl, int socket,
                const std::string &warmUpDocument, bool idleWarmUp, int started)
{
    // An engine made ready ahead warms up on idle time only, where it may, so that it
    // never slows the document being converted meanwhile; its threads inherit that.
    // One whose first call is already written (the next document, opened ahead) runs
    // at normal priority: the run will wait for that document soon, and on a busy
    // processor idle time may not come.
    const bool idle = !warmUpDocument.empty() && idleWarmUp;
    if (idle)
        setIdlePriority(true);
    std::string error;
    std::unique_ptr<EngineOffice> office =
        EngineOffice::startPreinitialised(installDir, profileUrl, error);
    reportStarted(started);
    std::unique_ptr<EngineSession> session;
    if (office) {
        if (!warmUpDocument.empty())
            office->warmUp(warmUpDocument);
        session = std::make_unique<EngineSession>(*office);
    }
    if (idle)
        setIdlePriority(false);
    return serveCalls(socket, socket, session.get(), error);
}

bool answer(int control, int32_t pid, int socket, int pidfd)
{
    const int fds[2] = {socket, pidfd};
    return engineprotocol::sendWithDescriptors(control, &pid, sizeof pid, fds, pid > 0 ? 2 : 0) ==
           ssize_t(sizeof pid);
}

} // namespace

int runLauncher(const std::string &installDir, int control)
{
    std::string error;
    EngineOffice::configureEnvironment();
    std::unique_ptr<ProfileSlot> profile = EngineOffice::readySlot(installDir, error);
    if (!profile) {
        std::fprintf(stderr, "pagelift-engine: %s\n", error.c_str());
        return 1;
    }
    // Pre-initialisation reads the profile that this variable names, not its argument.
    ::setenv("UserInstallation", profile->url().c_str(), 1);
    const std::filesystem::path warmUp = profile->folder() / "warm-up.docx";
    const bool canWarmUp = writeWarmUpDocument(warmUp);
    const bool idleWarmUp = canLeaveIdlePriority();
    // Pre-initialisation reports every library it loads; none of that is news.
    const int errors = ::dup(STDERR_FILENO);
    const int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, STDOUT_FILENO);
    ::dup2(devNull, STDERR_FILENO);
    ::close(devNull);
    const int preinit = lok_preinit(installDir.c_str(), profile->url().c_str());
    ::dup2(errors, STDERR_FILENO);
    ::dup2(errors, STDOUT_FILENO);
    ::close(errors);
    if (preinit != 0) {
        std::fprintf(stderr, "pagelift-engine: the office in %s could not be pre-initialised\n",
                     installDir.c_str());
        return 1;
    }
    askGpgmeOnce();
    // The kernel reaps ended engines; the client watches each through its pidfd.
    ::signal(SIGCHLD, SIG_IGN);
    const pid_t self = ::getpid();

    for (;;) {
        char order = 0;
        const ssize_t n = ::read(control, &order, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0; // the program has gone
        if (order != launcher::kEngine && order != launcher::kWarmEngine &&
            order != launcher::kEngineWithCall)
            return 2;
        std::string callAhead;
        if (order == launcher::kEngineWithCall &&
            !engineprotocol::readFrame(control, callAhead, launcher::kMaxCallAhead))
            return 2;

        int ends[2];
        bool made = ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0;
        if (made && !engineprotocol::sendAll(ends[0], callAhead)) {
            ::close(ends[0]);
            ::close(ends[1]);
            made = false;
        }
        if (!made) {
            if (!answer(control, -1, -1, -1))
                return 0;
            continue;
        }
        // The engine before this one has ended: its temporary files can go.
        profile->clearTemporaryFolder();
        // Engines start one at a time: an office's start brings the extensions of its
        // profile up to date, and two doing that at once in this profile can fail.
        int started[2] = {-1, -1};
        if (::pipe2(started, O_CLOEXEC) != 0)
            started[0] = started[1] = -1;
        const pid_t child = ::fork();
        if (child == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != self)
                ::_exit(0);
            ::signal(SIGCHLD, SIG_DFL);
            ::close(control);
            ::close(ends[0]);
            if (started[0] >= 0)
                ::close(started[0]);
            const std::string document =
                order == launcher::kWarmEngine && canWarmUp ? warmUp.string() : std::string();
            const int code =
                serveForked(installDir, profile->url(), ends[1], document, idleWarmUp, started[1]);
            std::fflush(stderr);
            ::_exit(code);
        }
        ::close(ends[1]);
        if (started[1] >= 0)
            ::close(started[1]);
        const int pidfd = child > 0 ? int(::syscall(SYS_pidfd_open, child, 0)) : -1;
        if (child > 0 && pidfd < 0)
            ::kill(child, SIGKILL);
        const bool sent = child > 0 && pidfd >= 0 ? answer(control, child, ends[0], pidfd)
                                                  : answer(control, -1, -1, -1);
        ::close(ends[0]);
        if (pidfd >= 0)
            ::close(pidfd);
        if (!sent)
            return 0;
        // Until the engine has started or ended; a start that takes longer than this
        // has gone wrong, and the next one need not wait for it.
        if (child > 0 && started[0] >= 0) {
            constexpr int kStartLimitMs = 60000;
            pollfd done{started[0], POLLIN, 0};
            while (::poll(&done, 1, kStartLimitMs) < 0 && errno == EINTR) {
            }
        }
        if (started[0] >= 0)
            ::close(started[0]);
    }
}
