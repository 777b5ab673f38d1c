#include "filelistview.h"
#include "lineshape.h"
#include "mainwindow.h"
#include "picturebox.h"
#include "splash.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>

class TestLayouts : public QObject
{
    Q_OBJECT

private:
    static void addGeometryColumns()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("twips"); // left, top, width, height in the container
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("points"); // font size; 0 where the control shows no text
    }

    static void checkGeometry(QWidget *window)
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QRect, twips);
        QFETCH(QString, text);
        QFETCH(double, points);

        auto *control = window->findChild<QWidget *>(name);
        QVERIFY2(control, qPrintable(name));
        QVERIFY2(control->inherits(kind.toLatin1()), control->metaObject()->className());
        // Within the rounding of one logical pixel (15 twips).
        const QRect g = control->geometry();
        QVERIFY2(qAbs(g.x() * 15 - twips.x()) < 15, qPrintable(QString::number(g.x())));
        QVERIFY2(qAbs(g.y() * 15 - twips.y()) < 15, qPrintable(QString::number(g.y())));
        QVERIFY2(qAbs(g.width() * 15 - twips.width()) < 15, qPrintable(QString::number(g.width())));
        QVERIFY2(qAbs(g.height() * 15 - twips.height()) < 15,
                 qPrintable(QString::number(g.height())));
        if (!text.isNull()) {
            const QVariant caption =
                control->property(control->inherits("QGroupBox") ? "title" : "text");
            QCOMPARE(caption.toString(), text);
        }
        if (points > 0) {
            QCOMPARE(control->font().family(), QStringLiteral("Arial"));
            QVERIFY(control->font().bold());
            QCOMPARE(control->font().pointSizeF(), points);
        }
    }

private slots:
    void mainWindowControls_data()
    {
        addGeometryColumns();
        const QString none;
        QTest::newRow("Frame1") << "Frame1"
                                << "QGroupBox" << QRect(120, 2280, 6360, 855) << "JPG Image Quality"
                                << 9.0;
        QTest::newRow("Slider1") << "Slider1"
                                 << "QSlider" << QRect(120, 240, 6120, 495) << none << 0.0;
        QTest::newRow("Creator") << "Creator"
                                 << "PictureBox" << QRect(7200, 180, 255, 255) << none << 0.0;
        QTest::newRow("ListView1") << "ListView1"
                                   << "QTreeWidget" << QRect(120, 120, 6360, 1575) << none << 9.0;
        QTest::newRow("ProgressBar1")
            << "ProgressBar1"
            << "QProgressBar" << QRect(120, 3800, 6360, 405) << none << 9.0;
        QTest::newRow("PushButton1")
            << "PushButton1"
            << "QPushButton" << QRect(120, 1800, 2880, 405) << "Add Word File(s)" << 11.25;
        QTest::newRow("PushButton4") << "PushButton4"
                                     << "QPushButton" << QRect(3120, 1800, 3360, 405)
                                     << "Add All Word Files In Folder" << 11.25;
        QTest::newRow("PushButton2")
            << "PushButton2"
            << "QPushButton" << QRect(120, 3270, 6360, 405) << "Start Saving As JPG" << 11.25;
    }

    void mainWindowControls()
    {
        MainWindow form;
        checkGeometry(&form);
    }

    void mainWindowGeometry()
    {
        MainWindow form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.size(), QSize(440, 288)); // 6600 by 4320 twips
        QCOMPARE(form.minimumSize(), form.maximumSize());
        const Qt::WindowFlags flags = form.windowFlags();
        QVERIFY(flags & Qt::WindowTitleHint);
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QCOMPARE(form.palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(form.qualityFrame->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(form.qualitySlider->parentWidget(), form.qualityFrame);

        // The canvas lies beyond the client area and is never seen.
        QVERIFY(!form.pageCanvas->isVisible());
        QVERIFY(!form.rect().intersects(form.pageCanvas->geometry()));
        form.pageCanvas->setPicture(QImage(900, 1200, QImage::Format_RGB32));
        QCOMPARE(form.pageCanvas->size(), QSize(900, 1200));
        QVERIFY(!form.pageCanvas->isVisible());

        QCOMPARE(form.progressBar->value(), 0);
        QCOMPARE(form.progressBar->minimum(), 0);
    }

    void sliderRange()
    {
        MainWindow form;
        QCOMPARE(form.qualitySlider->orientation(), Qt::Horizontal);
        QCOMPARE(form.qualitySlider->minimum(), 1);
        QCOMPARE(form.qualitySlider->maximum(), 100);
        QCOMPARE(form.qualitySlider->singleStep(), 1);
        QCOMPARE(form.qualitySlider->pageStep(), 5);
        QCOMPARE(form.qualitySlider->tickInterval(), 1);
        QVERIFY(form.qualitySlider->tickPosition() != QSlider::NoTicks);
    }

    void listView()
    {
        MainWindow form;
        FileListView *list = form.fileList;
        QVERIFY(!list->isHeaderHidden());
        QVERIFY(!list->isSortingEnabled());
        QVERIFY(!list->rootIsDecorated());
        QVERIFY(list->acceptDrops());
        QCOMPARE(
            list->toolTip(),
            QStringLiteral("Drag and drop files here. Double-click item to remove it. Move bar "
                           "to right and out of window to reveal full names."));
    }

    void tabOrder()
    {
        MainWindow form;
        const QStringList expected = {"ListView1", "Creator",     "ProgressBar1", "Frame1",
                                      "Slider1",   "PushButton1", "PushButton4",  "PushButton2"};
        QStringList seen;
        QWidget *w = form.fileList;
        do {
            if (expected.contains(w->objectName()) && !seen.contains(w->objectName()))
                seen << w->objectName();
            w = w->nextInFocusChain();
        } while (w != form.fileList && seen.size() < expected.size());
        QCOMPARE(seen, expected);
    }

    void splashControls_data()
    {
        addGeometryColumns();
        const QString none;
        QTest::newRow("Check1") << "Check1"
                                << "QCheckBox" << QRect(120, 1200, 4215, 375)
                                << "Hide this at next startup" << 9.0;
        QTest::newRow("Image1") << "Image1"
                                << "PictureBox" << QRect(120, 240, 1215, 855) << none << 0.0;
    }

    void splashControls()
    {
        Splash splash;
        checkGeometry(&splash);
    }

    void splashWindow()
    {
        Splash splash;
        QVERIFY(splash.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(splash.size(), QSize(304, 202)); // 4560 by 3030 twips
        QCOMPARE(splash.palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(!splash.hideCheckBox->isChecked());
        QCOMPARE(splash.hideCheckBox->palette().color(QPalette::Window), QColor(Qt::white));

        const auto &lines = splash.frame;
        const int ys[] = {1800, 2040, 2280, 2520};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(lines[i]->objectName(), QStringLiteral("Line%1").arg(i + 1));
            QCOMPARE(QLineF(lines[i]->x1(), lines[i]->y1(), lines[i]->x2(), lines[i]->y2()),
                     QLineF(240, ys[i], 3480, ys[i]));
            QCOMPARE(lines[i]->geometry().topLeft(), QPoint(16, ys[i] / 15));
        }
    }
};

QTEST_MAIN(TestLayouts)
#include "tst_layouts.moc"
