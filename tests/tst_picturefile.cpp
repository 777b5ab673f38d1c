// The intermediate page picture: saved as it lies in memory, read back to the same
// pixels, and a BMP that any reader opens.

#include "picturefile.h"

#include <QBuffer>
#include <QImageReader>
#include <QTest>

namespace {

// Pixels that tell rows, columns and channels apart.
QImage pattern(int width, int height, QImage::Format format, bool translucent)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int alpha = translucent && (x + y) % 3 == 0 ? 128 : 255;
            image.setPixel(x, y, qRgba((x * 7) % 256, (y * 5) % 256, (x + y) % 256, alpha));
        }
    }
    return image.convertToFormat(format);
}

// The same colours, whatever the formats.
bool samePixels(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return false;
    const QImage left = a.convertToFormat(QImage::Format_ARGB32);
    const QImage right = b.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < left.height(); ++y) {
        if (std::memcmp(left.constScanLine(y), right.constScanLine(y), size_t(left.width()) * 4))
            return false;
    }
    return true;
}

} // namespace

class TestPictureFile : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QImage>("picture");
        QTest::newRow("page as the engine hands it over")
            << pattern(31, 17, QImage::Format_ARGB32_Premultiplied, false);
        QTest::newRow("translucent premultiplied")
            << pattern(9, 5, QImage::Format_ARGB32_Premultiplied, true);
        QTest::newRow("translucent") << pattern(9, 5, QImage::Format_ARGB32, true);
        QTest::newRow("opaque RGB32") << pattern(13, 7, QImage::Format_RGB32, false);
        QTest::newRow("24-bit") << pattern(11, 3, QImage::Format_RGB888, false);
        QTest::newRow("grey") << pattern(6, 6, QImage::Format_Grayscale8, false);
        QTest::newRow("one pixel") << pattern(1, 1, QImage::Format_ARGB32_Premultiplied, false);
        // Rows padded beyond the pixels: only the pixels are written.
        const QImage wide = pattern(40, 6, QImage::Format_ARGB32_Premultiplied, false);
        QTest::newRow("padded rows") << QImage(wide.constBits(), 33, 6, wide.bytesPerLine(),
                                               QImage::Format_ARGB32_Premultiplied)
                                            .copy();
    }

    void roundTrip()
    {
        QFETCH(QImage, picture);
        const QByteArray file = savePicture(picture);
        QCOMPARE(file.size(), 128 + qint64(picture.width()) * picture.height() * 4);

        const QImage loaded = loadPicture(file);
        QVERIFY(samePixels(loaded, picture));
        // Qt's own reader agrees: it is a BMP.
        QBuffer buffer;
        buffer.setData(file);
        QImageReader reader(&buffer);
        QCOMPARE(reader.format(), QByteArray("bmp"));
        QVERIFY(samePixels(reader.read(), picture));
    }

    // The loaded picture uses the file's bytes where they lie, and keeps them alive.
    void loadedPictureOutlivesTheFile()
    {
        const QImage picture = pattern(21, 8, QImage::Format_ARGB32_Premultiplied, false);
        QImage loaded;
        {
            const QByteArray file = savePicture(picture);
            loaded = loadPicture(file);
            QCOMPARE(loaded.constBits(), reinterpret_cast<const uchar *>(file.constData()) + 128);
        }
        QVERIFY(samePixels(loaded, picture));
    }

    void otherPicturesAreReadByQt_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("24-bit BMP") << QByteArray("BMP");
        QTest::newRow("PNG") << QByteArray("PNG");
    }

    void otherPicturesAreReadByQt()
    {
        QFETCH(QByteArray, format);
        const QImage picture = pattern(17, 9, QImage::Format_RGB32, false);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(picture.save(&buffer, format.constData()));
        QVERIFY(samePixels(loadPicture(buffer.data()), picture));
    }

    void failures()
    {
        QVERIFY(savePicture(QImage()).isEmpty());
        QVERIFY(loadPicture(QByteArray()).isNull());
        QVERIFY(loadPicture(QByteArray("not a picture at all")).isNull());

        // A file cut short after its header, or grown, is no picture.
        const QByteArray whole = savePicture(pattern(20, 20, QImage::Format_RGB32, false));
        QVERIFY(loadPicture(whole.left(128 + 20 * 4 * 3)).isNull());
        QVERIFY(loadPicture(whole + QByteArray(4, 'x')).isNull());
    }
};

QTEST_MAIN(TestPictureFile)
#include "tst_picturefile.moc"
