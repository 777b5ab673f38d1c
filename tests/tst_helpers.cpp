#include "windowplacement.h"
#include "dirlisting.h"
#include "twips.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

class TestHelpers : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QFile file(m_dir.filePath("page.doc"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x");
        QVERIFY(QDir(m_dir.path()).mkdir("folder"));
        QFile empty(m_dir.filePath("empty.doc"));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(m_dir.filePath("gone.doc"), m_dir.filePath("dangling.doc")));
    }

    void centeredPosition_data()
    {
        QTest::addColumn<QSizeF>("window");
        QTest::addColumn<QSizeF>("screen");
        QTest::addColumn<QPointF>("expected");
        QTest::newRow("half as wide: a quarter in")
            << QSizeF(9600, 3000) << QSizeF(19200, 14400) << QPointF(4800, 5700);
        QTest::newRow("splash example")
            << QSizeF(4500, 3300) << QSizeF(19200, 14400) << QPointF(7350, 5550);
        QTest::newRow("as large as the screen")
            << QSizeF(19200, 14400) << QSizeF(19200, 14400) << QPointF(0, 0);
        QTest::newRow("wider than the screen")
            << QSizeF(24000, 3000) << QSizeF(19200, 14400) << QPointF(-2400, 5700);
        QTest::newRow("taller than the screen")
            << QSizeF(6600, 16000) << QSizeF(19200, 14400) << QPointF(6300, -800);
        QTest::newRow("odd difference keeps the half")
            << QSizeF(6615, 4335) << QSizeF(19200, 14400) << QPointF(6292.5, 5032.5);
    }

    void centeredPosition()
    {
        QFETCH(QSizeF, window);
        QFETCH(QSizeF, screen);
        QFETCH(QPointF, expected);
        QCOMPARE(::centeredPosition(window, screen), expected);
    }

    void centerOnScreen_data()
    {
        QTest::addColumn<QSize>("size"); // as a fraction of the screen, in percent
        QTest::newRow("half the screen") << QSize(50, 50);
        QTest::newRow("small") << QSize(10, 20);
        QTest::newRow("wider than the screen") << QSize(150, 40);
        QTest::newRow("larger both ways") << QSize(130, 120);
    }

    void centerOnScreen()
    {
        QFETCH(QSize, size);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QWidget window;
        window.setFixedSize(screen.width() * size.width() / 100,
                            screen.height() * size.height() / 100);
        window.move(3, 7);
        ::centerOnScreen(&window);
        const QPoint expected(screen.x() + (screen.width() - window.width()) / 2,
                              screen.y() + (screen.height() - window.height()) / 2);
        // Within the rounding of one pixel; the size never changes.
        QVERIFY2(qAbs(window.x() - expected.x()) <= 1, qPrintable(QString::number(window.x())));
        QVERIFY2(qAbs(window.y() - expected.y()) <= 1, qPrintable(QString::number(window.y())));
        QCOMPARE(window.size(),
                 QSize(screen.width() * size.width() / 100, screen.height() * size.height() / 100));
        if (size.width() > 100)
            QVERIFY(window.x() < screen.x());
    }

    void fileExists_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<bool>("exists");
        QTest::newRow("a file") << "page.doc" << true;
        QTest::newRow("an empty file") << "empty.doc" << true;
        QTest::newRow("a missing file") << "nothing.doc" << false;
        QTest::newRow("a file in a missing folder") << "nowhere/page.doc" << false;
        QTest::newRow("a folder ending in a separator") << "folder/" << false;
        QTest::newRow("the root of the temporary folder") << "/" << false;
        QTest::newRow("a file named with a separator at the end") << "page.doc/" << false;
        QTest::newRow("a link to nothing") << "dangling.doc" << false;
        QTest::newRow("a folder without a separator") << "folder" << true;
    }

    void fileExists()
    {
        QFETCH(QString, relative);
        QFETCH(bool, exists);
        const QString path =
            relative == QLatin1String("/") ? m_dir.path() + relative : m_dir.filePath(relative);
        QCOMPARE(::fileExists(path), exists);
    }

    void fileExistsOfNothing()
    {
        QVERIFY(!::fileExists(QString()));
        QVERIFY(!::fileExists(QStringLiteral("relative/does/not/exist")));
    }
};

QTEST_MAIN(TestHelpers)
#include "tst_helpers.moc"
