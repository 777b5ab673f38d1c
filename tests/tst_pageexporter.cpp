#include "errorof.h"
#include "fakeword.h"
#include "jpegwriter.h"
#include "madedocuments.h"
#include "mousepointer.h"
#include "pageexporter.h"
#include "picturebox.h"
#include "pointerlog.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QImageReader>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <QTimer>

#include <csignal>
#include <optional>
#include <sys/resource.h>

namespace {

} // namespace

class TestPageExporter : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    FakeWordLibrary m_word;
    PictureBox m_creator;
    QSlider m_slider{Qt::Horizontal};
    PointerLog m_pointer;
    std::optional<BusyPointer> m_busy; // the run's, around the export
    QList<std::pair<int, int>> m_progress;

    ExportHost host()
    {
        ExportHost host;
        host.canvas = &m_creator;
        host.quality = &m_slider;
        host.busy = &*m_busy;
        host.clipboard = QGuiApplication::clipboard();
        host.pageWritten = [this](int done, int count) { m_progress << std::pair{done, count}; };
        return host;
    }

    QString document(const QString &name, std::vector<FakeWordLibrary::Page> pages)
    {
        const QString path = m_dir.filePath(name);
        m_word.addDocument(path, std::move(pages));
        return path;
    }

    static std::vector<FakeWordLibrary::Page> pages(int count, QSize size = {80, 110})
    {
        std::vector<FakeWordLibrary::Page> result;
        for (int i = 0; i < count; ++i)
            result.push_back({size, QColor::fromHsv((i * 47) % 360, 200, 220)});
        return result;
    }

    QStringList outputs() const
    {
        return QDir(m_dir.path()).entryList({"*.jpg"}, QDir::Files | QDir::Dirs, QDir::Name);
    }

    // The JPEG that the encoder makes of this page picture at this quality.
    QByteArray expectedJpeg(const FakeWordLibrary::Page &page, int quality)
    {
        const QString path = m_dir.filePath("expected.tmp");
        writeJpeg(fakePagePicture(page).convertToFormat(QImage::Format_ARGB32), path,
                  quint8(quality));
        const QByteArray bytes = readFile(path);
        QFile::remove(path);
        return bytes;
    }

private slots:
    void init()
    {
        m_word = FakeWordLibrary();
        m_slider.setRange(1, 100);
        m_slider.setValue(75);
        m_pointer = PointerLog();
        m_busy.emplace(m_pointer);
        m_pointer.settings.clear();
        m_progress.clear();
        for (const QString &name : QDir(m_dir.path()).entryList(QDir::Files))
            QFile::remove(m_dir.filePath(name));
    }

    void outputNames_data()
    {
        QTest::addColumn<QString>("document");
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("output");
        QTest::newRow("plain") << "/docs/report.doc" << 3 << "/docs/report_3.jpg";
        QTest::newRow("no leading zero") << "/docs/a.doc" << 10 << "/docs/a_10.jpg";
        QTest::newRow("several dots") << "/d/report.final.docx" << 1 << "/d/report.final_1.jpg";
        QTest::newRow("dot in a folder only")
            << "/home/u/my.docs/report" << 1 << "/home/u/my.docs/report_1.jpg";
        QTest::newRow("no dot") << "/docs/README" << 2 << "/docs/README_2.jpg";
        QTest::newRow("only a leading dot") << "/docs/.notes" << 1 << "/docs/.notes_1.jpg";
        QTest::newRow("spaces and letters")
            << "/d/Über uns \"q\".odt" << 1 << "/d/Über uns \"q\"_1.jpg";
    }

    void outputNames()
    {
        QFETCH(QString, document);
        QFETCH(int, page);
        QFETCH(QString, output);
        QCOMPARE(pageFileName(document, page), output);
    }

    void onePageTakesTheRestWithoutGoTo()
    {
        const auto onePage = pages(1);
        const QString path = document("one.docx", onePage);
        exportPages(path, m_word.factory(), host());

        QCOMPARE(
            m_word.calls,
            (QStringList{"new", "Documents.Open(" + path + ")", "ActiveDocument.Repaginate",
                         "ActiveDocument.BuiltInDocumentProperties(14)", "Selection.EndKey(6,1)",
                         "Selection.Cut", "ActiveDocument.Close(0)", "Quit"}));
        QCOMPARE(outputs(), QStringList{"one_1.jpg"});
        QCOMPARE(readFile(m_dir.filePath("one_1.jpg")), expectedJpeg(onePage[0], 75));
        QCOMPARE(m_word.instancesAlive, 0);
        QCOMPARE(m_pointer.mousePointer(), MousePointer::Hourglass);
    }

    void fourPagesCutOneByOne()
    {
        const auto four = pages(4);
        const QString path = document("four.odt", four);
        exportPages(path, m_word.factory(), host());

        // The whole sequence: three page-by-page passes, then the rest.
        QStringList expected = {"new", "Documents.Open(" + path + ")", "ActiveDocument.Repaginate",
                                "ActiveDocument.BuiltInDocumentProperties(14)"};
        for (int pass = 0; pass < 3; ++pass) {
            expected << "Selection.GoTo(1,2,2)";
            for (int i = 0; i < 100; ++i)
                expected << "Selection.MoveUp(5,200,1)";
            expected << "Selection.Cut";
        }
        expected << "Selection.EndKey(6,1)"
                 << "Selection.Cut"
                 << "ActiveDocument.Close(0)"
                 << "Quit";
        QCOMPARE(m_word.calls, expected);

        // Each file holds its own page, in document order.
        QCOMPARE(outputs(), (QStringList{"four_1.jpg", "four_2.jpg", "four_3.jpg", "four_4.jpg"}));
        for (int i = 0; i < 4; ++i)
            QCOMPARE(readFile(m_dir.filePath(QStringLiteral("four_%1.jpg").arg(i + 1))),
                     expectedJpeg(four[size_t(i)], 75));
        QCOMPARE(m_progress, (QList<std::pair<int, int>>{{1, 4}, {2, 4}, {3, 4}, {4, 4}}));
        QCOMPARE(m_pointer.settings, QList<MousePointer>(4, MousePointer::Hourglass));
        QCOMPARE(m_creator.size(), QSize(80, 110));
    }

    void pagesKeepTheirOwnSizes()
    {
        const QString path = document("mixed.doc", {{QSize(794, 1123), Qt::red},
                                                    {QSize(1123, 794), Qt::green},
                                                    {QSize(816, 1056), Qt::blue}});
        exportPages(path, m_word.factory(), host());
        QCOMPARE(QImageReader(m_dir.filePath("mixed_1.jpg")).size(), QSize(794, 1123));
        QCOMPARE(QImageReader(m_dir.filePath("mixed_2.jpg")).size(), QSize(1123, 794));
        QCOMPARE(QImageReader(m_dir.filePath("mixed_3.jpg")).size(), QSize(816, 1056));
    }

    void reportedCountOfNoneGivesOneImage_data()
    {
        QTest::addColumn<int>("reported");
        QTest::newRow("zero") << 0;
        QTest::newRow("minus one") << -1;
        QTest::newRow("one while three are there") << 1;
    }

    void reportedCountOfNoneGivesOneImage()
    {
        QFETCH(int, reported);
        const QString path = document("few.rtf", pages(3));
        m_word.document(path).reportedPageCount = reported;
        exportPages(path, m_word.factory(), host());
        QCOMPARE(outputs(), QStringList{"few_1.jpg"});
        QVERIFY(!m_word.calls.join(',').contains("GoTo"));
        // The one image holds the whole content.
        QCOMPARE(QImageReader(m_dir.filePath("few_1.jpg")).size(), QSize(80, 330));
    }

    void sliderChangeAppliesFromTheNextPage()
    {
        const auto three = pages(3, QSize(120, 90));
        const QString path = document("q.docx", three);
        m_slider.setValue(100);
        int moves = 0;
        m_word.onCall = [&](const QString &call) {
            // Half-way through selecting page 2, the user moves the slider; the change
            // arrives while the exporter processes events.
            if (call.startsWith("Selection.MoveUp") && ++moves == 150)
                QTimer::singleShot(0, &m_slider, [this] { m_slider.setValue(10); });
        };
        exportPages(path, m_word.factory(), host());
        QCOMPARE(readFile(m_dir.filePath("q_1.jpg")), expectedJpeg(three[0], 100));
        QCOMPARE(readFile(m_dir.filePath("q_2.jpg")), expectedJpeg(three[1], 10));
        QCOMPARE(readFile(m_dir.filePath("q_3.jpg")), expectedJpeg(three[2], 10));
    }

    void existingImagesAreReplaced()
    {
        const QString path = document("again.doc", pages(2));
        exportPages(path, m_word.factory(), host());
        const QByteArray first = readFile(m_dir.filePath("again_2.jpg"));
        m_slider.setValue(20);
        exportPages(path, m_word.factory(), host());
        QCOMPARE(outputs(), (QStringList{"again_1.jpg", "again_2.jpg"}));
        QVERIFY(readFile(m_dir.filePath("again_2.jpg")) != first);
        QCOMPARE(m_word.instancesCreated, 2);
    }

    void failureMidDocumentEndsTheEngine()
    {
        const QString path = document("broken.docx", pages(4));
        m_word.failOn = "Selection.Cut";
        m_word.failAfter = 3;
        const Caught caught = errorOf([&] { exportPages(path, m_word.factory(), host()); });
        QVERIFY2(caught.threw(), "the export went on after a failed call");
        QCOMPARE(caught.message, m_word.failMessage);
        QCOMPARE(outputs(), (QStringList{"broken_1.jpg", "broken_2.jpg"}));
        QCOMPARE(m_word.instancesAlive, 0);
        QVERIFY(!m_word.calls.contains("Quit"));
    }

    void failedEncodeLeavesNoIntermediateFile()
    {
        // Stacked into one picture, these pages are taller than a JPEG can be: the
        // intermediate picture is written, then the encoder refuses it.
        const QString path = document("tall.doc", pages(60, QSize(8, 1200)));
        m_word.document(path).reportedPageCount = 0;
        const Caught caught = errorOf([&] { exportPages(path, m_word.factory(), host()); });
        QVERIFY2(caught.threw(), "a picture taller than a JPEG can be was encoded");
        QCOMPARE(caught.number, 5);
        QVERIFY(caught.message.startsWith("Cannot save the image. GDI+ Error:"));
        QCOMPARE(outputs(), QStringList());
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList());
        QCOMPARE(m_word.instancesAlive, 0);
    }

    // The page picture is kept in memory: a folder whose files may only be small (a
    // nearly full disk) takes the JPEGs of pages whose pictures are far larger.
    void pagePictureNeverLiesOnDisk()
    {
        const auto large = pages(3, QSize(900, 1200)); // 4.3 MB each as a picture
        const QString path = document("large.docx", large);
        rlimit old{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &old) == 0);
        const auto oldSignal = ::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = 256 * 1024;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        const Caught caught = errorOf([&] { exportPages(path, m_word.factory(), host()); });
        ::setrlimit(RLIMIT_FSIZE, &old);
        ::signal(SIGXFSZ, oldSignal);
        QVERIFY2(!caught.threw(), qPrintable(caught.message));
        QCOMPARE(outputs(), (QStringList{"large_1.jpg", "large_2.jpg", "large_3.jpg"}));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(readFile(m_dir.filePath(QStringLiteral("large_%1.jpg").arg(i + 1))),
                     expectedJpeg(large[size_t(i)], 75));
    }

    // A rerun that fails at a page leaves the image of the run before in its place,
    // byte for byte.
    void failedRerunKeepsEarlierImages()
    {
        const QString path = document("rerun.doc", pages(2));
        exportPages(path, m_word.factory(), host());
        const QByteArray first = readFile(m_dir.filePath("rerun_1.jpg"));
        const QByteArray second = readFile(m_dir.filePath("rerun_2.jpg"));

        // Now the document's pages come as one picture taller than a JPEG can be.
        m_word.addDocument(path, pages(60, QSize(8, 1200)));
        m_word.document(path).reportedPageCount = 0;
        const Caught caught = errorOf([&] { exportPages(path, m_word.factory(), host()); });
        QCOMPARE(caught.number, 5);
        QCOMPARE(readFile(m_dir.filePath("rerun_1.jpg")), first);
        QCOMPARE(readFile(m_dir.filePath("rerun_2.jpg")), second);
        QCOMPARE(outputs(), (QStringList{"rerun_1.jpg", "rerun_2.jpg"}));
    }

    void unwritableOutputNamesTheFile()
    {
        const QString path = document("blocked.docx", pages(2));
        QVERIFY(QDir(m_dir.path()).mkdir("blocked_2.jpg")); // a folder where page 2 goes
        const Caught caught = errorOf([&] { exportPages(path, m_word.factory(), host()); });
        QVERIFY2(caught.threw(), "page 2 was written over a folder");
        QVERIFY2(caught.message.contains(m_dir.filePath("blocked_2.jpg")),
                 qPrintable(caught.message));
        QVERIFY(QFileInfo(m_dir.filePath("blocked_2.jpg")).isDir());
        QCOMPARE(QImageReader(m_dir.filePath("blocked_1.jpg")).format(), QByteArray("jpeg"));
        QVERIFY(QDir(m_dir.path()).rmdir("blocked_2.jpg"));
        QCOMPARE(m_word.instancesAlive, 0);
    }

    void missingDocumentFailsBeforeAnyFile()
    {
        const Caught caught =
            errorOf([&] { exportPages(m_dir.filePath("absent.doc"), m_word.factory(), host()); });
        QVERIFY2(caught.threw(), "a missing document was exported");
        QVERIFY(caught.message.contains("absent.doc"));
        QCOMPARE(outputs(), QStringList());
        QCOMPARE(m_word.instancesAlive, 0);
    }
};

QTEST_MAIN(TestPageExporter)
#include "tst_pageexporter.moc"
