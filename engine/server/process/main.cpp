// pagelift-engine: one document's word processor. It reads calls from its standard
// input and answers on its standard output (see wireformat.h), and ends when its
// input closes or its parent dies.
//
//   pagelift-engine [--memory-limit BYTES] [--documents N] [SANDBOX]
//                                        serve the automation client, for up to N
//                                        documents one after another (default 1)
//   pagelift-engine --launcher [--memory-limit BYTES] [--documents N] [SANDBOX]
//                                        pre-initialise the office once, then start
//                                        engines by forking (see launcher.h)
//   pagelift-engine --sandbox-check [--open PATH | --connect PORT | --run PROGRAM]...
//                                        what the sandbox enforces (see sandbox.h)
//
// SANDBOX is [--linked-files none|beside] [--require-sandbox] (see SandboxOptions).

#include "launcher.h"
#include "memorywatch.h"
#include "messages.h"
#include "office.h"
#include "pagememory.h"
#include "sandbox.h"
#include "server.h"
#include "session.h"
#include "socketio.h"
#include "systempaper.h"
#include "warmup.h"
#include "wireformat.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The office may print on standard output; the calls travel on private descriptors
// so nothing it prints can mix into an answer.
void takeOverStandardStreams(int &requests, int &replies)
{
    requests = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    replies = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    const int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, STDIN_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    ::close(devNull);
    quietOffice();
}

int serve(size_t memoryLimitBytes, int documents, const SandboxOptions &sandbox)
{
    int requests = -1;
    int replies = -1;
    takeOverStandardStreams(requests, replies);
    std::string error;
    EngineOffice::configureEnvironment();
    engineprotocol::RequestReader calls(requests);
    std::unique_ptr<EngineOffice> office;
    bool pdf = false; // served without an office (see launcher.h)
    if (std::unique_ptr<ProfileSlot> slot = EngineOffice::readySlot(officeInstallDir(), error)) {
        engineprotocol::Request first;
        pdf = calls.peek(first) == engineprotocol::ReadResult::Ok &&
              opensPdf(first, calls.descriptorAhead());
        // The office's one question for a program, asked while programs still run.
        if (!pdf)
            systempaper::askOnce();
        const SandboxState state = confineEngine(sandbox, calls, officeInstallDir(), slot->folder(),
                                                 slot->temporaryFolder());
        error = sandboxShortfall(sandbox, state);
        if (error.empty() && !pdf)
            office = EngineOffice::startIn(officeInstallDir(), std::move(slot), error);
    }
    // As an engine forked from a launcher warms up, for the same reason (see
    // EngineSession); the profile is this engine's alone.
    std::string warmUp;
    if (office && documents > 1) {
        const std::filesystem::path document = office->profileFolder() / "warm-up.docx";
        if (writeWarmUpDocument(document))
            warmUp = document.string();
    }
    const std::unique_ptr<EngineSession> session =
        pdf && error.empty() ? startPdfSession(memoryLimitBytes)
                             : startSession(office.get(), warmUp, documents, memoryLimitBytes);
    return serveCalls(calls, replies, session.get(), error, memoryLimitBytes);
}

} // namespace

int main(int argc, char *argv[])
{
    // An engine never outlives the program that started it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::signal(SIGPIPE, SIG_IGN);
    goFirstWhenMemoryRunsOut();
    keepPageMemoryForReuse();

    std::vector<std::string> arguments(argv + 1, argv + argc);
    // The memory an engine may take, given by the program (which knows the machine and
    // how many engines work at once).
    size_t memoryLimitBytes = 0;
    // The most documents one engine serves.
    int documents = 1;
    SandboxOptions sandbox;
    bool usable = true;
    for (auto option = arguments.begin(); option != arguments.end();) {
        if (*option == "--require-sandbox") {
            sandbox.required = true;
            option = arguments.erase(option);
            continue;
        }
        if (*option == "--linked-files") {
            const bool given = option + 1 != arguments.end();
            usable = usable && given && (option[1] == "none" || option[1] == "beside");
            sandbox.linkedBeside = given && option[1] == "beside";
            option = arguments.erase(option, std::min(option + 2, arguments.end()));
            continue;
        }
        if (*option != "--memory-limit" && *option != "--documents") {
            ++option;
            continue;
        }
        char *end = nullptr;
        const bool given = option + 1 != arguments.end();
        const unsigned long long number = given ? std::strtoull(option[1].c_str(), &end, 10) : 0;
        if (!given || *end != '\0')
            usable = false;
        else if (*option == "--memory-limit")
            memoryLimitBytes = number;
        else if (number < 1 || number > 1000000)
            usable = false;
        else
            documents = int(number);
        option = arguments.erase(option, std::min(option + 2, arguments.end()));
    }

    // An engine allowed a document's folder serves that document alone.
    if (sandbox.linkedBeside)
        documents = 1;
    const std::string mode = arguments.empty() ? "" : arguments[0];
    int code = 0;
    if (usable && mode.empty()) {
        code = serve(memoryLimitBytes, documents, sandbox);
    } else if (usable && mode == "--launcher" && arguments.size() == 1) {
        int control = -1;
        int unused = -1;
        takeOverStandardStreams(control, unused);
        ::close(unused);
        code = runLauncher(officeInstallDir(), control, memoryLimitBytes, documents, sandbox);
    } else if (usable && mode == "--sandbox-check") {
        code = checkSandbox(officeInstallDir(), {arguments.begin() + 1, arguments.end()});
    } else {
        std::fprintf(messageStream(),
                     "usage: pagelift-engine [--memory-limit BYTES] [--documents N] "
                     "[--linked-files none|beside] [--require-sandbox] [--launcher | "
                     "--sandbox-check [--open PATH | --connect PORT | --run "
                     "PROGRAM]...]\n");
        code = 2;
    }
    // The office's own teardown is slow and fragile; nothing is left to save.
    std::fflush(messageStream());
    ::_exit(code);
}
