#include "sandbox.h"

#include "socketio.h"
#include "uniquefd.h"
#include "wireformat.h"

#include <seccomp.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <linux/landlock.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Rights and structures of Landlock versions newer than the system's headers; the
// kernel takes the structure at the size of the version it is given.
constexpr uint64_t kTruncate = 1ULL << 14; // version 3
constexpr uint64_t kIoctlDev = 1ULL << 15; // version 5
constexpr uint64_t kBindTcp = 1ULL << 0;   // version 4, network rights
constexpr uint64_t kConnectTcp = 1ULL << 1;
constexpr uint64_t kScopeAbstractUnixSocket = 1ULL << 0; // version 6
constexpr uint64_t kScopeSignal = 1ULL << 1;

struct RulesetAttributes
{
    uint64_t handledAccessFs = 0;
    uint64_t handledAccessNet = 0; // version 4
    uint64_t scoped = 0;           // version 6
};

constexpr uint64_t kRead = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
constexpr uint64_t kFileRights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE |
                                 LANDLOCK_ACCESS_FS_READ_FILE | kTruncate | kIoctlDev;

// Every filesystem right the kernel of `abi` knows, so that none is left unchecked.
uint64_t handledRights(int abi)
{
    uint64_t rights = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1; // version 1
    if (abi >= 2)
        rights |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3)
        rights |= kTruncate;
    if (abi >= 5)
        rights |= kIoctlDev;
    return rights;
}

int createRuleset(const RulesetAttributes &attributes, size_t size)
{
    return int(::syscall(SYS_landlock_create_ruleset, &attributes, size, 0));
}

// Allows `rights` under `path` (or on it, for a file); false when it is not there.
bool allow(int ruleset, const fs::path &path, uint64_t rights)
{
    const UniqueFd target(::open(path.c_str(), O_PATH | O_CLOEXEC));
    struct stat info = {};
    if (!target || ::fstat(target.get(), &info) != 0)
        return false;
    if (!S_ISDIR(info.st_mode))
        rights &= kFileRights;
    landlock_path_beneath_attr rule = {};
    rule.allowed_access = rights;
    rule.parent_fd = target.get();
    return ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
}

bool singleThreaded()
{
    std::error_code ec;
    int threads = 0;
    for (auto it = fs::directory_iterator("/proc/self/task", ec); !ec && it != fs::end(it);
         it.increment(ec))
        ++threads;
    return !ec && threads == 1;
}

// The user's own fonts and their configuration, where fontconfig looks for them.
void addUserFonts(std::vector<fs::path> &read)
{
    const char *home = std::getenv("HOME");
    const auto base = [&](const char *variable, const char *fallback) -> fs::path {
        const char *value = std::getenv(variable);
        if (value && value[0] == '/')
            return value;
        return home && home[0] == '/' ? fs::path(home) / fallback : fs::path();
    };
    for (const fs::path &folder : {base("XDG_DATA_HOME", ".local/share") / "fonts",
                                   base("XDG_CONFIG_HOME", ".config") / "fontconfig",
                                   base("XDG_CACHE_HOME", ".cache") / "fontconfig"}) {
        if (folder.is_absolute())
            read.push_back(folder);
    }
    if (home && home[0] == '/') {
        read.push_back(fs::path(home) / ".fonts");
        read.push_back(fs::path(home) / ".fonts.conf");
    }
}

} // namespace

std::string sandboxShortfall(const SandboxOptions &options, const SandboxState &state)
{
    return options.required && !state.complete() ? "the sandbox is not complete: " + state.missing()
                                                 : std::string();
}

std::string SandboxState::missing() const
{
    std::string text;
    const auto add = [&text](const char *part) {
        text += (text.empty() ? "" : "; ") + std::string(part);
    };
    if (!files)
        add(landlockAbi == 0 ? "the kernel has no Landlock, so files are not confined"
                             : "Landlock could not be applied, so files are not confined");
    else if (!truncation)
        add("the kernel's Landlock cannot confine truncating files");
    if (!calls)
        add("seccomp could not be applied, so network and programs are not blocked");
    return text;
}

FileSet engineFiles(const std::string &installDir, const fs::path &profile,
                    const fs::path &temporary, const fs::path &documentFolder)
{
    FileSet files;
    std::error_code ec;
    // The office's installation: its program folder's parent holds its share folder.
    const fs::path office = fs::weakly_canonical(fs::path(installDir) / "..", ec);
    files.read = {
        office,
        // Where Debian's office links parts of itself: its data, configuration and
        // the extensions shared by every user.
        "/usr/share/libreoffice",
        "/etc/libreoffice",
        "/var/lib/libreoffice",
        "/var/spool/libreoffice",
        // System libraries the office loads as it goes, and their data.
        "/usr/lib/x86_64-linux-gnu",
        "/usr/lib/aarch64-linux-gnu",
        "/usr/lib64",
        "/etc/ld.so.cache",
        "/usr/lib/locale",
        "/usr/share/locale",
        "/usr/share/zoneinfo",
        "/etc/localtime",
        "/etc/passwd",
        "/etc/nsswitch.conf",
        "/etc/papersize",
        // Fonts and their configuration.
        "/usr/share/fonts",
        "/usr/local/share/fonts",
        "/usr/share/fontconfig",
        "/etc/fonts",
        "/var/cache/fontconfig",
        "/usr/share/poppler",
        // Spelling, hyphenation and thesaurus dictionaries (hyphenation changes layout).
        "/usr/share/hunspell",
        "/usr/share/hyphen",
        "/usr/share/mythes",
        // The process's own information (another process's needs ptrace, which
        // Landlock refuses outside the sandbox), processors, randomness.
        "/proc",
        "/sys/devices/system/cpu",
        "/dev/urandom",
        "/dev/random",
    };
    addUserFonts(files.read);
    files.write = {"/dev/null"};
    for (const fs::path &folder : {profile, temporary}) {
        if (!folder.empty())
            files.write.push_back(folder);
    }
    if (!documentFolder.empty())
        files.read.push_back(documentFolder);
    return files;
}

int landlockVersion()
{
    const long abi =
        ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi > 0 ? int(abi) : 0;
}

void confineFiles(const FileSet &files, SandboxState &state)
{
    state.landlockAbi = landlockVersion();
    if (state.landlockAbi == 0 || !singleThreaded())
        return;
    const int abi = state.landlockAbi;
    RulesetAttributes attributes;
    attributes.handledAccessFs = handledRights(abi);
    size_t size = sizeof(uint64_t);
    if (abi >= 4) {
        // No TCP at all, should seccomp be missing; the rules below allow none.
        attributes.handledAccessNet = kBindTcp | kConnectTcp;
        size = 2 * sizeof(uint64_t);
    }
    if (abi >= 6) {
        attributes.scoped = kScopeAbstractUnixSocket | kScopeSignal;
        size = sizeof attributes;
    }
    const UniqueFd ruleset(createRuleset(attributes, size));
    if (!ruleset)
        return;
    const uint64_t handled = attributes.handledAccessFs;
    for (const fs::path &path : files.read)
        allow(ruleset.get(), path, kRead & handled);
    for (const fs::path &path : files.write)
        allow(ruleset.get(), path, handled & ~LANDLOCK_ACCESS_FS_EXECUTE);
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::syscall(SYS_landlock_restrict_self, ruleset.get(), 0) != 0)
        return;
    state.files = true;
    state.truncation = abi >= 3;
}

void confineCalls(SandboxState &state)
{
    scmp_filter_ctx filter = ::seccomp_init(SCMP_ACT_ALLOW);
    if (!filter)
        return;
    const auto deny = [filter](int error, int call, unsigned count = 0,
                               scmp_arg_cmp argument = {}) {
        return count == 0 ? ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(error), call, 0)
                          : ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(error), call, 1, argument);
    };
    // Every thread, the office's included.
    bool built = ::seccomp_attr_set(filter, SCMP_FLTATR_CTL_TSYNC, 1) == 0;
    built = built && deny(EACCES, SCMP_SYS(socket), 1, SCMP_A0_32(SCMP_CMP_NE, AF_UNIX)) == 0;
    for (const int call : {SCMP_SYS(execve), SCMP_SYS(execveat)})
        built = built && deny(EACCES, call) == 0;
    for (const int call : {SCMP_SYS(io_uring_setup), SCMP_SYS(ptrace), SCMP_SYS(process_vm_writev),
                           SCMP_SYS(open_by_handle_at)})
        built = built && deny(EPERM, call) == 0;
    state.calls = built && ::seccomp_load(filter) == 0;
    ::seccomp_release(filter);
}

SandboxState enterSandbox(const FileSet &files)
{
    SandboxState state;
    confineFiles(files, state);
    confineCalls(state);
    return state;
}

SandboxState confineEngine(const SandboxOptions &options, engineprotocol::RequestReader &calls,
                           const std::string &installDir, const fs::path &profile,
                           const fs::path &temporary)
{
    fs::path documentFolder;
    engineprotocol::Request first;
    if (options.linkedBeside && calls.peek(first) == engineprotocol::ReadResult::Ok &&
        first.call == engineprotocol::Call::Open && !first.text.empty()) {
        // Links are resolved: a folder reached through a link is where the link leads.
        std::error_code ec;
        const fs::path document(engineprotocol::splitOpenText(first.text).path);
        documentFolder = fs::weakly_canonical(fs::absolute(document, ec).parent_path(), ec);
        // A document at the top of the tree would open the whole tree.
        if (documentFolder == documentFolder.root_path())
            documentFolder.clear();
    }
    return enterSandbox(engineFiles(installDir, profile, temporary, documentFolder));
}

namespace {

bool canOpen(const std::string &path)
{
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    char byte;
    return file && (::read(file.get(), &byte, 1) >= 0 || errno == EISDIR);
}

bool canConnect(int port)
{
    const UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket)
        return false;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(socket.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
}

bool canRun(const std::string &program)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int checkSandbox(const std::string &installDir, const std::vector<std::string> &arguments)
{
    const SandboxState state = enterSandbox(engineFiles(installDir, {}, {}));
    if (state.complete())
        std::printf("sandbox complete\n");
    else
        std::printf("sandbox incomplete: %s\n", state.missing().c_str());
    for (size_t i = 0; i + 1 < arguments.size(); i += 2) {
        const std::string &what = arguments[i];
        const std::string &value = arguments[i + 1];
        bool allowed = false;
        if (what == "--open")
            allowed = canOpen(value);
        else if (what == "--connect")
            allowed = canConnect(std::atoi(value.c_str()));
        else if (what == "--run")
            allowed = canRun(value);
        else
            return 2;
        std::printf("%s %s: %s\n", what.c_str() + 2, value.c_str(), allowed ? "allowed" : "denied");
    }
    std::fflush(stdout);
    return 0;
}
