// Engines forked from a launcher and made ready ahead, against the fake engine, which
// can stand in for the launcher too: where engines come from, that an engine serves
// several documents only as long as each went well, and that no launcher or engine is
// left however things end.

#include "childprocesses.h"
#include "engineclient.h"
#include "enginepool.h"
#include "error.h"
#include "exportsequence.h"
#include "fakepages.h"
#include "madedocuments.h"
#include "processes.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <unistd.h>

namespace {

const QString kFakeFolder = QStringLiteral(PAGELIFT_FAKE_ENGINE_DIR);

QList<qint64> liveChildrenOf(qint64 pid)
{
    QList<qint64> children = childrenOf(pid);
    children.removeIf([](qint64 child) { return ended(child); });
    return children;
}

// The most engines alive at once under one launcher, that is, in one office profile.
int mostEnginesPerLauncher(const QList<qint64> &launchers)
{
    qsizetype most = 0;
    for (qint64 launcher : launchers)
        most = std::max(most, liveChildrenOf(launcher).size());
    return int(most);
}

} // namespace

class TestEnginePool : public QObject
{
    Q_OBJECT

private:
    QString script(const QString &name, const QString &text)
    {
        return writeScript(m_dir.path(), name, text);
    }

    struct Run
    {
        qint64 pid = 0;
        qint64 parent = 0;
        int goodPages = 0;
        int mostPerLauncher = 0; // while the document was open
    };

    // The exporter's call sequence on one document; every page must be the fake's page.
    static Run convert(const WordFactory &create, const QString &path,
                       const QList<qint64> &launchers = {})
    {
        Run run;
        std::unique_ptr<WordApplication> word = create();
        run.pid = static_cast<EngineClient *>(word.get())->enginePid();
        run.parent = parentOf(run.pid);
        word->documentsOpen(path);
        run.mostPerLauncher = mostEnginesPerLauncher(launchers);
        word->activeDocumentRepaginate();
        const qint32 count = word->activeDocumentBuiltInDocumentProperties(14);
        cutAllPages(*word, count, [&](int page) {
            if (isFakePage(QGuiApplication::clipboard()->image(), page))
                ++run.goodPages;
        });
        word->activeDocumentClose(0);
        word->quit();
        return run;
    }

    QTemporaryDir m_dir;

private slots:
    void init()
    {
        qunsetenv("FAKE_LAUNCHER");
        QCOMPARE(childprocesses::count(), 0);
    }

    void cleanup()
    {
        qunsetenv("FAKE_LAUNCHER");
        // Whatever a test did, no launcher or engine may be left running.
        QCOMPARE(childprocesses::count(), 0);
    }

    void enginesAreForkedAndMadeReadyAhead()
    {
        // An engine for every document, as with reuse turned off.
        auto pool = std::make_shared<EnginePool>(kFakeFolder, 20000, 0, 2, 1);
        WordFactory create = pooledEngineFactory(pool, {20000});
        // One launcher for the engine at work and one for each of the two made ready.
        const QList<qint64> launchers = pool->launcherPids();
        QCOMPARE(launchers.size(), 3);
        for (qint64 launcher : launchers)
            QCOMPARE(parentOf(launcher), qint64(::getpid()));

        QList<qint64> engines;
        for (int document = 0; document < 3; ++document) {
            const QString log = m_dir.filePath(QStringLiteral("calls%1.log").arg(document));
            const QString path =
                script(QStringLiteral("doc%1.doc").arg(document), "pages 2\nlog " + log + "\n");
            // The document takes the engine that was made ready before it came.
            const qint64 spare = pool->sparePid();
            QVERIFY(spare > 0);
            const Run run = convert(create, path, launchers);
            QCOMPARE(run.pid, spare);
            QVERIFY(launchers.contains(run.parent));
            QCOMPARE(run.goodPages, 2);
            // No office profile serves two engines at once.
            QVERIFY(run.mostPerLauncher <= 1);
            // One document per engine: it ended with its document.
            QVERIFY(ended(run.pid));
            QVERIFY(!engines.contains(run.pid));
            engines << run.pid;

            QFile file(log);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QList<QByteArray> calls = file.readAll().split('\n');
            QCOMPARE(calls.value(0), QByteArray("warmed"));
            QCOMPARE(calls.value(1), QByteArray("open 96 1 0"));
        }

        // The next documents' engines are already waiting, two of them, each under a
        // launcher of its own; the pool's end ends them and the launchers.
        const auto waiting = [&] {
            qsizetype count = 0;
            for (qint64 launcher : launchers)
                count += liveChildrenOf(launcher).size();
            return count;
        };
        QTRY_COMPARE_WITH_TIMEOUT(waiting(), 2, 10000);
        QCOMPARE(mostEnginesPerLauncher(launchers), 1);
        const qint64 spare = pool->sparePid();
        QVERIFY(spare > 0 && !engines.contains(spare));
        QVERIFY(launchers.contains(parentOf(spare)));
        QCOMPARE(childprocesses::count(), 4); // the launchers and the spare handed over
        create = nullptr;
        pool.reset();
        for (qint64 launcher : launchers)
            QVERIFY(ended(launcher));
        QTRY_VERIFY_WITH_TIMEOUT(ended(spare), 10000);
    }

    void expectedDocumentsAreOpenedAhead()
    {
        // An engine for every document, as with reuse turned off.
        auto pool = std::make_shared<EnginePool>(kFakeFolder, 20000, 0, 2, 1);
        WordFactory create = pooledEngineFactory(pool, {20000});
        const QList<qint64> launchers = pool->launcherPids();
        QStringList paths;
        QStringList logs;
        for (int i = 0; i < 5; ++i) {
            logs << m_dir.filePath(QStringLiteral("ahead%1.log").arg(i));
            QFile::remove(logs.last());
            paths << script(QStringLiteral("ahead%1.doc").arg(i),
                            "pages 2\nlog " + logs.last() + "\n");
        }
        const auto calls = [&](int document) {
            QFile file(logs[document]);
            return file.open(QIODevice::ReadOnly) ? file.readAll().split('\n')
                                                  : QList<QByteArray>();
        };

        for (int i = 0; i < 5; ++i) {
            // As a run goes: each document with the two after it, as its turn comes.
            pool->expect(paths.mid(i, 3));
            // The two engines made ready have opened the document and the next one.
            const QStringList ahead = paths.mid(i, 2);
            QCOMPARE(pool->openedAhead(), ahead);
            for (int j = i; j < std::min(i + 2, 5); ++j)
                QTRY_COMPARE_WITH_TIMEOUT(calls(j).count("open 96 1 0"), 1, 10000);
            const Run run = convert(create, paths[i], launchers);
            QCOMPARE(run.goodPages, 2);
            QVERIFY(launchers.contains(run.parent));
            QVERIFY(run.mostPerLauncher <= 1);
            QVERIFY(ended(run.pid));
            // The Open sent ahead was the document's only one.
            const QList<QByteArray> done = calls(i);
            QCOMPARE(done.count("open 96 1 0"), 1);
            QCOMPARE(done.count("quit 0 0 0"), 1);
            // Only the last document, with none expected after it, is told it is
            // converted alone (and may take every processor).
            QCOMPARE(done.count(i == 4 ? "repaginate 1 0 0" : "repaginate 0 0 0"), 1);
            // Engines ordered once the list was known open their document straight
            // away; only the two made ready before warmed up first.
            QCOMPARE(done.value(0) == "warmed", i < 2);
        }
        // The run is over: nothing is opened ahead any more.
        pool->expect({});
        QCOMPARE(pool->openedAhead(), QStringList());
        // Ready for the next run: the launchers and a spare that opened nothing.
        QVERIFY(pool->sparePid() > 0);
        QCOMPARE(childprocesses::count(), 4);
        create = nullptr;
        pool.reset();
        for (qint64 launcher : launchers)
            QVERIFY(ended(launcher));
    }

    // A document opened ahead at one resolution is not handed over for another: the
    // engine that opened it is ended, and the document is opened again at the
    // resolution it is converted at.
    void resolutionTravelsWithTheDocumentOpenedAhead()
    {
        auto pool = std::make_shared<EnginePool>(kFakeFolder, 20000);
        const QString log = m_dir.filePath("resolution.log");
        const QString path = script("resolution.doc", "pages 1\nlog " + log + "\n");
        const auto opens = [&] {
            QFile file(log);
            QList<QByteArray> found;
            if (file.open(QIODevice::ReadOnly)) {
                for (const QByteArray &line : file.readAll().split('\n')) {
                    if (line.startsWith("open"))
                        found << line;
                }
            }
            return found;
        };
        pool->expect({path}, 96);
        QTRY_COMPARE_WITH_TIMEOUT(opens(), QList<QByteArray>{"open 96 1 0"}, 10000);
        pool->expect({path}, 300);
        QCOMPARE(pool->openedAhead(), QStringList{path});
        const Run run = convert(pooledEngineFactory(pool, {20000, 300}), path);
        QCOMPARE(run.goodPages, 1);
        QCOMPARE(opens(), (QList<QByteArray>{"open 96 1 0", "open 300 1 0"}));
    }

    void deadSpareIsReplacedWhenDocumentsAreExpected()
    {
        auto pool = std::make_shared<EnginePool>(kFakeFolder, 20000);
        WordFactory create = pooledEngineFactory(pool, {20000});
        const qint64 dead = pool->sparePid();
        QVERIFY(dead > 0);
        QCOMPARE(::kill(pid_t(dead), SIGKILL), 0);
        QTRY_VERIFY_WITH_TIMEOUT(ended(dead), 10000);

        const QString first = script("first.doc", "pages 2\n");
        const QString second = script("second.doc", "pages 1\n");
        pool->expect({first, second});
        QCOMPARE(pool->openedAhead(), (QStringList{first, second}));
        QCOMPARE(convert(create, first).goodPages, 2);
        pool->expect({second});
        QCOMPARE(convert(create, second).goodPages, 1);
        pool->expect({});
        create = nullptr;
        pool.reset();
    }

    void engineOfADocumentNoLongerExpectedEnds()
    {
        auto pool = std::make_shared<EnginePool>(kFakeFolder, 20000);
        WordFactory create = pooledEngineFactory(pool, {20000});
        const QList<qint64> launchers = pool->launcherPids();
        const QString first = script("first.doc", "pages 1\n");
        const QString removed = script("removed.doc", "pages 1\n");
        const QString refused = script("refused.doc", "pages 1\nrefuse open 5 no such luck\n");
        const auto engines = [&] {
            QList<qint64> all;
            for (qint64 launcher : launchers)
                all += liveChildrenOf(launcher);
            return all;
        };

        pool->expect({first, removed});
        QCOMPARE(pool->openedAhead(), (QStringList{first, removed}));
        QTRY_COMPARE_WITH_TIMEOUT(engines().size(), 2, 10000);
        const QList<qint64> before = engines();
        // The list changed: the engine that opened the removed document ends, and
        // one that opened nothing takes the new next document.
        pool->expect({first, refused});
        QCOMPARE(pool->openedAhead(), (QStringList{first, refused}));
        const QList<qint64> after = engines();
        QCOMPARE(std::count_if(before.begin(), before.end(),
                               [&](qint64 pid) { return !after.contains(pid); }),
                 1);

        QCOMPARE(convert(create, first, launchers).goodPages, 1);
        // A refusal of a document opened ahead is reported at its turn, as always.
        pool->expect({refused});
        QCOMPARE(errorMessageOf([&] { convert(create, refused, launchers); }),
                 QString("The document engine refused Documents.Open while working on \"%1\": "
                         "no such luck.")
                     .arg(refused));
        pool->expect({});
        create = nullptr;
        pool.reset();
        for (qint64 pid : launchers + before + after)
            QTRY_VERIFY_WITH_TIMEOUT(ended(pid), 10000);
    }

    void enginesStartThePlainWayWithoutALauncher_data()
    {
        QTest::addColumn<QByteArray>("misbehaviour");
        QTest::newRow("launcher cannot start") << QByteArray("exit");
        QTest::newRow("launcher cannot fork") << QByteArray("refuse");
        QTest::newRow("launcher killed") << QByteArray("killed");
    }

    void enginesStartThePlainWayWithoutALauncher()
    {
        QFETCH(QByteArray, misbehaviour);
        if (misbehaviour != "killed")
            qputenv("FAKE_LAUNCHER", misbehaviour);
        // An engine for every document, as with reuse turned off.
        auto pool = std::make_shared<EnginePool>(kFakeFolder, 20000, 0, 2, 1);
        WordFactory create = pooledEngineFactory(pool, {20000});
        const QList<qint64> launchers = pool->launcherPids();
        if (misbehaviour == "killed") {
            // Their spares die with them.
            const qint64 spare = pool->sparePid();
            QVERIFY(spare > 0);
            for (qint64 launcher : launchers)
                QCOMPARE(::kill(pid_t(launcher), SIGKILL), 0);
            QTRY_VERIFY_WITH_TIMEOUT(ended(spare), 10000);
        }

        for (int document = 0; document < 2; ++document) {
            const Run run = convert(create, script("plain.doc", "pages 3\n"));
            QCOMPARE(run.parent, qint64(::getpid()));
            QCOMPARE(run.goodPages, 3);
            QVERIFY(ended(run.pid));
        }
        QCOMPARE(pool->launcherPid(), 0);
        QCOMPARE(pool->sparePid(), 0);
        create = nullptr;
        pool.reset();
        for (qint64 launcher : launchers)
            QVERIFY(ended(launcher));
    }

    void closingTheWindowEndsLauncherAndSpare_data()
    {
        QTest::addColumn<bool>("spareReceived");
        QTest::newRow("spare handed over") << true;
        QTest::newRow("spare still on order") << false;
    }

    void closingTheWindowEndsLauncherAndSpare()
    {
        QFETCH(bool, spareReceived);
        auto pool = std::make_shared<EnginePool>(kFakeFolder, 20000);
        const qint64 launcher = pool->launcherPid();
        qint64 spare = 0;
        if (spareReceived) {
            spare = pool->sparePid();
        } else {
            // Known to the launcher only: found through its children.
            QTRY_VERIFY_WITH_TIMEOUT(!childrenOf(launcher).isEmpty(), 10000);
            spare = childrenOf(launcher).value(0);
        }
        QVERIFY(spare > 0);
        QCOMPARE(parentOf(spare), launcher);

        const QList<qint64> launchers = pool->launcherPids();
        childprocesses::killAll();
        for (qint64 each : launchers)
            QTRY_VERIFY_WITH_TIMEOUT(ended(each), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(ended(spare), 10000);
        pool.reset();
    }

    void closeDuringARunLeavesNoProcess()
    {
        const QString path = script("hung.doc", "pages 2\nhang cut\n");
        auto pool = std::make_shared<EnginePool>(kFakeFolder, 600000);
        // The run's next documents are being opened ahead too.
        pool->expect({path, script("next1.doc", "pages 1\n"), script("next2.doc", "pages 1\n")});
        std::unique_ptr<WordApplication> word = pooledEngineFactory(pool, {600000})();
        const qint64 engine = static_cast<EngineClient *>(word.get())->enginePid();
        const QList<qint64> launchers = pool->launcherPids();
        const qint64 spare = pool->sparePid();
        QVERIFY(engine > 0 && launchers.size() == 3 && spare > 0);
        QCOMPARE(pool->openedAhead().size(), 2);
        const auto engines = [&] {
            QList<qint64> all;
            for (qint64 launcher : launchers)
                all += liveChildrenOf(launcher);
            return all;
        };
        // The engine at work and the two that opened the next documents.
        QTRY_COMPARE_WITH_TIMEOUT(engines().size(), 3, 10000);
        const QList<qint64> spares = engines();

        word->documentsOpen(path);
        word->selectionEndKey(6, 1);
        QTimer::singleShot(0, [] { childprocesses::killAll(); });
        QCOMPARE(
            errorMessageOf([&] { word->selectionCut(); }),
            QString("The document engine stopped unexpectedly while working on \"%1\".").arg(path));
        for (qint64 pid : launchers + spares + QList<qint64>{engine, spare})
            QTRY_VERIFY_WITH_TIMEOUT(ended(pid), 10000);
        word.reset();
        pool.reset();
    }

    void launcherAndSpareDieWithTheProgram()
    {
        // A program that holds a pool is killed outright: nothing of it may stay.
        QProcess program;
        program.start(QCoreApplication::applicationDirPath() + "/poolholder", {kFakeFolder});
        QVERIFY(program.waitForReadyRead(20000));
        const QList<QByteArray> pids = program.readLine().trimmed().split(' ');
        QCOMPARE(pids.size(), 2);
        const qint64 launcher = pids[0].toLongLong();
        const qint64 spare = pids[1].toLongLong();
        QVERIFY(launcher > 0 && spare > 0);
        QCOMPARE(parentOf(launcher), program.processId());
        QCOMPARE(parentOf(spare), launcher);

        program.kill();
        QVERIFY(program.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(ended(launcher), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(ended(spare), 10000);
    }

    void crashedEngineLeavesNoProcessAndTheNextDocumentGoesOn()
    {
        auto pool = std::make_shared<EnginePool>(kFakeFolder, 20000);
        WordFactory create = pooledEngineFactory(pool, {20000});
        const QList<qint64> launchers = pool->launcherPids();
        const QString crashing = script("crash.doc", "pages 3\ncrash cut 2\n");
        qint64 crashed = pool->sparePid();
        QCOMPARE(errorMessageOf([&] { convert(create, crashing); }),
                 QString("The document engine stopped unexpectedly while working on \"%1\".")
                     .arg(crashing));
        QVERIFY(ended(crashed));

        const Run next = convert(create, script("next.doc", "pages 2\n"));
        QVERIFY(launchers.contains(next.parent));
        QCOMPARE(next.goodPages, 2);
        QVERIFY(pool->sparePid() > 0);
        QCOMPARE(childprocesses::count(), 4); // the launchers and the next spare
        create = nullptr;
        pool.reset();
        for (qint64 launcher : launchers)
            QVERIFY(ended(launcher));
    }

    // Engines forked from the launchers take the pool's memory limit along: one whose
    // document takes more ends with the user's words for it, and the next document
    // goes on in a fresh engine.
    void documentOverTheMemoryLimitStopsAlone()
    {
        constexpr size_t kLimit = size_t(96) << 20;
        auto pool = std::make_shared<EnginePool>(kFakeFolder, 20000, kLimit);
        WordFactory create = pooledEngineFactory(pool, {20000});
        const QString greedy = script("greedy.doc", "pages 2\ngrow 400\n");
        pool->expect({greedy});
        QCOMPARE(
            errorMessageOf([&] { convert(create, greedy); }),
            QString("\"%1\" needs more memory than Pagelift allows for one document.").arg(greedy));
        const Run next = convert(create, script("modest.doc", "pages 2\ngrow 20\n"));
        QCOMPARE(next.goodPages, 2);
    }

    // An engine goes on to the next document until it has served its limit, then ends;
    // with engines made ready ahead each still serves at most that many, and no office
    // profile serves two engines at once.
    void engineServesDocumentsUpToItsLimit_data()
    {
        QTest::addColumn<int>("spares");
        QTest::newRow("one engine at a time") << 0;
        QTest::newRow("two made ready ahead") << 2;
    }

    void engineServesDocumentsUpToItsLimit()
    {
        QFETCH(int, spares);
        constexpr int kLimit = 3;
        auto pool = std::make_shared<EnginePool>(kFakeFolder, 20000, 0, spares, kLimit);
        WordFactory create = pooledEngineFactory(pool, {20000});
        const QList<qint64> launchers = pool->launcherPids();
        QStringList paths;
        for (int i = 0; i < 10; ++i)
            paths << script(QStringLiteral("turn%1.doc").arg(i), "pages 2\n");
        QMap<qint64, int> served; // documents by engine
        QList<qint64> engines;    // by document
        for (int i = 0; i < paths.size(); ++i) {
            pool->expect(paths.mid(i, 3));
            const Run run = convert(create, paths[i], launchers);
            QCOMPARE(run.goodPages, 2);
            QVERIFY(launchers.contains(run.parent));
            QVERIFY(run.mostPerLauncher <= 1);
            engines << run.pid;
            const int count = ++served[run.pid];
            QVERIFY(count <= kLimit);
            // Handed back while it may serve more, ended at its limit.
            QCOMPARE(ended(run.pid), count == kLimit);
        }
        if (spares == 0) {
            // One engine after another, each for as many documents as it may take.
            for (int i = 0; i < paths.size(); ++i)
                QCOMPARE(engines[i], engines[i - i % kLimit]);
            QCOMPARE(served.size(), 4);
        } else {
            QVERIFY(served.size() < paths.size());
        }
        pool->expect({});
        create = nullptr;
        pool.reset();
        for (qint64 pid : engines)
            QTRY_VERIFY_WITH_TIMEOUT(ended(pid), 10000);
    }

    // A document that fails in an engine that served another before it ends that
    // engine, as does one that left state of its own behind; the next document is
    // converted whole in a fresh one.
    void failureEndsItsEngineAndTheNextDocumentGoesOn_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");
        QTest::newRow("refused open") << "pages 2\nrefuse open 4 damaged\n"
                                      << "\"%1\" is damaged and cannot be opened.";
        QTest::newRow("refused cut")
            << "pages 2\nrefuse cut 7 no\n"
            << "The document engine refused Selection.Cut while working on \"%1\": no.";
        QTest::newRow("crash") << "pages 3\ncrash cut 2\n"
                               << "The document engine stopped unexpectedly while working on "
                                  "\"%1\".";
        QTest::newRow("hang") << "pages 2\nhang property\n"
                              << "The document engine did not answer within 2 seconds while "
                                 "working on \"%1\".";
        QTest::newRow("state left behind") << "pages 2\nstate\n" << QString();
    }

    void failureEndsItsEngineAndTheNextDocumentGoesOn()
    {
        QFETCH(QString, text);
        QFETCH(QString, error);
        auto pool = std::make_shared<EnginePool>(kFakeFolder, 20000, 0, 0);
        WordFactory create = pooledEngineFactory(pool, {2000});
        const QString before = script("before.doc", "pages 2\n");
        const QString bad = script("bad.doc", text);
        const QString after = script("after.doc", "pages 3\n");

        pool->expect({before, bad, after});
        const Run first = convert(create, before);
        QCOMPARE(first.goodPages, 2);
        pool->expect({bad, after});
        // The engine of the document before, kept for this one.
        QCOMPARE(pool->sparePid(), first.pid);
        QCOMPARE(errorMessageOf([&] { convert(create, bad); }),
                 error.isEmpty() ? QString() : error.arg(bad));
        QVERIFY(ended(first.pid));

        pool->expect({after});
        const Run next = convert(create, after);
        QVERIFY(next.pid != first.pid);
        QCOMPARE(next.goodPages, 3);
        pool->expect({});
        create = nullptr;
        pool.reset();
    }

    // Half the memory this process may use, shared among the engines alive at once, and never
    // less than a large document needs.
    void memoryLimitFollowsTheMachine_data()
    {
        QTest::addColumn<qulonglong>("machine");
        QTest::addColumn<int>("engines");
        QTest::addColumn<qulonglong>("limit");
        constexpr qulonglong GiB = 1ull << 30;
        QTest::newRow("desktop, window") << 8 * GiB << 3 << 8 * GiB / 6;
        QTest::newRow("one engine") << 24 * GiB << 1 << 12 * GiB;
        QTest::newRow("many jobs on a small machine") << 2 * GiB << 8 << GiB / 2;
        QTest::newRow("no engines given") << 4 * GiB << 0 << 2 * GiB;
    }

    void memoryLimitFollowsTheMachine()
    {
        QFETCH(qulonglong, machine);
        QFETCH(int, engines);
        QFETCH(qulonglong, limit);
        QCOMPARE(qulonglong(engineMemoryLimit(engines, size_t(machine))), limit);
    }
};

QTEST_MAIN(TestEnginePool)
#include "tst_enginepool.moc"
