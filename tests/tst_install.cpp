// The installation: `cmake --install` into a temporary prefix puts every file in its
// place, the installed programs find their engine and data there, also once the
// prefix is moved, and what is made from the programs' --help (manuals, completion)
// agrees with it.

#include "madedocuments.h"
#include "programfiles.h"

#include "processes.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A program run to its end, as the shared runner runs it, in this program's folder.
Outcome run(const QString &program, const QStringList &arguments,
            const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
            int timeoutMs = 30000)
{
    return runToEnd(program, arguments, environment, {}, {}, timeoutMs);
}

// The option names of a --help text: the rows' "-x" and "--name", not the mentions in
// their descriptions.
QStringList optionsOf(const QByteArray &help)
{
    static const QRegularExpression row(QStringLiteral("^  (?: {4})?(-.*?)(?:  |$)"),
                                        QRegularExpression::MultilineOption);
    static const QRegularExpression name(QStringLiteral("--?[A-Za-z0-9][\\w-]*"));
    QStringList names;
    for (const auto &r : row.globalMatch(QString::fromUtf8(help)))
        for (const auto &n : name.globalMatch(r.captured(1)))
            names << n.captured();
    return names;
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_prefix;

    QString installed(const QString &relative) const { return m_prefix + u'/' + relative; }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_prefix = m_dir.filePath("usr");
        const Outcome install = run(
            QStringLiteral(PAGELIFT_CMAKE),
            {"--install", QStringLiteral(PAGELIFT_BUILD_DIR), "--prefix", m_prefix}, {}, 120000);
        QVERIFY2(install.status == 0, install.out + install.err);
        const Outcome skin =
            run(QStringLiteral(PAGELIFT_CMAKE), {"--install", QStringLiteral(PAGELIFT_BUILD_DIR),
                                                 "--prefix", m_prefix, "--component", "skin"});
        QVERIFY2(skin.status == 0, skin.out + skin.err);
    }

    void filesInTheirPlaces_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("program");
        QTest::newRow("window") << "bin/pagelift" << true;
        QTest::newRow("command line") << "bin/pagelift-convert" << true;
        QTest::newRow("engine") << "libexec/pagelift/pagelift-engine" << true;
        QTest::newRow("splash") << "share/pagelift/Splash/pagelift-splash.png" << false;
        QTest::newRow("hand") << "share/pagelift/HAND-M.CUR" << false;
        QTest::newRow("desktop entry") << "share/applications/pagelift.desktop" << false;
        QTest::newRow("metainfo") << "share/metainfo/example.orvanta.Pagelift.metainfo.xml"
                                  << false;
        QTest::newRow("scalable icon") << "share/icons/hicolor/scalable/apps/pagelift.svg" << false;
        QTest::newRow("manual pagelift") << "share/man/man1/pagelift.1.gz" << false;
        QTest::newRow("manual convert") << "share/man/man1/pagelift-convert.1.gz" << false;
        QTest::newRow("completion")
            << "share/bash-completion/completions/pagelift-convert" << false;
        QTest::newRow("copyright") << "share/doc/pagelift/copyright" << false;
    }

    void filesInTheirPlaces()
    {
        QFETCH(QString, path);
        QFETCH(bool, program);
        const QFileInfo file(installed(path));
        QVERIFY2(file.isFile() && file.size() > 0, qPrintable(path));
        QCOMPARE(file.isExecutable(), program);
    }

    void onlyTheProgramsOnPath()
    {
        QCOMPARE(QDir(installed("bin")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList({"pagelift", "pagelift-convert"}));
    }

    void iconsAtEverySize()
    {
        for (const int size : {16, 32, 48, 64, 128, 256}) {
            const QString path =
                installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/pagelift.png").arg(size));
            QCOMPARE(QImage(path).size(), QSize(size, size));
        }
    }

    // The window's optional files: beside the program first, else installed.
    void dataBesideTheProgramFirst()
    {
        const QString bin = installed("bin");
        QCOMPARE(programfiles::dataPath(bin, "HAND-M.CUR"), installed("share/pagelift/HAND-M.CUR"));
        QCOMPARE(programfiles::dataPath(bin, "Splash"), installed("share/pagelift/Splash"));
        QCOMPARE(programfiles::dataPath(bin, "x/o.cjs"), installed("share/pagelift/x/o.cjs"));
        QCOMPARE(programfiles::dataPath(bin, "nothing"), installed("bin/nothing"));
        QVERIFY(writeFile(installed("bin/HAND-M.CUR"), "beside"));
        const QString beside = programfiles::dataPath(bin, "HAND-M.CUR");
        QFile::remove(installed("bin/HAND-M.CUR"));
        QCOMPARE(beside, installed("bin/HAND-M.CUR"));
    }

    void installedConvertFindsItsEngine_data()
    {
        QTest::addColumn<bool>("moved");
        QTest::newRow("where installed") << false;
        QTest::newRow("after moving the prefix") << true;
    }

    void installedConvertFindsItsEngine()
    {
        QFETCH(bool, moved);
        QString prefix = m_prefix;
        const QString elsewhere = m_dir.filePath("elsewhere/opt/pagelift");
        if (moved) {
            QVERIFY(QDir().mkpath(QFileInfo(elsewhere).path()));
            QVERIFY(QDir().rename(m_prefix, elsewhere));
            prefix = elsewhere;
        }
        const auto back = qScopeGuard([&] {
            if (moved)
                QDir().rename(elsewhere, m_prefix);
        });
        const QString document = m_dir.filePath("letter.fodt");
        QVERIFY(writeFile(document, flatOdt({Page::A4, Page::Letter})));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("PAGELIFT_ENGINE_FOLDER");
        environment.insert("XDG_CONFIG_HOME", m_dir.filePath("config"));
        environment.insert("XDG_CACHE_HOME", m_dir.filePath("cache"));
        const QString output = m_dir.filePath(moved ? "moved" : "installed");
        const Outcome outcome =
            run(prefix + "/bin/pagelift-convert", {"-o", output, document}, environment, 240000);
        QVERIFY2(outcome.status == 0, outcome.out + outcome.err);
        QVERIFY2(outcome.out.contains("letter.fodt: 2 pages"), outcome.out);
        QCOMPARE(QImage(output + "/letter_2.jpg").size(), QSize(816, 1056)); // Letter at 96 dpi
    }

    void manualListsEveryOption_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("pagelift") << "pagelift";
        QTest::newRow("pagelift-convert") << "pagelift-convert";
    }

    void manualListsEveryOption()
    {
        QFETCH(QString, program);
        const Outcome help = run(installed("bin/" + program), {"--help"});
        QCOMPARE(help.status, 0);
        const QStringList options = optionsOf(help.out);
        QVERIFY(options.contains("--help"));
        const Outcome manual =
            run("gzip", {"-dc", installed("share/man/man1/" + program + ".1.gz")});
        QCOMPARE(manual.status, 0);
        // The OPTIONS section, as roff: "\-" is a minus, "\fB" a change of face.
        QString text = QString::fromUtf8(manual.out);
        text = text.section(QStringLiteral(".SH OPTIONS"), 1).section(QStringLiteral(".SH "), 0, 0);
        text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
        text.remove(QRegularExpression(QStringLiteral("\\\\f[BIRP]")));
        for (const QString &option : options) {
            const QRegularExpression named("(^|[\\s,])" + QRegularExpression::escape(option) +
                                           "([\\s,]|$)");
            QVERIFY2(text.contains(named), qPrintable(option));
        }
    }

    void validatorsAcceptTheInstalledFiles_data()
    {
        QTest::addColumn<QString>("validator");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("desktop entry")
            << "desktop-file-validate" << QStringList{"share/applications/pagelift.desktop"};
        QTest::newRow("metainfo") << "appstreamcli"
                                  << QStringList{"validate", "--no-net",
                                                 "share/metainfo/"
                                                 "example.orvanta.Pagelift.metainfo.xml"};
    }

    void validatorsAcceptTheInstalledFiles()
    {
        QFETCH(QString, validator);
        QFETCH(QStringList, arguments);
        const QString program = QStandardPaths::findExecutable(validator);
        if (program.isEmpty())
            QSKIP(qPrintable(validator + " is not installed"));
        arguments.last() = installed(arguments.last());
        const Outcome outcome = run(program, arguments);
        QVERIFY2(outcome.status == 0, outcome.out + outcome.err);
    }

    // The completion as bash runs it: what a Tab offers after the words typed.
    void completion_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("offered");
        QTest::newRow("an option") << "pagelift-convert --res"
                                   << "--resolution";
        QTest::newRow("folders for --output-dir") << "pagelift-convert --output-dir "
                                                  << "folder";
        QTest::newRow("folders for --output-dir=") << "pagelift-convert --output-dir="
                                                   << "folder";
        QTest::newRow("files for --from") << "pagelift-convert --from l"
                                          << "list.txt";
        QTest::newRow("nothing for a number") << "pagelift-convert -q "
                                              << "";
        QTest::newRow("documents and folders") << "pagelift-convert -q 50 "
                                               << "folder list.txt";
    }

    void completion()
    {
        QFETCH(QString, line);
        QFETCH(QString, offered);
        const QString helpers = QStringLiteral("/usr/share/bash-completion/bash_completion");
        if (!QFileInfo::exists(helpers))
            QSKIP("bash-completion is not installed");
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkdir("folder"));
        QVERIFY(writeFile(folder.filePath("list.txt"), "a.doc\n"));
        const QString script =
            QStringLiteral(
                "source %1; source %2; cd %3; COMP_LINE=\"$1\"; COMP_POINT=${#COMP_LINE}; "
                "read -ra COMP_WORDS <<< \"$COMP_LINE\"; [[ $COMP_LINE == *' ' ]] && "
                "COMP_WORDS+=('');"
                "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _pagelift_convert; "
                "printf '%s\\n' \"${COMPREPLY[@]}\" | sort | paste -sd ' '")
                .arg(helpers, installed("share/bash-completion/completions/pagelift-convert"),
                     folder.path());
        const Outcome outcome = run("bash", {"-c", script, "bash", line});
        QCOMPARE(outcome.status, 0);
        QCOMPARE(QString::fromUtf8(outcome.out).trimmed(), offered);
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
