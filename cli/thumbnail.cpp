#include "thumbnail.h"

#include "childprocesses.h"
#include "engineclient.h"
#include "error.h"
#include "filereplace.h"
#include "offscreen.h"
#include "options.h"
#include "printable.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

volatile sig_atomic_t timedOut = 0;

// The deadline, or an interruption: the engine goes, and so does the picture being
// written, so that nothing is left at the output.
void endAtOnce(int signal)
{
    removeUnfinishedFile();
    childprocesses::killAll();
    constexpr char message[] = "pagelift-convert: the thumbnail took too long\n";
    if (signal == SIGALRM) [[maybe_unused]]
        const ssize_t n = ::write(STDERR_FILENO, message, sizeof message - 1);
    ::_exit(signal == SIGALRM ? 1 : 128 + signal);
}

} // namespace

int runThumbnail(int &argc, char **argv, const ConvertOptions &options, const QString &engineFolder)
{
    for (int signal : {SIGALRM, SIGTERM, SIGINT, SIGHUP})
        ::signal(signal, endAtOnce);
    ::alarm(unsigned(options.timeoutSeconds));

    const std::unique_ptr<QApplication> app = OffscreenPages::application(argc, argv);
    OffscreenPages pages(options.quality);
    DocumentOptions document;
    document.callTimeoutMs = options.timeoutSeconds * 1000;
    document.boxWidth = options.boxWidth;
    document.boxHeight = options.boxHeight;
    document.grey = options.grey;
    document.pages = options.pages;
    // One document: a fresh engine, the plain way, is ready soonest.
    const WordFactory createWord = engineFactory(engineFolder, document);

    ExportHost host = pages.host();
    host.format = ImageFormat::Png;
    host.grey = options.grey;
    host.pages = options.pages;
    host.imagePath = options.thumbnailFile;
    bool written = false;
    host.imageWritten = [&](const QString &) { written = true; };
    const QString input = options.paths.value(0);
    std::optional<QString> failure = failureOf([&] { exportPages(input, createWord, host); });
    if (!failure && !written)
        failure = QStringLiteral("\"%1\" has no pages").arg(input);
    if (failure) {
        std::fprintf(stderr, "pagelift-convert: %s\n", printableLine(*failure).constData());
        return 1;
    }
    return 0;
}
