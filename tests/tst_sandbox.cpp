// The engine's sandbox, with the real engine and pagelift-convert on documents the
// tests make: what a document reaches outside itself, what a sandboxed engine may do,
// and that macros never run.

#include "linkeddocuments.h"
#include "loopback.h"
#include "madedocuments.h"
#include "processes.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <map>

namespace {

const QString kBinDir = qEnvironmentVariable("PAGELIFT_BIN_DIR");
const QString kOffice = QStringLiteral("/usr/lib/libreoffice/program");

// What pagelift-convert --json said of one document.
struct Converted
{
    QString image; // its first page
    QStringList leftOut;
};

} // namespace

class TestSandbox : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_config; // no user's settings
    LoopbackListener m_listener;
    std::map<QString, Converted> m_converted; // by "mode/document"

    QString path(const QString &relative) const { return m_dir.filePath(relative); }

    Outcome run(const QString &program, const QStringList &arguments,
                const QString &workingDirectory = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", m_config.path());
        return runToEnd(program, arguments, environment,
                        workingDirectory.isEmpty() ? m_dir.path() : workingDirectory, {}, 240000);
    }

    Outcome convert(const QStringList &arguments, const QString &workingDirectory = {})
    {
        return run(kBinDir + "/pagelift-convert", arguments, workingDirectory);
    }

    // Converts every document of docs/ with `linkedFiles`, keeping what --json says.
    bool convertAll(const QString &linkedFiles)
    {
        const QStringList documents =
            QDir(path("docs")).entryList({"*.odt", "*.fodt", "*.docx"}, QDir::Files);
        QStringList arguments{"--json", "--linked-files", linkedFiles, "-o", path(linkedFiles)};
        for (const QString &document : documents)
            arguments << path("docs/" + document);
        const Outcome outcome = convert(arguments);
        if (outcome.status != 0) {
            qWarning("%s", outcome.err.constData());
            return false;
        }
        for (const QByteArray &line : outcome.out.split('\n')) {
            const QJsonObject result = QJsonDocument::fromJson(line).object();
            if (result.isEmpty())
                continue;
            Converted converted;
            converted.image = result["images"].toArray().first().toString();
            for (const QJsonValue &link : result["left_out"].toArray())
                converted.leftOut << link.toString();
            const QString name = QFileInfo(result["document"].toString()).fileName();
            m_converted[linkedFiles + "/" + name] = converted;
        }
        return m_converted.size() == size_t(documents.size()) * (linkedFiles == "none" ? 1 : 2);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid() && m_config.isValid());
        QVERIFY(m_listener.listening());
        QVERIFY2(qEnvironmentVariable("XDG_CACHE_HOME").startsWith('/'),
                 "the engines' profiles must not go to the user's cache");
        // A picture outside the documents' folder, one beside them, and a link in
        // their folder that leads out of it.
        QVERIFY(QDir().mkpath(path("outside")) && QDir().mkpath(path("docs")));
        QVERIFY(writeFile(path("outside/secret.png"), solidPng(Qt::red)));
        QVERIFY(writeFile(path("docs/beside.png"), solidPng(Qt::blue)));
        QVERIFY(QFile::link(path("outside/secret.png"), path("docs/link.png")));
        const std::pair<QString, QString> links[] = {
            {"absolute", QUrl::fromLocalFile(path("outside/secret.png")).toString()},
            {"climbing", "../outside/secret.png"},
            {"symlink", "link.png"},
            {"network", QString("http://127.0.0.1:%1/secret.png").arg(m_listener.port())},
            {"beside", "beside.png"},
        };
        const std::pair<LinkingFormat, QString> formats[] = {{LinkingFormat::Odt, "odt"},
                                                             {LinkingFormat::FlatOdt, "fodt"},
                                                             {LinkingFormat::Docx, "docx"}};
        for (const auto &[kind, href] : links) {
            for (const auto &[format, extension] : formats)
                QVERIFY(writeFile(path("docs/" + kind + "-" + extension + "." + extension),
                                  linkedPictureDocument(format, href)));
        }
        QVERIFY(convertAll("none"));
        QVERIFY(convertAll("beside"));
    }

    // Every way out of the document, in each format that links pictures: nothing is
    // read (the picture is drawn as a missing one), nothing is asked of the network,
    // and the run names what it left out. Beside the document, pictures are drawn
    // only when LinkedFiles allows it, and a link out of its folder stays out.
    void linkedPictures_data()
    {
        QTest::addColumn<QString>("key");     // "mode/document"
        QTest::addColumn<bool>("drawn");      // the picture shows on the page
        QTest::addColumn<QString>("leftOut"); // what the run names as left out
        const QString secret = path("outside/secret.png");
        const QString network = QString("http://127.0.0.1:%1/secret.png").arg(m_listener.port());
        for (const QString extension : {"odt", "fodt", "docx"}) {
            for (const QString mode : {"none", "beside"}) {
                const auto row = [&](const QString &kind, bool drawn, const QString &leftOut) {
                    const QString key = mode + "/" + kind + "-" + extension + "." + extension;
                    QTest::newRow(qPrintable(key)) << key << drawn << leftOut;
                };
                row("absolute", false, secret);
                row("climbing", false, secret);
                row("symlink", false, path("docs/link.png"));
                row("network", false, network);
                row("beside", mode == "beside", mode == "beside" ? "" : path("docs/beside.png"));
            }
        }
    }

    void linkedPictures()
    {
        QFETCH(QString, key);
        QFETCH(bool, drawn);
        QFETCH(QString, leftOut);
        QVERIFY(m_converted.count(key));
        const Converted &converted = m_converted[key];
        const QImage page(converted.image);
        QVERIFY(!page.isNull());
        QCOMPARE(pixelsNear(page, Qt::red), 0);
        QCOMPARE(pixelsNear(page, Qt::blue) > 10000, drawn);
        QCOMPARE(converted.leftOut, leftOut.isEmpty() ? QStringList() : QStringList{leftOut});
        QVERIFY2(!m_listener.connected(), "a document reached the network");
    }

    // The engine's own sandbox, entered as every engine enters it, asked to reach
    // outside: a file out of its set (by its path and through /proc), a socket on
    // 127.0.0.1, a program. A file of the office shows that what it may do it can.
    void sandboxedEngineRefuses_data()
    {
        QTest::addColumn<QStringList>("attempt");
        QTest::addColumn<QString>("answer");
        const QString secret = path("outside/secret.png");
        QTest::newRow("a file outside its set") << QStringList{"--open", secret} << "denied";
        QTest::newRow("the same through /proc/self/root")
            << QStringList{"--open", "/proc/self/root" + secret} << "denied";
        QTest::newRow("a socket on 127.0.0.1")
            << QStringList{"--connect", QString::number(m_listener.port())} << "denied";
        QTest::newRow("a program") << QStringList{"--run", "/bin/true"} << "denied";
        QTest::newRow("a file of the office")
            << QStringList{"--open", kOffice + "/versionrc"} << "allowed";
    }

    void sandboxedEngineRefuses()
    {
        QFETCH(QStringList, attempt);
        QFETCH(QString, answer);
        const Outcome outcome =
            run(kBinDir + "/pagelift-engine", QStringList{"--sandbox-check"} + attempt);
        QCOMPARE(outcome.status, 0);
        const QStringList lines = QString::fromUtf8(outcome.out).split('\n');
        QCOMPARE(lines.value(0), "sandbox complete");
        QCOMPARE(lines.value(1), attempt[0].mid(2) + " " + attempt[1] + ": " + answer);
        QVERIFY2(!m_listener.connected(), "the engine reached the network");
    }

    // A document whose load event runs a macro that writes a file: an office that
    // allows macros runs it, Pagelift's engine never does.
    void macrosNeverRun()
    {
        QVERIFY(QDir().mkpath(path("macro/office/user")));
        const QString document = path("macro/macro.fodt");
        QVERIFY(writeFile(document, macroDocument()));
        QVERIFY(writeFile(
            path("macro/office/user/registrymodifications.xcu"),
            R"(<?xml version="1.0" encoding="UTF-8"?><oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">)"
            R"(<item oor:path="/org.openoffice.Office.Common/Security/Scripting"><prop oor:name="MacroSecurityLevel" oor:op="fuse"><value>0</value></prop></item></oor:items>)"));
        // The office itself, started as its launcher starts it: on a new profile its
        // first start ends asking to be started again (exit status 81).
        QProcess office;
        const QStringList arguments{"--headless", "--norestore",
                                    "-env:UserInstallation=" +
                                        QUrl::fromLocalFile(path("macro/office")).toString(),
                                    document};
        const QString marker = path("macro/office/user/") + kMacroMarker;
        for (int start = 0; start < 3 && !QFile::exists(marker); ++start) {
            office.start(kOffice + "/soffice.bin", arguments);
            QTRY_VERIFY_WITH_TIMEOUT(
                QFile::exists(marker) || office.state() == QProcess::NotRunning, 120000);
        }
        office.kill();
        office.waitForFinished();
        QVERIFY2(QFile::exists(marker), "the office allowing macros did not run the document's");

        const QString cache = qEnvironmentVariable("XDG_CACHE_HOME") + "/pagelift";
        const auto markers = [&] {
            QStringList found;
            QDirIterator it(cache, {kMacroMarker}, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                found << it.next();
            return found;
        };
        for (const QString &marker : markers())
            QFile::remove(marker);
        const Outcome outcome = convert({"-o", path("macro/images"), document});
        QCOMPARE(outcome.status, 0);
        QCOMPARE(markers(), QStringList());
    }

    // A protected document is named as protected however its path is written.
    void protectedDocumentNamedRelatively_data()
    {
        QTest::addColumn<QString>("folder"); // where pagelift-convert runs, under protected/
        QTest::addColumn<QString>("name");
        QTest::newRow("bare name") << "inner"
                                   << "secret.odt";
        QTest::newRow("./") << "inner"
                            << "./secret.odt";
        QTest::newRow("../") << "sibling"
                             << "../inner/secret.odt";
        QTest::newRow("absolute") << "sibling" << path("protected/inner/secret.odt");
    }

    void protectedDocumentNamedRelatively()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        const QString protectedDocument = path("protected/inner/secret.odt");
        if (!QFile::exists(protectedDocument)) {
            QVERIFY(QDir().mkpath(path("protected/sibling")) &&
                    QDir().mkpath(path("protected/inner")));
            QVERIFY(writeFile(path("protected/plain.fodt"), flatOdt({Page::A4})));
            const Outcome made =
                run(kBinDir + "/pagelift-documentmaker",
                    {path("protected/plain.fodt"), protectedDocument, "--password", "secret"});
            QVERIFY2(made.status == 0, made.err.constData());
        }
        const Outcome outcome = convert({name}, path("protected/" + folder));
        QCOMPARE(outcome.status, 1);
        QVERIFY2(outcome.err.contains(("\"" + name + "\" is protected by a password.").toUtf8()),
                 outcome.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestSandbox)
#include "tst_sandbox.moc"
