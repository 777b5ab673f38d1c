// Times the folder button's scan on a made tree and, in the same run, find(1) with
// the same pattern, and prints the ratio. The main window is shown and asked to
// repaint from a timer throughout, to see that the scan keeps it responsive.
// Run: build/bin/bench_scan (offscreen without a display; xvfb-run for a real one).
#include "events.h"
#include "fakedialogs.h"
#include "filelistview.h"
#include "folderscan.h"
#include "mainwindow.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kFolders = 2000;
constexpr int kFilesPerFolder = 10;
constexpr int kBranching = 8;
constexpr int kRuns = 5;

// Counts the paints of a window and its children.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Folder i hangs below folder (i - 1) / kBranching, so the tree is a few levels deep
// and wide, with 10 files in each folder: 6 match "*.doc" (one in capitals).
bool makeTree(const QString &root, int &matching)
{
    std::vector<QString> folders{root};
    for (int i = 1; i < kFolders; ++i) {
        folders.push_back(folders[(i - 1) / kBranching] + QStringLiteral("/d%1").arg(i));
        if (!QDir().mkdir(folders.back()))
            return false;
    }
    const char *kinds[kFilesPerFolder] = {"doc", "doc", "doc", "doc", "doc",
                                          "DOC", "txt", "txt", "txt", "docx"};
    matching = 0;
    for (const QString &folder : folders) {
        for (int j = 0; j < kFilesPerFolder; ++j) {
            QFile file(folder + QStringLiteral("/file%1.%2").arg(j).arg(QLatin1String(kinds[j])));
            if (!file.open(QIODevice::WriteOnly))
                return false;
            matching += QByteArray(kinds[j]).toLower() == "doc";
        }
    }
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir dir;
    int matching = 0;
    if (!dir.isValid() || !makeTree(dir.path(), matching)) {
        std::fprintf(stderr, "cannot make the tree in %s\n", qPrintable(dir.path()));
        return 1;
    }

    // The two questions of the folder button, answered for every run.
    FakeDialogs answers;
    answers.inputAnswers.assign(kRuns, QStringLiteral("doc"));
    answers.folderAnswers.assign(kRuns, dir.path());
    MainWindowEnvironment environment;
    environment.dialogs = &answers;
    MainWindow form(environment);
    PaintCounter counter;
    form.installEventFilter(&counter);
    form.fileList->viewport()->installEventFilter(&counter);
    form.show();

    // A steady stream of repaint requests, as a busy desktop would cause.
    QTimer repaint;
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    int ticks = 0;
    QObject::connect(&repaint, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTick.restart());
        ++ticks;
        form.fileList->viewport()->update();
    });
    int rounds = 0;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                     [&] { ++rounds; });

    std::vector<double> scanTimes;
    int paintsInScans = 0, ticksInScans = 0, roundsInScans = 0;
    for (int run = 0; run < kRuns; ++run) {
        form.fileList->clear();
        QApplication::processEvents();
        counter.paints = 0;
        ticks = 0;
        rounds = 0;
        longestGap = 0;
        repaint.start(10);
        sinceTick.start();
        QElapsedTimer timer;
        timer.start();
        form.addFolderButton->click();
        scanTimes.push_back(timer.nsecsElapsed() / 1e6);
        // The files are listed after the last event round, with no events by design.
        const qint64 tail = sinceTick.elapsed();
        repaint.stop();
        paintsInScans += counter.paints;
        ticksInScans += ticks;
        roundsInScans += rounds;
        if (form.fileList->rowCount() != matching) {
            std::fprintf(stderr, "the scan found %d files, expected %d\n",
                         form.fileList->rowCount(), matching);
            return 1;
        }
        std::printf("scan %d: %.1f ms, %d paints, %d timer ticks, longest gap %lld ms, "
                    "%d event rounds, %lld ms from the last tick to the end\n",
                    run + 1, scanTimes.back(), counter.paints, ticks, longestGap, rounds, tail);
    }

    {
        QElapsedTimer timer;
        timer.start();
        const QStringList rows =
            folderTreeRows(dir.path(), QStringLiteral("*.doc"), events::processPending);
        const double collect = timer.nsecsElapsed() / 1e6;
        timer.restart();
        form.fileList->clear();
        form.fileList->appendRows(rows);
        std::printf("of which: collecting and listing %.1f ms, appending the rows %.1f ms\n",
                    collect, timer.nsecsElapsed() / 1e6);
    }

    std::vector<double> findTimes;
    for (int run = 0; run < kRuns; ++run) {
        QProcess find;
        QElapsedTimer timer;
        timer.start();
        find.start(QStringLiteral("find"),
                   {dir.path(), QStringLiteral("-iname"), QStringLiteral("*.doc")});
        if (!find.waitForFinished(60000)) {
            std::fprintf(stderr, "find did not finish\n");
            return 1;
        }
        const QByteArray out = find.readAllStandardOutput();
        findTimes.push_back(timer.nsecsElapsed() / 1e6);
        if (out.count('\n') != matching) {
            std::fprintf(stderr, "find found %lld files, expected %d\n",
                         static_cast<long long>(out.count('\n')), matching);
            return 1;
        }
        std::printf("find %d: %.1f ms\n", run + 1, findTimes.back());
    }

    const double scan = median(scanTimes);
    const double found = median(findTimes);
    std::printf("tree: %d folders, %d files, %d matching \"*.doc\"\n", kFolders,
                kFolders * kFilesPerFolder, matching);
    std::printf("median of %d: scan %.1f ms, find %.1f ms, ratio %.2f (target: at most 3)\n", kRuns,
                scan, found, scan / found);
    std::printf("during the scans: %d paints, %d timer ticks, %d event rounds, %d messages\n",
                paintsInScans, ticksInScans, roundsInScans, int(answers.messages.size()));
    return 0;
}
