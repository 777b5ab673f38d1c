#include "errorof.h"
#include "jpegwriter.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

class TestSaveAsJpg : public QObject
{
    Q_OBJECT

private:
    static QImage picture(QImage::Format format = QImage::Format_RGB32)
    {
        // A picture with detail, so that quality changes the file size.
        QImage image(320, 200, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb((x * 7) % 256, (y * 13) % 256, ((x ^ y) * 5) % 256));
        return image.convertToFormat(format);
    }

    static QStringList entries(const QString &folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir m_dir;

private slots:
    void qualityDecidesSizeAndBothDecode()
    {
        const QString low = m_dir.filePath("low.jpg");
        const QString high = m_dir.filePath("high.jpg");
        writeJpeg(picture(), low, 1);
        writeJpeg(picture(), high, 100);
        for (const QString &path : {low, high}) {
            QImageReader reader(path);
            QCOMPARE(reader.format(), QByteArray("jpeg"));
            QCOMPARE(reader.read().size(), QSize(320, 200));
        }
        QVERIFY(QFileInfo(low).size() < QFileInfo(high).size());
    }

    void qualityZeroGivesTheLowestQuality()
    {
        const QString zero = m_dir.filePath("zero.jpg");
        const QString one = m_dir.filePath("one.jpg");
        writeJpeg(picture(), zero, 0);
        writeJpeg(picture(), one, 1);
        QCOMPARE(QImage(zero).size(), QSize(320, 200));
        QVERIFY(QFileInfo(zero).size() <= QFileInfo(one).size());
    }

    void pixelFormats_data()
    {
        QTest::addColumn<QImage::Format>("format");
        QTest::newRow("rgb32") << QImage::Format_RGB32;
        QTest::newRow("argb32") << QImage::Format_ARGB32;
        QTest::newRow("argb32 premultiplied") << QImage::Format_ARGB32_Premultiplied;
        QTest::newRow("rgba8888") << QImage::Format_RGBA8888;
        QTest::newRow("rgbx8888") << QImage::Format_RGBX8888;
        QTest::newRow("rgb888") << QImage::Format_RGB888;
        QTest::newRow("bgr888") << QImage::Format_BGR888;
        QTest::newRow("rgb16 (converted)") << QImage::Format_RGB16;
        QTest::newRow("indexed (converted)") << QImage::Format_Indexed8;
    }

    void pixelFormats()
    {
        // Colours must come out in their own channels whatever the memory layout.
        QFETCH(QImage::Format, format);
        QImage image(64, 64, QImage::Format_RGB32);
        image.fill(Qt::white);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 64; ++x)
                image.setPixel(x, y, x < 32 ? qRgb(220, 20, 20) : qRgb(20, 20, 220));
        const QString path = m_dir.filePath("colours.jpg");
        writeJpeg(image.convertToFormat(format), path, 95);
        const QImage back(path);
        QCOMPARE(back.size(), QSize(64, 64));
        const QRgb red = back.pixel(8, 8), blue = back.pixel(56, 8), white = back.pixel(8, 56);
        QVERIFY2(qRed(red) > 180 && qBlue(red) < 70, qPrintable(QString::number(red, 16)));
        QVERIFY2(qBlue(blue) > 180 && qRed(blue) < 70, qPrintable(QString::number(blue, 16)));
        QVERIFY(qRed(white) > 240 && qGreen(white) > 240 && qBlue(white) > 240);
    }

    void greyPicture()
    {
        const QString path = m_dir.filePath("grey.jpg");
        writeJpeg(picture(QImage::Format_Grayscale8), path, 75);
        QCOMPARE(QImage(path).size(), QSize(320, 200));
    }

    void existingFileIsReplaced()
    {
        const QString path = m_dir.filePath("page_1.jpg");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("BM not a jpeg at all");
        old.close();
        writeJpeg(picture(), path, 75);
        QCOMPARE(QImageReader(path).format(), QByteArray("jpeg"));
        QCOMPARE(entries(m_dir.path()).filter("page_1").size(), 1);
    }

    void unwritablePaths_data()
    {
        QTest::addColumn<QString>("relativePath");
        QTest::addColumn<QString>("setup");
        // A folder where the file would go, and a path below a regular file: both
        // fail for root too.
        QTest::newRow("folder at the path") << "taken/out.jpg"
                                            << "folder";
        QTest::newRow("below a regular file") << "plain/out.jpg"
                                              << "file";
        QTest::newRow("missing folder") << "nowhere/deeper/out.jpg"
                                        << "";
    }

    void unwritablePaths()
    {
        QFETCH(QString, relativePath);
        QFETCH(QString, setup);
        QTemporaryDir dir;
        const QString path = dir.filePath(relativePath);
        const QString first = relativePath.section('/', 0, 0);
        if (setup == "folder") {
            QVERIFY(QDir(dir.path()).mkpath(relativePath));
        } else if (setup == "file") {
            QFile file(dir.filePath(first));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QStringList before = entries(dir.path());
        const auto [number, message] = errorOf([&] { writeJpeg(picture(), path, 75); });
        QCOMPARE(number, 5);
        QCOMPARE(message, QStringLiteral("Cannot save the image. GDI+ Error:7"));
        QCOMPARE(entries(dir.path()), before);
        if (setup == "folder")
            QVERIFY(entries(path).isEmpty());
    }

    void failedCallKeepsEarlierFile_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<int>("quality");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty picture") << QImage() << 75 << "Cannot save the image. GDI+ Error:2";
        QTest::newRow("quality above 100")
            << picture() << 101 << "Cannot save the image. GDI+ Error:2";
    }

    void failedCallKeepsEarlierFile()
    {
        QFETCH(QImage, image);
        QFETCH(int, quality);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath("keep.jpg");
        writeJpeg(picture(), path, 75);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();

        const auto [number, text] = errorOf([&] { writeJpeg(image, path, quint8(quality)); });
        QCOMPARE(number, 5);
        QCOMPARE(text, message);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        QCOMPARE(entries(dir.path()), QStringList{"keep.jpg"});
    }

    void manyCallsInARow()
    {
        QTemporaryDir dir;
        const QImage image = picture();
        for (int i = 1; i <= 60; ++i)
            writeJpeg(image, dir.filePath(QStringLiteral("p_%1.jpg").arg(i % 3)), quint8(i));
        QCOMPARE(entries(dir.path()), (QStringList{"p_0.jpg", "p_1.jpg", "p_2.jpg"}));
        for (const QString &name : entries(dir.path()))
            QCOMPARE(QImage(dir.filePath(name)).size(), QSize(320, 200));
    }
};

QTEST_GUILESS_MAIN(TestSaveAsJpg)
#include "tst_jpegwriter.moc"
