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
//   pagelift-engine --convert IN OUT [--password SECRET]
//   pagelift-engine --convert IN OUT IN OUT...
//                                        save each IN in the format its OUT's
//                                        extension names, in one office (for tests
//                                        and benchmarks)

#include "office/office.h"
#include "office/warmup.h"
#include "pagememory.h"
#include "pages/session.h"
#include "process/launcher.h"
#include "process/memorywatch.h"
#include "process/messages.h"
#include "process/sandbox.h"
#include "process/server.h"
#include "socketio.h"
#include "wireformat.h"

#include <LibreOfficeKit/LibreOfficeKit.hxx>
#include <LibreOfficeKit/LibreOfficeKitEnums.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>
#include <utility>
#include <vector>

#ifndef PAGELIFT_LOK_INSTALL_DIR
#define PAGELIFT_LOK_INSTALL_DIR "/usr/lib/libreoffice/program"
#endif

namespace {

std::string installDir()
{
    const char *dir = std::getenv("PAGELIFT_LOK_DIR");
    return dir && dir[0] ? dir : PAGELIFT_LOK_INSTALL_DIR;
}

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
    if (std::unique_ptr<ProfileSlot> slot = EngineOffice::readySlot(installDir(), error)) {
        const SandboxState state =
            confineEngine(sandbox, calls, installDir(), slot->folder(), slot->temporaryFolder());
        if (sandbox.required && !state.complete())
            error = "the sandbox is not complete: " + state.missing();
        else
            office = EngineOffice::startIn(installDir(), std::move(slot), error);
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
        startSession(office.get(), warmUp, documents, memoryLimitBytes);
    return serveCalls(calls, replies, session.get(), error, memoryLimitBytes);
}

std::string jsonString(const std::string &text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// Saving with a password goes through the office's own Save As command, the only
// way to pass one; the command runs on the office's thread and reports when done.
bool saveWithPassword(lok::Document &document, const std::string &url, const std::string &format,
                      const std::string &password)
{
    // The Word filters of this office save without encrypting; only OpenDocument
    // text is offered.
    if (format != "odt")
        return false;

    struct Result
    {
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;
        bool success = false;
    } result;
    document.registerCallback(
        [](int type, const char *payload, void *data) {
            if (type != LOK_CALLBACK_UNO_COMMAND_RESULT)
                return;
            auto *r = static_cast<Result *>(data);
            std::lock_guard lock(r->mutex);
            r->done = true;
            r->success = std::strstr(payload, "\"success\": true") != nullptr;
            r->changed.notify_all();
        },
        &result);
    const std::string arguments =
        "{\"URL\":{\"type\":\"string\",\"value\":" + jsonString(url) +
        "},\"FilterName\":{\"type\":\"string\",\"value\":" + jsonString("writer8") +
        "},\"Password\":{\"type\":\"string\",\"value\":" + jsonString(password) + "}}";
    document.postUnoCommand(".uno:SaveAs", arguments.c_str(), true);
    std::unique_lock lock(result.mutex);
    result.changed.wait_for(lock, std::chrono::seconds(60), [&] { return result.done; });
    return result.success;
}

int convert(const std::vector<std::pair<std::string, std::string>> &pairs,
            const std::string &password)
{
    std::string error;
    EngineOffice::configureEnvironment();
    std::unique_ptr<EngineOffice> office = EngineOffice::start(installDir(), error);
    if (!office) {
        std::fprintf(messageStream(), "pagelift-engine: %s\n", error.c_str());
        return 1;
    }
    for (const auto &[in, out] : pairs) {
        std::unique_ptr<lok::Document> document = office->loadAny(in, error);
        if (!document) {
            std::fprintf(messageStream(), "pagelift-engine: %s: %s\n", in.c_str(), error.c_str());
            return 1;
        }
        const std::string format = std::filesystem::path(out).extension().string().substr(1);
        const std::string url = fileUrl(std::filesystem::absolute(out));
        const bool saved = password.empty() ? document->saveAs(url.c_str(), format.c_str())
                                            : saveWithPassword(*document, url, format, password);
        if (!saved) {
            std::fprintf(messageStream(), "pagelift-engine: cannot save %s as %s\n", out.c_str(),
                         format.c_str());
            return 1;
        }
    }
    return 0;
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
        code = runLauncher(installDir(), control, memoryLimitBytes, documents, sandbox);
    } else if (usable && mode == "--sandbox-check") {
        code = checkSandbox(installDir(), {arguments.begin() + 1, arguments.end()});
    } else if (usable && mode == "--convert" && arguments.size() == 5 &&
               arguments[3] == "--password") {
        code = convert({{arguments[1], arguments[2]}}, arguments[4]);
    } else if (usable && mode == "--convert" && arguments.size() >= 3 &&
               arguments.size() % 2 == 1) {
        // Many documents in one office: its start costs more than a small document.
        std::vector<std::pair<std::string, std::string>> pairs;
        for (size_t i = 1; i + 1 < arguments.size(); i += 2)
            pairs.emplace_back(arguments[i], arguments[i + 1]);
        code = convert(pairs, {});
    } else {
        std::fprintf(messageStream(),
                     "usage: pagelift-engine [--memory-limit BYTES] [--documents N] "
                     "[--linked-files none|beside] [--require-sandbox] [--launcher | "
                     "--convert IN OUT [--password SECRET] | --convert IN OUT IN "
                     "OUT... | --sandbox-check [--open PATH | --connect PORT | --run "
                     "PROGRAM]...]\n");
        code = 2;
    }
    // The office's own teardown is slow and fragile; nothing is left to save.
    std::fflush(messageStream());
    ::_exit(code);
}
