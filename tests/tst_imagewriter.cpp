// The PNG and WebP writers, and the grey pictures of all three formats: each file
// decodes to the picture it was given, exactly where the format is lossless.

#include "imagewriter.h"
#include "pagecompare.h"
#include "pngrows.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <webp/decode.h>

namespace {

// A page-like picture: white paper, a band of noise (which no encoder can guess) and
// grey and coloured text-like strokes.
QImage page(int width = 300, int height = 420)
{
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QRandomGenerator random(7);
    for (int y = height / 3; y < height / 3 + 40; ++y) {
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, random.generate() | 0xFF000000u);
    }
    for (int y = 0; y < height; y += 9) {
        for (int x = 10; x < width - 10; x += 3)
            picture.setPixel(x, y, y % 2 ? qRgb(20, 20, 20) : qRgb(200, 30, 60));
    }
    return picture;
}

QImage decoded(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (!path.endsWith(".webp"))
        return QImage::fromData(bytes);
    int width = 0, height = 0;
    uint8_t *pixels = WebPDecodeBGRA(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                     size_t(bytes.size()), &width, &height);
    if (!pixels)
        return {};
    QImage image = QImage(pixels, width, height, width * 4, QImage::Format_RGB32).copy();
    WebPFree(pixels);
    return image;
}

// The largest difference between two colours of one pixel: 0 for a grey picture.
int colourSpread(const QImage &image)
{
    int spread = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            const auto [least, most] = std::minmax({qRed(pixel), qGreen(pixel), qBlue(pixel)});
            spread = std::max(spread, most - least);
        }
    }
    return spread;
}

} // namespace

Q_DECLARE_METATYPE(ImageFormat)

class TestImageWriter : public QObject
{
    Q_OBJECT

private slots:
    // Each row: how the picture is written, whether the decoded file must be the very
    // pixels (else at least `decibels` like them), and whether it holds one channel.
    void decodesToThePicture_data()
    {
        QTest::addColumn<ImageFormat>("format");
        QTest::addColumn<int>("quality");
        QTest::addColumn<bool>("grey");
        QTest::addColumn<double>("decibels"); // 0: exactly
        QTest::addColumn<bool>("oneChannel");
        QTest::newRow("PNG") << ImageFormat::Png << 75 << false << 0.0 << false;
        QTest::newRow("PNG grey") << ImageFormat::Png << 75 << true << 0.0 << true;
        QTest::newRow("JPEG grey") << ImageFormat::Jpeg << 90 << true << 28.0 << true;
        QTest::newRow("WebP lossy") << ImageFormat::Webp << 90 << false << 28.0 << false;
        QTest::newRow("WebP at 100, lossless") << ImageFormat::Webp << 100 << false << 0.0 << false;
        QTest::newRow("WebP grey, lossless") << ImageFormat::Webp << 100 << true << 0.0 << false;
        QTest::newRow("WebP grey, lossy") << ImageFormat::Webp << 80 << true << 28.0 << false;
    }

    void decodesToThePicture()
    {
        QFETCH(ImageFormat, format);
        QFETCH(int, quality);
        QFETCH(bool, grey);
        QFETCH(double, decibels);
        QFETCH(bool, oneChannel);
        QTemporaryDir dir;
        const QString path = dir.filePath("page." + imageExtension(format));
        const QImage picture = page();
        writeImage(picture, path, {format, quality, grey});

        const QImage file = decoded(path);
        QCOMPARE(file.size(), picture.size());
        QCOMPARE(file.format() == QImage::Format_Grayscale8, oneChannel);
        // A grey picture is the picture's lightness, whatever the format keeps of it.
        const QImage expected = grey ? picture.convertToFormat(QImage::Format_Grayscale8)
                                           .convertToFormat(QImage::Format_RGB32)
                                     : picture;
        const QImage got = file.convertToFormat(QImage::Format_RGB32);
        if (decibels == 0) {
            QVERIFY(got == expected);
            return;
        }
        // Lossy formats, compared as pages are compared (pagecompare.h); a grey one has
        // its colours a few levels apart at most, where WebP's colour planes are not
        // quite flat.
        const double db = psnr(eighth(got), eighth(expected));
        QVERIFY2(db >= decibels, qPrintable(QString::number(db)));
        if (grey)
            QVERIFY2(colourSpread(got) <= 3, qPrintable(QString::number(colourSpread(got))));
    }

    // A page is cut into bands compressed on several threads and joined: the file is
    // one valid PNG of exactly the picture, and the same bytes however many threads
    // made it.
    void pngBandsJoinIntoOnePicture()
    {
        const QImage picture = page(1700, 2200); // several bands
        const PngSource source{picture.constBits(), picture.width(), int(picture.bytesPerLine()),
                               picture.height(), 4};
        const std::string alone = encodePng(source, 1);
        const std::string shared = encodePng(source, 4);
        QVERIFY(!alone.empty());
        QVERIFY(alone == shared);
        const QImage read = QImage::fromData(QByteArray::fromStdString(alone));
        QVERIFY(read.convertToFormat(QImage::Format_RGB32) == picture);
    }
};

QTEST_GUILESS_MAIN(TestImageWriter)
#include "tst_imagewriter.moc"
