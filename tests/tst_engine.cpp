// The real document engine, driven through the automation client as the exporter
// drives it, on documents this test makes: flat OpenDocument text written here and
// saved by the engine as .odt, .docx, .doc and .rtf.

#include "childprocesses.h"
#include "engineclient.h"
#include "enginedocuments.h"
#include "enginepool.h"
#include "error.h"
#include "exportsequence.h"
#include "madedocuments.h"
#include "otherdocuments.h"
#include "pagecompare.h"
#include "processes.h"
#include "sandboxstatus.h"
#include "storedzip.h"

#include <QClipboard>
#include <QCryptographicHash>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <iterator>
#include <optional>

namespace {

const QString kBinDir = qEnvironmentVariable("PAGELIFT_BIN_DIR");

// Page sizes in pixels at 96 dots per inch.
const QSize kA4(794, 1123);
const QSize kLetter(816, 1056);
const QSize kA4Landscape(1123, 794);

enum class Reference
{
    Skip,
    Compare, // every page must match LibreOffice's own PDF export
};

// Which engines a case goes through. Engines forked from a launcher start from an
// office that was pre-initialised, which differs from a plain start in ways that only
// some documents show: those that depend on the engine's own macros, say.
enum class Engines
{
    Plain,
    PlainAndForked,
};

} // namespace

Q_DECLARE_METATYPE(Reference)
Q_DECLARE_METATYPE(Engines)

class TestEngine : public QObject
{
    Q_OBJECT

private:
    struct Export
    {
        qint32 count = 0;
        QList<QImage> pictures;
        qint64 pid = 0;
        qint64 parent = 0;
        double parentReaped = 0; // the parent's children's time when the engine started
    };

    QString made(const QString &name) const { return m_dir.filePath(name); }

    // Saves the flat document `name`.fodt in each of `formats`.
    void makeFormats(const QString &name, const QList<Page> &pages, const QStringList &formats)
    {
        const QString flat = made(name + ".fodt");
        QVERIFY(writeFile(flat, flatOdt(pages)));
        // All formats in one run of the converter, which starts its office once.
        QStringList arguments;
        for (const QString &format : formats)
            arguments << flat << made(name + "." + format);
        QString output;
        QVERIFY2(run(m_documentMaker, arguments, &output), qPrintable(output));
        for (const QString &format : formats)
            QVERIFY2(QFileInfo(made(name + "." + format)).size() > 0,
                     qPrintable(name + "." + format));
    }

    // The exporter's whole call sequence, keeping each page's picture.
    // Converts `path`. A failure is logged before it goes on: where a test does not
    // expect one, the test ends on the exception without saying why.
    static Export exportPages(const QString &path, const WordFactory &create = {})
    {
        try {
            return exportAll(path, create);
        } catch (const Error &error) {
            qWarning("%s: %s", qPrintable(path), qPrintable(error.message()));
            throw;
        }
    }
    static Export exportAll(const QString &path, const WordFactory &create)
    {
        Export result;
        std::unique_ptr<WordApplication> word =
            create ? create() : engineFactory(kBinDir, {60000})();
        result.pid = static_cast<EngineClient *>(word.get())->enginePid();
        result.parent = parentOf(result.pid);
        result.parentReaped = reapedChildrenSeconds(result.parent);
        word->documentsOpen(path);
        word->activeDocumentRepaginate();
        result.count = word->activeDocumentBuiltInDocumentProperties(14);
        cutAllPages(*word, result.count,
                    [&](int) { result.pictures.append(QGuiApplication::clipboard()->image()); });
        word->activeDocumentClose(0);
        word->quit();
        return result;
    }

    // The same in an engine forked from a launcher of a pool made here, so that the
    // launcher starts in the environment as it is now. Fails unless the engine was
    // forked: a pool whose launcher fails starts engines the plain way instead.
    static void exportForked(const QString &path, Export &result)
    {
        auto pool = std::make_shared<EnginePool>(kBinDir, 60000, 0, 0);
        const QList<qint64> launchers = pool->launcherPids();
        QCOMPARE(launchers.size(), 1);
        const QString error =
            errorMessageOf([&] { result = exportPages(path, pooledEngineFactory(pool, {60000})); });
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY2(launchers.contains(result.parent), "the engine was not forked");
    }

    // The made document `file` with every page drawn, exported once.
    Export everyPage(const QString &file)
    {
        if (!m_everyPage.contains(file))
            m_everyPage[file] = exportPages(made(file));
        return m_everyPage[file];
    }

    QTemporaryDir m_dir;
    QTemporaryDir m_home;
    std::optional<Export> m_editingAids; // exported once, checked row by row
    QMap<QString, Export> m_everyPage;
    QTemporaryDir m_temp; // every engine's TMPDIR
    QString m_engine;
    QString m_documentMaker;
    QString m_references;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid() && m_home.isValid());
        QVERIFY2(qEnvironmentVariable("XDG_CACHE_HOME").startsWith('/'),
                 "the engines' profiles must not go to the user's cache");
        // Engines inherit this: anything written to the user's own office profile
        // would show up here.
        qputenv("HOME", m_home.path().toLocal8Bit());
        m_engine = QDir(kBinDir).filePath("pagelift-engine");
        m_documentMaker = QDir(kBinDir).filePath("pagelift-documentmaker");

        const QList<Page> one{Page::A4};
        const QList<Page> three(3, Page::A4);
        const QList<Page> twelve(12, Page::A4);
        const QStringList all{"odt", "docx", "doc", "rtf"};
        makeFormats("one", one, all);
        makeFormats("three", three, all);
        makeFormats("twelve", twelve, all);
        makeFormats("letter", {Page::Letter}, {"docx"});
        makeFormats("landscape", {Page::Landscape}, {"odt", "docx"});
        makeFormats("mixed", {Page::A4, Page::Letter, Page::Landscape, Page::A4}, {"odt", "docx"});
        makeFormats("blank", {Page::A4, Page::BlankA4, Page::A4}, {"odt"});
        QVERIFY(writeFile(made("aids.fodt"), kEditingAids));
        QVERIFY(writeFile(made("wordperfect42.doc"), kWordPerfect42));
        QVERIFY(writeFile(made("dense.fodt"), denseDocument()));
        QVERIFY(writeFile(made("web.html"), webPage()));
        QVERIFY(writeFile(made("deck.fodp"), flatPresentation("28cm", "15.75cm")));
        QVERIFY(writeFile(made("deck43.fodp"), flatPresentation("25.4cm", "19.05cm")));
        QVERIFY(writeFile(made("sheets.fods"), flatSpreadsheet()));
        QVERIFY(writeFile(made("drawing.fodg"), flatDrawing()));
        QVERIFY(writeFile(made("pages.pdf"), madePdf()));
        QVERIFY(writeFile(made("slides.key"), keynotePresentation()));

        // The reference: LibreOffice's own PDF export, drawn by poppler at 96 dpi.
        m_references = made("reference");
        QString output;
        QVERIFY2(
            run("soffice",
                {"--headless",
                 "-env:UserInstallation=" + QUrl::fromLocalFile(made("soffice-profile")).toString(),
                 "--convert-to", "pdf", "--outdir", m_references, made("three.docx"),
                 made("twelve.rtf"), made("mixed.odt"), made("blank.odt"), made("one.doc"),
                 made("wordperfect42.doc"), made("dense.fodt"), made("web.html"), made("deck.fodp"),
                 made("deck43.fodp"), made("sheets.fods"), made("drawing.fodg"),
                 made("slides.key")},
                &output),
            qPrintable(output));
        // A PDF is its own reference.
        QVERIFY(QFile::copy(made("pages.pdf"), QDir(m_references).filePath("pages.pdf")));
        for (const char *name :
             {"three", "twelve", "mixed", "blank", "one", "wordperfect42", "dense", "web", "deck",
              "deck43", "sheets", "drawing", "pages", "slides"}) {
            const QString pdf = QDir(m_references).filePath(QString(name) + ".pdf");
            QVERIFY2(run("pdftoppm", {"-r", "96", "-png", pdf, QDir(m_references).filePath(name)},
                         &output),
                     qPrintable(output));
        }
        // And at print resolution.
        QVERIFY2(run("pdftoppm",
                     {"-r", "300", "-png", QDir(m_references).filePath("mixed.pdf"),
                      QDir(m_references).filePath("mixed-300dpi")},
                     &output),
                 qPrintable(output));
        // A web browser's profile, as a user has: the office would look there for a
        // certificate store if the engine did not give it one of its own. Made
        // after the reference's own office has run, which does look there.
        QVERIFY(QDir(m_home.path()).mkpath(".mozilla/firefox/abcd.default"));
        QVERIFY(writeFile(QDir(m_home.path()).filePath(".mozilla/firefox/profiles.ini"),
                          "[General]\nStartWithLastProfile=1\n\n[Profile0]\nName=default\n"
                          "IsRelative=1\nPath=abcd.default\nDefault=1\n"));
        // Engines inherit this too: whatever the office leaves in it stays there.
        QVERIFY(m_temp.isValid());
        qputenv("TMPDIR", m_temp.path().toLocal8Bit());
    }

    void cleanup() { QCOMPARE(childprocesses::count(), 0); }

    void pagesComeOutAsTheyPrint_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QList<QSize>>("sizes");
        QTest::addColumn<Reference>("reference");
        QTest::addColumn<Engines>("engines");

        const Engines plain = Engines::Plain;
        for (const QString format : {"odt", "docx", "doc", "rtf"}) {
            QTest::addRow("1 page, %s", qPrintable(format))
                << "one." + format << QList<QSize>{kA4}
                << (format == "doc" ? Reference::Compare : Reference::Skip) << plain;
            QTest::addRow("3 pages, %s", qPrintable(format))
                << "three." + format << QList<QSize>(3, kA4)
                << (format == "docx" ? Reference::Compare : Reference::Skip) << plain;
            QTest::addRow("12 pages, %s", qPrintable(format))
                << "twelve." + format << QList<QSize>(12, kA4)
                << (format == "rtf" ? Reference::Compare : Reference::Skip) << plain;
        }
        QTest::newRow("flat odt as it is")
            << "three.fodt" << QList<QSize>(3, kA4) << Reference::Skip << plain;
        QTest::newRow("letter") << "letter.docx" << QList<QSize>{kLetter} << Reference::Skip
                                << plain;
        QTest::newRow("landscape, odt")
            << "landscape.odt" << QList<QSize>{kA4Landscape} << Reference::Skip << plain;
        QTest::newRow("landscape, docx")
            << "landscape.docx" << QList<QSize>{kA4Landscape} << Reference::Skip << plain;
        const QList<QSize> mixed{kA4, kLetter, kA4Landscape, kA4};
        QTest::newRow("mixed sizes, odt") << "mixed.odt" << mixed << Reference::Compare << plain;
        QTest::newRow("mixed sizes, docx") << "mixed.docx" << mixed << Reference::Skip << plain;
        QTest::newRow("blank page")
            << "blank.odt" << QList<QSize>(3, kA4) << Reference::Compare << plain;
        // Printed, not shown: a screen lays a web page out as one page the width of its
        // window.
        QTest::newRow("web page") << "web.html" << QList<QSize>(2, kA4) << Reference::Compare
                                  << Engines::PlainAndForked;
        // Only the office's type detection knows this one; it has no signature. The
        // engine asks the office which import filter it chose.
        QTest::newRow("WordPerfect 4.2, named .doc")
            << "wordperfect42.doc" << QList<QSize>{kLetter} << Reference::Compare
            << Engines::PlainAndForked;
        // A slide, a sheet's printed page and a drawing's page are pages; hidden slides
        // and notes are not printed.
        QTest::newRow("presentation, 16:9") << "deck.fodp" << QList<QSize>(2, QSize(1058, 595))
                                            << Reference::Compare << Engines::PlainAndForked;
        QTest::newRow("presentation, 4:3")
            << "deck43.fodp" << QList<QSize>(2, QSize(960, 720)) << Reference::Compare << plain;
        QTest::newRow("spreadsheet, wide sheet and a second")
            << "sheets.fods" << QList<QSize>{kA4, kA4, kA4, QSize(794, 559)} << Reference::Compare
            << Engines::PlainAndForked;
        QTest::newRow("drawing") << "drawing.fodg" << QList<QSize>(2, QSize(559, 794))
                                 << Reference::Compare << plain;
        // Keynote 09, read by the office's own import.
        QTest::newRow("keynote") << "slides.key" << QList<QSize>(2, QSize(1365, 1024))
                                 << Reference::Compare << plain;
        // Drawn from the file itself as pdftoppm draws it: the whole media box, turned
        // as the page says.
        QTest::newRow("pdf") << "pages.pdf" << QList<QSize>{kA4, QSize(1056, 816), QSize(793, 560)}
                             << Reference::Compare << Engines::PlainAndForked;
    }

    void pagesComeOutAsTheyPrint()
    {
        QFETCH(QString, file);
        QFETCH(QList<QSize>, sizes);
        QFETCH(Reference, reference);
        QFETCH(Engines, engines);
        const QString path = made(file);
        const QByteArray before = hashOf(path);
        QVERIFY(!before.isEmpty());

        const Export result = exportPages(path);
        QCOMPARE(result.count, sizes.size());
        QCOMPARE(result.pictures.size(), sizes.size());
        for (int i = 0; i < sizes.size(); ++i) {
            const QSize got = result.pictures[i].size();
            QVERIFY2(
                std::abs(got.width() - sizes[i].width()) <= 1 &&
                    std::abs(got.height() - sizes[i].height()) <= 1,
                qPrintable(
                    QString("page %1 is %2 x %3").arg(i + 1).arg(got.width()).arg(got.height())));
            // Every page has something on it, except the made blank page.
            const bool blank = file.startsWith("blank") && i == 1;
            QCOMPARE(pureWhite(result.pictures[i]), blank);
        }

        // The document on disk is untouched and the engine has gone.
        QCOMPARE(hashOf(path), before);
        QVERIFY(processGone(result.pid));

        if (reference == Reference::Compare) {
            const QString base = QDir(m_references).filePath(QFileInfo(file).completeBaseName());
            const int digits = sizes.size() >= 10 ? 2 : 1;
            for (int i = 0; i < sizes.size(); ++i) {
                const QImage printed(
                    QString("%1-%2.png").arg(base).arg(i + 1, digits, 10, QChar('0')));
                QVERIFY2(!printed.isNull(), qPrintable(base));
                QVERIFY(std::abs(printed.width() - result.pictures[i].width()) <= 1);
                QVERIFY(std::abs(printed.height() - result.pictures[i].height()) <= 1);
                const double db = psnr(eighth(result.pictures[i]), eighth(printed));
                QVERIFY2(db >= 28.0, qPrintable(QString("page %1: %2 dB").arg(i + 1).arg(db)));
            }
            QVERIFY2(
                !QFileInfo::exists(
                    QString("%1-%2.png").arg(base).arg(sizes.size() + 1, digits, 10, QChar('0'))),
                "the printed document has more pages");
        }

        // An engine forked from a launcher draws every page as the plain one does.
        if (engines == Engines::PlainAndForked) {
            Export forked;
            exportForked(path, forked);
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(forked.count, result.count);
            QCOMPARE(forked.pictures.size(), result.pictures.size());
            for (int i = 0; i < result.pictures.size(); ++i)
                QVERIFY2(forked.pictures[i] == result.pictures[i],
                         qPrintable(QString("page %1").arg(i + 1)));
        }
    }

    // Pages are drawn as they print, not as a screen shows them: on a screen each
    // glyph starts on a whole pixel and a thin rule is smoothed over two, which on
    // small justified text and a ruled table adds up to pages visibly darker and
    // shifted against the printed page. Compared at full size, pixel by pixel.
    void denseTextAndRulesLookAsPrinted()
    {
        const Export result = exportPages(made("dense.fodt"));
        QVERIFY(result.count >= 3);
        QCOMPARE(result.pictures.size(), result.count);
        for (int i = 0; i < result.count; ++i) {
            const QImage printed(QDir(m_references).filePath(QString("dense-%1.png").arg(i + 1)));
            QVERIFY2(!printed.isNull(), qPrintable(QString("no printed page %1").arg(i + 1)));
            QVERIFY(std::abs(printed.width() - result.pictures[i].width()) <= 1);
            QVERIFY(std::abs(printed.height() - result.pictures[i].height()) <= 1);
            const double db = psnr(result.pictures[i], printed);
            QVERIFY2(db >= 40.0, qPrintable(QString("page %1: %2 dB").arg(i + 1).arg(db)));
        }
    }

    // Pages drawn at a resolution of their own, by the engine (not scaled from 96),
    // match LibreOffice's print path drawn at that resolution as closely as at 96:
    // compared at the same 12 dots per inch as pages drawn at 96.
    void pagesAtPrintResolution()
    {
        const Export result = exportPages(made("mixed.odt"), engineFactory(kBinDir, {60000, 300}));
        const QList<QSize> sizes{{2480, 3508}, {2550, 3300}, {3508, 2480}, {2480, 3508}};
        QCOMPARE(result.count, sizes.size());
        for (int i = 0; i < sizes.size(); ++i) {
            const QImage &page = result.pictures[i];
            QVERIFY2(
                std::abs(page.width() - sizes[i].width()) <= 1 &&
                    std::abs(page.height() - sizes[i].height()) <= 1,
                qPrintable(
                    QString("page %1 is %2 x %3").arg(i + 1).arg(page.width()).arg(page.height())));
            const QImage printed(
                QDir(m_references).filePath(QString("mixed-300dpi-%1.png").arg(i + 1)));
            QVERIFY(!printed.isNull());
            QVERIFY(std::abs(printed.width() - page.width()) <= 1);
            QVERIFY(std::abs(printed.height() - page.height()) <= 1);
            const double db = psnr(shrunk(page, 25), shrunk(printed, 25));
            QVERIFY2(db >= 28.0, qPrintable(QString("page %1: %2 dB").arg(i + 1).arg(db)));
        }
    }

    // Comma-separated values are a spreadsheet that the office opens without asking for
    // its separators, an answer it would wait for until the call's time ran out; fields
    // quoted for their commas stay whole, and the sheet prints on pages of its own.
    void commaSeparatedValuesOpenWithoutAsking()
    {
        QByteArray table = "Item,Amount,Note\n";
        for (int row = 1; row <= 150; ++row)
            table +=
                QString("Item %1,%2,\"note %1, with a comma\"\n").arg(row).arg(row * 3).toUtf8();
        QVERIFY(writeFile(made("table.csv"), table));
        const Export result = exportPages(made("table.csv"), engineFactory(kBinDir, {15000}));
        QCOMPARE(result.count, 3);
        for (const QImage &page : result.pictures) {
            QCOMPARE(page.size(), kA4);
            QVERIFY(!pureWhite(page));
        }
    }

    // Pages chosen as the command line chooses them: the office prints those alone,
    // yet the count is the document's own, and each chosen page comes out as the very
    // picture it is when every page is drawn; the others bring no picture.
    void chosenPagesArePrintedAlone_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("pages");
        QTest::addColumn<QList<int>>("drawn"); // from 1
        QTest::newRow("the first of twelve") << "twelve.rtf"
                                             << "1" << QList<int>{1};
        QTest::newRow("a list, to the last") << "twelve.rtf"
                                             << "2,5-6,12" << QList<int>{2, 5, 6, 12};
        QTest::newRow("to the end, mixed sizes") << "mixed.odt"
                                                 << "3-" << QList<int>{3, 4};
        QTest::newRow("past the end") << "three.docx"
                                      << "5-9" << QList<int>{};
        QTest::newRow("after a blank page") << "blank.odt"
                                            << "3" << QList<int>{3};
        // Its hidden slide counts among the slides but is not printed.
        QTest::newRow("presentation with a hidden slide") << "deck.fodp"
                                                          << "2" << QList<int>{2};
        QTest::newRow("spreadsheet") << "sheets.fods"
                                     << "2,4" << QList<int>{2, 4};
        QTest::newRow("drawing") << "drawing.fodg"
                                 << "2" << QList<int>{2};
    }

    void chosenPagesArePrintedAlone()
    {
        QFETCH(QString, file);
        QFETCH(QString, pages);
        QFETCH(QList<int>, drawn);
        const Export every = everyPage(file);
        DocumentOptions options{60000};
        options.pages = *PageChoice::parse(pages.toStdString());
        const Export chosen = exportPages(made(file), engineFactory(kBinDir, options));
        QCOMPARE(chosen.count, every.count);
        QCOMPARE(chosen.pictures.size(), every.pictures.size());
        for (int page = 1; page <= every.count; ++page) {
            const QImage &picture = chosen.pictures[page - 1];
            QVERIFY2(drawn.contains(page) ? picture == every.pictures[page - 1] : picture.isNull(),
                     qPrintable(QString("page %1").arg(page)));
        }
    }

    // Boxes, grey and chosen pages together on portrait and landscape pages of two
    // sizes: each page chosen is fitted to the box its own way round, in grey when
    // asked, and still shows its page.
    void boxesAndGreyOnMixedPages_data()
    {
        QTest::addColumn<QSize>("box"); // 0: no bound that way
        QTest::addColumn<bool>("grey");
        QTest::addColumn<QString>("pages");
        QTest::addColumn<QList<QSize>>("sizes"); // of A4, Letter, A4 landscape, A4; empty: none
        QTest::newRow("a square") << QSize(200, 200) << false << "1-"
                                  << QList<QSize>{{141, 200}, {155, 200}, {200, 141}, {141, 200}};
        QTest::newRow("a width") << QSize(300, 0) << false << "1-"
                                 << QList<QSize>{{300, 424}, {300, 388}, {300, 212}, {300, 424}};
        QTest::newRow("a height") << QSize(0, 300) << false << "1-"
                                  << QList<QSize>{{212, 300}, {232, 300}, {424, 300}, {212, 300}};
        QTest::newRow("grey") << QSize() << true << "1-"
                              << QList<QSize>{kA4, kLetter, kA4Landscape, kA4};
        QTest::newRow("grey in a square, two pages")
            << QSize(200, 200) << true << "2-3" << QList<QSize>{{}, {155, 200}, {200, 141}, {}};
    }

    void boxesAndGreyOnMixedPages()
    {
        QFETCH(QSize, box);
        QFETCH(bool, grey);
        QFETCH(QString, pages);
        QFETCH(QList<QSize>, sizes);
        const Export every = everyPage("mixed.odt");
        DocumentOptions options{60000};
        options.boxWidth = std::max(0, box.width());
        options.boxHeight = std::max(0, box.height());
        options.grey = grey;
        options.pages = *PageChoice::parse(pages.toStdString());
        const Export result = exportPages(made("mixed.odt"), engineFactory(kBinDir, options));
        QCOMPARE(result.count, sizes.size());
        for (int i = 0; i < sizes.size(); ++i) {
            const QImage &picture = result.pictures[i];
            const QString page = QString("page %1").arg(i + 1);
            if (sizes[i].isEmpty()) {
                QVERIFY2(picture.isNull(), qPrintable(page));
                continue;
            }
            QVERIFY2(
                std::abs(picture.width() - sizes[i].width()) <= 1 &&
                    std::abs(picture.height() - sizes[i].height()) <= 1,
                qPrintable(
                    QString("%1 is %2 x %3").arg(page).arg(picture.width()).arg(picture.height())));
            bool greyOnly = true;
            for (int y = 0; y < picture.height() && greyOnly; ++y)
                for (int x = 0; x < picture.width() && greyOnly; ++x) {
                    const QRgb pixel = picture.pixel(x, y);
                    greyOnly = qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel);
                }
            QVERIFY2(greyOnly == grey, qPrintable(page));
            // The same page as drawn whole in colour, seen small and grey alike.
            const QImage expected =
                every.pictures[i]
                    .scaled(picture.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                    .convertToFormat(QImage::Format_Grayscale8);
            const double db = psnr(shrunk(picture.convertToFormat(QImage::Format_Grayscale8), 4),
                                   shrunk(expected, 4));
            QVERIFY2(db >= 30.0, qPrintable(QString("%1: %2 dB").arg(page).arg(db)));
        }
    }

    // A page left out of the choice is not printed: a cut that takes it along with a
    // chosen page is refused, where with every page printed it is both pages.
    void pagesNotChosenAreNotPrinted()
    {
        DocumentOptions options{60000};
        options.pages = *PageChoice::parse("2");
        std::unique_ptr<WordApplication> word = engineFactory(kBinDir, options)();
        word->documentsOpen(made("three.docx"));
        word->selectionGoTo(1, 2, 3);
        for (int i = 0; i < 100; ++i)
            word->selectionMoveUp(5, 200, 1);
        QVERIFY(errorMessageOf([&] {
                    word->selectionCut();
                }).contains("page 1 was not printed: Open chose other pages"));
    }

    // Each row names a page of kEditingAids that carries something editing views show,
    // and the page that prints the same without it (-1: the page prints blank).
    void screenOnlyMarksAreNotDrawn_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("twin");
        QTest::newRow("hidden text field") << 0 << 1;
        QTest::newRow("text and table boundaries of an empty table") << 2 << -1;
        QTest::newRow("section boundaries") << 3 << -1;
        QTest::newRow("comment") << 4 << -1;
        QTest::newRow("formatting marks and the column break line") << 5 << -1;
        QTest::newRow("index shading, table of contents") << 6 << 7;
        QTest::newRow("index shading, bibliography") << 8 << 9;
        QTest::newRow("index shading, alphabetical index") << 10 << 11;
        QTest::newRow("soft hyphens") << 12 << 13;
        QTest::newRow("field shading") << 14 << 15;
        QTest::newRow("hidden paragraph") << 16 << 17;
        QTest::newRow("hidden characters") << 18 << 19;
    }

    void screenOnlyMarksAreNotDrawn()
    {
        QFETCH(int, page);
        QFETCH(int, twin);
        if (!m_editingAids)
            m_editingAids = exportPages(made("aids.fodt"));
        QCOMPARE(m_editingAids->count, 20);
        QCOMPARE(m_editingAids->pictures.size(), 20);
        const QList<QImage> &pictures = m_editingAids->pictures;
        QCOMPARE(pictures[page].size(), kA4);
        if (twin < 0) {
            QVERIFY(pureWhite(pictures[page]));
        } else {
            QVERIFY(!pureWhite(pictures[page]));
            // The same text, drawn in pieces where the marks were, may fall a fraction
            // of a pixel apart; a mark drawn (a hyphen, hidden words) darkens a block.
            QVERIFY2(largestBlockDifference(pictures[page], pictures[twin]) <= 12,
                     qPrintable(QString("differs by %1")
                                    .arg(largestBlockDifference(pictures[page], pictures[twin]))));
        }
    }

    void badInput_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("message"); // %1 is the file's path
        QTest::addColumn<Engines>("engines");

        const QString notADocument = "\"%1\" is not a document that Pagelift can open.";
        const Engines plain = Engines::Plain;
        QTest::newRow("missing file") << "missing.docx"
                                      << "The file \"%1\" does not exist." << plain;
        QTest::newRow("zero bytes") << "zero.docx" << notADocument << plain;
        QTest::newRow("picture named .docx") << "picture.docx" << notADocument << plain;
        // The office loads these as plain text; the engine asks it which import filter
        // it chose, and refuses them.
        QTest::newRow("random bytes named .doc")
            << "random.doc" << notADocument << Engines::PlainAndForked;
        QTest::newRow("random bytes named .wpd")
            << "random.wpd" << notADocument << Engines::PlainAndForked;
        // The office opens these, but they have no pages.
        QTest::newRow("database") << "base.odb"
                                  << "\"%1\" is not a document that Pagelift can open: it is a "
                                     "database, which has no pages to print."
                                  << plain;
        QTest::newRow("formula") << "formula.odf"
                                 << "\"%1\" is not a document that Pagelift can open: it is a "
                                    "formula, which has no pages of its own to print."
                                 << plain;
        QTest::newRow("truncated docx") << "truncated.docx"
                                        << "\"%1\" is damaged and cannot be opened." << plain;
        QTest::newRow("password") << "secret.odt"
                                  << "\"%1\" is protected by a password." << plain;
        QTest::newRow("password, presentation") << "secret.odp"
                                                << "\"%1\" is protected by a password." << plain;
        QTest::newRow("password, pdf") << "secret.pdf"
                                       << "\"%1\" is protected by a password." << plain;
        QTest::newRow("folder named .docx") << "folder.docx"
                                            << "\"%1\" is a folder, not a document." << plain;
        // Never opened: reading a named pipe would wait for a writer forever.
        QTest::newRow("named pipe named .doc")
            << "pipe.doc"
            << "\"%1\" is a named pipe, not a document." << plain;
    }

    void badInput()
    {
        QFETCH(QString, file);
        QFETCH(QString, message);
        QFETCH(Engines, engines);
        const QString path = made(file);
        if (!QFileInfo::exists(path) && file != "missing.docx") {
            QString output;
            if (file == "zero.docx") {
                QVERIFY(writeFile(path, {}));
            } else if (file == "picture.docx") {
                QImage picture(64, 48, QImage::Format_RGB32);
                picture.fill(Qt::darkCyan);
                QVERIFY(picture.save(path, "PNG"));
            } else if (file == "random.doc" || file == "random.wpd") {
                QByteArray bytes;
                for (int i = 0; i < 20000; ++i)
                    bytes.append(char((i * 2654435761u) >> 13));
                QVERIFY(writeFile(path, bytes));
            } else if (file == "base.odb" || file == "formula.odf") {
                const QByteArray type = file == "base.odb"
                                            ? "application/vnd.oasis.opendocument.base"
                                            : "application/vnd.oasis.opendocument.formula";
                QVERIFY(
                    writeFile(path, storedZip({{"mimetype", type},
                                               {"content.xml", "<office:document-content/>"}})));
            } else if (file == "truncated.docx") {
                QFile whole(made("three.docx"));
                QVERIFY(whole.open(QIODevice::ReadOnly));
                QVERIFY(writeFile(path, whole.read(whole.size() / 2)));
            } else if (file == "secret.odt" || file == "secret.odp") {
                const QString plain = made(file == "secret.odt" ? "one.fodt" : "deck.fodp");
                QVERIFY2(run(m_documentMaker, {plain, path, "--password", "s3cret"}, &output),
                         qPrintable(output));
            } else if (file == "secret.pdf") {
                // Exported by the office, encrypted with a password to open it.
                const QString folder = made("secret-pdf");
                QVERIFY2(run("soffice",
                             {"--headless",
                              "-env:UserInstallation=" +
                                  QUrl::fromLocalFile(made("soffice-profile")).toString(),
                              "--convert-to",
                              "pdf:draw_pdf_Export:{\"EncryptFile\":{\"type\":\"boolean\","
                              "\"value\":\"true\"},\"DocumentOpenPassword\":{\"type\":"
                              "\"string\",\"value\":\"s3cret\"}}",
                              "--outdir", folder, made("drawing.fodg")},
                             &output),
                         qPrintable(output));
                QVERIFY(QFile::rename(QDir(folder).filePath("drawing.pdf"), path));
            } else if (file == "folder.docx") {
                QVERIFY(QDir().mkpath(path));
            } else if (file == "pipe.doc") {
                QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
            }
        }

        std::unique_ptr<WordApplication> word = engineFactory(kBinDir, {60000})();
        const qint64 pid = static_cast<EngineClient *>(word.get())->enginePid();
        QCOMPARE(errorMessageOf([&] { word->documentsOpen(path); }), message.arg(path));
        // A refused document leaves no engine behind, even before the client goes.
        QVERIFY(processGone(pid));

        if (engines == Engines::PlainAndForked) {
            auto pool = std::make_shared<EnginePool>(kBinDir, 60000, 0, 0);
            const QList<qint64> launchers = pool->launcherPids();
            std::unique_ptr<WordApplication> forked = pooledEngineFactory(pool, {60000})();
            const qint64 forkedPid = static_cast<EngineClient *>(forked.get())->enginePid();
            QVERIFY2(launchers.contains(parentOf(forkedPid)), "the engine was not forked");
            QCOMPARE(errorMessageOf([&] { forked->documentsOpen(path); }), message.arg(path));
            QTRY_VERIFY_WITH_TIMEOUT(ended(forkedPid), 10000);
        }
    }

    void awkwardPathsConvert_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("spaces") << "a folder/with spaces in it.docx";
        QTest::newRow("quotes") << "it's \"quoted\"/o'clock \"x\".docx";
        QTest::newRow("non-ascii") << "Grüße/日本語 — ünïcødé.docx";
        QTest::newRow("url characters") << "50% #1/a?b&c=d;e.docx";
    }

    void awkwardPathsConvert()
    {
        QFETCH(QString, name);
        const QString path = made(name);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile::remove(path);
        QVERIFY(QFile::copy(made("three.docx"), path));
        const Export result = exportPages(path);
        QCOMPARE(result.count, 3);
        for (const QImage &picture : result.pictures)
            QCOMPARE(picture.size(), kA4);
    }

    // A file without a page size of its own takes the system's paper, as in
    // LibreOffice: what libpaper's paperconf says, else LC_PAPER. Each row makes the
    // system it describes with a paperconf of its own on the PATH, and LibreOffice's
    // PDF export in that system must agree, with an engine started the plain way and
    // with one forked from a launcher started in that system.
    void plainTextTakesTheSystemsPaper_data()
    {
        QTest::addColumn<QByteArray>("paperconf"); // its output; empty: it fails
        QTest::addColumn<QSize>("size");
        QTest::newRow("libpaper says a4") << QByteArray("a4") << kA4;
        QTest::newRow("libpaper says letter") << QByteArray("letter") << kLetter;
        QTest::newRow("no libpaper, the C locale's paper") << QByteArray() << kA4;
    }

    void plainTextTakesTheSystemsPaper()
    {
        QFETCH(QByteArray, paperconf);
        QFETCH(QSize, size);
        const QString folder = made("paper-" + QString::fromLatin1(paperconf));
        QVERIFY(QDir().mkpath(folder + "/bin"));
        const QString tool = folder + "/bin/paperconf";
        QVERIFY(writeFile(tool, paperconf.isEmpty() ? "#!/bin/sh\nexit 1\n"
                                                    : "#!/bin/sh\necho " + paperconf + "\n"));
        QVERIFY(QFile::setPermissions(tool, QFile::ReadOwner | QFile::ExeOwner));
        const QString path = folder + "/notes.txt";
        QVERIFY(writeFile(path, "Plain words on a line.\nAnother line, with ümlauts.\n"));

        const QByteArray oldPath = qgetenv("PATH");
        const QByteArray oldAll = qgetenv("LC_ALL");
        const QByteArray oldPaper = qgetenv("LC_PAPER");
        qputenv("PATH", QFile::encodeName(folder + "/bin") + ':' + oldPath);
        qunsetenv("LC_ALL");
        qputenv("LC_PAPER", "C");
        const Export result = exportPages(path);
        Export forked;
        exportForked(path, forked);
        QString output;
        const bool printed =
            run("soffice",
                {"--headless",
                 "-env:UserInstallation=" + QUrl::fromLocalFile(made("soffice-profile")).toString(),
                 "--convert-to", "pdf", "--outdir", folder, path},
                &output) &&
            run("pdftoppm", {"-r", "96", "-png", folder + "/notes.pdf", folder + "/printed"},
                &output);
        qputenv("PATH", oldPath);
        if (oldAll.isNull())
            qunsetenv("LC_ALL");
        else
            qputenv("LC_ALL", oldAll);
        if (oldPaper.isNull())
            qunsetenv("LC_PAPER");
        else
            qputenv("LC_PAPER", oldPaper);

        if (QTest::currentTestFailed())
            return;
        QVERIFY2(printed, qPrintable(output));
        QCOMPARE(QImage(folder + "/printed-1.png").size(), size);
        const std::pair<const char *, const Export *> engines[] = {{"plain engine", &result},
                                                                   {"forked engine", &forked}};
        for (const auto &[which, engine] : engines) {
            QVERIFY2(engine->count == 1 && engine->pictures.size() == 1, which);
            const QSize got = engine->pictures[0].size();
            QVERIFY2(
                got == size,
                qPrintable(QString("%1: %2 x %3").arg(which).arg(got.width()).arg(got.height())));
            QVERIFY2(!pureWhite(engine->pictures[0]), which);
        }
    }

    void concurrentEnginesUseTheirOwnProfiles()
    {
        // Two documents open at the same moment: two engines, two profile slots.
        std::unique_ptr<WordApplication> first = engineFactory(kBinDir, {60000})();
        std::unique_ptr<WordApplication> second = engineFactory(kBinDir, {60000})();
        first->documentsOpen(made("three.odt"));
        second->documentsOpen(made("one.odt"));
        first->activeDocumentRepaginate();
        second->activeDocumentRepaginate();
        QCOMPARE(first->activeDocumentBuiltInDocumentProperties(14), 3);
        QCOMPARE(second->activeDocumentBuiltInDocumentProperties(14), 1);
        first->quit();
        second->quit();

        const QDir cache(qEnvironmentVariable("XDG_CACHE_HOME") + "/pagelift");
        QVERIFY(cache.exists("engine-profile-0/pagelift-ready"));
        QVERIFY(cache.exists("engine-profile-1/pagelift-ready"));
        // The profile was made through one complete start, so later starts are quick.
        QFile settings(cache.filePath("engine-profile-0/user/registrymodifications.xcu"));
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QVERIFY(settings.readAll().contains("\"ooSetupLastVersion\""));
    }

    void launcherEnginesDrawWhatPlainEnginesDraw()
    {
        // An engine for every document.
        auto pool = std::make_shared<EnginePool>(kBinDir, 60000, 0, 2, 1);
        const WordFactory create = pooledEngineFactory(pool, {60000});
        const QList<qint64> launchers = pool->launcherPids();
        QCOMPARE(launchers.size(), 3);
        // One document after another, as a run goes: each in an engine of its own,
        // forked from a launcher and made ready while the one before was working,
        // which opened its document ahead.
        QList<qint64> engines;
        QStringList run;
        for (const char *name : {"three.docx", "mixed.odt", "twelve.rtf", "one.doc"})
            run << made(name);
        for (const QString &name : run) {
            const Export plain = exportPages(name);
            pool->expect(run.mid(run.indexOf(name), 3));
            QCOMPARE(pool->openedAhead(), run.mid(run.indexOf(name), 2));
            const Export forked = exportPages(name, create);
            QVERIFY(launchers.contains(forked.parent));
            QVERIFY(!engines.contains(forked.pid));
            engines << forked.pid;
            // Reaped by its launcher, not left a zombie, and its processor time counted
            // in the launcher's children's time.
            QTRY_VERIFY_WITH_TIMEOUT(processGone(forked.pid), 10000);
            QVERIFY(reapedChildrenSeconds(forked.parent) > forked.parentReaped);
            QCOMPARE(forked.count, plain.count);
            QCOMPARE(forked.pictures.size(), plain.pictures.size());
            for (int page = 0; page < plain.pictures.size(); ++page)
                QVERIFY2(forked.pictures[page] == plain.pictures[page],
                         qPrintable(QString("%1 page %2").arg(name).arg(page + 1)));
        }
        pool->expect({});
        const qint64 spare = pool->sparePid();
        QVERIFY(spare > 0);
        QVERIFY(launchers.contains(parentOf(spare)));
    }

    // A document's pages are the same, pixel for pixel, whether its engine opened it
    // first or after other documents, in one order or the other. Documents that bring
    // state of their own into the office end their engine; the others share one.
    // Tracked changes and comments are printed by an office that printed nothing else.
    void documentsLookTheSameInAnEngineThatServedOthers()
    {
        // Tracked changes by two authors, and by a third: in an engine that kept the
        // first's authors, the third's changes would take another colour.
        QVERIFY(writeFile(made("changes-two.fodt"), trackedChanges({"Alice Ames", "Bob Brand"})));
        QVERIFY(writeFile(made("changes-one.fodt"), trackedChanges({"Carol Chen"})));
        const QByteArray font = readFile("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf");
        if (font.isEmpty())
            QSKIP("the DejaVu fonts are not installed");
        QVERIFY(writeFile(made("fonts.odt"), fontCarryingDocument(font)));
        QString output;
        QVERIFY2(run(m_documentMaker,
                     {made("changes-two.fodt"), made("changes-two.docx"), made("changes-one.fodt"),
                      made("changes-one.odt")},
                     &output),
                 qPrintable(output));

        const QStringList documents{
            made("three.docx"),  made("changes-two.docx"), made("mixed.odt"),  made("deck.fodp"),
            made("pages.pdf"),   made("changes-one.odt"),  made("twelve.rtf"), made("sheets.fods"),
            made("fonts.odt"),   made("drawing.fodg"),     made("dense.fodt"), made("aids.fodt"),
            made("letter.docx"), made("one.doc")};
        // The documents that leave state behind: tracked-change authors, an embedded
        // font, a comment (its author joins the same table). A presentation, spreadsheet
        // or drawing leaves none that changes a later document. A PDF never reaches the
        // office.
        const QStringList leaveState{made("changes-two.docx"), made("changes-one.odt"),
                                     made("fonts.odt"), made("aids.fodt")};

        // Alone: each the first document of an engine, as every engine warms up.
        auto fresh = std::make_shared<EnginePool>(kBinDir, 60000, 0, 0);
        QMap<QString, Export> alone;
        for (const QString &document : documents) {
            alone[document] = exportPages(document, pooledEngineFactory(fresh, {60000}));
            // Whatever the engine says, the next document gets a new one. Gone
            // altogether, reaped: a dying engine's threads may still be ending.
            if (const qint64 kept = fresh->sparePid(); kept > 0) {
                ::kill(pid_t(kept), SIGKILL);
                QTRY_VERIFY_WITH_TIMEOUT(processGone(kept), 10000);
            }
        }
        fresh.reset();
        // Tracked changes and comments have the colours an office that printed nothing
        // before gives them, as in a plain engine for one document, which never warms up.
        for (const QString &changes : {made("changes-two.docx"), made("aids.fodt")})
            QVERIFY2(exportPages(changes, engineFactory(kBinDir, {60000})).pictures ==
                         alone[changes].pictures,
                     qPrintable(changes));

        for (const bool reversed : {false, true}) {
            QStringList order = documents;
            if (reversed)
                std::reverse(order.begin(), order.end());
            // One engine at a time, so that each document follows the one before it
            // in the same engine whenever the engine goes on.
            auto pool = std::make_shared<EnginePool>(kBinDir, 60000, 0, 0);
            const WordFactory create = pooledEngineFactory(pool, {60000});
            QList<qint64> engines;
            for (qsizetype i = 0; i < order.size(); ++i) {
                pool->expect(order.mid(i, 2));
                const Export after = exportPages(order[i], create);
                const Export &first = alone[order[i]];
                QCOMPARE(after.count, first.count);
                QCOMPARE(after.pictures.size(), first.pictures.size());
                for (qsizetype page = 0; page < first.pictures.size(); ++page)
                    QVERIFY2(after.pictures[page] == first.pictures[page],
                             qPrintable(QString("%1 page %2, %3 order")
                                            .arg(order[i])
                                            .arg(page + 1)
                                            .arg(reversed ? "reverse" : "first")));
                engines << after.pid;
            }
            for (qsizetype i = 0; i + 1 < order.size(); ++i)
                QVERIFY2((engines[i + 1] == engines[i]) != leaveState.contains(order[i]),
                         qPrintable(order[i]));
        }
    }

    // A PDF needs no office: until a document needs one, the launcher has not loaded it,
    // and a PDF's engine, forked from it, serves that one document, confined as every
    // engine is. The office is loaded for the first document of another kind. A plain
    // engine given a PDF starts no office either.
    void pdfEnginesHaveNoOffice()
    {
        const char *office = "/libmergedlo.so";
        auto pool = std::make_shared<EnginePool>(kBinDir, 60000, 0, 0);
        const qint64 launcher = pool->launcherPid();
        const WordFactory create = pooledEngineFactory(pool, {60000});
        pool->expect({made("pages.pdf")});
        std::unique_ptr<WordApplication> word = create();
        const qint64 engine = static_cast<EngineClient *>(word.get())->enginePid();
        QCOMPARE(parentOf(engine), launcher);
        word->documentsOpen(made("pages.pdf"));
        QCOMPARE(word->activeDocumentBuiltInDocumentProperties(14), 3);
        QVERIFY(!procFile(engine, "maps").contains(office));
        if (sandboxStatus(kBinDir).complete)
            QVERIFY(procFile(engine, "status").contains("Seccomp:\t2"));
        word->activeDocumentClose(0);
        word->quit();
        word.reset();
        QVERIFY(!procFile(launcher, "maps").contains(office));
        // An engine started the plain way, as for a thumbnail, starts none either.
        word = engineFactory(kBinDir, {60000})();
        word->documentsOpen(made("pages.pdf"));
        QCOMPARE(word->activeDocumentBuiltInDocumentProperties(14), 3);
        QVERIFY(!procFile(static_cast<EngineClient *>(word.get())->enginePid(), "maps")
                     .contains(office));
        word->activeDocumentClose(0);
        word->quit();
        word.reset();

        pool->expect({made("one.docx")});
        const Export document = exportPages(made("one.docx"), create);
        QCOMPARE(document.count, 1);
        QVERIFY(document.pid != engine);
        QCOMPARE(document.parent, launcher);
        QVERIFY(procFile(launcher, "maps").contains(office));
    }

    // pagelift-convert goes from one kind of engine to the other and back, each
    // document whole.
    void mixedListThroughTheCommandLine()
    {
        QVERIFY(QFile::copy(made("pages.pdf"), made("again.pdf")));
        const QStringList documents{made("pages.pdf"), made("twelve.docx"), made("again.pdf")};
        // The workers' Qt would make its runtime folder in the temporary folder, which
        // is to hold nothing of the engines' at the end.
        QVERIFY(QDir().mkpath(made("runtime")));
        QVERIFY(QFile::setPermissions(made("runtime"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", made("runtime"));
        const Outcome outcome =
            runToEnd(kBinDir + "/pagelift-convert",
                     QStringList{"-j", "1", "-o", made("mixed-run")} + documents, environment,
                     m_dir.path(), {}, 240000);
        QCOMPARE(outcome.status, 0);
        QCOMPARE(outcome.lines(),
                 (QStringList{documents[0] + ": 3 pages", documents[1] + ": 12 pages",
                              documents[2] + ": 3 pages"}));
        QCOMPARE(QDir(made("mixed-run")).entryList({"*.jpg"}).size(), 18);
    }

    // The real engine counts its documents and ends at its limit; a refusal ends it too,
    // and the document after it is converted in a fresh one.
    void engineEndsAtItsLimitAndAfterARefusal()
    {
        auto pool = std::make_shared<EnginePool>(kBinDir, 60000, 0, 0, 2);
        const WordFactory create = pooledEngineFactory(pool, {60000});
        const Export first = exportPages(made("one.docx"), create);
        QVERIFY(!ended(first.pid));
        const Export second = exportPages(made("three.odt"), create);
        QCOMPARE(second.pid, first.pid);
        QCOMPARE(second.count, 3);
        QVERIFY(ended(first.pid));

        const Export third = exportPages(made("one.rtf"), create);
        QVERIFY(third.pid != first.pid);
        QCOMPARE(pool->sparePid(), third.pid);
        const QString missing = made("no such document.docx");
        QCOMPARE(errorMessageOf([&] { exportPages(missing, create); }),
                 QString("The file \"%1\" does not exist.").arg(missing));
        QVERIFY(ended(third.pid));
        const Export fourth = exportPages(made("three.docx"), create);
        QVERIFY(fourth.pid != third.pid);
        QCOMPARE(fourth.count, 3);
        QCOMPARE(fourth.pictures.size(), 3);
    }

    void pageDrawnAheadIsOnlyUsedForThatPage()
    {
        // After the first cut the engine draws page 2 ahead; a cut of pages 2 and 3
        // together must still be both pages, one above the other.
        const Export pages = exportPages(made("three.docx"));
        QCOMPARE(pages.pictures.size(), 3);
        std::unique_ptr<WordApplication> word = engineFactory(kBinDir, {60000})();
        word->documentsOpen(made("three.docx"));
        word->selectionGoTo(1, 2, 2);
        for (int i = 0; i < 100; ++i)
            word->selectionMoveUp(5, 200, 1);
        word->selectionCut();
        word->selectionEndKey(6, 1);
        word->selectionCut();
        const QImage rest = QGuiApplication::clipboard()->image();
        word->activeDocumentClose(0);
        word->quit();
        QCOMPARE(rest.size(), QSize(kA4.width(), 2 * kA4.height()));
        QCOMPARE(rest.copy(0, 0, kA4.width(), kA4.height()), pages.pictures[1]);
        QCOMPARE(rest.copy(0, kA4.height(), kA4.width(), kA4.height()), pages.pictures[2]);
    }

    // Pages travel in buffers that the engine draws into again once the client has let
    // go of their pictures. A picture still held is never drawn over, and a page drawn
    // into a buffer used before (of another size, too) shows that page and nothing else.
    void pageBuffersNeverChangeAPictureStillHeld()
    {
        // Held and let go, drawn one page ahead on the engine's thread, and held while
        // helper threads draw two pages ahead (a document converted alone): every page
        // the same, and unchanged for as long as it is held.
        for (const char *name : {"twelve.docx", "mixed.odt"}) {
            QList<QImage> held;
            QList<QImage> copies; // deep, made as each page came
            QList<QImage> letGo;  // deep, the shared picture dropped at once
            QList<QImage> alone;  // held, drawn by helpers
            QList<QImage> aloneCopies;
            for (QList<QImage> *kept : {&held, &letGo, &alone}) {
                DocumentOptions options{60000};
                options.onlyDocument = kept == &alone;
                std::unique_ptr<WordApplication> word = engineFactory(kBinDir, options)();
                word->documentsOpen(made(name));
                word->activeDocumentRepaginate();
                const qint32 count = word->activeDocumentBuiltInDocumentProperties(14);
                cutAllPages(*word, count, [&](int) {
                    const QImage picture = QGuiApplication::clipboard()->image();
                    if (kept == &letGo) {
                        letGo.append(picture.copy());
                    } else {
                        kept->append(picture);
                        (kept == &held ? copies : aloneCopies).append(picture.copy());
                    }
                    QGuiApplication::clipboard()->clear();
                });
                word->activeDocumentClose(0);
                word->quit();
            }
            QCOMPARE(held.size(), name == QByteArray("mixed.odt") ? 4 : 12);
            QCOMPARE(letGo.size(), held.size());
            QCOMPARE(alone.size(), held.size());
            for (int page = 0; page < held.size(); ++page) {
                QCOMPARE(held[page], copies[page]);
                QCOMPARE(letGo[page], copies[page]);
                QCOMPARE(alone[page], aloneCopies[page]);
                QCOMPARE(alone[page], copies[page]);
                if (page > 0)
                    QVERIFY2(copies[page] != copies[page - 1], "two pages look alike");
            }
        }
    }

    // The real engine, started plainly or forked from a launcher, keeps to the memory
    // limit it is given: with one below what the office itself takes, the document is
    // refused at once with the user's words for it.
    // A spare warms up on idle time, but leaves it as soon as a document is given to it:
    // on a processor kept busy by other programs, idle time may not come for minutes.
    void spareGivenADocumentLeavesIdleTime()
    {
        // Every core busy at normal priority before the spare is ordered.
        std::vector<std::unique_ptr<QProcess>> busy;
        for (int i = 0; i < std::max(1, QThread::idealThreadCount()); ++i) {
            busy.push_back(std::make_unique<QProcess>());
            busy.back()->start("sh", {"-c", "while :; do :; done"});
            QVERIFY(busy.back()->waitForStarted());
        }
        // Other tests' engines may be at work too: the deadline leaves room for that, far
        // less than the minutes a document given to an engine on idle time waits here.
        auto pool = std::make_shared<EnginePool>(kBinDir, 120000, 0, 1);
        QTRY_VERIFY_WITH_TIMEOUT(pool->sparePid() > 0, 10000);
        Export result;
        const QString error = errorMessageOf(
            [&] { result = exportPages(made("three.docx"), pooledEngineFactory(pool, {120000})); });
        for (auto &process : busy)
            process->kill();
        for (auto &process : busy)
            process->waitForFinished();
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(result.count, 3);
    }

    void engineKeepsToItsMemoryLimit()
    {
        const QString document = made("one.docx");
        constexpr size_t kTooLittle = size_t(32) << 20;
        const QString message =
            QString("\"%1\" needs more memory than Pagelift allows for one document.")
                .arg(document);
        QCOMPARE(errorMessageOf([&] {
                     engineFactory(kBinDir, {60000}, kTooLittle)()->documentsOpen(document);
                 }),
                 message);
        auto pool = std::make_shared<EnginePool>(kBinDir, 60000, kTooLittle);
        QCOMPARE(
            errorMessageOf([&] { pooledEngineFactory(pool, {60000})()->documentsOpen(document); }),
            message);
    }

    // When memory runs out, the kernel ends an engine, plain or forked, whose document
    // is reported, rather than the program that drives it, whose whole run would end.
    void enginesGoFirstWhenMemoryRunsOut()
    {
        const QByteArray own = oomScoreAdjustment(0);
        QVERIFY2(own != "1000", "the tests already run as the killer's first choice");
        const std::unique_ptr<WordApplication> plain = engineFactory(kBinDir, {60000})();
        auto pool = std::make_shared<EnginePool>(kBinDir, 60000, 0, 0);
        const std::unique_ptr<WordApplication> forked = pooledEngineFactory(pool, {60000})();
        for (const WordApplication *word : {plain.get(), forked.get()})
            QCOMPARE(oomScoreAdjustment(static_cast<const EngineClient *>(word)->enginePid()),
                     "1000");
        QCOMPARE(oomScoreAdjustment(pool->launcherPids().front()), "1000");
        QCOMPARE(oomScoreAdjustment(0), own);
    }

    void killedEngineLeavesNothingBesideTheDocument()
    {
        // An engine killed with its document open (a crash, a closed window) leaves
        // no lock file or other trace in the document's folder, and the document as
        // it was.
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString document = folder.filePath("report.docx");
        QVERIFY(QFile::copy(made("three.docx"), document));
        const QByteArray before = hashOf(document);
        for (const WordFactory &create :
             {engineFactory(kBinDir, {60000}),
              pooledEngineFactory(std::make_shared<EnginePool>(kBinDir, 60000), {60000})}) {
            std::unique_ptr<WordApplication> word = create();
            const qint64 pid = static_cast<EngineClient *>(word.get())->enginePid();
            word->documentsOpen(document);
            QCOMPARE(word->activeDocumentBuiltInDocumentProperties(14), 3);
            word.reset();
            QTRY_VERIFY_WITH_TIMEOUT(ended(pid), 10000);
            QCOMPARE(QDir(folder.path())
                         .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                     QStringList{"report.docx"});
            QCOMPARE(hashOf(document), before);
        }
    }

    void launcherEndsWithThePool()
    {
        qint64 launcher = 0;
        qint64 spare = 0;
        {
            EnginePool pool(kBinDir, 60000);
            launcher = pool.launcherPid();
            spare = pool.sparePid();
            QVERIFY(launcher > 0 && spare > 0);
        }
        QVERIFY(processGone(launcher));
        QTRY_VERIFY_WITH_TIMEOUT(ended(spare), 30000);
    }

    void engineEndsWhenItsInputCloses()
    {
        QProcess engine;
        engine.start(m_engine, {});
        QVERIFY(engine.waitForStarted(30000));
        engine.closeWriteChannel();
        QVERIFY(engine.waitForFinished(60000));
        QCOMPARE(engine.exitStatus(), QProcess::NormalExit);
        QCOMPARE(engine.exitCode(), 0);
    }

    void engineDiesWithItsParent()
    {
        // A shell starts an engine that waits for calls on the shell's own input (kept
        // open by this test), reports the engine's pid, and is then killed.
        QProcess shell;
        shell.start("sh", {"-c", "exec 3<&0; \"$0\" <&3 & echo $!; wait", m_engine});
        QVERIFY(shell.waitForStarted(30000));
        QVERIFY(shell.waitForReadyRead(30000));
        const qint64 engine = shell.readLine().trimmed().toLongLong();
        QVERIFY(engine > 0);
        const QString status = QString("/proc/%1/status").arg(engine);
        auto state = [&] {
            QFile file(status);
            if (!file.open(QIODevice::ReadOnly))
                return QByteArray("gone");
            const QByteArray text = file.readAll();
            const int at = text.indexOf("State:");
            return at < 0 ? QByteArray("gone") : text.mid(at + 6).trimmed().left(1);
        };
        QVERIFY(state() == "R" || state() == "S");
        shell.kill();
        QVERIFY(shell.waitForFinished(30000));
        // Dead: reaped, or a zombie where nobody reaps orphans.
        QTRY_VERIFY_WITH_TIMEOUT(state() == "gone" || state() == "Z", 30000);
    }

    void userProfileIsNeverTouched()
    {
        // Runs last: every engine of this test has run with HOME pointing here.
        QVERIFY(!QDir(m_home.path()).exists(".config/libreoffice"));
        QVERIFY(!QDir(m_home.path()).exists(".cache/pagelift"));
        QCOMPARE(QDir(m_home.filePath(".mozilla/firefox/abcd.default"))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
        // No engine left temporary files behind in the user's temporary folder.
        QCOMPARE(
            QDir(m_temp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList());
    }
};

QTEST_MAIN(TestEngine)
#include "tst_engine.moc"
