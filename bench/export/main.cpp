// pagelift-bench: how long Pagelift takes to turn documents into page images, against
// the reference pipeline (LibreOffice's PDF export, then pdftoppm) in the same run.
//
//   pagelift-bench [--reference] [--list] [DOCUMENT...]
//
// Without documents it makes a 3-page and a 40-page .docx. Each document is converted
// alone through the start button of an offscreen main window, after a second of idle
// time, and every line gives the reference's time over Pagelift's as its ratio. --list also
// converts a list of 20 made documents of 1 to 3 pages in one run, against one PDF export over all
// 20 followed by pdftoppm for each PDF.

#include "engineclient.h"
#include "enginepool.h"
#include "fakedialogs.h"
#include "filelistview.h"
#include "madedocuments.h"
#include "mainwindow.h"
#include "startup.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <cstdio>

namespace {

// The JPEG quality of both sides.
constexpr int kQuality = 75;

QString binFolder()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
}

// Makes a .docx of `pages` A4 pages in `folder`.
QString makeDocx(const QString &folder, const QString &name, int pages)
{
    QString error;
    const QString document = makeDocument(binFolder(), folder, name, QList<Page>(pages, Page::A4),
                                          QStringLiteral("docx"), &error);
    if (document.isEmpty())
        qFatal("cannot make %s: %s", qPrintable(name), qPrintable(error));
    return document;
}

struct Outcome
{
    double seconds = 0;
    int pages = 0;
    QString error;
};

int countImages(const QStringList &documents)
{
    int images = 0;
    for (const QString &document : documents) {
        const QFileInfo info(document);
        images += QDir(info.absolutePath())
                      .entryList({info.completeBaseName() + QStringLiteral("_*.jpg")}, QDir::Files)
                      .size();
    }
    return images;
}

// Converts the documents as the start button does, in one run. The engines come from
// one pool for the whole benchmark, as they do in a program that stays open.
Outcome runPagelift(const QStringList &documents)
{
    static const auto pool = std::make_shared<EnginePool>(binFolder());
    FakeDialogs dialogs; // records the run's messages instead of showing them
    MainWindowEnvironment environment;
    environment.dialogs = &dialogs;
    useEnginePool(environment, pool);
    environment.isOfficeRunning = [] { return false; };
    MainWindow form(environment);
    form.fileList->setColumnCount(1);
    // The reference's quality.
    form.qualitySlider->setValue(kQuality);
    for (const QString &document : documents)
        form.fileList->addTopLevelItem(new QTreeWidgetItem(QStringList{document}));

    QElapsedTimer timer;
    timer.start();
    form.startButton->click();
    Outcome outcome;
    outcome.seconds = timer.nsecsElapsed() / 1e9;
    outcome.pages = countImages(documents);
    if (dialogs.messages != QStringList{QStringLiteral("Done.")})
        outcome.error = dialogs.messages.join(QStringLiteral(" / ")).simplified();
    return outcome;
}

bool runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(600000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// LibreOffice's PDF export over all documents in one call, then pdftoppm per PDF.
Outcome runReference(const QStringList &documents, const QString &profile, const QString &out)
{
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    QElapsedTimer timer;
    timer.start();
    Outcome outcome;
    QStringList arguments = {
        QStringLiteral("--headless"),   QStringLiteral("-env:UserInstallation=file://") + profile,
        QStringLiteral("--convert-to"), QStringLiteral("pdf"),
        QStringLiteral("--outdir"),     out};
    arguments += documents;
    if (!runTool(QStringLiteral("soffice"), arguments))
        outcome.error = QStringLiteral("soffice failed");
    for (const QString &document : documents) {
        const QString pdf =
            QDir(out).filePath(QFileInfo(document).completeBaseName() + QStringLiteral(".pdf"));
        if (!QFileInfo::exists(pdf))
            continue;
        runTool(QStringLiteral("pdftoppm"),
                {QStringLiteral("-jpeg"), QStringLiteral("-r"), QStringLiteral("96"),
                 QStringLiteral("-jpegopt"), QStringLiteral("quality=%1").arg(kQuality), pdf,
                 QDir(out).filePath(QFileInfo(document).completeBaseName())});
    }
    outcome.seconds = timer.nsecsElapsed() / 1e9;
    outcome.pages = QDir(out).entryList({QStringLiteral("*.jpg")}, QDir::Files).size();
    return outcome;
}

// A moment of idle time before each case, as a program has between two clicks of its
// start button: the engine made ready ahead finishes its start meanwhile.
void settle()
{
    QThread::msleep(1000);
}

void print(const QString &line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

QString row(const QString &name, const Outcome &ours, const Outcome *reference)
{
    QString line =
        QStringLiteral("%1  pages %2  %3 s").arg(name).arg(ours.pages).arg(ours.seconds, 0, 'f', 3);
    if (reference)
        line += QStringLiteral("  reference %1 s (%2 pages)  ratio %3")
                    .arg(reference->seconds, 0, 'f', 3)
                    .arg(reference->pages)
                    .arg(ours.seconds > 0 ? reference->seconds / ours.seconds : 0, 0, 'f', 2);
    if (!ours.error.isEmpty())
        line += QStringLiteral("  error: ") + ours.error;
    return line;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QStringList arguments = app.arguments().mid(1);
    const bool reference = arguments.removeAll(QStringLiteral("--reference")) > 0;
    const bool list = arguments.removeAll(QStringLiteral("--list")) > 0;

    QTemporaryDir work;
    const QString made = work.filePath(QStringLiteral("made"));
    QDir().mkpath(made);
    QStringList documents;
    if (arguments.isEmpty()) {
        documents << makeDocx(made, QStringLiteral("three-pages"), 3)
                  << makeDocx(made, QStringLiteral("forty-pages"), 40);
    } else {
        // Copies, so that the images land in the scratch folder, not beside the originals.
        for (const QString &argument : arguments) {
            const QString copy = QDir(made).filePath(QFileInfo(argument).fileName());
            if (!QFile::copy(argument, copy))
                qFatal("cannot read %s", qPrintable(argument));
            documents << copy;
        }
    }

    // One untimed run each, so that neither side pays for making its profile.
    const QString referenceProfile = work.filePath(QStringLiteral("reference-profile"));
    const QString warm = makeDocx(work.path(), QStringLiteral("warm-up"), 1);
    runPagelift({warm});
    if (reference)
        runReference({warm}, referenceProfile, work.filePath(QStringLiteral("reference")));

    double ours = 0, theirs = 0;
    for (const QString &document : documents) {
        settle();
        const Outcome outcome = runPagelift({document});
        Outcome pipeline;
        if (reference)
            pipeline = runReference({document}, referenceProfile,
                                    work.filePath(QStringLiteral("reference")));
        ours += outcome.seconds;
        theirs += pipeline.seconds;
        print(row(QFileInfo(document).fileName(), outcome, reference ? &pipeline : nullptr));
    }
    if (reference && ours > 0)
        print(QStringLiteral("total  %1 s  reference %2 s  ratio %3")
                  .arg(ours, 0, 'f', 3)
                  .arg(theirs, 0, 'f', 3)
                  .arg(theirs / ours, 0, 'f', 2));

    if (list) {
        const QString folder = work.filePath(QStringLiteral("list"));
        QDir().mkpath(folder);
        QStringList twenty;
        for (int i = 0; i < 20; ++i)
            twenty << makeDocx(folder, QStringLiteral("doc%1").arg(i + 1, 2, 10, QChar(u'0')),
                               1 + i % 3);
        settle();
        const Outcome outcome = runPagelift(twenty);
        Outcome pipeline;
        if (reference)
            pipeline =
                runReference(twenty, referenceProfile, work.filePath(QStringLiteral("reference")));
        print(
            row(QStringLiteral("list of 20 documents"), outcome, reference ? &pipeline : nullptr));
    }
    return 0;
}
