// pagelift-convert, run as its users run it, with the fake engine in place of the real
// one (documents are the fake's scripts): options, folders and lists, output, exit
// status, interruption.

#include "collect.h"
#include "conversion.h"
#include "fakepages.h"
#include "madedocuments.h"
#include "options.h"
#include "pathbytes.h"
#include "processes.h"
#include "settings.h"

#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kProgram = qEnvironmentVariable("PAGELIFT_BIN_DIR") + "/pagelift-convert";
const QString kFakeFolder = QStringLiteral(PAGELIFT_FAKE_ENGINE_DIR);

} // namespace

class TestConvert : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_config; // no user's settings

    QString path(const QString &relative) const { return m_dir.filePath(relative); }

    QString document(const QString &relative, const QString &script = "pages 2\n")
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        return writeScript(m_dir.path(), relative, script);
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PAGELIFT_ENGINE_FOLDER", kFakeFolder);
        environment.insert("XDG_CONFIG_HOME", m_config.path());
        return environment;
    }

    Outcome run(const QStringList &arguments, const QByteArray &input = {},
                const QString &sandboxMissing = {})
    {
        QProcessEnvironment environment = this->environment();
        if (!sandboxMissing.isEmpty())
            environment.insert("FAKE_SANDBOX_MISSING", sandboxMissing);
        return runToEnd(kProgram, arguments, environment, m_dir.path(), input);
    }

    QStringList images(const QString &folder = {}) const
    {
        QStringList found;
        const QString root = folder.isEmpty() ? m_dir.path() : folder;
        QDirIterator it(root, {"*.jpg"}, QDir::Files | QDir::Hidden | QDir::AllDirs,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString next = it.next();
            if (it.fileInfo().isFile())
                found << next.mid(root.size() + 1);
        }
        found.sort();
        return found;
    }

    // Anything the program writes beside the images while it works.
    QStringList leftovers() const
    {
        QStringList found;
        QDirIterator it(m_dir.path(), {".pagelift-*"}, QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        return found;
    }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid() && m_config.isValid());
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown option")
            << QStringList{"--colour", "a.doc"} << "unknown option --colour";
        QTest::newRow("quality above 100")
            << QStringList{"-q", "101", "a.doc"} << "-q needs a quality from 1 to 100, not \"101\"";
        QTest::newRow("quality 0") << QStringList{"--quality=0", "a.doc"}
                                   << "--quality needs a quality from 1 to 100, not \"0\"";
        QTest::newRow("quality not a number")
            << QStringList{"-qbest", "a.doc"} << "-q needs a quality from 1 to 100, not \"best\"";
        QTest::newRow("resolution too low") << QStringList{"-r", "47", "a.doc"}
                                            << "-r needs a resolution from 48 to 600, not \"47\"";
        QTest::newRow("resolution too high")
            << QStringList{"--resolution", "601", "a.doc"}
            << "--resolution needs a resolution from 48 to 600, not \"601\"";
        QTest::newRow("option without its value")
            << QStringList{"a.doc", "-j"} << "-j needs a number of jobs from 1 to 1024";
        QTest::newRow("nothing given")
            << QStringList{} << "nothing to convert: give documents or folders";
        QTest::newRow("an empty folder")
            << QStringList{"empty"} << "nothing to convert: no documents found";
        QTest::newRow("linked files of an unknown kind")
            << QStringList{"--linked-files", "all", "a.doc"}
            << "--linked-files needs none or beside, not \"all\"";
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QDir().mkpath(path("empty"));
        const Outcome outcome = run(arguments);
        QCOMPARE(outcome.status, 2);
        QCOMPARE(outcome.out, QByteArray());
        const QStringList err = QString::fromUtf8(outcome.err).split('\n');
        QCOMPARE(err.value(0), "pagelift-convert: " + message);
        QVERIFY(outcome.err.contains("usage: pagelift-convert [OPTIONS] PATH..."));
        QCOMPARE(images(), QStringList());
    }

    void helpAndVersion()
    {
        Outcome outcome = run({"--help"});
        QCOMPARE(outcome.status, 0);
        QVERIFY(outcome.out.startsWith("usage: pagelift-convert [OPTIONS] PATH..."));
        outcome = run({"--version"});
        QCOMPARE(outcome.status, 0);
        QVERIFY(outcome.out.startsWith("pagelift-convert 0."));
    }

    // What the engines' sandbox lacks is said once per run, in --version, and refuses
    // the run under --require-sandbox.
    void sandboxReport_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("missing"); // what the engine says is not in force
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("images");
        QTest::addColumn<QByteArray>("out"); // a line standard output holds
        QTest::addColumn<QByteArray>("err"); // a line standard error holds once
        const QStringList two{"one.doc", "two.doc"};
        QTest::newRow("complete: nothing said")
            << two << "" << 0 << 2 << QByteArray() << QByteArray();
        QTest::newRow("incomplete: said once")
            << two << "no Landlock" << 0 << 2 << QByteArray()
            << QByteArray("pagelift-convert: Documents are converted without the whole sandbox: no "
                          "Landlock.\n");
        QTest::newRow("incomplete and required: refused")
            << QStringList{"--require-sandbox"} + two << "no Landlock" << 2 << 0 << QByteArray()
            << QByteArray("pagelift-convert: nothing converted: --require-sandbox, and the "
                          "sandbox is not complete: no Landlock\n");
        QTest::newRow("complete and required: converted")
            << QStringList{"--require-sandbox"} + two << "" << 0 << 2 << QByteArray()
            << QByteArray();
        QTest::newRow("version tells")
            << QStringList{"--version"} << "no Landlock" << 0 << 0
            << QByteArray("sandbox: incomplete: no Landlock\n") << QByteArray();
    }

    void sandboxReport()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, missing);
        QFETCH(int, status);
        QFETCH(int, images);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        document("one.doc", "pages 1\n");
        document("two.doc", "pages 1\n");
        const Outcome outcome = run(arguments, {}, missing);
        QCOMPARE(outcome.status, status);
        QCOMPARE(this->images().size(), images);
        QVERIFY2(out.isEmpty() || outcome.out.contains(out), outcome.out.constData());
        if (err.isEmpty())
            QVERIFY2(!outcome.err.contains("sandbox"), outcome.err.constData());
        else
            QCOMPARE(outcome.err.count(err), 1);
    }

    // Good, password-protected, damaged and missing documents: the good ones are
    // converted whatever fails around them, one line each in the given order, and the
    // failures named in the window's words.
    void mixedRun()
    {
        const QString good = document("good.doc", "pages 3\n");
        const QString secret = document("secret.doc", "refuse open 3 protected\n");
        const QString damaged = document("damaged.doc", "refuse open 4 damaged\n");
        const QString missing = path("missing.doc");
        const QString last = document("last.doc", "pages 1\n");
        const Outcome outcome = run({"-j", "2", good, secret, damaged, missing, last});
        QCOMPARE(outcome.status, 1);
        QCOMPARE(outcome.lines(),
                 (QStringList{good + ": 3 pages", secret + ": failed", damaged + ": failed",
                              missing + ": failed", last + ": 1 page"}));
        QVERIFY(outcome.err.contains("\"" + secret.toUtf8() + "\" is protected by a password."));
        QVERIFY(
            outcome.err.contains("\"" + damaged.toUtf8() + "\" is damaged and cannot be opened."));
        QVERIFY(outcome.err.contains("The file \"" + missing.toUtf8() + "\" does not exist."));
        QCOMPARE(images(), (QStringList{"good_1.jpg", "good_2.jpg", "good_3.jpg", "last_1.jpg"}));
        const QImage page = QImage(path("good_2.jpg"));
        QCOMPARE(page.size(), QSize(8, 6));
        QVERIFY(outcome.err.contains("2 of 5 documents converted, 4 pages"));
    }

    // Like the window: the run ends at the first failure, the documents before it done.
    void stopOnError()
    {
        const QString first = document("a1.doc", "pages 2\n");
        const QString broken = document("a2.doc", "refuse open 4 damaged\n");
        const QString after = document("a3.doc", "pages 2\n");
        const Outcome outcome = run({"--stop-on-error", "-j", "1", first, broken, after});
        QCOMPARE(outcome.status, 1);
        QCOMPARE(outcome.lines(), (QStringList{first + ": 2 pages", broken + ": failed"}));
        QCOMPARE(images(), (QStringList{"a1_1.jpg", "a1_2.jpg"}));
    }

    // Folders are walked whole, by extension without regard to case; under
    // --output-dir, documents keep their path relative to the folder given, so that two
    // of the same name never meet.
    void foldersAndOutputFolder()
    {
        document("in/a/report.doc");
        document("in/b/report.DOC", "pages 1\n");
        document("in/.hidden/note.odt", "pages 1\n");
        document("in/b/skip.txt");
        document("in/b/~$lock.doc");
        const Outcome outcome = run({"-e", "doc,odt", "-o", path("out"), path("in")});
        QCOMPARE(outcome.status, 0);
        QCOMPARE(outcome.lines().size(), 3);
        QCOMPARE(images(path("out")), (QStringList{".hidden/note_1.jpg", "a/report_1.jpg",
                                                   "a/report_2.jpg", "b/report_1.jpg"}));
        QCOMPARE(images(path("in")), QStringList()); // nothing beside the documents
    }

    // A folder reached again through a link is walked once.
    void linkLoopsAreWalkedOnce()
    {
        document("tree/x.doc");
        QVERIFY(QFile::link(path("tree"), path("tree/loop")));
        QVERIFY(QFile::link(path("tree"), path("tree/again")));
        const Outcome outcome = run({path("tree")});
        QCOMPARE(outcome.status, 0);
        QCOMPARE(outcome.lines(), QStringList{path("tree/x.doc") + ": 2 pages"});
    }

    // A folder that cannot be read is named and skipped; the rest is converted, and
    // the exit status says something was missed. Root reads every folder, so as root
    // the program runs as the unprivileged user "nobody".
    void unreadableFolderIsNamedAndSkipped()
    {
        document("in/open/x.doc", "pages 1\n");
        document("in/locked/y.doc", "pages 1\n");
        QDir().mkpath(path("out"));
        for (const QString &folder : {QString(), QString("in"), QString("in/open")})
            QVERIFY(::chmod(QFile::encodeName(path(folder)).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(path("in/open/x.doc")).constData(), 0644) == 0);
        QVERIFY(::chmod(QFile::encodeName(path("out")).constData(), 0777) == 0);
        QVERIFY(::chmod(QFile::encodeName(m_config.path()).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(path("in/locked")).constData(), 0) == 0);

        QProcess process;
        process.setProcessEnvironment(environment());
        if (::geteuid() == 0)
            process.setChildProcessModifier([] {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(99);
            });
        process.start(kProgram, {"-o", path("out"), path("in")});
        QVERIFY(process.waitForFinished(60000));
        ::chmod(QFile::encodeName(path("in/locked")).constData(), 0755);
        const QByteArray err = process.readAllStandardError();
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(err.contains("cannot read the folder \"" + path("in/locked").toUtf8() + "\""),
                 err.constData());
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()).trimmed(),
                 path("in/open/x.doc") + ": 1 page");
        QCOMPARE(images(path("out")), QStringList{"open/x_1.jpg"});
    }

    // --from - with NUL separators: names with spaces and newlines stay whole; a name
    // that is not UTF-8 keeps its bytes, here in the JSON output.
    void listFromStandardInput()
    {
        const QString spaced = document("with space.doc", "pages 1\n");
        const QString newline = document("line\nbreak.doc", "pages 1\n");
        const QByteArray raw = encodePath(m_dir.path()) + "/caf\xE9.doc";
        QVERIFY(writeFile(decodePath(raw), "pages 1\n"));
        QByteArray list = encodePath(spaced) + '\0' + encodePath(newline) + '\0' + raw + '\0';
        const Outcome outcome = run({"--from", "-", "-0", "--json"}, list);
        QCOMPARE(outcome.status, 0);
        const QList<QByteArray> objects = outcome.out.trimmed().split('\n');
        QCOMPARE(objects.size(), 3);
        QVERIFY(objects[1].contains("line\\nbreak.doc"));
        QVERIFY2(objects[2].startsWith("{\"document\":\"" + encodePath(m_dir.path()) +
                                       "/caf\\udce9.doc\",\"pages\":1,\"images\":["),
                 objects[2].constData());
        QVERIFY(::access(encodePath(m_dir.path()) + "/caf\xE9_1.jpg", F_OK) == 0);
        QVERIFY(QFile::exists(path("with space_1.jpg")));
        QVERIFY(QFile::exists(path("line\nbreak_1.jpg")));
    }

    // Two documents of one folder with the same base name write the same image names:
    // the later replaces the earlier's images, and the summary says so.
    void replacedImagesAreNamed()
    {
        const QString doc = document("report.doc", "pages 2\n");
        const QString docx = document("report.docx", "pages 1\n");
        const Outcome outcome = run({"-j", "1", doc, docx});
        QCOMPARE(outcome.status, 0);
        QVERIFY2(outcome.err.contains("The images of \"" + doc.toUtf8() +
                                      "\" were replaced by those of \"" + docx.toUtf8() + "\""),
                 outcome.err.constData());
        QCOMPARE(images(), (QStringList{"report_1.jpg", "report_2.jpg"}));
    }

    // Ctrl-C in the middle of a run: the program ends with 130, no engine or worker
    // is left, and nothing half-written is either.
    void interruptionLeavesNothingBehind()
    {
        const QString slow = document("slow.doc", "pages 3\nhang cut 2\n");
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(kProgram, {"-j", "2", slow, document("other.doc", "pages 2\n")});
        QVERIFY(process.waitForStarted());
        const qint64 pid = process.processId();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path("slow_1.jpg")), 30000);
        QList<qint64> family;
        std::function<void(qint64)> collect = [&](qint64 parent) {
            for (qint64 child : childrenOf(parent)) {
                family << child;
                collect(child);
            }
        };
        collect(pid);
        QVERIFY(family.size() >= 2);
        ::kill(pid_t(pid), SIGINT);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), 130);
        for (qint64 member : family)
            QTRY_VERIFY_WITH_TIMEOUT(ended(member), 10000);
        QCOMPARE(leftovers(), QStringList());
        for (const QString &image : images())
            QVERIFY2(!QImage(path(image)).isNull(), qPrintable(image));
    }

    // A document that takes longer than --timeout is ended and reported; the others go on.
    void documentPastItsDeadline()
    {
        const QString stuck = document("stuck.doc", "pages 2\nhang open\n");
        const QString fine = document("fine.doc", "pages 1\n");
        const Outcome outcome = run({"--timeout", "1", "-j", "1", stuck, fine});
        QCOMPARE(outcome.status, 1);
        QCOMPARE(outcome.lines(), (QStringList{stuck + ": failed", fine + ": 1 page"}));
        QVERIFY(outcome.err.contains("did not answer within 1 second"));
    }

    // What a job costs grows with the page's pixels; the number of jobs by default is
    // never below one.
    void jobsFitTheMachine()
    {
        QVERIFY(jobMemory(600) > jobMemory(300));
        QVERIFY(jobMemory(300) > jobMemory(96));
        QVERIFY(defaultJobs(600) >= 1);
        QVERIFY(defaultJobs(96) <= QThread::idealThreadCount());
    }
};

QTEST_GUILESS_MAIN(TestConvert)
#include "tst_convert.moc"
