// pagelift-bench: how long Pagelift takes to turn documents into page images, against
// reference pipelines in the same run. See usage() below.

#include "enginepool.h"
#include "fakedialogs.h"
#include "filelistview.h"
#include "madedocuments.h"
#include "mainwindow.h"
#include "otherdocuments.h"
#include "pagememory.h"
#include "processcpu.h"
#include "programsides.h"
#include "side.h"
#include "startup.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>

namespace {

const char *const kUsage =
    R"(usage: pagelift-bench [--reference] [--listener] [--list] [--many[=N]] [--convert]
                      [--scaling] [--resolution=DPI] [--presentation] [--format=FORMATS]
                      [--preview[=DOCUMENT]] [--pdf[=N]] [--repeat=N] [DOCUMENT...]

Converts documents through the start button of an offscreen main window and prints,
for each case, the wall time and the processor time (user + system of every process
involved) of each side, and each reference's times over Pagelift's.

Cases: each DOCUMENT alone; without documents, a made 3-page and a made 40-page .docx.
Each of these is run N times on every side (--repeat, 5 unless given), the sides taking
turns, and each side's run of median wall time is reported: a single document takes
a fraction of a second, which one run measures no better than to a tenth or so.
  --list        also a list of 20 made documents of 1 to 3 pages, in one run
  --many[=N]    also N (200) made documents of 1 to 3 pages, in one run
  --presentation  also a made 20-slide .pptx, as a single document on every side, and
                ten copies of it in one run

References (LibreOffice's own PDF export, then pdftoppm -jpeg -r 96 per PDF):
  --reference   cold: one `soffice --headless --convert-to pdf` call over all the
                documents of a case
  --listener    warm: a `soffice --headless --accept` listener started and warmed up
                before any timing, which loads, exports and closes each document in turn
                (bench/export/listener.py, which needs Debian's python3-uno)

Pagelift's sides: the window's start button, and with
  --convert     also pagelift-convert, in one call per case, with its default jobs
  --scaling     also pagelift-convert -j 1 pinned to one core (taskset -c 0) and
                pagelift-convert -j 2, to see how the work scales with cores; with
                --listener, on --list and --many also one warm listener pinned to
                core 0 against two pinned to cores 0 and 1 that take half each
  --resolution=DPI  pages at DPI pixels per inch (pagelift-convert -r DPI against
                pdftoppm -r DPI; the window and the listener only draw at 96)

Cases of their own, at 96 pixels per inch, with time and bytes per page:
  --format=png  the made 40-page .docx as PNG: pagelift-convert -f png against the
                warm listener's PDF export and pdftoppm -png
  --format=webp the made 40-page .docx as WebP against JPEG, both pagelift-convert at
                quality 75 (the JPEG side stands where a reference does)
                (--format=png,webp for both)
  --preview[=DOCUMENT]  page 1 as a PNG 256 pixels wide, of the made 40-page .docx and
                of DOCUMENT: pagelift-convert --pages 1 --width 256 -f png and
                pagelift-convert --thumbnail 256 against the warm listener's own PNG
                export of the first page (writer_png_Export)
  --pdf[=N]     a made 100-page PDF: pagelift-convert -j 1 against pdftoppm -jpeg, both
                pinned to core 0; then N (6) such PDFs: pagelift-convert with its
                default jobs against pdftoppm one PDF after the other and two at a time
The PNG and preview cases start the warm listener even without --listener.

--keep-images=FOLDER copies Pagelift's images there (the last run of each document
name wins), to compare two builds or settings byte for byte.

Every side writes JPEGs at quality 75. Pagelift's processor time includes what its
processes did ahead (engines made ready) since its previous case; it is also shown apart.
)";

// Makes the documents of `plans` in `format`, or stops the benchmark.
QStringList makeOrStop(const QString &folder, const QList<DocumentPlan> &plans,
                       const QString &format = QStringLiteral("docx"))
{
    QString error;
    const QStringList documents = makeDocuments(binFolder(), folder, plans, format, &error);
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
    return makeOrStop(folder, plans);
}

// A made 20-slide presentation with text and shapes, saved as .pptx by the office.
QString makePresentation(const QString &folder)
{
    const QString flat = QDir(folder).filePath(QStringLiteral("twenty-slides.fodp"));
    const QString pptx = QDir(folder).filePath(QStringLiteral("twenty-slides.pptx"));
    QString error;
    if (!writeFile(flat, flatSlideShow(20)) || !saveDocuments(binFolder(), {{flat, pptx}}, &error))
        qFatal("cannot make %s: %s", qPrintable(pptx), qPrintable(error));
    return pptx;
}

// `count` copies of `document` in a folder of their own, named apart.
QStringList copiesOf(const QString &document, const QString &folder, int count)
{
    QDir().mkpath(folder);
    QStringList copies;
    for (int i = 1; i <= count; ++i) {
        const QString copy = QDir(folder).filePath(QStringLiteral("copy%1.%2")
                                                       .arg(i, 2, 10, QChar(u'0'))
                                                       .arg(QFileInfo(document).suffix()));
        if (!QFile::copy(document, copy))
            qFatal("cannot copy %s", qPrintable(document));
        copies << copy;
    }
    return copies;
}

// `count` PDFs of 100 A4 pages of text, printed by the office, then a 1-page one to warm
// up on.
QStringList makePdfs(const QString &folder, int count)
{
    // Every seventh page of made text runs over onto a second page: 87 make 100.
    constexpr int kPlannedPages = 87;
    QDir().mkpath(folder);
    QList<DocumentPlan> plans;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("hundred-pages-%1").arg(i + 1);
        plans.append({name, QList<Page>(kPlannedPages, Page::A4), name});
    }
    plans.append({QStringLiteral("warm-up"), {Page::A4}, {}});
    return makeOrStop(folder, plans, QStringLiteral("pdf"));
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
        addImagesBeside(outcome, documents);
        keepImages(documents);
        if (dialogs.messages != QStringList{QStringLiteral("Done.")})
            outcome.error = dialogs.messages.join(QStringLiteral(" / ")).simplified();
        return outcome;
    }

private:
    std::shared_ptr<EnginePool> m_pool = std::make_shared<EnginePool>(binFolder());
    std::optional<CpuSnapshot> m_lastEnd;
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

// A side's line: its pages, wall and processor time, and with `perPage` the time and
// bytes of one page.
QString describe(const QString &name, const Outcome &outcome, bool perPage)
{
    QString line = QStringLiteral("  %1  pages %2  wall %3 s  cpu %4 s")
                       .arg(name.leftJustified(18))
                       .arg(outcome.pages, 4)
                       .arg(seconds(outcome.seconds), 7)
                       .arg(seconds(outcome.allCpuSeconds()), 7);
    if (perPage && outcome.pages > 0)
        line += QStringLiteral("  a page %1 ms %2 bytes")
                    .arg(outcome.seconds * 1000 / outcome.pages, 7, 'f', 2)
                    .arg(outcome.bytes / outcome.pages, 7);
    QStringList parts;
    if (outcome.aheadCpuSeconds > 0)
        parts << QStringLiteral("%1 s ahead").arg(seconds(outcome.aheadCpuSeconds));
    if (outcome.ownCpuSeconds >= 0)
        parts << QStringLiteral("%1 s in the window").arg(seconds(outcome.ownCpuSeconds));
    if (!parts.isEmpty())
        line += QStringLiteral(" (of it %1)").arg(parts.join(QStringLiteral(", ")));
    return line;
}

double bytesPerPage(const Outcome &outcome)
{
    return outcome.pages > 0 ? double(outcome.bytes) / outcome.pages : 0;
}

// One case: documents, the sides that convert them, and how it is run and reported.
struct Case
{
    QString title = {};
    QStringList documents = {};
    QList<Side> ours = {};
    QList<Side> references = {};
    int repeats = 1;
    bool perPage = false; // also the time and bytes of one page, and their ratios
    QString warmUp = {};  // what each side converts once, untimed, before any case
};

// Each side's outcome in a case, ours and the references'.
struct Outcomes
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
    total.bytes += outcome.bytes;
}

// Prints each Pagelift side, then each reference with its times (and with `perPage` its
// bytes a page) over each Pagelift side's.
void report(const QString &title, const Case &sides, const Outcomes &outcomes)
{
    print(title);
    for (qsizetype i = 0; i < sides.ours.size(); ++i) {
        QString line = describe(sides.ours[i].name, outcomes.ours[i], sides.perPage);
        if (!outcomes.ours[i].error.isEmpty())
            line += QStringLiteral("  error: ") + outcomes.ours[i].error;
        print(line);
    }
    for (qsizetype r = 0; r < sides.references.size(); ++r) {
        const Outcome &reference = outcomes.references[r];
        QString line = describe(sides.references[r].name, reference, sides.perPage);
        for (qsizetype i = 0; i < sides.ours.size(); ++i) {
            const Outcome &ours = outcomes.ours[i];
            line += QStringLiteral("  ratio%1 wall %2 cpu %3")
                        .arg(sides.ours.size() > 1 ? QStringLiteral(" to ") + sides.ours[i].name
                                                   : QString())
                        .arg(ratio(reference.seconds, ours.seconds))
                        .arg(ratio(reference.allCpuSeconds(), ours.allCpuSeconds()));
            if (sides.perPage)
                line += QStringLiteral(" bytes %1")
                            .arg(ratio(bytesPerPage(reference), bytesPerPage(ours)));
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

// Names of the sides that show how the work scales from one core to two.
const QString kConvertOneCore = QStringLiteral("convert -j1 1 core");
const QString kConvertTwoJobs = QStringLiteral("convert -j2");
const QString kListenerOneCore = QStringLiteral("listener 1 core");
const QString kListenersTwoCores = QStringLiteral("listeners 2 cores");

// How much faster two cores are than one, for Pagelift and for the listener side by
// side, where the case has both sides of either.
void reportScaling(const Case &sides, const Outcomes &outcomes)
{
    const auto outcomeOf = [&](const QString &name) -> const Outcome * {
        for (qsizetype i = 0; i < sides.ours.size(); ++i) {
            if (sides.ours[i].name == name)
                return &outcomes.ours[i];
        }
        for (qsizetype i = 0; i < sides.references.size(); ++i) {
            if (sides.references[i].name == name)
                return &outcomes.references[i];
        }
        return nullptr;
    };
    QStringList parts;
    for (const auto &[label, one, two] :
         {std::tuple{QStringLiteral("pagelift-convert -j1/-j2"), kConvertOneCore, kConvertTwoJobs},
          std::tuple{QStringLiteral("listener one/two"), kListenerOneCore, kListenersTwoCores}}) {
        const Outcome *onOne = outcomeOf(one);
        const Outcome *onTwo = outcomeOf(two);
        if (onOne && onTwo)
            parts << QStringLiteral("%1 wall %2 cpu %3")
                         .arg(label, ratio(onOne->seconds, onTwo->seconds),
                              ratio(onOne->allCpuSeconds(), onTwo->allCpuSeconds()));
    }
    if (!parts.isEmpty())
        print(QStringLiteral("  one core over two: ") + parts.join(QStringLiteral("  ")));
}

// Runs a case on every side, Pagelift's first, its `repeats` times with the sides taking
// turns, and reports each side's run of median wall time.
Outcomes runCase(const Case &sides)
{
    const QList<Side> all = sides.ours + sides.references;
    QList<QList<Outcome>> runs(all.size());
    for (int round = 0; round < sides.repeats; ++round) {
        for (qsizetype i = 0; i < all.size(); ++i) {
            settle();
            runs[i] << all[i].run(sides.documents);
        }
    }
    Outcomes outcomes;
    for (qsizetype i = 0; i < all.size(); ++i)
        (i < sides.ours.size() ? outcomes.ours : outcomes.references) << median(runs[i]);
    report(sides.repeats > 1
               ? QStringLiteral("%1 (median of %2 runs)").arg(sides.title).arg(sides.repeats)
               : sides.title,
           sides, outcomes);
    reportScaling(sides, outcomes);
    return outcomes;
}

// What the cases of their own share.
struct Workshop
{
    std::function<QString(const QString &name)> scratch; // a path in the scratch folder
    QString fortyPages;                                  // the made 40-page document
    QString warmUp;
    int repeats;
    std::shared_ptr<Listener> listener; // the warm one
};

// The made 40-page document as PNG: pagelift-convert against the listener's PDF export
// and pdftoppm -png.
Case pngCase(const Workshop &workshop)
{
    return {
        .title = QFileInfo(workshop.fortyPages).fileName() + QStringLiteral(" as PNG"),
        .documents = {workshop.fortyPages},
        .ours = {side<ConvertSide>(QStringLiteral("convert png"),
                                   drawnAt(96, 0, {QStringLiteral("-f"), QStringLiteral("png")}),
                                   QStringList(), workshop.scratch(QStringLiteral("convert-png")))},
        .references = {side<ListenerSide>(QStringLiteral("listener png"), QList{workshop.listener},
                                          workshop.scratch(QStringLiteral("listener-png")),
                                          QStringLiteral("png"))},
        .repeats = workshop.repeats,
        .perPage = true,
        .warmUp = workshop.warmUp};
}

// The made 40-page document as WebP and as JPEG at the same quality, both by
// pagelift-convert; JPEG stands where a reference does.
Case webpCase(const Workshop &workshop)
{
    const auto inFormat = [&](const QString &format) {
        return side<ConvertSide>(QStringLiteral("convert ") + format,
                                 drawnAt(96, 0, {QStringLiteral("-f"), format}), QStringList(),
                                 workshop.scratch(QStringLiteral("convert-") + format));
    };
    return {.title =
                QFileInfo(workshop.fortyPages).fileName() + QStringLiteral(" as WebP against JPEG"),
            .documents = {workshop.fortyPages},
            .ours = {inFormat(QStringLiteral("webp"))},
            .references = {inFormat(QStringLiteral("jpeg"))},
            .repeats = workshop.repeats,
            .perPage = true,
            .warmUp = workshop.warmUp};
}

// Page 1 as a PNG 256 pixels wide, of the made 40-page document and of `document` if
// given: pagelift-convert and its thumbnails against the listener's own PNG export.
QList<Case> previewCases(const Workshop &workshop, const QString &document)
{
    const int width = 256;
    const QList<Side> previewers{
        side<ConvertSide>(QStringLiteral("convert page 1"),
                          QStringList{QStringLiteral("--pages"), QStringLiteral("1"),
                                      QStringLiteral("--width"), QString::number(width),
                                      QStringLiteral("-f"), QStringLiteral("png")},
                          QStringList(), workshop.scratch(QStringLiteral("convert-preview"))),
        side<ThumbnailSide>(QStringLiteral("convert thumbnail"), width,
                            workshop.scratch(QStringLiteral("thumbnail")))};
    const QList<Side> listenerPreview{
        side<ListenerSide>(QStringLiteral("listener page 1"), QList{workshop.listener},
                           workshop.scratch(QStringLiteral("listener-preview")),
                           QStringLiteral("preview"), QStringList{QString::number(width)})};
    QList<Case> cases;
    for (const QString &previewed : {workshop.fortyPages, document}) {
        if (!previewed.isEmpty())
            cases << Case{.title = QFileInfo(previewed).fileName() +
                                   QStringLiteral(", page 1 %1 pixels wide").arg(width),
                          .documents = {previewed},
                          .ours = previewers,
                          .references = listenerPreview,
                          .repeats = workshop.repeats,
                          .perPage = true,
                          .warmUp = workshop.warmUp};
    }
    // Previews in bulk: one call over ten copies, which starts its office once.
    cases << Case{.title = QStringLiteral("10 copies of %1, page 1 %2 pixels wide")
                               .arg(QFileInfo(workshop.fortyPages).fileName())
                               .arg(width),
                  .documents = copiesOf(workshop.fortyPages,
                                        workshop.scratch(QStringLiteral("previewed")), 10),
                  .ours = {previewers[0]},
                  .references = listenerPreview,
                  .perPage = true,
                  .warmUp = workshop.warmUp};
    return cases;
}

// The made PDFs of 100 pages (`pdfs`, the last a 1-page one to warm up on): the first
// alone on one core, pagelift-convert -j 1 against pdftoppm; then all of them,
// pagelift-convert with its default jobs against pdftoppm one PDF after the other and
// two at a time.
QList<Case> pdfCases(const Workshop &workshop, const QStringList &pdfs)
{
    const QString warmUp = pdfs.last();
    const QStringList hundredPages = pdfs.mid(0, pdfs.size() - 1);
    const QString pdftoppmOut = workshop.scratch(QStringLiteral("pdftoppm"));
    return {
        {.title = QFileInfo(hundredPages[0]).fileName() + QStringLiteral(" on one core"),
         .documents = {hundredPages[0]},
         .ours = {side<ConvertSide>(kConvertOneCore, drawnAt(96, 1), pinnedTo(0),
                                    workshop.scratch(QStringLiteral("convert-pdf")))},
         .references = {side<PdftoppmSide>(QStringLiteral("pdftoppm 1 core"), pdftoppmOut, 1,
                                           pinnedTo(0))},
         .repeats = workshop.repeats,
         .perPage = true,
         .warmUp = warmUp},
        {.title = QStringLiteral("%1 PDFs of 100 pages").arg(hundredPages.size()),
         .documents = hundredPages,
         .ours = {side<ConvertSide>(QStringLiteral("pagelift-convert"), drawnAt(96), QStringList(),
                                    workshop.scratch(QStringLiteral("convert-pdfs")))},
         .references = {side<PdftoppmSide>(QStringLiteral("pdftoppm in turn"), pdftoppmOut, 1),
                        side<PdftoppmSide>(QStringLiteral("pdftoppm 2 at once"), pdftoppmOut, 2)},
         .perPage = true,
         .warmUp = warmUp},
    };
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
    const bool presentation = arguments.removeAll(QStringLiteral("--presentation")) > 0;
    int dpi = 96;
    int many = 0;
    int repeats = 5;
    int pdfCount = 0;
    bool png = false;
    bool webp = false;
    bool preview = false;
    QString previewDocument;
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
        } else if (argument->startsWith(QLatin1String("--format="))) {
            for (const QString &format : argument->mid(9).split(u',')) {
                if (format == QLatin1String("png"))
                    png = true;
                else if (format == QLatin1String("webp"))
                    webp = true;
                else
                    qFatal("--format takes png, webp or both");
            }
        } else if (*argument == QLatin1String("--preview")) {
            preview = true;
        } else if (argument->startsWith(QLatin1String("--preview="))) {
            preview = true;
            previewDocument = QFileInfo(argument->mid(10)).absoluteFilePath();
            if (!QFileInfo(previewDocument).isReadable())
                qFatal("cannot read %s", qPrintable(previewDocument));
        } else if (*argument == QLatin1String("--pdf")) {
            pdfCount = 6;
        } else if (argument->startsWith(QLatin1String("--pdf="))) {
            pdfCount = argument->mid(6).toInt();
            if (pdfCount <= 0)
                qFatal("--pdf needs a number of PDFs above 0");
        } else if (argument->startsWith(QLatin1String("--"))) {
            std::fputs(kUsage, stderr);
            return 2;
        } else {
            ++argument;
            continue;
        }
        argument = arguments.erase(argument);
    }
    if (warm && dpi != 96)
        qFatal("--listener draws at 96 pixels per inch only");

    QTemporaryDir work;
    const auto scratch = [&work](const QString &name) { return work.filePath(name); };
    // The made 3- and 40-page documents are the single documents when none are given;
    // the 40-page one is also what the format and preview cases draw.
    const QString made = scratch(QStringLiteral("made"));
    QDir().mkpath(made);
    const QStringList madeDocuments =
        makeOrStop(made, {{QStringLiteral("three-pages"), QList<Page>(3, Page::A4), {}},
                          {QStringLiteral("forty-pages"), QList<Page>(40, Page::A4), {}},
                          {QStringLiteral("warm-up"), {Page::A4}, {}}});
    const QString fortyPages = madeDocuments[1];
    const QString warmUp = madeDocuments[2];
    QStringList documents = madeDocuments.mid(0, 2);
    if (!arguments.isEmpty()) {
        // Copies, so that the images land in the scratch folder, not beside the originals.
        const QString given = scratch(QStringLiteral("given"));
        QDir().mkpath(given);
        documents.clear();
        for (const QString &argument : arguments) {
            const QString copy = QDir(given).filePath(QFileInfo(argument).fileName());
            if (!QFile::copy(argument, copy))
                qFatal("cannot read %s", qPrintable(argument));
            documents << copy;
        }
    }
    const QString slides = presentation ? makePresentation(made) : QString();
    if (presentation)
        documents << slides;
    const QStringList twenty =
        list ? makeShortDocuments(scratch(QStringLiteral("list")), 20) : QStringList();
    const QStringList manyDocuments =
        many > 0 ? makeShortDocuments(scratch(QStringLiteral("many")), many) : QStringList();
    const QStringList pdfs =
        pdfCount > 0 ? makePdfs(scratch(QStringLiteral("pdfs")), pdfCount) : QStringList();

    // The window draws at its settings' resolution (96 here); other resolutions are the
    // command line's.
    QList<Side> ours;
    if (dpi == 96)
        ours << side<WindowSide>(QStringLiteral("pagelift window"));
    if (convert || dpi != 96)
        ours << side<ConvertSide>(QStringLiteral("pagelift-convert"), drawnAt(dpi));
    if (scaling)
        ours << side<ConvertSide>(kConvertOneCore, drawnAt(dpi, 1), pinnedTo(0))
             << side<ConvertSide>(kConvertTwoJobs, drawnAt(dpi, 2));
    QList<Side> references;
    if (cold)
        references << side<ColdSide>(QStringLiteral("cold soffice"),
                                     scratch(QStringLiteral("cold-profile")),
                                     scratch(QStringLiteral("cold")), dpi);
    // One warm listener serves every case it has a side in, as a server would.
    std::shared_ptr<Listener> listener;
    if (warm || png || preview)
        listener = std::make_shared<Listener>(scratch(QStringLiteral("listener-profile")), warmUp);
    if (warm)
        references << side<ListenerSide>(QStringLiteral("warm listener"), QList{listener},
                                         scratch(QStringLiteral("listener")),
                                         QStringLiteral("convert"));
    // The listener's own scaling, beside Pagelift's, on the lists.
    QList<Side> listReferences = references;
    if (scaling && warm && (list || many > 0)) {
        const auto onCore = [&](const QString &name, int core) {
            return std::make_shared<Listener>(scratch(name), warmUp, pinnedTo(core));
        };
        listReferences << side<ListenerSide>(kListenerOneCore, QList{onCore("alone-profile", 0)},
                                             scratch(QStringLiteral("alone")),
                                             QStringLiteral("convert"))
                       << side<ListenerSide>(
                              kListenersTwoCores,
                              QList{onCore("pair0-profile", 0), onCore("pair1-profile", 1)},
                              scratch(QStringLiteral("pair")), QStringLiteral("convert"));
    }

    QList<Case> cases;
    for (const QString &document : documents)
        cases << Case{.title = QFileInfo(document).fileName(),
                      .documents = {document},
                      .ours = ours,
                      .references = references,
                      .repeats = repeats,
                      .warmUp = warmUp};
    const qsizetype singleCases = cases.size();
    if (list)
        cases << Case{.title = QStringLiteral("list of %1 documents").arg(twenty.size()),
                      .documents = twenty,
                      .ours = ours,
                      .references = listReferences,
                      .warmUp = warmUp};
    if (presentation)
        cases << Case{.title = QStringLiteral("10 copies of %1").arg(QFileInfo(slides).fileName()),
                      .documents = copiesOf(slides, scratch(QStringLiteral("decks")), 10),
                      .ours = ours,
                      .references = references,
                      .warmUp = warmUp};
    if (many > 0)
        cases << Case{.title = QStringLiteral("%1 documents").arg(manyDocuments.size()),
                      .documents = manyDocuments,
                      .ours = ours,
                      .references = listReferences,
                      .warmUp = warmUp};
    const Workshop workshop{scratch, fortyPages, warmUp, repeats, listener};
    if (png)
        cases << pngCase(workshop);
    if (webp)
        cases << webpCase(workshop);
    if (preview)
        cases << previewCases(workshop, previewDocument);
    if (!pdfs.isEmpty())
        cases << pdfCases(workshop, pdfs);

    // One untimed run each, so that no side pays for making its profile or for its
    // first document.
    QSet<const void *> warmedUp;
    for (const Case &each : std::as_const(cases)) {
        for (const Side &sideOfCase : each.ours + each.references) {
            if (!warmedUp.contains(sideOfCase.runner)) {
                warmedUp.insert(sideOfCase.runner);
                sideOfCase.run({each.warmUp});
            }
        }
    }

    print(QStringLiteral("load average before: %1").arg(loadAverage()));
    Outcomes totals{QList<Outcome>(ours.size()), QList<Outcome>(references.size())};
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const Outcomes outcomes = runCase(cases[i]);
        if (i >= singleCases)
            continue;
        for (qsizetype our = 0; our < ours.size(); ++our)
            add(totals.ours[our], outcomes.ours[our]);
        for (qsizetype r = 0; r < references.size(); ++r)
            add(totals.references[r], outcomes.references[r]);
        if (i == singleCases - 1 && singleCases > 1 && !references.isEmpty())
            report(QStringLiteral("total of the single documents"),
                   Case{.ours = ours, .references = references}, totals);
    }
    print(QStringLiteral("load average after: %1").arg(loadAverage()));
    return 0;
}
