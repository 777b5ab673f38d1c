// The automation client against a fake engine that renders known pixels and crashes,
// hangs or refuses on command.

#include "childprocesses.h"
#include "engineclient.h"
#include "errorof.h"
#include "exportsequence.h"
#include "fakepages.h"
#include "madedocuments.h"
#include "pagebuffers.h"
#include "pathbytes.h"
#include "processes.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

const QString kFakeFolder = QStringLiteral(PAGELIFT_FAKE_ENGINE_DIR);

} // namespace

class TestEngineClient : public QObject
{
    Q_OBJECT

private:
    QString script(const QString &name, const QString &text)
    {
        return writeScript(m_dir.path(), name, text);
    }

    std::unique_ptr<EngineClient> client(int timeoutMs = 20000)
    {
        std::unique_ptr<WordApplication> word = engineFactory(kFakeFolder, {timeoutMs})();
        return std::unique_ptr<EngineClient>(static_cast<EngineClient *>(word.release()));
    }

    static QImage clipboardImage() { return QGuiApplication::clipboard()->image(); }

    // A shared memory file of `width` x `height` pixels, each `pixel`, as the engine sends.
    static UniqueFd sharedPixels(int width, int height, quint32 pixel)
    {
        UniqueFd fd(::memfd_create("test-page", MFD_CLOEXEC));
        const size_t size = size_t(width) * size_t(height) * 4;
        if (!fd || ::ftruncate(fd.get(), off_t(size)) != 0)
            return {};
        void *at = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
        if (at == MAP_FAILED)
            return {};
        for (size_t i = 0; i < size / 4; ++i)
            std::memcpy(static_cast<char *>(at) + i * 4, &pixel, 4);
        ::munmap(at, size);
        return fd;
    }

    QTemporaryDir m_dir;

private slots:
    void init() { QCOMPARE(childprocesses::count(), 0); }

    void cleanup()
    {
        // Whatever a test did, no engine may be left running.
        QCOMPARE(childprocesses::count(), 0);
    }

    void exporterSequenceCutsPageByPage()
    {
        const QString log = m_dir.filePath("calls.log");
        const QString path = script("four.doc", "pages 4\nsize 5 3\nlog " + log + "\n");
        auto word = client();
        const qint64 pid = word->enginePid();
        QVERIFY(pid > 0);

        word->documentsOpen(path);
        word->activeDocumentRepaginate();
        const qint32 count = word->activeDocumentBuiltInDocumentProperties(14);
        QCOMPARE(count, 4);
        cutAllPages(*word, count, [&](int page) {
            const QImage picture = clipboardImage();
            QCOMPARE(picture.size(), QSize(5, 3));
            QVERIFY2(isFakePage(picture, page, 0, 5, 3), qPrintable(QString::number(page)));
        });
        if (QTest::currentTestFailed())
            return;
        word->activeDocumentClose(0);
        word->quit();
        QVERIFY(processGone(pid));
        QCOMPARE(word->enginePid(), 0);

        // The arguments reach the engine exactly as given.
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList calls = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(calls.size(), 3 + 3 + 300 + 1 + 4 + 2);
        QCOMPARE(calls.count("goto 1 2 2"), 3);
        QCOMPARE(calls.count("moveup 5 200 1"), 300);
        QCOMPARE(calls.count("endkey 6 1 0"), 1);
        QCOMPARE(calls.count("cut 0 0 0"), 4);
        QCOMPARE(calls.mid(calls.size() - 2), QStringList({"close 0 0 0", "quit 0 0 0"}));
        QCOMPARE(calls.at(2), QString("property 14 0 0"));
    }

    // A file name that is not valid UTF-8 reaches the engine as the same bytes.
    void namesThatAreNotUtf8ReachTheEngine()
    {
        const QByteArray name = encodePath(m_dir.path()) + "/caf\xE9 \xFF.doc";
        QVERIFY(writeFile(decodePath(name), "pages 2\n"));
        QVERIFY(::access(name.constData(), F_OK) == 0);
        auto word = client();
        word->documentsOpen(decodePath(name));
        QCOMPARE(word->activeDocumentBuiltInDocumentProperties(14), 2);
        word->activeDocumentClose(0);
        word->quit();
    }

    // An engine whose document takes more memory than it may is stopped early, not
    // when the system runs out, and the user is told why.
    void documentOverTheMemoryLimitIsStopped()
    {
        const QString greedy = script("greedy.doc", "pages 2\ngrow 4000\n");
        auto word = engineFactory(kFakeFolder, {20000}, size_t(64) << 20)();
        const qint64 pid = static_cast<EngineClient *>(word.get())->enginePid();
        const Caught caught = errorOf([&] { word->documentsOpen(greedy); });
        QCOMPARE(
            caught.message,
            QString("\"%1\" needs more memory than Pagelift allows for one document.").arg(greedy));
        QVERIFY(processGone(pid));
    }

    void pixelsInSharedMemory()
    {
        // The real engine's way: the pages arrive as a descriptor of shared memory,
        // and the clipboard's picture is those pixels.
        const QString path = script("shared.doc", "pages 3\nsize 7 4\nshared\n");
        auto word = client();
        word->documentsOpen(path);
        word->selectionGoTo(1, 2, 2);
        word->selectionMoveUp(5, 200, 1);
        word->selectionCut();
        QImage picture = clipboardImage();
        QCOMPARE(picture.size(), QSize(7, 4));
        QVERIFY(isFakePage(picture, 0, 0, 7, 4));
        word->selectionEndKey(6, 1);
        word->selectionCut();
        picture = clipboardImage();
        QCOMPARE(picture.size(), QSize(7, 8));
        QVERIFY(isFakePage(picture, 1, 0, 7, 4));
        QVERIFY(isFakePage(picture, 2, 4, 7, 4));
        word->quit();
    }

    void selectionOfSeveralPagesIsOnePicture()
    {
        const QString path = script("three.doc", "pages 3\nsize 4 2\n");
        auto word = client();
        word->documentsOpen(path);
        word->selectionGoTo(1, 2, 3);
        word->selectionMoveUp(5, 200, 1);
        word->selectionCut();
        const QImage picture = clipboardImage();
        QCOMPARE(picture.size(), QSize(4, 4));
        QVERIFY(isFakePage(picture, 0, 0, 4, 2));
        QVERIFY(isFakePage(picture, 1, 2, 4, 2));
        // What is left is the last page alone.
        QCOMPARE(word->activeDocumentBuiltInDocumentProperties(14), 1);
    }

    void cutPictureWrapsTheReceivedPixels()
    {
        const QString path = script("one.doc", "pages 1\nsize 300 200\n");
        auto word = client();
        word->documentsOpen(path);
        word->selectionEndKey(6, 1);
        word->selectionCut();
        const QImage picture = clipboardImage();
        QCOMPARE(picture.format(), QImage::Format_ARGB32_Premultiplied);
        QVERIFY(isFakePage(picture, 0, 0, 300, 200));
    }

    void failures_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("calls"); // the last one fails
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("message"); // %1 is the document

        const QStringList open{"open"};
        const QStringList upToCut{"open", "repaginate", "count", "goto", "moveup", "cut"};
        const QString crashed = "The document engine stopped unexpectedly while working on \"%1\".";
        const QString late = "The document engine did not answer within 0.3 seconds while "
                             "working on \"%1\".";
        QTest::newRow("crash while opening") << "crash open" << open << 440 << crashed;
        QTest::newRow("crash while cutting") << "pages 3\ncrash cut" << upToCut << 440 << crashed;
        QTest::newRow("crash at the second cut")
            << "pages 3\ncrash cut 2" << (upToCut + QStringList{"goto", "moveup", "cut"}) << 440
            << crashed;
        QTest::newRow("crash while quitting")
            << "crash quit" << QStringList{"open", "endkey", "cut", "close", "quit"} << 440
            << crashed;
        QTest::newRow("hang while opening") << "hang open" << open << 440 << late;
        QTest::newRow("hang while cutting") << "pages 2\nhang cut" << upToCut << 440 << late;
        QTest::newRow("not a document")
            << "refuse open 2" << open << 440 << "\"%1\" is not a document that Pagelift can open.";
        QTest::newRow("password") << "refuse open 3" << open << 440
                                  << "\"%1\" is protected by a password.";
        QTest::newRow("damaged") << "refuse open 4" << open << 440
                                 << "\"%1\" is damaged and cannot be opened.";
        QTest::newRow("unreadable")
            << "refuse open 9" << open << 440 << "The file \"%1\" cannot be read.";
        QTest::newRow("office cannot start")
            << "refuse open 8 no profile folder" << open << 440
            << "The document engine could not start LibreOffice while working on \"%1\": no "
               "profile folder.";
        // GoTo and MoveUp do not wait for their answers: a refusal surfaces at the next
        // call that waits, under the name of the call that was refused.
        QTest::newRow("refusal keeps its detail")
            << "refuse goto 7 GoTo direction 9" << QStringList{"open", "goto", "count"} << 440
            << "The document engine refused Selection.GoTo while working on \"%1\": GoTo "
               "direction 9.";
        QTest::newRow("refused MoveUp surfaces at the next call that waits")
            << "pages 3\nrefuse moveup 7 lines only" << QStringList{"open", "goto", "moveup", "cut"}
            << 440
            << "The document engine refused Selection.MoveUp while working on \"%1\": lines only.";
        QTest::newRow("crash among MoveUps")
            << "pages 3\ncrash moveup 2"
            << QStringList{"open", "goto", "moveup", "moveup", "moveup", "cut"} << 440 << crashed;
        QTest::newRow("hang among MoveUps")
            << "pages 3\nhang moveup 2"
            << QStringList{"open", "goto", "moveup", "moveup", "moveup", "cut"} << 440 << late;
        QTest::newRow("cut with nothing selected")
            << "pages 2" << QStringList{"open", "goto", "cut"} << 440
            << "The document engine refused Selection.Cut while working on \"%1\": nothing is "
               "selected.";
        QTest::newRow("shared pixels that are too few")
            << "pages 2\nshared short" << QStringList{"open", "endkey", "cut"} << 440
            << "The document engine gave an answer that makes no sense while working on \"%1\".";
        QTest::newRow("garbled answer")
            << "garble property" << QStringList{"open", "count"} << 440
            << "The document engine gave an answer that makes no sense while working on \"%1\".";
    }

    void failures()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, calls);
        QFETCH(int, number);
        QFETCH(QString, message);

        const QString path = script("failing.doc", text + "\n");
        auto word = client(300);
        const qint64 pid = word->enginePid();
        auto run = [&](const QString &call) {
            if (call == "open")
                word->documentsOpen(path);
            else if (call == "repaginate")
                word->activeDocumentRepaginate();
            else if (call == "count")
                word->activeDocumentBuiltInDocumentProperties(14);
            else if (call == "goto")
                word->selectionGoTo(1, 2, 2);
            else if (call == "moveup")
                word->selectionMoveUp(5, 200, 1);
            else if (call == "endkey")
                word->selectionEndKey(6, 1);
            else if (call == "cut")
                word->selectionCut();
            else if (call == "close")
                word->activeDocumentClose(0);
            else if (call == "quit")
                word->quit();
        };
        for (int i = 0; i < calls.size() - 1; ++i)
            run(calls[i]);
        const auto [gotNumber, gotMessage] = errorOf([&] { run(calls.last()); });
        QCOMPARE(gotMessage, message.arg(path));
        QCOMPARE(gotNumber, number);

        // The failed engine is ended at once, and says so if called again.
        QVERIFY(processGone(pid));
        QCOMPARE(childprocesses::count(), 0);
        const auto [laterNumber, laterMessage] =
            errorOf([&] { word->activeDocumentBuiltInDocumentProperties(14); });
        QCOMPARE(laterNumber, 440);
        QCOMPARE(laterMessage, QString("The document engine has already ended, so "
                                       "ActiveDocument.BuiltInDocumentProperties cannot be done "
                                       "on \"%1\".")
                                   .arg(path));
    }

    void missingDocumentIsFileNotFound()
    {
        const QString path = m_dir.filePath("nowhere/missing.docx");
        auto word = client();
        const auto [number, message] = errorOf([&] { word->documentsOpen(path); });
        QCOMPARE(number, 53);
        QCOMPARE(message, QString("The file \"%1\" does not exist.").arg(path));
    }

    void engineThatCannotStart()
    {
        QTemporaryDir empty;
        const auto [number, message] = errorOf([&] { engineFactory(empty.path())(); });
        QCOMPARE(number, 429);
        QCOMPARE(message,
                 QString("The document engine \"%1/pagelift-engine\" could not be started.")
                     .arg(empty.path()));
    }

    void destroyingTheClientEndsTheEngine()
    {
        const QString path = script("left.doc", "pages 2\n");
        qint64 pid = 0;
        {
            auto word = client();
            word->documentsOpen(path);
            pid = word->enginePid();
            QCOMPARE(childprocesses::count(), 1);
        }
        QVERIFY(processGone(pid));
    }

    void closingTheProgramEndsAHungCall()
    {
        // The main window's close kills every engine; a call that waits for a hung
        // engine must notice at once, not after its time-out.
        const QString path = script("hung.doc", "pages 2\nhang cut\n");
        auto word = client(600000);
        const qint64 pid = word->enginePid();
        word->documentsOpen(path);
        word->selectionEndKey(6, 1);
        QTimer::singleShot(0, [] { childprocesses::killAll(); });
        const auto [number, message] = errorOf([&] { word->selectionCut(); });
        QCOMPARE(
            message,
            QString("The document engine stopped unexpectedly while working on \"%1\".").arg(path));
        QVERIFY(processGone(pid));
    }

    void messagesForEveryFailure_data()
    {
        QTest::addColumn<EngineFailure>("failure");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << EngineFailure::FileNotFound
                                 << "The file \"/x/a.docx\" does not exist.";
        QTest::newRow("not a document")
            << EngineFailure::NotADocument
            << "\"/x/a.docx\" is not a document that Pagelift can open.";
        QTest::newRow("password") << EngineFailure::Password
                                  << "\"/x/a.docx\" is protected by a password.";
        QTest::newRow("crashed")
            << EngineFailure::Crashed
            << "The document engine stopped unexpectedly while working on \"/x/a.docx\".";
        QTest::newRow("timed out")
            << EngineFailure::TimedOut
            << "The document engine did not answer within 120 seconds while working on "
               "\"/x/a.docx\".";
    }

    void messagesForEveryFailure()
    {
        QFETCH(EngineFailure, failure);
        QFETCH(QString, message);
        QCOMPARE(engineFailureMessage(failure, "/x/a.docx", "Documents.Open", {}, 120000), message);
    }

    // The engine's page buffers: a buffer comes back to the engine only once every
    // picture in it is gone; a buffer sent again while a picture still lies in it is
    // refused; a buffer the engine made anew (another file) is mapped anew; and the
    // pictures stay whole after the engine's side of them is gone.
    void pageBuffersAreGivenBackOnlyWhenNoPictureLiesInThem()
    {
        auto buffers = std::make_shared<PageBuffers>();
        const UniqueFd first = sharedPixels(3, 2, 0xFF112233);
        QImage picture = buffers->picture(first, 1, 3, 2, true);
        QVERIFY(!picture.isNull());
        QCOMPARE(picture.format(), QImage::Format_RGB32);
        QCOMPARE(picture.pixel(2, 1), 0xFF112233u);
        const uchar *mapped = picture.constBits();
        QImage shared = picture; // the clipboard's copy, say
        QVERIFY(buffers->picture(first, 1, 3, 2, true).isNull()); // still held
        picture = QImage();
        QCOMPARE(buffers->takeGivenBack(), 0u);
        shared = QImage();
        QCOMPARE(buffers->takeGivenBack(), 1u << 1);
        QCOMPARE(buffers->takeGivenBack(), 0u);

        // The same buffer again: the same mapping, and what the engine drew since.
        {
            const QImage again = buffers->picture(first, 1, 3, 2, false);
            QCOMPARE(again.format(), QImage::Format_ARGB32_Premultiplied);
            QCOMPARE(again.constBits(), mapped);
        }
        QCOMPARE(buffers->takeGivenBack(), 1u << 1);
        // Made anew, of another size, under the same number; and one of its own.
        const UniqueFd second = sharedPixels(4, 4, 0xFF445566);
        const QImage renewed = buffers->picture(second, 1, 4, 4, true);
        QCOMPARE(renewed.pixel(3, 3), 0xFF445566u);
        const UniqueFd own = sharedPixels(2, 2, 0xFF778899);
        QImage alone = buffers->picture(own, -1, 2, 2, true);
        QCOMPARE(alone.pixel(1, 1), 0xFF778899u);
        alone = QImage();
        QCOMPARE(buffers->takeGivenBack(), 0u); // memory of its own is not a buffer

        // Wrong sizes and numbers are refused.
        QVERIFY(buffers->picture(first, 2, 4, 2, true).isNull());
        QVERIFY(buffers->picture(first, engineprotocol::kPageBuffers, 3, 2, true).isNull());
        QVERIFY(buffers->picture(first, -2, 3, 2, true).isNull());

        // The owner goes first; the picture keeps its pixels.
        buffers.reset();
        QCOMPARE(renewed.pixel(0, 0), 0xFF445566u);
    }
};

QTEST_MAIN(TestEngineClient)
#include "tst_engineclient.moc"
