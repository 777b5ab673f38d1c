// pagelift-convert: Pagelift's conversion without a window, for documents in bulk.
// See usageText() in options.cpp, or run it with --help.

#include "collect.h"
#include "conversion.h"
#include "jobcount.h"
#include "machineshare.h"
#include "options.h"
#include "pathbytes.h"
#include "printable.h"
#include "programfiles.h"
#include "sandboxstatus.h"
#include "settings.h"
#include "thumbnail.h"
#include "worker.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString thisProgram()
{
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? decodePath(QByteArray(path, n)) : QString();
}

QString folderOf(const QString &program)
{
    return program.left(program.lastIndexOf(u'/'));
}

// The program's own engine (programfiles.h); tests put a stand-in elsewhere.
QString engineFolder()
{
    return qEnvironmentVariableIsSet("PAGELIFT_ENGINE_FOLDER")
               ? qEnvironmentVariable("PAGELIFT_ENGINE_FOLDER")
               : programfiles::engineFolder(folderOf(thisProgram()));
}

// pagelift-convert --worker -q N -f FORMAT --gray 0|1 --pages LIST --box-width W
//     --box-height H -r DPI --timeout S --memory-limit BYTES --spares N --cpus N
//     --one-document 0|1 --cpu-list N,N...
//     --linked-files none|beside --require-sandbox yes|no
int worker(int &argc, char **argv)
{
    WorkerSettings settings;
    settings.engineFolder = engineFolder();
    for (int i = 2; i + 1 < argc; i += 2) {
        const QByteArray name = argv[i];
        const long long value = std::atoll(argv[i + 1]);
        if (name == "-q")
            settings.image.quality = int(value);
        else if (name == "-f")
            settings.image.format = imageFormatNamed(argv[i + 1]).value_or(ImageFormat::Jpeg);
        else if (name == "--gray")
            settings.image.grey = settings.document.grey = value != 0;
        else if (name == "--pages")
            settings.document.pages = PageChoice::parse(argv[i + 1]).value_or(PageChoice());
        else if (name == "--box-width")
            settings.document.boxWidth = int(value);
        else if (name == "--box-height")
            settings.document.boxHeight = int(value);
        else if (name == "-r")
            settings.document.dpi = int(value);
        else if (name == "--timeout")
            settings.document.callTimeoutMs = int(value * 1000);
        else if (name == "--memory-limit")
            settings.memoryLimitBytes = size_t(value);
        else if (name == "--spares")
            settings.spares = int(value);
        else if (name == "--cpus")
            settings.cpus = int(value);
        else if (name == "--one-document")
            settings.oneDocument = value != 0;
        else if (name == "--cpu-list") {
            for (const QByteArray &cpu : QByteArray(argv[i + 1]).split(','))
                if (!cpu.isEmpty())
                    settings.cpuList.push_back(cpu.toInt());
        } else if (name == "--linked-files" && QByteArray(argv[i + 1]) == "beside")
            settings.sandbox.linkedFiles = LinkedFiles::Beside;
        else if (name == "--require-sandbox")
            settings.sandbox.required = QByteArray(argv[i + 1]) == "yes";
    }
    return runWorker(argc, argv, settings);
}

// A standard stream that was closed is held by a descriptor that nothing can be
// written to, so that no file or socket this program opens takes its number and
// receives its output, and a report written to it fails as it should.
void holdClosedStandardStreams()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int held = ::open("/dev/null", O_RDONLY);
            if (held >= 0 && held != fd) {
                ::dup2(held, fd);
                ::close(held);
            }
        }
    }
}

} // namespace

int main(int argc, char *argv[])
{
    holdClosedStandardStreams();
    if (argc > 1 && QByteArray(argv[1]) == "--worker")
        return worker(argc, argv);

    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << decodePath(QByteArray(argv[i]));
    const ParsedArguments parsed =
        parseArguments(arguments, SettingsStore(SettingsStore::userFolder()));
    const ConvertOptions &options = parsed.options;
    if (!parsed.error.isEmpty()) {
        std::fprintf(stderr, "pagelift-convert: %s\n\n%s", printable(parsed.error).constData(),
                     qPrintable(usageText()));
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(usageText()), stdout);
        return 0;
    }
    // What the engines' sandbox enforces here, said once.
    const SandboxStatus sandbox = sandboxStatus(engineFolder());
    if (options.version) {
        std::printf("pagelift-convert %s\nsandbox: %s\n", PAGELIFT_VERSION,
                    sandbox.complete ? "complete (no network, no programs, reads only what "
                                       "conversion needs)"
                                     : qPrintable("incomplete: " + sandbox.missing));
        const machineshare::Share share = machineshare::current();
        std::printf("%s\n", qPrintable(describeJobs(share, defaultJobs(share, options.dpi))));
        return 0;
    }
    if (!sandbox.complete && options.requireSandbox) {
        std::fprintf(stderr,
                     "pagelift-convert: nothing converted: --require-sandbox, and the sandbox "
                     "is not complete: %s\n",
                     qPrintable(sandbox.missing));
        return 2;
    }
    if (!sandbox.complete)
        std::fprintf(stderr, "pagelift-convert: %s\n", qPrintable(sandboxNotice(sandbox)));
    if (options.thumbnailSize > 0)
        return runThumbnail(argc, argv, options, engineFolder());

    const Collection collection = collectDocuments(options);
    if (!collection.usageError.isEmpty()) {
        std::fprintf(stderr, "pagelift-convert: %s\n",
                     printable(collection.usageError).constData());
        return 2;
    }
    for (const QString &problem : collection.problems)
        std::fprintf(stderr, "pagelift-convert: %s\n", printable(problem).constData());
    if (collection.jobs.isEmpty()) {
        std::fprintf(stderr, "pagelift-convert: nothing to convert: no documents found\n\n%s",
                     qPrintable(usageText()));
        return 2;
    }
    const int status = runConversion(options, collection, thisProgram(), stdout, stderr);
    // What was skipped while collecting is left unconverted: that is a failure too.
    return status == 0 && !collection.problems.isEmpty() ? 1 : status;
}
