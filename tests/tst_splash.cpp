#include "lineshape.h"
#include "picturebox.h"
#include "splash.h"
#include "splashshow.h"
#include "startuprig.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>

namespace {

// Counts the window's appearances and runs a step while it is on screen, from
// inside its pause.
class ShowWatcher : public QObject
{
public:
    explicit ShowWatcher(QWidget *window) { window->installEventFilter(this); }
    int shows = 0;
    std::function<void()> whileShown;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            ++shows;
            if (whileShown)
                QTimer::singleShot(0, this, whileShown);
        }
        return false;
    }
};

SplashEnvironment environmentOf(const StartupRig &rig, std::chrono::milliseconds pause)
{
    return {SettingsStore(rig.settingsFolder()), rig.programFolder(), pause};
}

} // namespace

class TestSplash : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;

private slots:
    void initTestCase() { useTemporaryConfigFolder(m_config); }

    void geometry_data()
    {
        QTest::addColumn<QSizeF>("picture");
        QTest::addColumn<QSizeF>("window");
        QTest::addColumn<QRectF>("check1");
        QTest::newRow("4500 x 3000")
            << QSizeF(4500, 3000) << QSizeF(4500, 3300) << QRectF(120, 2905, 4215, 375);
        QTest::newRow("narrower than the check box")
            << QSizeF(3000, 1500) << QSizeF(3000, 1800) << QRectF(120, 1405, 4215, 375);
        QTest::newRow("a picture lower than the box")
            << QSizeF(6000, 45) << QSizeF(6000, 345) << QRectF(120, -50, 4215, 375);
    }

    void geometry()
    {
        QFETCH(QSizeF, picture);
        QFETCH(QSizeF, window);
        QFETCH(QRectF, check1);
        const SplashGeometry g = splashGeometry(picture);
        QCOMPARE(g.window, window);
        QCOMPARE(g.check1, check1);
        const double w = window.width(), h = window.height();
        QCOMPARE(g.lines[0], QLineF(0, 0, 0, 10000));
        QCOMPARE(g.lines[1], QLineF(0, 0, 10000, 0));
        QCOMPARE(g.lines[2], QLineF(w - 10, 0, w - 10, 10000));
        QCOMPARE(g.lines[3], QLineF(0, h - 10, 10000, h - 10));
    }

    // A picture of 300 x 200 pixels is 4500 x 3000 twips.
    void shownWindow()
    {
        StartupRig rig;
        rig.addSplashPicture("pagelift.png", QSize(300, 200), Qt::darkCyan);
        Splash splash;
        ShowWatcher watcher(&splash);
        bool visible = false;
        QSize size;
        QRect image, check, line3, line4;
        QString title;
        QImage picture, look;
        watcher.whileShown = [&] {
            look = splash.grab().toImage();
            visible = splash.isVisible();
            size = splash.size();
            image = splash.picture->geometry();
            picture = splash.picture->image();
            check = splash.hideCheckBox->geometry();
            line3 = splash.frame[2]->geometry(); // the right edge
            line4 = splash.frame[3]->geometry(); // the bottom edge
            title = splash.windowTitle();
        };
        showSplash(splash, environmentOf(rig, std::chrono::milliseconds(1000)));

        QCOMPARE(watcher.shows, 1);
        QVERIFY(visible);
        QVERIFY(!splash.isVisible());
        QCOMPARE(title, QStringLiteral("Pagelift"));
        QCOMPARE(size, QSize(300, 220));
        QCOMPARE(image, QRect(0, 0, 300, 220));
        QCOMPARE(picture.size(), QSize(300, 200));
        QCOMPARE(picture.pixelColor(150, 100), QColor(Qt::darkCyan));
        QVERIFY2(qAbs(check.y() * 15 - 2905) < 15, qPrintable(QString::number(check.y())));
        QCOMPARE(check.x(), 8);
        QCOMPARE(check.height(), 25);
        QCOMPARE(line3.x(), 299); // 4490 twips: one pixel inside the right edge
        QCOMPARE(line4.y(), 219); // 3290 twips
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        // Placed while shown; the window keeps its place when hidden.
        QCOMPARE(splash.pos(), QPoint(screen.x() + (screen.width() - 300) / 2,
                                      screen.y() + (screen.height() - 220) / 2));
        QVERIFY(!splash.hideCheckBox->isChecked());
        QVERIFY(!rig.stored("ShowAgain").isValid()); // shown, but nothing written

        // The four frame lines along the edges, over the picture and the strip; the
        // strip itself is white.
        QCOMPARE(look.size(), QSize(300, 220));
        const QColor ink = splash.palette().color(QPalette::WindowText);
        QCOMPARE(look.pixelColor(0, 100), ink);
        QCOMPARE(look.pixelColor(150, 0), ink);
        QCOMPARE(look.pixelColor(299, 100), ink);
        QCOMPARE(look.pixelColor(150, 219), ink);
        QCOMPARE(look.pixelColor(150, 100), QColor(Qt::darkCyan));
        QCOMPARE(look.pixelColor(290, 210), QColor(Qt::white));
    }

    void showAgainDecides_data()
    {
        QTest::addColumn<QString>("stored"); // a null text: no key at all
        QTest::addColumn<bool>("shown");
        QTest::newRow("no key") << QString() << true;
        QTest::newRow("0") << "0" << true;
        QTest::newRow("0.0") << "0.0" << true;
        QTest::newRow("0 with blanks") << " 0 " << true;
        QTest::newRow("not a number") << "never" << true;
        QTest::newRow("1") << "1" << false;
        QTest::newRow("2") << "2" << false;
        QTest::newRow("-1") << "-1" << false;
        QTest::newRow("a fraction is not 0") << "0.4" << false;
    }

    void showAgainDecides()
    {
        QFETCH(QString, stored);
        QFETCH(bool, shown);
        StartupRig rig;
        rig.addSplashPicture("a.png", QSize(40, 30), Qt::red);
        if (!stored.isNull())
            rig.store("ShowAgain", stored);
        Splash splash;
        ShowWatcher watcher(&splash);
        showSplash(splash, environmentOf(rig, std::chrono::milliseconds(50)));
        QCOMPARE(watcher.shows, shown ? 1 : 0);
        QVERIFY(!splash.isVisible());
        // Reading never changes what is stored.
        QCOMPARE(rig.stored("ShowAgain").toString(), stored);
    }

    // The folder's own listing order decides, not the alphabet, and it decides the
    // same way at every start.
    void firstListedPictureWins()
    {
        StartupRig rig;
        QMap<QString, QColor> pictures = {
            {"m.png", Qt::red}, {"b.png", Qt::green}, {"x.png", Qt::blue}, {"k.png", Qt::magenta}};
        for (auto it = pictures.cbegin(); it != pictures.cend(); ++it)
            rig.addSplashPicture(it.key(), QSize(20, 20), it.value());
        // Neither a hidden file nor a folder is ever the one.
        rig.addSplashPicture(".0.png", QSize(20, 20), Qt::black);
        QVERIFY(QDir(rig.programFolder()).mkpath("Splash/0.png"));

        const QString folder = rig.programFolder() + "/Splash";
        auto listing = [&] {
            return QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
        };
        // Names that sort first are added until the listing no longer starts with the
        // alphabet's first, so that the two orders tell apart.
        for (int i = 0; i < 25 && listing().first() == pictures.firstKey(); ++i) {
            const QString name = QStringLiteral("0%1.png").arg(QChar('z' - i));
            const QColor colour = QColor::fromHsv(i * 14, 255, 200);
            pictures.insert(name, colour);
            rig.addSplashPicture(name, QSize(20, 20), colour);
        }
        const QStringList listed = listing();
        QCOMPARE(listed.size(), pictures.size());
        if (listed.first() == pictures.firstKey())
            qWarning("this file system lists in the alphabet's order");
        const QColor expected = pictures.value(listed.first());
        QCOMPARE(firstListedFile(folder), listed.first());

        for (int start = 0; start < 3; ++start) {
            Splash splash;
            ShowWatcher watcher(&splash);
            showSplash(splash, environmentOf(rig, std::chrono::milliseconds(20)));
            QCOMPARE(watcher.shows, 1);
            QCOMPARE(splash.picture->image().pixelColor(10, 10), expected);
        }
    }

    void tickThenUntickLeavesZero()
    {
        StartupRig rig;
        rig.addSplashPicture("a.png", QSize(300, 200), Qt::yellow);
        Splash splash;
        ShowWatcher watcher(&splash);
        QStringList storedMeanwhile;
        watcher.whileShown = [&] {
            QTest::mouseClick(splash.hideCheckBox, Qt::LeftButton, {},
                              QPoint(6, splash.hideCheckBox->height() / 2));
            storedMeanwhile << rig.stored("ShowAgain").toString();
            QTest::keyClick(splash.hideCheckBox, Qt::Key_Space);
            storedMeanwhile << rig.stored("ShowAgain").toString();
        };
        showSplash(splash, environmentOf(rig, std::chrono::milliseconds(1500)));
        QCOMPARE(storedMeanwhile, QStringList({"1", "0"}));
        QCOMPARE(rig.stored("ShowAgain").toString(), QStringLiteral("0"));

        Splash next;
        ShowWatcher nextWatcher(&next);
        showSplash(next, environmentOf(rig, std::chrono::milliseconds(20)));
        QCOMPARE(nextWatcher.shows, 1);
    }

    void tickKeepsItAwayNextTime()
    {
        StartupRig rig;
        rig.addSplashPicture("a.png", QSize(300, 200), Qt::yellow);
        Splash splash;
        ShowWatcher watcher(&splash);
        watcher.whileShown = [&] { splash.hideCheckBox->click(); };
        showSplash(splash, environmentOf(rig, std::chrono::milliseconds(500)));
        QCOMPARE(rig.stored("ShowAgain").toString(), QStringLiteral("1"));

        // After the pause the box no longer writes.
        splash.hideCheckBox->click();
        QCOMPARE(rig.stored("ShowAgain").toString(), QStringLiteral("1"));

        Splash next;
        ShowWatcher nextWatcher(&next);
        showSplash(next, environmentOf(rig, std::chrono::milliseconds(20)));
        QCOMPARE(nextWatcher.shows, 0);
    }

    void shownOncePerRun()
    {
        StartupRig rig;
        rig.addSplashPicture("a.png", QSize(30, 20), Qt::yellow);
        Splash splash;
        ShowWatcher watcher(&splash);
        showSplash(splash, environmentOf(rig, std::chrono::milliseconds(20)));
        showSplash(splash, environmentOf(rig, std::chrono::milliseconds(20)));
        QCOMPARE(watcher.shows, 1);
        QVERIFY(!splash.isVisible());
    }

    // With the shipped pause of four seconds: nothing to show returns far sooner.
    void nothingToShowNoDelay_data()
    {
        QTest::addColumn<QStringList>("files"); // relative to the program folder
        QTest::addColumn<QString>("showAgain");
        QTest::newRow("no folder") << QStringList() << QString();
        QTest::newRow("empty folder") << QStringList({"Splash/"}) << QString();
        QTest::newRow("only hidden files")
            << QStringList({"Splash/.hidden.png", "Splash/.also.bmp"}) << QString();
        QTest::newRow("only a folder") << QStringList({"Splash/pictures/"}) << QString();
        QTest::newRow("not a picture") << QStringList({"Splash/notes.png"}) << QString();
        QTest::newRow("ShowAgain 1") << QStringList({"Splash/good.png"}) << "1";
    }

    void nothingToShowNoDelay()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, showAgain);
        StartupRig rig;
        for (const QString &file : files) {
            if (file.endsWith('/'))
                QVERIFY(QDir(rig.programFolder()).mkpath(file));
            else if (file.endsWith("good.png") || file.contains("/."))
                rig.addSplashPicture(file.mid(file.indexOf('/') + 1), QSize(30, 20), Qt::red);
            else
                rig.addFile(file, "this is text, not a picture");
        }
        if (!showAgain.isNull())
            rig.store("ShowAgain", showAgain);

        Splash splash;
        ShowWatcher watcher(&splash);
        QElapsedTimer clock;
        clock.start();
        showSplash(splash, environmentOf(rig, std::chrono::seconds(4)));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(watcher.shows, 0);
        QVERIFY(!splash.isVisible());
        QCOMPARE(rig.stored("ShowAgain").toString(), showAgain);
    }
};

QTEST_MAIN(TestSplash)
#include "tst_splash.moc"
