// pagelift-convert, run as its users run it, with the fake engine in place of the real
// one (documents are the fake's scripts): options, folders and lists, output, exit
// status, interruption.

#include "childprocesses.h"
#include "collect.h"
#include "conversion.h"
#include "fakepages.h"
#include "jobcount.h"
#include "machineshare.h"
#include "madedocuments.h"
#include "options.h"
#include "pathbytes.h"
#include "processes.h"
#include "settings.h"
#include "workerprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
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

    // A command line run by bash, with the program as $P, for what only a shell sets
    // up: closed or full standard output, pipes.
    Outcome shell(const QString &command)
    {
        QProcessEnvironment environment = this->environment();
        environment.insert("P", kProgram);
        return runToEnd("bash", {"-c", command}, environment, m_dir.path());
    }

    // As the unprivileged user "nobody" when the tests run as root, who may write
    // anything.
    static void dropRoot(QProcess &process)
    {
        if (::geteuid() == 0)
            process.setChildProcessModifier([] {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(99);
            });
    }

    QByteArray contents(const QString &relative) const
    {
        QFile file(path(relative));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
        // rm, which also removes what lies deeper than the system's path limit.
        QProcess::execute("rm", {"-rf", m_dir.path()});
        QDir().mkpath(m_dir.path());
    }

    void cleanupTestCase() { QProcess::execute("rm", {"-rf", m_dir.path()}); }

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
        QTest::newRow("unknown format")
            << QStringList{"-f", "gif", "a.doc"} << "-f needs jpeg, png or webp, not \"gif\"";
        QTest::newRow("page 0") << QStringList{"--pages", "0-2", "a.doc"}
                                << "--pages needs a list of pages such as 1-3,5,7-, not \"0-2\"";
        QTest::newRow("range backwards")
            << QStringList{"--pages=5-2", "a.doc"}
            << "--pages needs a list of pages such as 1-3,5,7-, not \"5-2\"";
        QTest::newRow("box without a height")
            << QStringList{"--size", "200", "a.doc"}
            << "--size needs a box such as 256x256, each side up to 20000, not \"200\"";
        QTest::newRow("box and resolution") << QStringList{"-r", "300", "--width", "200", "a.doc"}
                                            << "--resolution and --width exclude each other";
        QTest::newRow("size and width") << QStringList{"--size", "9x9", "--width", "200", "a.doc"}
                                        << "--size and --width exclude each other";
        QTest::newRow("thumbnail of two documents")
            << QStringList{"--thumbnail", "128", "a.doc", "b.doc", "out.png"}
            << "--thumbnail needs SIZE INPUT OUTPUT and nothing else";
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

    // Without -e, a folder gives every kind Pagelift converts, and nothing else.
    void foldersGiveEveryKindByDefault()
    {
        const QStringList kinds{"doc", "docx", "odt",  "rtf", "ppt", "pptx", "odp",
                                "key", "xls",  "xlsx", "ods", "csv", "odg",  "pdf"};
        for (const QString &kind : kinds)
            document("in/" + kind + "." + kind, "pages 1\n");
        document("in/notes.txt", "pages 1\n");
        document("in/picture.png", "pages 1\n");
        const Outcome outcome = run({"-o", path("out"), path("in")});
        QCOMPARE(outcome.status, 0);
        QStringList expected;
        for (const QString &kind : kinds)
            expected << kind + "_1.jpg";
        expected.sort();
        QCOMPARE(images(path("out")), expected);
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
        dropRoot(process);
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

    // Two documents with one base name write the same image names: the later replaces
    // some or all of the earlier's images. The summary says how many, and each JSON
    // object lists only the images that are still its document's, naming the document
    // that replaced the others.
    void replacedImagesAreNamed()
    {
        const QString rtf = document("x/same.rtf", "pages 2\n");
        const QString odt = document("y/same.odt", "pages 1\n");
        const QString out = path("out");
        const Outcome outcome = run({"-j", "2", "--json", "-o", out, rtf, odt});
        QCOMPARE(outcome.status, 0);
        QVERIFY2(outcome.err.contains("1 of the 2 images of \"" + rtf.toUtf8() +
                                      "\" was replaced by one of \"" + odt.toUtf8() + "\""),
                 outcome.err.constData());
        const QList<QByteArray> objects = outcome.out.trimmed().split('\n');
        QCOMPARE(objects.size(), 2);
        const QByteArray first = "{\"document\":\"" + rtf.toUtf8() +
                                 "\",\"pages\":2,\"images\":[\"" + out.toUtf8() +
                                 "/same_2.jpg\"],\"replaced\":[{\"image\":\"" + out.toUtf8() +
                                 "/same_1.jpg\",\"by\":\"" + odt.toUtf8() + "\"}]";
        QVERIFY2(objects[0].startsWith(first), objects[0].constData());
        QVERIFY2(objects[1].contains("\"images\":[\"" + out.toUtf8() +
                                     "/same_1.jpg\"],\"left_out\":[],\"seconds\""),
                 objects[1].constData());
        QCOMPARE(images(out), (QStringList{"same_1.jpg", "same_2.jpg"}));
    }

    // Ctrl-C in the middle of a run reaches the program, its workers and engines at
    // once: the program ends with 130, having reported every document that was
    // finished (and none that was not as failed), reaped every process of its own, and
    // left nothing half-written.
    void interruptionLeavesNothingBehind()
    {
        const QString slow = document("slow.doc", "pages 3\nhang cut 2\n");
        const QString waiting = document("waiting.doc", "pages 2\n"); // behind slow.doc
        const QString done = document("done.doc", "pages 2\n");
        QProcess process;
        process.setProcessEnvironment(environment());
        process.setChildProcessModifier([] { ::setpgid(0, 0); });
        process.start(kProgram, {"-j", "2", slow, waiting, done});
        QVERIFY(process.waitForStarted());
        const qint64 pid = process.processId();
        QTRY_VERIFY_WITH_TIMEOUT(
            QFile::exists(path("slow_1.jpg")) && QFile::exists(path("done_2.jpg")), 30000);
        QList<qint64> family;
        std::function<void(qint64)> collect = [&](qint64 parent) {
            for (qint64 child : childrenOf(parent)) {
                family << child;
                collect(child);
            }
        };
        collect(pid);
        QVERIFY(family.size() >= 2);
        ::kill(-pid_t(pid), SIGINT);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), 130);
        for (qint64 member : family)
            QVERIFY2(processGone(member), processState(member).constData());
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()), done + ": 2 pages\n");
        const QByteArray err = process.readAllStandardError();
        QVERIFY2(err.contains("pagelift-convert: interrupted: 1 of 3 documents converted"),
                 err.constData());
        QVERIFY2(!err.contains("stopped unexpectedly"), err.constData());
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

    // The scheduler's side of a worker: lines written in pieces come out whole and in
    // order, a worker that has gone is told, and ending it reaps it.
    void workerProcessReadsWholeLinesAndIsReaped()
    {
        const auto worker = WorkerProcess::start(
            "/bin/sh", {"-c", "printf 'image\\t0\\tA'; sleep 0.2; printf '\\ndone\\t0\\t1\\n'"});
        QVERIFY(worker);
        QCOMPARE(childprocesses::count(), 1);
        QStringList lines;
        const QDeadlineTimer deadline(10000);
        for (;;) {
            pollfd ready{worker->descriptor(), POLLIN, 0};
            QCOMPARE(::poll(&ready, 1, int(deadline.remainingTime())), 1);
            const auto read = worker->read();
            if (!read)
                break;
            for (const QList<QByteArray> &fields : *read)
                lines << QString::fromUtf8(fields.join('|'));
        }
        QCOMPARE(lines, (QStringList{"image|0|A", "done|0|1"}));
        worker->end(0);
        QVERIFY(worker->ended());
        QCOMPARE(childprocesses::count(), 0);
        QCOMPARE(childrenOf(::getpid()), QList<qint64>());
    }

    // No image is ever written over a document of the run, whatever the names say: a
    // NUL-separated list read without -0 (its paths run together, and "one.rtf\0two"
    // + "_2.jpg" is "one.rtf" to the system), an image named like another document
    // of the run, an image name that is a hard link to the document itself.
    void neverWritesOverADocument_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("NUL-separated list without -0")
            << QStringList{"--from", "-"} << QByteArray("one.rtf\0two.doc\0", 16) << "one.rtf"
            << QByteArray("\"one.rtf\\0two.doc\\0\" holds a NUL character, which no file "
                          "name can: for a list separated by NUL characters, add -0");
        QTest::newRow("image named like another document")
            << QStringList{"-e", "*", "."} << QByteArray() << "one_1.jpg"
            << QByteArray("one_1.jpg\" cannot be written: that file is one of the documents "
                          "being converted.");
        QTest::newRow("image name linked to the document")
            << QStringList{"one.rtf", "one_2.jpg"} << QByteArray() << "one_2.jpg"
            << QByteArray("one_2.jpg\" cannot be written: that file is one of the documents "
                          "being converted.");
    }

    void neverWritesOverADocument()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QString, kept);
        QFETCH(QByteArray, message);
        document("one.rtf", "pages 2\n");
        document("two.doc", "pages 1\n");
        if (kept == "one_1.jpg")
            document(kept, "pages 1\n");
        else if (kept == "one_2.jpg")
            QVERIFY(::link(QFile::encodeName(path("one.rtf")), QFile::encodeName(path(kept))) == 0);
        const QByteArray before = contents(kept);
        const Outcome outcome = run(arguments, input);
        QCOMPARE(contents(kept), before);
        QVERIFY(outcome.status == 1 || outcome.status == 2);
        QVERIFY2(outcome.err.contains(message), outcome.err.constData());
    }

    // An image that may not be written (read-only, run as an ordinary user) is kept,
    // and that page fails like one in a folder that may not be written.
    void readOnlyImageIsKept()
    {
        const QString doc = document("r.doc", "pages 2\n");
        QVERIFY(writeFile(path("r_2.jpg"), "kept"));
        QVERIFY(::chmod(QFile::encodeName(path("r_2.jpg")).constData(), 0444) == 0);
        for (const QString &writable : {m_dir.path(), m_config.path()})
            QVERIFY(::chmod(QFile::encodeName(writable).constData(), 0777) == 0);
        QVERIFY(::chmod(QFile::encodeName(doc).constData(), 0644) == 0);
        QProcess process;
        process.setProcessEnvironment(environment());
        dropRoot(process);
        process.start(kProgram, {doc});
        QVERIFY(process.waitForFinished(60000));
        const QByteArray err = process.readAllStandardError();
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(err.contains("r_2.jpg\" cannot be written: the file is read-only."),
                 err.constData());
        QCOMPARE(contents("r_2.jpg"), QByteArray("kept"));
        QVERIFY(!QImage(path("r_1.jpg")).isNull());
    }

    // A report that cannot be written is never lost without a word: a closed or full
    // standard output is an error and exit status 1; a reader that goes away ends the
    // run as it ends other tools, with nothing half-written left behind.
    void reportThatCannotBeWritten_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("closed") << "$P a.doc b.doc >&-" << 1
                                << QByteArray("cannot write the report to standard output: it "
                                              "is closed");
        QTest::newRow("full") << "$P --json a.doc b.doc >/dev/full" << 1
                              << QByteArray("cannot write the report to standard output: No "
                                            "space left on device");
        QTest::newRow("reader gone")
            << "$P --timeout 1 -j 1 a.doc stuck.doc b.doc | head -n 1 >/dev/null; "
               "exit ${PIPESTATUS[0]}"
            << 128 + SIGPIPE << QByteArray();
    }

    void reportThatCannotBeWritten()
    {
        QFETCH(QString, command);
        QFETCH(int, status);
        QFETCH(QByteArray, message);
        document("a.doc", "pages 2\n");
        document("b.doc", "pages 2\n");
        document("stuck.doc", "pages 2\nhang open\n");
        const Outcome outcome = shell(command);
        QCOMPARE(outcome.status, status);
        QVERIFY2(outcome.err.contains(message), outcome.err.constData());
        QVERIFY(!QFile::exists(path("b_1.jpg")) || status == 1);
        QCOMPARE(leftovers(), QStringList());
    }

    // Lists with Windows line ends are read as lists; a control character of a name
    // reaches the terminal escaped, never as itself.
    void windowsListsAndControlCharacters()
    {
        const QString a = document("a.doc", "pages 1\n");
        const QString b = document("b.doc", "pages 1\n");
        const Outcome outcome = run({"--from", "-", "gone\x1b[2J.doc"}, "a.doc\r\nb.doc\r\n");
        QCOMPARE(outcome.status, 1);
        QCOMPARE(outcome.lines(),
                 (QStringList{"gone\\x1b[2J.doc: failed", "a.doc: 1 page", "b.doc: 1 page"}));
        QVERIFY2(outcome.err.contains("The file \"gone\\x1b[2J.doc\" does not exist."),
                 outcome.err.constData());
        QVERIFY(!outcome.err.contains('\x1b') && !outcome.out.contains('\x1b'));
    }

    // The output folder inside a walked folder is never taken for documents: a second
    // run over the same folder converts the same documents.
    void outputFolderIsNotWalked()
    {
        document("in/a.doc", "pages 2\n");
        const QStringList arguments{"-e", "*", "-o", path("in/out"), path("in")};
        QCOMPARE(run(arguments).status, 0);
        const Outcome again = run(arguments);
        QCOMPARE(again.status, 0);
        QCOMPARE(again.lines(), QStringList{path("in/a.doc") + ": 2 pages"});
        QVERIFY(!QFileInfo::exists(path("in/out/out")));
    }

    // Paths that cannot be used are named for what they are: in a walk (exit 1, the
    // rest converted), on the command line (a failed document), and an output folder
    // that cannot take images before any engine starts (exit 2).
    void unusablePathsAreNamed_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("link to nothing in a walk")
            << QStringList{"in"} << 1 << "\"in/gone.doc\" is a link to nothing.";
        QTest::newRow("link that loops")
            << QStringList{"in/loop.doc"} << 1 << "\"in/loop.doc\" is a link that loops.";
        QTest::newRow("too deep in a walk")
            << QStringList{"deep", "in/fine.doc"} << 1 << "is longer than the system allows.";
        QTest::newRow("too long when named") << QStringList{"deep/" + QString(5000, u'x') + ".doc"}
                                             << 1 << "is longer than the system allows.";
        QTest::newRow("output folder that is a file")
            << QStringList{"-o", "in/fine.doc/out", "in"} << 2
            << "the output folder \"in/fine.doc/out\": \"in/fine.doc\" is not a folder";
    }

    void unusablePathsAreNamed()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        document("in/fine.doc", "pages 1\n");
        QVERIFY(QFile::link(path("in/nowhere"), path("in/gone.doc")));
        QVERIFY(QFile::link(path("in/loop.doc"), path("in/loop.doc")));
        // Deeper than PATH_MAX, made one folder at a time from the one above.
        QDir().mkpath(path("deep"));
        int folder = ::open(QFile::encodeName(path("deep")).constData(), O_RDONLY | O_DIRECTORY);
        for (int i = 0; i < 20 && folder >= 0; ++i) {
            const QByteArray name(250, 'd');
            ::mkdirat(folder, name.constData(), 0755);
            const int deeper = ::openat(folder, name.constData(), O_RDONLY | O_DIRECTORY);
            ::close(folder);
            folder = deeper;
        }
        QVERIFY(folder >= 0);
        ::close(::openat(folder, "far.doc", O_CREAT | O_WRONLY, 0644));
        ::close(folder);

        const Outcome outcome = run(arguments);
        QCOMPARE(outcome.status, status);
        QVERIFY2(outcome.err.contains(message.toUtf8()), outcome.err.constData());
        if (status == 2)
            QVERIFY2(outcome.err.count('\n') == 1, outcome.err.constData()); // one line, no usage
        else if (arguments == QStringList{"in"})
            QCOMPARE(outcome.lines(), QStringList{"in/fine.doc: 1 page"});
    }

    // A document named twice, or named and found in its folder, is converted once; a
    // folder in a list is walked as on the command line; a list that cannot be read
    // is named in one line before anything is converted.
    void eachDocumentOnce_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("named twice") << QStringList{"in/a.doc", "./in/a.doc"} << QByteArray() << 0
                                     << QStringList{"in/a.doc: 1 page"};
        QTest::newRow("named and in its folder") << QStringList{"in/a.doc", "in"} << QByteArray()
                                                 << 0 << QStringList{"in/a.doc: 1 page"};
        QTest::newRow("folder in a list") << QStringList{"--from", "-"} << QByteArray("in\n") << 0
                                          << QStringList{"in/a.doc: 1 page"};
        QTest::newRow("missing list")
            << QStringList{"--from", "nolist"} << QByteArray() << 2 << QStringList{};
    }

    void eachDocumentOnce()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(int, status);
        QFETCH(QStringList, lines);
        document("in/a.doc", "pages 1\n");
        const Outcome outcome = run(arguments, input);
        QCOMPARE(outcome.status, status);
        QCOMPARE(outcome.lines(), lines);
        if (status == 0)
            QVERIFY2(outcome.err.contains("1 of 1 document converted, 1 page,"),
                     outcome.err.constData());
        else
            QCOMPARE(outcome.err, QByteArray("pagelift-convert: cannot read the list \"nolist\": "
                                             "No such file or directory\n"));
    }

    // One job for each CPU of the share, fewer when its memory would not hold them at
    // the resolution asked for (a job at 600 dpi takes over 1 GB), and never none.
    void jobsFitTheMachine_data()
    {
        QTest::addColumn<int>("cpus");
        QTest::addColumn<qulonglong>("memoryMiB");
        QTest::addColumn<int>("dpi");
        QTest::addColumn<int>("jobs");
        QTest::newRow("one CPU of plenty of memory") << 1 << 65536ull << 96 << 1;
        QTest::newRow("every CPU") << 8 << 65536ull << 96 << 8;
        QTest::newRow("1 GiB holds two jobs") << 8 << 1024ull << 96 << 2;
        QTest::newRow("larger pages, fewer jobs") << 8 << 4096ull << 600 << 3;
        QTest::newRow("no memory left") << 4 << 0ull << 96 << 1;
    }

    void jobsFitTheMachine()
    {
        QFETCH(int, cpus);
        QFETCH(qulonglong, memoryMiB);
        QFETCH(int, dpi);
        QFETCH(int, jobs);
        QCOMPARE(defaultJobs(machineshare::Share{cpus, 64, memoryMiB << 20}, dpi), jobs);
    }

    // Workers keep to CPUs of their own when there is one for each; with more workers
    // than CPUs, to none.
    void workersShareOutTheCpus_data()
    {
        using Groups = std::vector<std::vector<int>>;
        QTest::addColumn<std::vector<int>>("cpus");
        QTest::addColumn<int>("workers");
        QTest::addColumn<Groups>("groups");
        QTest::newRow("one each") << std::vector<int>{0, 1} << 2 << Groups{{0}, {1}};
        QTest::newRow("two each") << std::vector<int>{0, 1, 2, 3} << 2 << Groups{{0, 1}, {2, 3}};
        QTest::newRow("uneven, gaps in the mask")
            << std::vector<int>{2, 5, 7} << 2 << Groups{{2}, {5, 7}};
        QTest::newRow("one worker, every CPU") << std::vector<int>{0, 1} << 1 << Groups{{0, 1}};
        QTest::newRow("more workers than CPUs") << std::vector<int>{0, 1} << 3 << Groups{};
    }

    void workersShareOutTheCpus()
    {
        QFETCH(std::vector<int>, cpus);
        QFETCH(int, workers);
        QFETCH(std::vector<std::vector<int>>, groups);
        QCOMPARE(workerCpuGroups(cpus, workers), groups);
    }

    // Pinned to one CPU, as taskset or a job runner pins it, the program takes one job
    // and says why, in --version and, for a run, with --verbose.
    void jobsFollowTheCpusGiven()
    {
        cpu_set_t all;
        QCOMPARE(::sched_getaffinity(0, sizeof all, &all), 0);
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; CPU_COUNT(&one) == 0; ++cpu)
            if (CPU_ISSET(cpu, &all))
                CPU_SET(cpu, &one);
        QCOMPARE(::sched_setaffinity(0, sizeof one, &one), 0);
        const Outcome version = run({"--version"});
        const Outcome verbose = run({"--verbose", document("one.doc")});
        ::sched_setaffinity(0, sizeof all, &all);

        const QRegularExpression reason("^1 CPU of \\d+, \\d+\\.\\d GiB of memory: 1 job$");
        QCOMPARE(version.status, 0);
        QCOMPARE(version.lines().size(), 3); // the version, the sandbox, the share
        QVERIFY2(reason.match(version.lines()[2]).hasMatch(), version.out.constData());
        QCOMPARE(verbose.status, 0);
        const QString first = QString::fromUtf8(verbose.err).section('\n', 0, 0);
        QVERIFY2(reason.match(first.mid(QStringLiteral("pagelift-convert: ").size())).hasMatch(),
                 verbose.err.constData());
    }

    // Only the pages listed are drawn and written, under their own numbers, whatever
    // the order, overlaps or pages past the end; the engine hears them as it opens the
    // document, to print them alone; the report still gives the document's page count.
    void chosenPagesAreTheOnlyOnesDrawn_data()
    {
        QTest::addColumn<QString>("pages");
        QTest::addColumn<QList<int>>("chosen");
        QTest::newRow("the first") << "1" << QList<int>{1};
        QTest::newRow("a range") << "2-3" << QList<int>{2, 3};
        QTest::newRow("a list") << "2,4-5" << QList<int>{2, 4, 5};
        QTest::newRow("to the end") << "3-" << QList<int>{3, 4, 5};
        QTest::newRow("the last alone") << "5" << QList<int>{5};
        QTest::newRow("past the end") << "7-9" << QList<int>{};
        QTest::newRow("partly past the end") << "4-9" << QList<int>{4, 5};
        QTest::newRow("overlapping, out of order") << "4,1-3,2-4" << QList<int>{1, 2, 3, 4};
    }

    void chosenPagesAreTheOnlyOnesDrawn()
    {
        QFETCH(QString, pages);
        QFETCH(QList<int>, chosen);
        const QString doc =
            document("d.doc", "pages 5\ndrawn " + path("drawn") + "\nlog " + path("log") + "\n");
        const Outcome outcome = run({"--json", "--pages", pages, doc});
        QCOMPARE(outcome.status, 0);
        QStringList expected;
        for (int page : chosen)
            expected << QString("d_%1.jpg").arg(page);
        QCOMPARE(images(), expected);
        QStringList drawn;
        for (int page : chosen)
            drawn << QString::number(page);
        QCOMPARE(QString::fromUtf8(contents("drawn")).split('\n', Qt::SkipEmptyParts), drawn);
        QVERIFY2(outcome.out.contains("\"pages\":5,"), outcome.out.constData());
        const QString log = QString::fromUtf8(contents("log"));
        QVERIFY2(
            QRegularExpression("^open [^\n]* printing " + QRegularExpression::escape(pages) + "$",
                               QRegularExpression::MultilineOption)
                .match(log)
                .hasMatch(),
            qPrintable(log));
    }

    // Each page drawn to fit the box asked for, its proportions kept, by the engine.
    void picturesFitTheBox_data()
    {
        QTest::addColumn<QString>("page"); // the fake's page size
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QSize>("size");
        QTest::newRow("portrait in a square")
            << "80 120" << QStringList{"--size", "40x40"} << QSize(27, 40);
        QTest::newRow("landscape in a square")
            << "120 80" << QStringList{"--size", "40X40"} << QSize(40, 27);
        QTest::newRow("portrait to a width")
            << "80 120" << QStringList{"--width", "60"} << QSize(60, 90);
        QTest::newRow("landscape to a height")
            << "120 80" << QStringList{"--height", "60"} << QSize(90, 60);
        QTest::newRow("width and height")
            << "80 120" << QStringList{"--width=100", "--height=60"} << QSize(40, 60);
        QTest::newRow("larger than drawn")
            << "80 120" << QStringList{"--size", "400x300"} << QSize(200, 300);
    }

    void picturesFitTheBox()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, arguments);
        QFETCH(QSize, size);
        const Outcome outcome =
            run(arguments +
                QStringList{"-f", "png", document("d.doc", "pages 2\nsize " + page + "\n")});
        QCOMPARE(outcome.status, 0);
        QCOMPARE(QImage(path("d_1.png")).size(), size);
        QCOMPARE(QImage(path("d_2.png")).size(), size);
    }

    // Each format under its own name; PNG holds exactly the pixels the engine drew, and
    // grey pictures hold one channel.
    void formatsAndGrey_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("image");
        QTest::addColumn<bool>("grey");
        QTest::newRow("png") << QStringList{"-f", "png"} << "d_1.png" << false;
        QTest::newRow("PNG grey") << QStringList{"--format=PNG", "--gray"} << "d_1.png" << true;
        QTest::newRow("webp") << QStringList{"-f", "webp"} << "d_1.webp" << false;
        QTest::newRow("jpeg grey") << QStringList{"-fjpeg", "--gray"} << "d_1.jpg" << true;
    }

    void formatsAndGrey()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, image);
        QFETCH(bool, grey);
        const Outcome outcome =
            run(arguments + QStringList{document("d.doc", "pages 2\nsize 40 30\n")});
        QCOMPARE(outcome.status, 0);
        QVERIFY(QFileInfo::exists(path(image)));
        QVERIFY(QFileInfo::exists(path(QString(image).replace("_1.", "_2."))));
        if (image.endsWith(".webp"))
            return; // Qt reads no WebP here; the writer's own test decodes it
        const QImage picture(path(image));
        QCOMPARE(picture.format() == QImage::Format_Grayscale8, grey);
        if (image.endsWith(".png") && !grey)
            QVERIFY(isFakePage(picture.convertToFormat(QImage::Format_ARGB32), 0));
        if (image.endsWith(".png") && grey) {
            // The fake's grey, (x + y + page) % 256, drawn grey and kept as it is.
            bool same = true;
            for (int y = 0; y < picture.height(); ++y)
                for (int x = 0; x < picture.width(); ++x)
                    same = same && qGray(picture.pixel(x, y)) == (x + y) % 256;
            QVERIFY(same);
        }
    }

    // The file manager's mode: the picture exactly at the path given, a PNG that fits
    // the size; on any failure (a refused document, one without pages, an engine that
    // hangs past the deadline) nothing at all is written and the status is not 0.
    void thumbnailContract_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("made");
        QTest::newRow("a document") << "pages 3\nsize 100 150\n" << true;
        QTest::newRow("refused") << "refuse open 3 password\n" << false;
        QTest::newRow("no pages") << "pages 0\n" << false;
        QTest::newRow("hangs past the deadline") << "hang cut\n" << false;
    }

    void thumbnailContract()
    {
        QFETCH(QString, script);
        QFETCH(bool, made);
        const QString doc = document("in/d.doc", script);
        QDir().mkpath(path("thumbs"));
        const QString output = path("thumbs/0f3a"); // no extension, as file managers name them
        const Outcome outcome = run({"--timeout", "2", "--thumbnail", "64", doc, output});
        QCOMPARE(outcome.status, made ? 0 : 1);
        QCOMPARE(QDir(path("thumbs")).entryList(QDir::Files | QDir::Hidden),
                 made ? QStringList{"0f3a"} : QStringList{});
        QCOMPARE(QDir(path("in")).entryList(QDir::Files | QDir::Hidden), QStringList{"d.doc"});
        if (!made) {
            QVERIFY2(outcome.err.startsWith("pagelift-convert: "), outcome.err.constData());
            return;
        }
        QCOMPARE(outcome.out, QByteArray());
        QFile file(output);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.read(8) == QByteArray("\x89PNG\r\n\x1a\n", 8));
        QCOMPARE(QImage(output).size(), QSize(43, 64));
    }
};

QTEST_GUILESS_MAIN(TestConvert)
#include "tst_convert.moc"
