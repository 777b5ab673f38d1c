#include "childprocesses.h"
#include "cursorfile.h"
#include "fakepages.h"
#include "filelistview.h"
#include "madedocuments.h"
#include "mainwindow.h"
#include "pathbytes.h"
#include "processes.h"
#include "skinengine.h"
#include "splash.h"
#include "startup.h"
#include "startuprig.h"
#include "startupsteps.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSet>
#include <QSlider>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

QByteArray shippedHandCursor()
{
    QFile file(QStringLiteral(PAGELIFT_RESOURCES_DIR "/HAND-M.CUR"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const char kSkin[] = "QPushButton { color: rgb(1, 2, 3); }\n";

// What the window looks like at one moment of its start-up.
struct Snapshot
{
    bool centred = false;
    bool skinned = false;
    QString caption;
    bool hasIcon = false;
    bool hasHand = false;
    int draws = 0;
    int splashShows = 0;
    int columns = 0;
    int quality = 0;
};

// Takes snapshots whenever the splash window appears.
class SplashWatcher : public QObject
{
public:
    SplashWatcher() { qApp->installEventFilter(this); }
    ~SplashWatcher() override { qApp->removeEventFilter(this); }
    int shows = 0;
    std::function<void()> onShow;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<Splash *>(watched)) {
            ++shows;
            if (onShow)
                onShow();
        }
        return false;
    }
};

// A skin engine that notes every call it receives, then does its work.
class RecordingSkinEngine : public SkinEngine
{
public:
    QStringList calls;
    LoadResult loadSkin(const QString &file, const QString &schema) override
    {
        calls << QStringLiteral("loadSkin(%1,%2)").arg(file, schema);
        return SkinEngine::loadSkin(file, schema);
    }
    int options() const override
    {
        const_cast<RecordingSkinEngine *>(this)->calls << QStringLiteral("options()");
        return SkinEngine::options();
    }
    void setOptions(int options) override
    {
        calls << QStringLiteral("setOptions(%1)").arg(options);
        SkinEngine::setOptions(options);
    }
    void setEnabled(bool on) override
    {
        calls << QStringLiteral("setEnabled(%1)").arg(on);
        SkinEngine::setEnabled(on);
    }
    void setFollowSystemColors(bool on) override
    {
        calls << QStringLiteral("setFollowSystemColors(%1)").arg(on);
        SkinEngine::setFollowSystemColors(on);
    }
    void applyWindow(QWidget *window) override
    {
        calls << QStringLiteral("applyWindow(%1)").arg(window->objectName());
        SkinEngine::applyWindow(window);
    }
};

Splash *splashWindow()
{
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *splash = qobject_cast<Splash *>(window))
            return splash;
    return nullptr;
}

QColor buttonFace()
{
    return QApplication::palette().color(QPalette::Button);
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;

    static Snapshot snapshot(MainWindow &window, const StartupRig &rig, const SplashWatcher &watcher)
    {
        Snapshot s;
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        s.centred = qAbs(window.frameGeometry().center().x() - screen.center().x()) <= 1 &&
                    qAbs(window.frameGeometry().center().y() - screen.center().y()) <= 1;
        s.skinned = window.palette().color(QPalette::Window) == buttonFace();
        s.caption = window.windowTitle();
        s.hasIcon = !window.windowIcon().isNull();
        s.hasHand = window.hasMouseIcon();
        s.draws = rig.draws;
        s.splashShows = watcher.shows;
        s.columns = window.fileList->columnCount();
        s.quality = window.qualitySlider->value();
        return s;
    }

    // Moves the mouse onto `target` at `at` (its own coordinates), from a spot over
    // the frame's caption, where the rule changes nothing.
    static void moveOnto(MainWindow &window, QWidget *target, QPoint at)
    {
        QTest::mouseMove(&window, window.qualityFrame->geometry().topLeft() + QPoint(200, 3));
        QTest::mouseMove(target, at);
    }

private slots:
    void initTestCase()
    {
        useTemporaryConfigFolder(m_config);
        QVERIFY(buttonFace() != QColor(Qt::white)); // else the skin could not be seen
        QVERIFY(!shippedHandCursor().isEmpty());
    }

    void cleanup()
    {
        childprocesses::killAll();
        QVERIFY(!splashWindow()); // each splash goes with its main window
    }

    // Steps 1 to 5 are done when the home page is drawn for, the splash comes next,
    // and the column and the quality only after it.
    void loadOrder()
    {
        StartupRig rig;
        rig.addSplashPicture("s.png", QSize(300, 200), Qt::blue);
        rig.addFile("HAND-M.CUR", shippedHandCursor());
        rig.addFile("x/o.cjs", kSkin);
        rig.store("Slider1", "40");
        MainWindow window(rig.environment());
        SplashWatcher watcher;
        QList<Snapshot> atDraw, atSplash;
        rig.onDraw = [&] { atDraw << snapshot(window, rig, watcher); };
        watcher.onShow = [&] { atSplash << snapshot(window, rig, watcher); };

        loadMainWindow(window);
        const Snapshot end = snapshot(window, rig, watcher);

        QCOMPARE(atDraw.size(), 1);
        QVERIFY(atDraw[0].centred);
        QVERIFY(atDraw[0].skinned);
        QCOMPARE(atDraw[0].caption, QStringLiteral("Pagelift"));
        QVERIFY(atDraw[0].hasIcon);
        QVERIFY(atDraw[0].hasHand);
        QCOMPARE(atDraw[0].splashShows, 0);
        QCOMPARE(atDraw[0].columns, 0);
        QCOMPARE(atDraw[0].quality, 1); // the slider's designed value

        QCOMPARE(atSplash.size(), 1);
        QCOMPARE(atSplash[0].draws, 1);
        QCOMPARE(atSplash[0].columns, 0);
        QCOMPARE(atSplash[0].quality, 1);

        QCOMPARE(end.splashShows, 1);
        QCOMPARE(end.columns, 1);
        QCOMPARE(end.quality, 40);
        QVERIFY(!window.isVisible()); // the caller shows it
        QVERIFY(splashWindow());
        QVERIFY(!splashWindow()->isVisible());
    }

    void iconIsTheProgramsOwn()
    {
        StartupRig rig;
        MainWindow window(rig.environment());
        loadMainWindow(window);
        const QImage shipped(QStringLiteral(PAGELIFT_RESOURCES_DIR "/icons/32x32/pagelift.png"));
        QCOMPARE(shipped.size(), QSize(32, 32));
        const QImage icon = window.windowIcon().pixmap(32, 32).toImage();
        // Compared with its transparency, as the window holds it.
        QCOMPARE(icon.convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 shipped.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    }

    void listColumn()
    {
        StartupRig rig;
        MainWindow window(rig.environment());
        loadMainWindow(window);
        QCOMPARE(window.fileList->columnCount(), 1);
        QCOMPARE(window.fileList->headerItem()->text(0), QStringLiteral(" Word File(s)"));
        QCOMPARE(window.fileList->columnWidth(0), 380); // 5700 twips
        QVERIFY(!window.fileList->isHeaderHidden());
    }

    void firstStart()
    {
        StartupRig rig;
        rig.addSplashPicture("s.png", QSize(300, 200), Qt::blue);
        MainWindow window(rig.environment());
        SplashWatcher watcher;
        loadMainWindow(window);
        QCOMPARE(window.qualitySlider->value(), 75);
        QCOMPARE(window.windowTitle(), QStringLiteral("Pagelift"));
        QCOMPARE(watcher.shows, 1);
        // Reading the defaults wrote nothing.
        QVERIFY(!QFile::exists(rig.settingsFile()));
    }

    void restoredQuality_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("quality");
        QTest::newRow("40 with blanks") << " 40 " << 40;
        QTest::newRow("fraction") << "89.7" << 90;
        QTest::newRow("above the range") << "500" << 100;
        QTest::newRow("not a number") << "high" << 75;
    }

    void restoredQuality()
    {
        QFETCH(QString, stored);
        QFETCH(int, quality);
        StartupRig rig;
        rig.store("Slider1", stored);
        MainWindow window(rig.environment());
        loadMainWindow(window);
        QCOMPARE(window.qualitySlider->value(), quality);
        QCOMPARE(rig.stored("Slider1").toString(), stored); // restoring writes nothing
    }

    void everySliderChangeIsStored()
    {
        StartupRig rig;
        {
            MainWindow window(rig.environment());
            loadMainWindow(window);
            window.qualitySlider->setValue(60);
            QCOMPARE(rig.stored("Slider1").toString(), QStringLiteral("60"));
            window.qualitySlider->setValue(80);
            QCOMPARE(rig.stored("Slider1").toString(), QStringLiteral("80"));
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            window.qualitySlider->setFocus();
            QTest::keyClick(window.qualitySlider, Qt::Key_Right);
            QCOMPARE(rig.stored("Slider1").toString(), QStringLiteral("81"));
            QTest::keyClick(window.qualitySlider, Qt::Key_PageDown);
            QCOMPARE(rig.stored("Slider1").toString(), QStringLiteral("76"));
        }
        MainWindow next(rig.environment());
        loadMainWindow(next);
        QCOMPARE(next.qualitySlider->value(), 76);
    }

    void pointerRule_data()
    {
        QTest::addColumn<QString>("target"); // a control's name, or "background"
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::newRow("PushButton1 gives the hand") << "PushButton1" << 0 << 99;
        QTest::newRow("PushButton2 gives the hand") << "PushButton2" << 0 << 99;
        QTest::newRow("PushButton4 gives the hand") << "PushButton4" << 0 << 99;
        QTest::newRow("background gives the arrow") << "background" << 99 << 0;
        QTest::newRow("list gives the arrow") << "ListView1" << 99 << 0;
        QTest::newRow("list header gives the arrow") << "header" << 99 << 0;
        QTest::newRow("frame keeps the hand") << "Frame1" << 99 << 99;
        QTest::newRow("frame keeps the arrow") << "Frame1" << 0 << 0;
        QTest::newRow("slider keeps the hand") << "Slider1" << 99 << 99;
        QTest::newRow("progress bar keeps the hand") << "ProgressBar1" << 99 << 99;
        QTest::newRow("hourglass stays over PushButton1") << "PushButton1" << 11 << 11;
        QTest::newRow("hourglass stays over PushButton2") << "PushButton2" << 11 << 11;
        QTest::newRow("hourglass stays over the list") << "ListView1" << 11 << 11;
        QTest::newRow("hourglass stays over the background") << "background" << 11 << 11;
    }

    void pointerRule()
    {
        QFETCH(QString, target);
        QFETCH(int, before);
        QFETCH(int, after);
        StartupRig rig;
        rig.addFile("HAND-M.CUR", shippedHandCursor());
        MainWindow window(rig.environment());
        loadMainWindow(window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QWidget *widget = &window;
        QPoint at(3, 3); // the window's margin: bare background
        if (target == QLatin1String("ListView1")) {
            widget = window.fileList->viewport();
            at = widget->rect().center();
        } else if (target == QLatin1String("header")) {
            widget = window.fileList->header()->viewport();
            at = QPoint(30, widget->height() / 2);
        } else if (target != QLatin1String("background")) {
            widget = window.findChild<QWidget *>(target);
            QVERIFY(widget);
            at = widget->rect().center();
            if (target == QLatin1String("Frame1"))
                at = QPoint(widget->width() - 4, 3); // beside the caption, off the slider
        }
        moveOnto(window, &window, QPoint(1, 1)); // settle on a known spot first
        window.setMousePointer(MousePointer(before));
        moveOnto(window, widget, at);
        QCOMPARE(int(window.mousePointer()), after);

        const Qt::CursorShape shape = after == 11   ? Qt::WaitCursor
                                      : after == 99 ? Qt::BitmapCursor
                                                    : Qt::ArrowCursor;
        QCOMPARE(widget->cursor().shape(), shape);
    }

    void handFromTheCursorFile()
    {
        StartupRig rig;
        rig.addFile("HAND-M.CUR", shippedHandCursor());
        MainWindow window(rig.environment());
        loadMainWindow(window);
        QVERIFY(window.hasMouseIcon());
        QCOMPARE(window.mousePointer(),
                 MousePointer::Arrow); // the rule switches it, not the start-up
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        moveOnto(window, window.startButton, window.startButton->rect().center());
        const QCursor cursor = window.startButton->cursor();
        QCOMPARE(cursor.shape(), Qt::BitmapCursor);
        const CursorFile file = CursorFile::fromData(shippedHandCursor());
        QCOMPARE(cursor.hotSpot(), file.hotSpot);
        QCOMPARE(cursor.pixmap().toImage().convertToFormat(QImage::Format_ARGB32), file.image);
    }

    void noHandWithoutTheFile_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file
        QTest::newRow("no file") << QByteArray();
        QTest::newRow("not a cursor") << QByteArray("GIF89a, not a cursor at all");
    }

    void noHandWithoutTheFile()
    {
        QFETCH(QByteArray, content);
        StartupRig rig;
        if (!content.isEmpty())
            rig.addFile("HAND-M.CUR", content);
        MainWindow window(rig.environment());
        loadMainWindow(window);
        QVERIFY(!window.hasMouseIcon());
        QCOMPARE(window.fileList->columnCount(), 1); // start-up went on
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        moveOnto(window, window.addFilesButton, window.addFilesButton->rect().center());
        QCOMPARE(window.mousePointer(), MousePointer::Hand);
        QCOMPARE(window.addFilesButton->cursor().shape(), Qt::ArrowCursor);
    }

    void skinPresent()
    {
        StartupRig rig;
        rig.addFile("x/o.cjs", kSkin);
        MainWindow window(rig.environment());
        loadMainWindow(window);
        QCOMPARE(window.palette().color(QPalette::Window), buttonFace());
        QCOMPARE(window.qualityFrame->palette().color(QPalette::Window), buttonFace());
        QCOMPARE(window.styleSheet(), QString::fromLatin1(kSkin));
        // The buttons, the list and the progress bar keep their designed colours.
        QCOMPARE(window.addFilesButton->palette().color(QPalette::Button), QColor(Qt::white));
        QCOMPARE(window.progressBar->palette().color(QPalette::Base), QColor(Qt::white));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.addFilesButton->palette().color(QPalette::ButtonText), QColor(1, 2, 3));
    }

    void skinAbsent_data()
    {
        QTest::addColumn<QString>("make"); // what lies at x/o.cjs
        QTest::newRow("nothing") << "";
        QTest::newRow("a folder of that name") << "folder";
        QTest::newRow("a hidden file beside it") << "hidden";
        QTest::newRow("another case") << "case";
    }

    void skinAbsent()
    {
        QFETCH(QString, make);
        StartupRig rig;
        if (make == QLatin1String("folder"))
            QVERIFY(QDir(rig.programFolder()).mkpath("x/o.cjs"));
        else if (make == QLatin1String("hidden"))
            rig.addFile("x/.o.cjs", kSkin);
        else if (make == QLatin1String("case"))
            rig.addFile("x/O.CJS", kSkin);
        MainWindow window(rig.environment());
        loadMainWindow(window);
        QCOMPARE(window.palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(window.qualityFrame->palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(window.styleSheet().isEmpty());
    }

    void skinCallsInOrder()
    {
        StartupRig rig;
        rig.addFile("x/o.cjs", kSkin);
        MainWindow window(rig.environment());
        RecordingSkinEngine engine;
        engine.SkinEngine::setOptions(0x6); // bits already set stay set
        applySkin(window, engine, rig.programFolder());
        const QString path = rig.programFolder() + "/x/o.cjs";
        QCOMPARE(engine.calls, QStringList({QStringLiteral("loadSkin(%1,)").arg(path), "options()",
                                            "setOptions(7)", "setEnabled(1)",
                                            "setFollowSystemColors(1)", "applyWindow(Form1)"}));
        QCOMPARE(window.styleSheet(), QString::fromLatin1(kSkin));
    }

    void noSkinNoCalls()
    {
        StartupRig rig;
        MainWindow window(rig.environment());
        RecordingSkinEngine engine;
        applySkin(window, engine, rig.programFolder());
        QVERIFY(engine.calls.isEmpty());
    }

    void splashIsNotRecoloured()
    {
        StartupRig rig;
        rig.addFile("x/o.cjs", kSkin);
        rig.addSplashPicture("s.png", QSize(60, 40), Qt::blue);
        MainWindow window(rig.environment());
        loadMainWindow(window);
        const Splash *splash = splashWindow();
        QVERIFY(splash);
        QCOMPARE(splash->hideCheckBox->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(splash->palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(splash->styleSheet().isEmpty());
    }

    void homePage_data()
    {
        QTest::addColumn<double>("draw");
        QTest::addColumn<bool>("opens");
        QTest::newRow("7, lowest") << 0.06 << true;
        QTest::newRow("7, highest") << 0.0699999 << true;
        QTest::newRow("6") << 0.0599999 << false;
        QTest::newRow("8") << 0.07 << false;
        QTest::newRow("1") << 0.0 << false;
        QTest::newRow("100") << 0.9999999 << false;
        QTest::newRow("50") << 0.5 << false;
    }

    void homePage()
    {
        QFETCH(double, draw);
        QFETCH(bool, opens);
        StartupRig rig;
        rig.draw = draw;
        MainWindow window(rig.environment());
        loadMainWindow(window);
        QCOMPARE(rig.draws, 1);
        QCOMPARE(rig.opened,
                 opens ? QStringList{"https://orvanta.example/pagelift"} : QStringList());
        QCOMPARE(window.fileList->columnCount(), 1); // start-up went on
        QCOMPARE(window.qualitySlider->value(), 75);
    }

    void homePageNumbers()
    {
        QCOMPARE(homePageNumber(0.0), 1);
        QCOMPARE(homePageNumber(0.999999), 100);
    }

    // The draw of every second of a day: within [0, 1), the same for every moment of
    // one second, and the home page (7) comes up on about one start in a hundred.
    void timeOfDayDraws()
    {
        const QTime noon(12, 0, 0);
        QCOMPARE(timeOfDayRandomFraction(noon.addMSecs(999)), timeOfDayRandomFraction(noon));
        int sevens = 0;
        QSet<double> distinct;
        for (int second = 0; second < 24 * 3600; ++second) {
            const double r = timeOfDayRandomFraction(QTime(0, 0).addSecs(second));
            QVERIFY2(r >= 0 && r < 1, qPrintable(QString::number(second)));
            sevens += homePageNumber(r) == 7;
            distinct.insert(r);
        }
        QVERIFY2(sevens > 600 && sevens < 1200, qPrintable(QString::number(sevens)));
        QVERIFY(distinct.size() > 86000);
    }

    void closingKillsTheEnginesAndEnds()
    {
        StartupRig rig;
        MainWindow window(rig.environment());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QProcess engine;
        engine.start("sleep", {"60"});
        QVERIFY(engine.waitForStarted(10000));
        childprocesses::add(engine.processId());

        window.close();
        QCOMPARE(rig.ends, 1);
        QVERIFY(engine.waitForFinished(10000));
        QCOMPARE(engine.exitStatus(), QProcess::CrashExit);
        QCOMPARE(childprocesses::count(), 0);
    }

    // The real end, in a program of its own: the window closes while a long
    // operation pumps events, and nothing after that runs.
    void closingInsideLongWorkEndsAtOnce()
    {
        QProcess program;
        program.start(QCoreApplication::applicationDirPath() + "/closeduringwork", {});
        QVERIFY(program.waitForFinished(15000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        const QString out = QString::fromLocal8Bit(program.readAllStandardOutput());
        QCOMPARE(program.exitCode(), 0);
        QVERIFY2(!out.contains("continued"), qPrintable(out));
        const pid_t pid = out.trimmed().toInt();
        QVERIFY(pid > 0);
        // The engine stand-in was killed; once reaped it is gone.
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid, 0) != 0 && errno == ESRCH, 10000);
    }

    // Started with documents and folders on its command line (a file manager's "Open
    // with", or a shell), the window has them in its list: files as they stand, folders
    // as a drop adds them, Qt's own options left out, names kept as their bytes.
    void documentsOnTheCommandLineAreListed()
    {
        QTemporaryDir dir;
        StartupRig rig;
        rig.store("ShowAgain", "1");
        const QByteArray root = QFile::encodeName(dir.path());
        QVERIFY(QDir().mkpath(dir.filePath("folder/deeper")));
        QVERIFY(writeFile(dir.filePath("folder/a.doc"), "x"));
        QVERIFY(writeFile(dir.filePath("folder/deeper/b.txt"), "x"));
        const QByteArray odd = root + "/r\xE9sum\xE9.doc";
        QVERIFY(writeFile(decodePath(odd), "x"));

        // Through a script, which passes the name's bytes as they are.
        const QString script = dir.filePath("start.sh");
        QVERIFY(writeFile(script, "exec '" +
                                      QFile::encodeName(QCoreApplication::applicationDirPath()) +
                                      "/openwith' -platform offscreen '" + odd + "' '" + root +
                                      "/folder' '" + root + "/missing.docx'\n"));
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", rig.settingsFolder());
        program.setProcessEnvironment(environment);
        program.start("/bin/sh", {script});
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 0);
        const QList<QByteArray> rows = program.readAllStandardOutput().split('\n');
        QCOMPARE(rows.mid(0, 4),
                 (QList<QByteArray>{odd, root + "/folder/a.doc", root + "/folder/deeper/b.txt",
                                    root + "/missing.docx"}));
    }

    // The user closes the window with the window system's close button while the
    // engine is busy with a long call: the program ends at once, engine and all,
    // instead of when the call runs into its time limit. On a real X display.
    void closingDuringAnEngineCallEndsAtOnce()
    {
        QTemporaryDir dir;
        const QString script = writeScript(dir.path(), "slow.doc", "hang open\n");
        QProcess program;
        program.setProcessEnvironment([] {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("QT_QPA_PLATFORM", "xcb");
            return environment;
        }());
        // A process group of its own, so that nothing of it outlives a failed check.
        program.setChildProcessModifier([] { ::setpgid(0, 0); });
        program.start("xvfb-run",
                      {"-a", QCoreApplication::applicationDirPath() + "/closeduringcall",
                       QStringLiteral(PAGELIFT_FAKE_ENGINE_DIR), script});
        QVERIFY(program.waitForStarted(10000));
        const pid_t group = pid_t(program.processId());
        const auto endGroup = qScopeGuard([group] { ::kill(-group, SIGKILL); });
        // Well before the engine's 30-second call would end by itself.
        QVERIFY(program.waitForFinished(20000));
        const QString out = QString::fromLocal8Bit(program.readAllStandardOutput());
        QCOMPARE(program.exitCode(), 0);
        QVERIFY2(!out.contains("continued") && !out.contains("message:"), qPrintable(out));
        const qint64 engine = out.section('\n', 0, 0).toLongLong();
        QVERIFY2(engine > 0, qPrintable(out));
        QTRY_VERIFY_WITH_TIMEOUT(processGone(engine), 10000);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
