// pagelift-bench: how long Pagelift takes to turn documents into page images, against
// reference pipelines in the same run. See usage() below.

#include "enginepool.h"
#include "fakedialogs.h"
#include "filelistview.h"
#include "madedocuments.h"
#include "mainwindow.h"
#include "pagememory.h"
#include "processcpu.h"
#include "startup.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <sys/prctl.h>

namespace {

const char *const kUsage =
    R"(usage: pagelift-bench [--reference] [--listener] [--list] [--many[=N]] [--convert]
                      [--scaling] [--resolution=DPI] [--repeat=N] [DOCUMENT...]

Converts documents through the start button of an offscreen main window and prints,
for each case, the wall time and the processor time (user + system of every process
involved) of each side, and each reference's times over Pagelift's.

Cases: each DOCUMENT alone; without documents, a made 3-page and a made 40-page .docx.
Each of these is run N times on every side (--repeat, 5 unless given), the sides taking
turns, and each side's run of median wall time is reported: a single document takes
a fraction of a second, which one run measures no better than to a tenth or so.
  --list        also a list of 20 made documents of 1 to 3 pages, in one run
  --many[=N]    also N (200) made documents of 1 to 3 pages, in one run

References (LibreOffice's own PDF export, then pdftoppm -jpeg -r 96 per PDF):
  --reference   cold: one `soffice --headless --convert-to pdf` call over all the
                documents of a case
  --listener    warm: a `soffice --headless --accept` listener started and warmed up
                before any timing, which loads, exports and closes each document in turn
                (bench/export/listener.py, which needs Debian's python3-uno)

Pagelift's sides: the window's start button, and with
  --convert     also pagelift-convert, in one call per case, with its default jobs
  --scaling     also pagelift-convert -j 1 pinned to one core (taskset -c 0) and
                pagelift-convert -j 2, to see how the work scales with cores
  --resolution=DPI  pages at DPI pixels per inch (pagelift-convert -r DPI against
                pdftoppm -r DPI; the window and the listener only draw at 96)

--keep-images=FOLDER copies Pagelift's images there (the last run of each document
name wins), to compare two builds or settings byte for byte.

Every side writes JPEGs at quality 75. Pagelift's processor time includes what its
processes did ahead (engines made ready) since its previous case; it is also shown apart.
)";

// The JPEG quality of every side.
constexpr int kQuality = 75;

QString binFolder()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
}

QStringList makeDocx(const QString &folder, const QList<DocumentPlan> &plans)
{
    QString error;
    const QStringList documents =
        makeDocuments(binFolder(), folder, plans, QStringLiteral("docx"), &error);
    if (documents.isEmpty())
        qFatal("cannot make documents in %s: %s", qPrintable(folder), qPrintable(error));
    return documents;
}

// `count` documents of 1 to 3 A4 pages, each with text of its own.
QStringList makeShortDocuments(const QString &folder, int count)
{
    QDir().mkpath(folder);
    QList<DocumentPlan> plans;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("doc%1").arg(i + 1, 3, 10, QChar(u'0'));
        plans.append({name, QList<Page>(1 + i % 3, Page::A4), name});
    }
    return makeDocx(folder, plans);
}

// What one side did with one case's documents.
struct Outcome
{
    double seconds = 0;         // wall time
    double cpuSeconds = 0;      // user + system of every process at work, during the run
    double aheadCpuSeconds = 0; // spent before the run on its behalf (engines made ready)
    double ownCpuSeconds = -1;  // of which in this process (the window), where that counts
    int pages = 0;              // images written
    QString error;

    double allCpuSeconds() const { return cpuSeconds + aheadCpuSeconds; }
};

// One way of converting documents. A side converts a case's documents in one go and
// tells what that took; further sides (another Pagelift program, another reference)
// are one more entry in the lists main() builds.
struct Side
{
    QString name;
    std::function<Outcome(const QStringList &documents)> run;
};

// A side run by `runner`, which keeps its state (a pool, a listener) from case to case.
template <typename Runner> Side sideOf(const QString &name, std::shared_ptr<Runner> runner)
{
    return {name, [runner](const QStringList &documents) { return (*runner)(documents); }};
}

// Where --keep-images copies Pagelift's images, or empty.
QString &keptImagesFolder()
{
    static QString folder;
    return folder;
}

// Copies the documents' images to --keep-images' folder, so that two runs (another
// build, other settings) can be compared byte for byte.
void keepImages(const QStringList &documents)
{
    if (keptImagesFolder().isEmpty())
        return;
    QDir().mkpath(keptImagesFolder());
    for (const QString &document : documents) {
        const QFileInfo info(document);
        const QDir folder(info.absolutePath());
        for (const QString &image :
             folder.entryList({info.completeBaseName() + QStringLiteral("_*.jpg")}, QDir::Files)) {
            const QString copy = QDir(keptImagesFolder()).filePath(image);
            QFile::remove(copy);
            QFile::copy(folder.filePath(image), copy);
        }
    }
}

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

int countImagesIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files).size();
}

// Processes that belong to a reference and live through several cases (the warm
// listener): everything else this benchmark starts and keeps is Pagelift's.
QSet<qint64> &referenceProcesses()
{
    static QSet<qint64> pids;
    return pids;
}

// The processor time of Pagelift's side: this process (the window), its launchers and
// engines, and whatever of them has ended.
double pageliftCpu(const CpuSnapshot &snapshot)
{
    return snapshot.self + snapshot.reaped + snapshot.childrenExcept(referenceProcesses());
}

// Converts the documents as the start button does, in one run. The engines come from
// one pool for all the cases, as they do in a program that stays open.
class WindowSide
{
public:
    Outcome operator()(const QStringList &documents)
    {
        FakeDialogs dialogs; // records the run's messages instead of showing them
        MainWindowEnvironment environment;
        environment.dialogs = &dialogs;
        useEnginePool(environment, m_pool);
        environment.isOfficeRunning = [] { return false; };
        MainWindow form(environment);
        form.fileList->setColumnCount(1);
        form.qualitySlider->setValue(kQuality);
        for (const QString &document : documents)
            form.fileList->addTopLevelItem(new QTreeWidgetItem(QStringList{document}));

        const CpuSnapshot before = CpuSnapshot::take();
        QElapsedTimer timer;
        timer.start();
        form.startButton->click();
        Outcome outcome;
        outcome.seconds = timer.nsecsElapsed() / 1e9;
        const CpuSnapshot after = CpuSnapshot::take();

        outcome.cpuSeconds = pageliftCpu(after) - pageliftCpu(before);
        outcome.ownCpuSeconds = after.self - before.self;
        // The launchers' trees between the end of the previous run and this one:
        // engines made ready and warmed up for this run. Not the reaped children, which
        // meanwhile are the references' processes.
        if (m_lastEnd)
            outcome.aheadCpuSeconds =
                std::max(0.0, before.childrenExcept(referenceProcesses()) -
                                  m_lastEnd->childrenExcept(referenceProcesses()));
        m_lastEnd = after;
        outcome.pages = countImages(documents);
        keepImages(documents);
        if (dialogs.messages != QStringList{QStringLiteral("Done.")})
            outcome.error = dialogs.messages.join(QStringLiteral(" / ")).simplified();
        return outcome;
    }

private:
    std::shared_ptr<EnginePool> m_pool = std::make_shared<EnginePool>(binFolder());
    std::optional<CpuSnapshot> m_lastEnd;
};

// Converts the documents with pagelift-convert, in one call: `jobs` at once (0: its
// default), through `prefix` (for example taskset, to pin it to one core).
class ConvertSide
{
public:
    ConvertSide(int jobs, int dpi, QStringList prefix = {})
        : m_jobs(jobs), m_dpi(dpi), m_prefix(std::move(prefix))
    {
    }

    Outcome operator()(const QStringList &documents)
    {
        QStringList command = m_prefix;
        command << binFolder() + QStringLiteral("/pagelift-convert") << QStringLiteral("-q")
                << QString::number(kQuality) << QStringLiteral("-r") << QString::number(m_dpi)
                << QStringLiteral("--from") << QStringLiteral("-") << QStringLiteral("-0");
        if (m_jobs > 0)
            command << QStringLiteral("-j") << QString::number(m_jobs);
        QByteArray list;
        for (const QString &document : documents)
            list += QFile::encodeName(document) + '\0';

        const CpuSnapshot before = CpuSnapshot::take();
        QElapsedTimer timer;
        timer.start();
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(command.takeFirst(), command);
        process.write(list);
        process.closeWriteChannel();
        const bool finished = process.waitForFinished(3600000);
        Outcome outcome;
        outcome.seconds = timer.nsecsElapsed() / 1e9;
        // The program waits for its workers, they for their launchers, the launchers for
        // their engines: all of it is in the reaped children's time.
        outcome.cpuSeconds = CpuSnapshot::take().reaped - before.reaped;
        outcome.pages = countImages(documents);
        keepImages(documents);
        if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            outcome.error = QStringLiteral("pagelift-convert failed");
        return outcome;
    }

private:
    int m_jobs;
    int m_dpi;
    QStringList m_prefix;
};

bool runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(600000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

QStringList pdftoppmArguments(const QString &pdf, const QString &prefix, int dpi = 96)
{
    return {QStringLiteral("-jpeg"),
            QStringLiteral("-r"),
            QString::number(dpi),
            QStringLiteral("-jpegopt"),
            QStringLiteral("quality=%1").arg(kQuality),
            pdf,
            prefix};
}

// The cold pipeline, done the best way for it: LibreOffice's PDF export over all the
// documents in one call, then pdftoppm per PDF.
class ColdSide
{
public:
    ColdSide(QString profile, QString out, int dpi = 96)
        : m_profile(std::move(profile)), m_out(std::move(out)), m_dpi(dpi)
    {
    }

    Outcome operator()(const QStringList &documents)
    {
        QDir(m_out).removeRecursively();
        QDir().mkpath(m_out);
        const CpuSnapshot before = CpuSnapshot::take();
        QElapsedTimer timer;
        timer.start();
        Outcome outcome;
        QStringList arguments = {QStringLiteral("--headless"),
                                 QStringLiteral("-env:UserInstallation=file://") + m_profile,
                                 QStringLiteral("--convert-to"),
                                 QStringLiteral("pdf"),
                                 QStringLiteral("--outdir"),
                                 m_out};
        arguments += documents;
        if (!runTool(QStringLiteral("soffice"), arguments))
            outcome.error = QStringLiteral("soffice failed");
        for (const QString &document : documents) {
            const QString stem = QFileInfo(document).completeBaseName();
            const QString pdf = QDir(m_out).filePath(stem + QStringLiteral(".pdf"));
            if (QFileInfo::exists(pdf))
                runTool(QStringLiteral("pdftoppm"),
                        pdftoppmArguments(pdf, QDir(m_out).filePath(stem), m_dpi));
        }
        outcome.seconds = timer.nsecsElapsed() / 1e9;
        // soffice and pdftoppm have been waited for; nothing else of ours ends meanwhile.
        outcome.cpuSeconds = CpuSnapshot::take().reaped - before.reaped;
        outcome.pages = countImagesIn(m_out);
        return outcome;
    }

private:
    QString m_profile;
    QString m_out;
    int m_dpi;
};

// A warm listener, as conversion servers run LibreOffice: started and warmed up before
// any timing, then given each case's documents (see listener.py).
class ListenerSide
{
public:
    ListenerSide(const QString &profile, QString out) : m_out(std::move(out))
    {
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // It ends its office when told to end, so that nothing outlives the benchmark.
        m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process->start(
            QStringLiteral("/usr/bin/python3"),
            {QCoreApplication::applicationDirPath() + QStringLiteral("/pagelift-bench-listener.py"),
             profile, QString::number(kQuality)});
        if (!m_process->waitForStarted(60000) || readLine() != "ready")
            qFatal("the warm listener did not start (is python3-uno installed?)");
        referenceProcesses().insert(m_process->processId());
    }

    Outcome operator()(const QStringList &documents)
    {
        QDir(m_out).removeRecursively();
        const qint64 pid = m_process->processId();
        const CpuSnapshot before = CpuSnapshot::take();
        QElapsedTimer timer;
        timer.start();
        m_process->write(
            (QStringList{QStringLiteral("convert"), m_out} + documents).join(u'\t').toUtf8() +
            '\n');
        const QByteArray answer = readLine();
        Outcome outcome;
        outcome.seconds = timer.nsecsElapsed() / 1e9;
        outcome.cpuSeconds = CpuSnapshot::take().child(pid) - before.child(pid);
        outcome.pages = countImagesIn(m_out);
        if (answer != "done")
            outcome.error = QString::fromUtf8(answer);
        return outcome;
    }

    // The listener ends its office when its input closes, and kills it when the office
    // does not end in time.
    ~ListenerSide()
    {
        m_process->closeWriteChannel();
        if (!m_process->waitForFinished(60000)) {
            m_process->terminate();
            if (!m_process->waitForFinished(60000))
                m_process->kill();
        }
        m_process->waitForFinished(10000);
    }

    ListenerSide(const ListenerSide &) = delete;
    ListenerSide &operator=(const ListenerSide &) = delete;

private:
    QByteArray readLine()
    {
        QDeadlineTimer deadline(600000);
        while (!m_process->canReadLine()) {
            if (m_process->state() != QProcess::Running || deadline.hasExpired() ||
                !m_process->waitForReadyRead(int(deadline.remainingTime())))
                return {};
        }
        return m_process->readLine().trimmed();
    }

    std::unique_ptr<QProcess> m_process;
    QString m_out;
};

// A moment of idle time before each side of each case, as a program has between two
// clicks of its start button: an engine made ready ahead finishes its start, and the
// processes of the side before have finished their work.
void settle()
{
    QThread::msleep(1000);
}

void print(const QString &line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

QString seconds(double value)
{
    return QString::number(value, 'f', 3);
}

QString ratio(double reference, double ours)
{
    return ours > 0 ? QString::number(reference / ours, 'f', 2) : QStringLiteral("-");
}

QString describe(const QString &name, const Outcome &outcome)
{
    QString line = QStringLiteral("  %1  pages %2  wall %3 s  cpu %4 s")
                       .arg(name.leftJustified(18))
                       .arg(outcome.pages, 4)
                       .arg(seconds(outcome.seconds), 7)
                       .arg(seconds(outcome.allCpuSeconds()), 7);
    QStringList parts;
    if (outcome.aheadCpuSeconds > 0)
        parts << QStringLiteral("%1 s ahead").arg(seconds(outcome.aheadCpuSeconds));
    if (outcome.ownCpuSeconds >= 0)
        parts << QStringLiteral("%1 s in the window").arg(seconds(outcome.ownCpuSeconds));
    if (!parts.isEmpty())
        line += QStringLiteral(" (of it %1)").arg(parts.join(QStringLiteral(", ")));
    return line;
}

struct Totals
{
    QList<Outcome> ours;
    QList<Outcome> references;
};

void add(Outcome &total, const Outcome &outcome)
{
    total.seconds += outcome.seconds;
    total.cpuSeconds += outcome.cpuSeconds;
    total.aheadCpuSeconds += outcome.aheadCpuSeconds;
    if (outcome.ownCpuSeconds >= 0)
        total.ownCpuSeconds = std::max(0.0, total.ownCpuSeconds) + outcome.ownCpuSeconds;
    total.pages += outcome.pages;
}

// Prints each Pagelift side, then each reference with its times over each Pagelift
// side's.
void report(const QString &title, const QList<Side> &ours, const QList<Outcome> &ourOutcomes,
            const QList<Side> &references, const QList<Outcome> &referenceOutcomes)
{
    print(title);
    for (qsizetype i = 0; i < ours.size(); ++i) {
        QString line = describe(ours[i].name, ourOutcomes[i]);
        if (!ourOutcomes[i].error.isEmpty())
            line += QStringLiteral("  error: ") + ourOutcomes[i].error;
        print(line);
    }
    for (qsizetype r = 0; r < references.size(); ++r) {
        const Outcome &reference = referenceOutcomes[r];
        QString line = describe(references[r].name, reference);
        for (qsizetype i = 0; i < ours.size(); ++i) {
            line += QStringLiteral("  ratio%1 wall %2 cpu %3")
                        .arg(ours.size() > 1 ? QStringLiteral(" to ") + ours[i].name : QString())
                        .arg(ratio(reference.seconds, ourOutcomes[i].seconds))
                        .arg(ratio(reference.allCpuSeconds(), ourOutcomes[i].allCpuSeconds()));
        }
        if (!reference.error.isEmpty())
            line += QStringLiteral("  error: ") + reference.error;
        print(line);
    }
}

// The outcome of median wall time (the lower of the two middle ones), with the first
// error of any run.
Outcome median(QList<Outcome> outcomes)
{
    QString error;
    for (const Outcome &outcome : outcomes) {
        if (error.isEmpty())
            error = outcome.error;
    }
    std::sort(outcomes.begin(), outcomes.end(),
              [](const Outcome &a, const Outcome &b) { return a.seconds < b.seconds; });
    Outcome chosen = outcomes.value((outcomes.size() - 1) / 2);
    chosen.error = error;
    return chosen;
}

// Runs one case on every side, Pagelift's first, `repeats` times with the sides taking
// turns, and reports each side's run of median wall time.
void runCase(const QString &title, const QStringList &documents, const QList<Side> &ours,
             const QList<Side> &references, Totals *totals = nullptr, int repeats = 1)
{
    const QList<Side> sides = ours + references;
    QList<QList<Outcome>> runs(sides.size());
    for (int round = 0; round < repeats; ++round) {
        for (qsizetype i = 0; i < sides.size(); ++i) {
            settle();
            runs[i] << sides[i].run(documents);
        }
    }
    QList<Outcome> ourOutcomes;
    QList<Outcome> referenceOutcomes;
    for (qsizetype i = 0; i < sides.size(); ++i)
        (i < ours.size() ? ourOutcomes : referenceOutcomes) << median(runs[i]);
    report(repeats > 1 ? QStringLiteral("%1 (median of %2 runs)").arg(title).arg(repeats) : title,
           ours, ourOutcomes, references, referenceOutcomes);
    if (!totals)
        return;
    totals->ours.resize(ours.size());
    totals->references.resize(references.size());
    for (qsizetype i = 0; i < ours.size(); ++i)
        add(totals->ours[i], ourOutcomes[i]);
    for (qsizetype i = 0; i < references.size(); ++i)
        add(totals->references[i], referenceOutcomes[i]);
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll()).section(u' ', 0, 2);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    keepPageMemoryForReuse(); // as the window's program does
    QApplication app(argc, argv);

    QStringList arguments = app.arguments().mid(1);
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const bool cold = arguments.removeAll(QStringLiteral("--reference")) > 0;
    const bool warm = arguments.removeAll(QStringLiteral("--listener")) > 0;
    const bool list = arguments.removeAll(QStringLiteral("--list")) > 0;
    const bool convert = arguments.removeAll(QStringLiteral("--convert")) > 0;
    const bool scaling = arguments.removeAll(QStringLiteral("--scaling")) > 0;
    int dpi = 96;
    int many = 0;
    int repeats = 5;
    for (auto argument = arguments.begin(); argument != arguments.end();) {
        if (*argument == QLatin1String("--many")) {
            many = 200;
        } else if (argument->startsWith(QLatin1String("--many="))) {
            many = argument->mid(7).toInt();
            if (many <= 0)
                qFatal("--many needs a number of documents above 0");
        } else if (argument->startsWith(QLatin1String("--resolution="))) {
            dpi = argument->mid(13).toInt();
            if (dpi < 48 || dpi > 600)
                qFatal("--resolution needs a resolution from 48 to 600");
        } else if (argument->startsWith(QLatin1String("--repeat="))) {
            repeats = argument->mid(9).toInt();
            if (repeats <= 0)
                qFatal("--repeat needs a number of runs above 0");
        } else if (argument->startsWith(QLatin1String("--keep-images="))) {
            keptImagesFolder() = QDir(argument->mid(14)).absolutePath();
        } else if (argument->startsWith(QLatin1String("--"))) {
            std::fputs(kUsage, stderr);
            return 2;
        } else {
            ++argument;
            continue;
        }
        argument = arguments.erase(argument);
    }

    QTemporaryDir work;
    const QString made = work.filePath(QStringLiteral("made"));
    QDir().mkpath(made);
    QStringList documents;
    if (arguments.isEmpty()) {
        documents =
            makeDocx(made, {{QStringLiteral("three-pages"), QList<Page>(3, Page::A4), {}},
                            {QStringLiteral("forty-pages"), QList<Page>(40, Page::A4), {}}});
    } else {
        // Copies, so that the images land in the scratch folder, not beside the originals.
        for (const QString &argument : arguments) {
            const QString copy = QDir(made).filePath(QFileInfo(argument).fileName());
            if (!QFile::copy(argument, copy))
                qFatal("cannot read %s", qPrintable(argument));
            documents << copy;
        }
    }
    const QStringList twenty =
        list ? makeShortDocuments(work.filePath(QStringLiteral("list")), 20) : QStringList();
    const QStringList manyDocuments =
        many > 0 ? makeShortDocuments(work.filePath(QStringLiteral("many")), many) : QStringList();
    const QString warmUp =
        makeDocx(work.path(), {{QStringLiteral("warm-up"), {Page::A4}, {}}}).value(0);

    // The window draws at its settings' resolution (96 here); other resolutions are the
    // command line's.
    QList<Side> ours;
    if (dpi == 96)
        ours << sideOf(QStringLiteral("pagelift window"), std::make_shared<WindowSide>());
    if (convert || dpi != 96)
        ours << sideOf(QStringLiteral("pagelift-convert"), std::make_shared<ConvertSide>(0, dpi));
    if (scaling) {
        ours << sideOf(QStringLiteral("convert -j1 1 core"),
                       std::make_shared<ConvertSide>(
                           1, dpi, QStringList{QStringLiteral("taskset"), QStringLiteral("-c"),
                                               QStringLiteral("0")}))
             << sideOf(QStringLiteral("convert -j2"), std::make_shared<ConvertSide>(2, dpi));
    }
    QList<Side> references;
    if (cold)
        references << sideOf(
            QStringLiteral("cold soffice"),
            std::make_shared<ColdSide>(work.filePath(QStringLiteral("cold-profile")),
                                       work.filePath(QStringLiteral("cold")), dpi));
    if (warm && dpi != 96)
        qFatal("--listener draws at 96 pixels per inch only");
    if (warm)
        references << sideOf(
            QStringLiteral("warm listener"),
            std::make_shared<ListenerSide>(work.filePath(QStringLiteral("listener-profile")),
                                           work.filePath(QStringLiteral("listener"))));

    // One untimed run each, so that no side pays for making its profile or for its
    // first document.
    for (const Side &side : ours + references)
        side.run({warmUp});

    print(QStringLiteral("load average before: %1").arg(loadAverage()));
    Totals totals;
    for (const QString &document : documents) {
        runCase(QFileInfo(document).fileName(), {document}, ours, references, &totals, repeats);
    }
    if (documents.size() > 1 && !references.isEmpty())
        report(QStringLiteral("total of the single documents"), ours, totals.ours, references,
               totals.references);
    if (list)
        runCase(QStringLiteral("list of %1 documents").arg(twenty.size()), twenty, ours,
                references);
    if (many > 0)
        runCase(QStringLiteral("%1 documents").arg(manyDocuments.size()), manyDocuments, ours,
                references);
    print(QStringLiteral("load average after: %1").arg(loadAverage()));
    return 0;
}
