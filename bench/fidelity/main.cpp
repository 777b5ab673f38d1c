// pagelift-fidelity: compares Pagelift's page images with LibreOffice's own print path,
// its PDF export drawn by poppler at 96 dpi, document by document.
//
//   pagelift-fidelity [--converter PROGRAM] [--quality N] [--reference FOLDER]
//                     [--work FOLDER] DOCUMENT...
//
// PROGRAM is called as `PROGRAM -q N -o FOLDER DOCUMENT` for each document and must
// leave FOLDER/<base>_<page>.jpg, or exit non-zero with its message on standard error
// (default: pagelift-convert beside this program; quality 100, so that JPEG
// artefacts hardly count). The reference is made with `soffice --convert-to pdf` (a PDF
// is its own) and `pdftoppm -r 96 -png`, or read from FOLDER as make-reference.sh of the corpus
// leaves it (png/<file name>/page-0001.png ...).
//
// A document passes when it is converted to the reference's page count, each page's
// size within 1 pixel of the reference's, and each page at least 28 dB PSNR against
// the reference after both are reduced to an eighth by averaging 8 x 8 blocks (so that
// sub-pixel placement and anti-aliasing do not count). A document without a reference
// (LibreOffice cannot convert it), and an empty file, pass when they are refused with
// a message. One line per document, then a count; the exit status is 1 when any fails.

#include "pagecompare.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

namespace {

constexpr double kMinimumPsnr = 28.0;
constexpr int kSizeTolerance = 1;
constexpr int kToolTimeoutMs = 300000;

struct Options
{
    QString converter;
    int quality = 100;
    QString reference; // make-reference.sh's folder; empty: made here
    QString work;      // empty: a temporary folder
    QStringList documents;
};

struct ToolRun
{
    bool ok = false;
    QString errors;
};

ToolRun runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    ToolRun run;
    if (!process.waitForStarted(30000)) {
        run.errors = QStringLiteral("cannot start ") + program;
        return run;
    }
    if (!process.waitForFinished(kToolTimeoutMs)) {
        process.kill();
        process.waitForFinished(10000);
        run.errors = program + QStringLiteral(" took too long");
        return run;
    }
    // The message is the first line (a summary may follow it), without the program's
    // name in front.
    const QStringList lines =
        QString::fromLocal8Bit(process.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
    run.errors = lines.isEmpty() ? QString() : lines.first().simplified();
    const QString prefix = QFileInfo(program).fileName() + QStringLiteral(": ");
    if (run.errors.startsWith(prefix))
        run.errors.remove(0, prefix.size());
    run.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return run;
}

// Pictures named `<prefix><number><suffix>` in `folder`, in page order.
QList<QString> pagesIn(const QString &folder, const QString &prefix, const QString &suffix)
{
    const QRegularExpression name(QStringLiteral("^") + QRegularExpression::escape(prefix) +
                                  QStringLiteral("(\\d+)") + QRegularExpression::escape(suffix) +
                                  QStringLiteral("$"));
    QMap<int, QString> pages;
    for (const QString &file : QDir(folder).entryList(QDir::Files)) {
        const QRegularExpressionMatch match = name.match(file);
        if (match.hasMatch())
            pages.insert(match.captured(1).toInt(), QDir(folder).filePath(file));
    }
    // Numbers must run 1, 2, 3...: a gap means a page went missing.
    QList<QString> ordered;
    for (auto it = pages.cbegin(); it != pages.cend(); ++it) {
        if (it.key() != ordered.size() + 1)
            break;
        ordered << it.value();
    }
    return ordered;
}

ToolRun runSoffice(const QString &profile, const QStringList &arguments)
{
    // A profile of its own, so that a LibreOffice the user has open does not take the
    // conversion over.
    return runTool(QStringLiteral("soffice"),
                   QStringList{QStringLiteral("--headless"), QStringLiteral("--norestore"),
                               QStringLiteral("-env:UserInstallation=") +
                                   QUrl::fromLocalFile(profile).toString()} +
                       arguments);
}

// LibreOffice's pages of `document`, made in `folder` as make-reference.sh makes them.
// Empty when LibreOffice cannot convert it.
QList<QString> makeReference(const QString &document, const QString &folder, const QString &profile)
{
    const QString name = QFileInfo(document).fileName();
    const QString pdfFolder = QDir(folder).filePath(QStringLiteral("pdf"));
    const QString pngFolder = QDir(folder).filePath(QStringLiteral("png/") + name);
    const QString scratch = QDir(folder).filePath(QStringLiteral("scratch"));
    QDir(scratch).removeRecursively();
    QDir().mkpath(scratch);
    QDir().mkpath(pdfFolder);
    QDir(pngFolder).removeRecursively();
    // A PDF is its own print, as make-reference.sh takes it: the office would import
    // it as a drawing and print that.
    if (QFileInfo(document).suffix().compare(QStringLiteral("pdf"), Qt::CaseInsensitive) == 0)
        QFile::copy(document, QDir(scratch).filePath(name));
    else
        runSoffice(profile, {QStringLiteral("--convert-to"), QStringLiteral("pdf"),
                             QStringLiteral("--outdir"), scratch, document});
    const QStringList made = QDir(scratch).entryList({QStringLiteral("*.pdf")}, QDir::Files);
    if (made.isEmpty())
        return {};
    const QString pdf = QDir(pdfFolder).filePath(name + QStringLiteral(".pdf"));
    QFile::remove(pdf);
    QFile::rename(QDir(scratch).filePath(made.first()), pdf);
    if (!runTool(QStringLiteral("pdftoppm"),
                 {QStringLiteral("-r"), QStringLiteral("96"), QStringLiteral("-png"), pdf,
                  QDir(scratch).filePath(QStringLiteral("page"))})
             .ok)
        return {};
    // pdftoppm pads page numbers to the width of the last one; make-reference.sh
    // renames them to four digits.
    QDir().mkpath(pngFolder);
    const QList<QString> pages = pagesIn(scratch, QStringLiteral("page-"), QStringLiteral(".png"));
    for (int i = 0; i < pages.size(); ++i)
        QFile::rename(pages[i], QDir(pngFolder).filePath(
                                    QStringLiteral("page-%1.png").arg(i + 1, 4, 10, QChar(u'0'))));
    QDir(scratch).removeRecursively();
    return pagesIn(pngFolder, QStringLiteral("page-"), QStringLiteral(".png"));
}

struct Row
{
    QString name;
    int ours = 0;
    int reference = 0;
    int sizeDelta = 0;
    std::optional<double> minimumPsnr;
    int minimumPage = 0;
    bool passed = false;
    QString status;
};

Row compare(const QString &document, const Options &options, const QString &referenceFolder,
            const QString &profile, const QString &work)
{
    Row row;
    row.name = QFileInfo(document).fileName();
    const QString pngFolder = QDir(referenceFolder).filePath(QStringLiteral("png/") + row.name);
    QList<QString> reference;
    if (options.reference.isEmpty())
        reference = makeReference(document, referenceFolder, profile);
    else
        reference = pagesIn(pngFolder, QStringLiteral("page-"), QStringLiteral(".png"));
    // An empty file is no document, whatever LibreOffice makes of it.
    const bool mustConvert = !reference.isEmpty() && QFileInfo(document).size() > 0;
    row.reference = int(reference.size());

    const QString ourFolder = QDir(work).filePath(QStringLiteral("ours/") + row.name);
    QDir(ourFolder).removeRecursively();
    const ToolRun run =
        runTool(options.converter, {QStringLiteral("-q"), QString::number(options.quality),
                                    QStringLiteral("-o"), ourFolder, document});
    const QString base = QFileInfo(document).completeBaseName();
    const QList<QString> ours = pagesIn(ourFolder, base + u'_', QStringLiteral(".jpg"));
    row.ours = int(ours.size());

    if (!mustConvert) {
        row.passed = !run.ok && ours.isEmpty() && !run.errors.isEmpty();
        if (row.passed)
            row.status = QStringLiteral("refused: ") + run.errors;
        else if (run.ok)
            row.status = QStringLiteral("FAIL: converted, but LibreOffice cannot convert it");
        else
            row.status = QStringLiteral("FAIL: refused without a message");
        return row;
    }
    if (!run.ok) {
        row.status = QStringLiteral("FAIL: refused: ") + run.errors;
        return row;
    }
    if (ours.size() != reference.size()) {
        row.status = QStringLiteral("FAIL: page count");
        return row;
    }
    QStringList failures;
    for (int page = 0; page < ours.size(); ++page) {
        const QImage mine(ours[page]);
        const QImage theirs(reference[page]);
        if (mine.isNull() || theirs.isNull()) {
            failures << QStringLiteral("page %1 unreadable").arg(page + 1);
            continue;
        }
        const int delta = std::max(std::abs(mine.width() - theirs.width()),
                                   std::abs(mine.height() - theirs.height()));
        row.sizeDelta = std::max(row.sizeDelta, delta);
        if (delta > kSizeTolerance)
            failures << QStringLiteral("page %1 is %2x%3, not %4x%5")
                            .arg(page + 1)
                            .arg(mine.width())
                            .arg(mine.height())
                            .arg(theirs.width())
                            .arg(theirs.height());
        const double db = psnr(eighth(mine), eighth(theirs));
        if (!row.minimumPsnr || db < *row.minimumPsnr) {
            row.minimumPsnr = db;
            row.minimumPage = page + 1;
        }
        if (db < kMinimumPsnr)
            failures << QStringLiteral("page %1 at %2 dB").arg(page + 1).arg(db, 0, 'f', 1);
    }
    row.passed = failures.isEmpty();
    row.status = row.passed
                     ? QStringLiteral("ok")
                     : QStringLiteral("FAIL: ") +
                           (failures.size() > 3 ? failures.mid(0, 3).join(QStringLiteral(", ")) +
                                                      QStringLiteral(", ...")
                                                : failures.join(QStringLiteral(", ")));
    return row;
}

void print(const QString &line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

QString formatRow(const Row &row)
{
    QString db = QStringLiteral("-");
    if (row.minimumPsnr)
        db = std::isinf(*row.minimumPsnr)
                 ? QStringLiteral("inf (p%1)").arg(row.minimumPage)
                 : QStringLiteral("%1 (p%2)").arg(*row.minimumPsnr, 0, 'f', 1).arg(row.minimumPage);
    const QString pages = QStringLiteral("%1/%2").arg(row.ours).arg(row.reference);
    const QString delta = row.reference > 0 && row.ours == row.reference
                              ? QString::number(row.sizeDelta)
                              : QStringLiteral("-");
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(row.name, -48)
        .arg(pages, 9)
        .arg(delta, 5)
        .arg(db, 14)
        .arg(row.status);
}

int usage()
{
    std::fputs("usage: pagelift-fidelity [--converter PROGRAM] [--quality N] "
               "[--reference FOLDER] [--work FOLDER] DOCUMENT...\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Options options;
    options.converter =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("pagelift-convert"));
    const QStringList arguments = app.arguments().mid(1);
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == QLatin1String("--converter") && hasValue) {
            options.converter = arguments[++i];
        } else if (argument == QLatin1String("--quality") && hasValue) {
            bool ok = false;
            options.quality = arguments[++i].toInt(&ok);
            if (!ok || options.quality < 1 || options.quality > 100)
                return usage();
        } else if (argument == QLatin1String("--reference") && hasValue) {
            options.reference = QDir(arguments[++i]).absolutePath();
        } else if (argument == QLatin1String("--work") && hasValue) {
            options.work = arguments[++i];
        } else if (argument.startsWith(QLatin1String("--"))) {
            return usage();
        } else {
            options.documents << QFileInfo(argument).absoluteFilePath();
        }
    }
    if (options.documents.isEmpty())
        return usage();

    QTemporaryDir temporary;
    const QString work =
        QDir(options.work.isEmpty() ? temporary.path() : options.work).absolutePath();
    QDir().mkpath(work);
    const QString referenceFolder = options.reference.isEmpty()
                                        ? QDir(work).filePath(QStringLiteral("reference"))
                                        : options.reference;
    const QString profile = QDir(work).filePath(QStringLiteral("soffice-profile"));

    // LibreOffice's first start in a new profile ends early, without converting.
    if (options.reference.isEmpty() && !QFileInfo::exists(profile))
        runSoffice(profile, {QStringLiteral("--terminate_after_init")});

    print(QStringLiteral("%1 %2 %3 %4 %5")
              .arg(QStringLiteral("document"), -48)
              .arg(QStringLiteral("pages"), 9)
              .arg(QStringLiteral("size"), 5)
              .arg(QStringLiteral("min PSNR dB"), 14)
              .arg(QStringLiteral("status")));
    int passed = 0;
    for (const QString &document : options.documents) {
        const Row row = compare(document, options, referenceFolder, profile, work);
        passed += row.passed;
        print(formatRow(row));
    }
    print(
        QStringLiteral("%1 passed, %2 failed").arg(passed).arg(options.documents.size() - passed));
    return passed == options.documents.size() ? 0 : 1;
}
