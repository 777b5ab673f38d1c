#include "enginepool.h"
#include "errorof.h"
#include "fakepages.h"
#include "settings.h"
#include "startup.h"
#include "startuprig.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString kFakeEngineFolder = QStringLiteral(PAGELIFT_FAKE_ENGINE_DIR);

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;

    static QStringList folderContents(const QString &folder)
    {
        QStringList names;
        QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            names << it.next();
        names.sort();
        return names;
    }

private slots:
    void initTestCase() { useTemporaryConfigFolder(m_config); }

    void userFolderFollowsXdg() { QCOMPARE(SettingsStore::userFolder(), m_config.path()); }

    void slider1Conversion_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("plain") << "75" << 75.0;
        QTest::newRow("blanks around") << " 40 " << 40.0;
        QTest::newRow("fraction down") << "40.4" << 40.0;
        QTest::newRow("fraction up") << "40.6" << 41.0;
        QTest::newRow("half to even, down") << "40.5" << 40.0;
        QTest::newRow("half to even, up") << "41.5" << 42.0;
        QTest::newRow("zero to lower end") << "0.0" << 1.0;
        QTest::newRow("negative to lower end") << "-5" << 1.0;
        QTest::newRow("above to upper end") << "101" << 100.0;
        QTest::newRow("huge to upper end") << "1e12" << 100.0;
        QTest::newRow("not a number") << "abc" << 75.0;
        QTest::newRow("number then text") << "40abc" << 75.0;
        QTest::newRow("empty") << "" << 75.0;
        QTest::newRow("nan") << "nan" << 75.0;
        QTest::newRow("infinity") << "inf" << 75.0;
    }

    void slider1Conversion()
    {
        QFETCH(QString, text);
        QFETCH(double, expected);
        QCOMPARE(settings::toNumber(settings::kQuality, text), expected);
    }

    // LinkedFiles widens what engines read only when it says "beside"; anything else
    // keeps the default, none.
    void linkedFilesChoice_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("none") << "none" << 0;
        QTest::newRow("beside") << "beside" << 1;
        QTest::newRow("case and blanks") << " Beside " << 1;
        QTest::newRow("unknown word") << "everywhere" << 0;
        QTest::newRow("empty") << "" << 0;
    }

    void linkedFilesChoice()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(settings::toChoice(settings::kLinkedFiles, text), expected);
    }

    void missingKeyGivesDefaultAndCreatesNothing()
    {
        StartupRig rig;
        const SettingsStore store(rig.settingsFolder());
        QCOMPARE(store.readSetting("Orvanta", "Pagelift", "Slider1", "75"), QStringLiteral("75"));
        QCOMPARE(settings::readInt(store, settings::kQuality), 75);
        QCOMPARE(settings::read(store, settings::kShowAgain), 0.0);
        QVERIFY(folderContents(rig.settingsFolder()).isEmpty());

        // A store holding another section and key still answers the default.
        rig.store("Other", "1");
        QCOMPARE(store.readSetting("Orvanta", "Elsewhere", "Slider1", "75"), QStringLiteral("75"));
        QCOMPARE(store.readSetting("Orvanta", "Pagelift", "Slider1", "75"), QStringLiteral("75"));
    }

    void writeGoesToTheIniFileAtOnce()
    {
        StartupRig rig;
        const SettingsStore store(rig.settingsFolder());
        QCOMPARE(settings::write(store, settings::kQuality, 60), QSettings::NoError);
        QCOMPARE(settings::write(store, settings::kQuality, 80), QSettings::NoError);
        QCOMPARE(store.filePath("Orvanta"), rig.settingsFile());

        // Read as plain text, without any QSettings cache in between.
        QFile file(rig.settingsFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY2(text.contains(QStringLiteral("[Pagelift]")), qPrintable(text));
        QVERIFY2(text.contains(QRegularExpression(QStringLiteral("^Slider1=80$"),
                                                  QRegularExpression::MultilineOption)),
                 qPrintable(text));
        QCOMPARE(settings::readInt(store, settings::kQuality), 80);
    }

    void writeCreatesTheFolder()
    {
        StartupRig rig;
        const SettingsStore store(rig.settingsFolder() + QStringLiteral("/not/yet"));
        QCOMPARE(settings::write(store, settings::kShowAgain, 1), QSettings::NoError);
        QCOMPARE(store.readSetting("Orvanta", "Pagelift", "ShowAgain", "0"), QStringLiteral("1"));
    }

    void readingWritesNothing()
    {
        StartupRig rig;
        rig.store("Slider1", " 40 ");
        rig.store("ShowAgain", "1");
        const QStringList before = folderContents(rig.settingsFolder());
        QFile file(rig.settingsFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        file.close();
        const QDateTime modified = QFileInfo(rig.settingsFile()).lastModified();

        const SettingsStore store(rig.settingsFolder());
        for (int i = 0; i < 20; ++i) {
            QCOMPARE(settings::readInt(store, settings::kQuality), 40);
            QCOMPARE(settings::read(store, settings::kShowAgain), 1.0);
            QCOMPARE(store.readSetting("Orvanta", "Pagelift", "Missing", "x"), QStringLiteral("x"));
        }

        QCOMPARE(folderContents(rig.settingsFolder()), before);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
        QCOMPARE(QFileInfo(rig.settingsFile()).lastModified(), modified);
    }

    void noFolderIsNoStore()
    {
        const SettingsStore store;
        QCOMPARE(store.readSetting("Orvanta", "Pagelift", "Slider1", "75"), QStringLiteral("75"));
        QCOMPARE(settings::write(store, settings::kQuality, 50), QSettings::AccessError);
        QCOMPARE(settings::readInt(store, settings::kQuality), 75);
    }

    // Two copies of the program writing at the same time: each write merges with the
    // other's under the file's lock, so no key is lost and the file stays valid.
    void twoCopiesShareTheFile()
    {
        StartupRig rig;
        const QString writer =
            QCoreApplication::applicationDirPath() + QStringLiteral("/settingswriter");
        QVERIFY2(QFileInfo::exists(writer), qPrintable(writer));
        const int count = 150;
        QProcess a, b;
        a.start(writer, {rig.settingsFolder(), "A", QString::number(count)});
        b.start(writer, {rig.settingsFolder(), "B", QString::number(count)});
        QVERIFY(a.waitForFinished(60000));
        QVERIFY(b.waitForFinished(60000));
        QCOMPARE(a.exitStatus(), QProcess::NormalExit);
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(b.exitStatus(), QProcess::NormalExit);
        QCOMPARE(b.exitCode(), 0);

        QSettings check(rig.settingsFile(), QSettings::IniFormat);
        QCOMPARE(check.status(), QSettings::NoError);
        QCOMPARE(check.value("Pagelift/WriterA").toString(), QStringLiteral("A%1").arg(count));
        QCOMPARE(check.value("Pagelift/WriterB").toString(), QStringLiteral("B%1").arg(count));
        const QString shared = check.value("Pagelift/Slider1").toString();
        QVERIFY2(shared == QStringLiteral("A%1").arg(count) ||
                     shared == QStringLiteral("B%1").arg(count),
                 qPrintable(shared));

        // Every line is a group, a key=value pair or empty: no torn writes.
        QFile file(rig.settingsFile());
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QRegularExpression line(QStringLiteral("^(\\[\\w+\\]|\\w+=[AB]\\d+|)$"));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        for (const QString &l : lines)
            QVERIFY2(line.match(l).hasMatch(), qPrintable(l));
        QCOMPARE(lines.count(QStringLiteral("[Pagelift]")), 1);

        // The last write wins, whichever copy made it.
        QProcess last;
        last.start(writer, {rig.settingsFolder(), "A", "1"});
        QVERIFY(last.waitForFinished(60000));
        QCOMPARE(last.exitCode(), 0);
        const SettingsStore store(rig.settingsFolder());
        QCOMPARE(store.readSetting("Orvanta", "Pagelift", "Slider1", "75"), QStringLiteral("A1"));
        QCOMPARE(store.readSetting("Orvanta", "Pagelift", "WriterB", ""),
                 QStringLiteral("B%1").arg(count));
    }

    // The keys nothing writes, as a document is converted with them.
    void documentOptionsFromTheSettings_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("dpi");
        QTest::newRow("defaults") << QString() << QString() << 120000 << 96;
        QTest::newRow("timeout raised") << "Timeout"
                                        << "900" << 900000 << 96;
        QTest::newRow("timeout zero is the least") << "Timeout"
                                                   << "0" << 1000 << 96;
        QTest::newRow("timeout a day at most") << "Timeout"
                                               << "1000000" << 86400000 << 96;
        QTest::newRow("timeout not a number") << "Timeout"
                                              << "soon" << 120000 << 96;
        QTest::newRow("print resolution") << "Resolution"
                                          << "300" << 120000 << 300;
        QTest::newRow("resolution at most 600") << "Resolution"
                                                << "2400" << 120000 << 600;
        QTest::newRow("resolution at least 48") << "Resolution"
                                                << "10" << 120000 << 48;
    }

    void documentOptionsFromTheSettings()
    {
        QFETCH(QString, key);
        QFETCH(QString, text);
        QFETCH(int, timeoutMs);
        QFETCH(int, dpi);
        StartupRig rig;
        if (!key.isNull())
            rig.store(key, text);
        const DocumentOptions options = documentOptions(SettingsStore(rig.settingsFolder()));
        QCOMPARE(options.callTimeoutMs, timeoutMs);
        QCOMPARE(options.dpi, dpi);
    }

    // The window's engines take their call time limit from "Timeout", read again for
    // every document.
    void timeoutIsReadForEveryDocument()
    {
        StartupRig rig;
        QTemporaryDir dir;
        const QString slow = writeScript(dir.path(), "slow.doc", "hang open\n");
        MainWindowEnvironment environment = rig.environment();
        useEnginePool(environment, std::make_shared<EnginePool>(kFakeEngineFolder));
        const QString message =
            "The document engine did not answer within %1 while working on \"" + slow + "\".";
        rig.store("Timeout", "1");
        QCOMPARE(errorMessageOf([&] { environment.createWord()->documentsOpen(slow); }),
                 message.arg("1 second"));
        rig.store("Timeout", "2");
        QCOMPARE(errorMessageOf([&] { environment.createWord()->documentsOpen(slow); }),
                 message.arg("2 seconds"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
