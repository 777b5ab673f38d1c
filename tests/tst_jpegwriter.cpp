#include "errorof.h"
#include "filereplace.h"
#include "jpegrows.h"
#include "jpegwriter.h"
#include "madedocuments.h"
#include "pathbytes.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

#include <turbojpeg.h>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

class TestJpegWriter : public QObject
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

    // Decoded by TurboJPEG to packed RGB; empty when the stream does not decode.
    static QByteArray decoded(const std::string &jpeg, int width, int height, bool grey)
    {
        tjhandle handle = tjInitDecompress();
        int w = 0, h = 0, subsampling = 0, colours = 0;
        const auto *bytes = reinterpret_cast<const unsigned char *>(jpeg.data());
        QByteArray pixels;
        if (tjDecompressHeader3(handle, bytes, jpeg.size(), &w, &h, &subsampling, &colours) == 0 &&
            w == width && h == height) {
            const int format = grey ? TJPF_GRAY : TJPF_RGB;
            pixels.resize(qsizetype(w) * h * tjPixelSize[format]);
            if (tjDecompress2(handle, bytes, jpeg.size(),
                              reinterpret_cast<unsigned char *>(pixels.data()), w, 0, h, format,
                              0) != 0)
                pixels.clear();
        }
        tjDestroy(handle);
        return pixels;
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

    void rowsDecodeToThePixelsOfOnePiece_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("grey");
        QTest::addColumn<QString>("paper"); // rows of blocks left white: "" or a pattern
        const int rows = jpegBlockRows(false);
        const int group = kJpegRowsPerGroup * rows;
        QTest::newRow("A4 page at 96 dpi") << QSize(794, 1123) << false << QString();
        QTest::newRow("A4 page, white margins and gaps")
            << QSize(794, 1123) << false << QStringLiteral("wwwwwnnwnnnnnnnnnnnwwwnwnwnnw");
        QTest::newRow("two whole groups") << QSize(160, 2 * group) << false << QString();
        QTest::newRow("one row into a third group")
            << QSize(37, 2 * group + 1) << false << QString();
        QTest::newRow("odd sizes, white last rows")
            << QSize(101, 3 * group - 7) << false << QStringLiteral("nwnnwwnnnnnnnnnnnnnnnnww");
        QTest::newRow("grey") << QSize(333, 5 * jpegBlockRows(true) + 3) << true << QString();
        QTest::newRow("grey, white rows")
            << QSize(333, 5 * jpegBlockRows(true) + 3) << true << QStringLiteral("wnwnww");
        QTest::newRow("white page")
            << QSize(794, 1123) << false << QStringLiteral("w").repeated(71);
        QTest::newRow("one row of blocks") << QSize(200, rows) << false << QString();
    }

    void rowsDecodeToThePixelsOfOnePiece()
    {
        // Detail everywhere, and a level that drifts from row to row, so that a row
        // coded with the wrong starting point, or rows lost, repeated or swapped at a
        // joint, show in the pixels. Rows of blocks marked "w" are white paper; those
        // marked "n" are white but for one pixel of another red in the last column.
        QFETCH(QSize, size);
        QFETCH(bool, grey);
        QFETCH(QString, paper);
        const int blockRows = jpegBlockRows(grey);
        QImage image(size, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
        quint32 noise = 12345;
        for (int y = 0; y < size.height(); ++y) {
            const int blockRow = y / blockRows;
            const QChar kind = blockRow < paper.size() ? paper[blockRow] : u'd';
            for (int x = 0; x < size.width(); ++x) {
                noise = noise * 1103515245 + 12345;
                const int n = int(noise >> 24) % 40;
                QRgb rgb = qRgb((y / 3 + n) % 256, (x + y) % 200 + n, (x * 3 + n) % 256);
                if (kind != u'd')
                    rgb = kind == u'n' && x == size.width() - 1 && y % blockRows == 0
                              ? qRgb(128, 255, 255)
                              : qRgb(255, 255, 255);
                if (grey)
                    image.scanLine(y)[x] = uchar(qRed(rgb));
                else
                    image.setPixel(x, y, rgb);
            }
        }
        const JpegSource source{image.constBits(), size.width(), int(image.bytesPerLine()),
                                size.height(), grey ? TJPF_GRAY : TJPF_BGRX};
        const std::string byRows = encodeJpegByRows(source, 75, 1);
        QVERIFY(!byRows.empty());
        // The groups, and so the bytes, do not depend on the threads.
        QCOMPARE(encodeJpegByRows(source, 75, 3), byRows);

        tjhandle handle = tjInitCompress();
        unsigned char *whole = nullptr;
        unsigned long wholeSize = 0;
        QCOMPARE(tjCompress2(handle, source.bits, source.width, source.bytesPerLine, source.height,
                             source.pixelFormat, &whole, &wholeSize,
                             grey ? TJSAMP_GRAY : TJSAMP_420, 75, 0),
                 0);
        const std::string onePiece(reinterpret_cast<const char *>(whole), wholeSize);
        tjFree(whole);
        tjDestroy(handle);

        // One row of blocks is encoded in one go, as TurboJPEG encodes it.
        const bool rows = size.height() > blockRows;
        QCOMPARE(byRows.find("\xFF\xDD") != std::string::npos, rows); // a restart interval
        if (!rows)
            QCOMPARE(byRows, onePiece);
        const QByteArray pixels = decoded(byRows, size.width(), size.height(), grey);
        QVERIFY(!pixels.isEmpty());
        QVERIFY(pixels == decoded(onePiece, size.width(), size.height(), grey));
        // Qt's own reader agrees as well.
        const QImage read =
            QImage::fromData(QByteArrayView(byRows.data(), qsizetype(byRows.size())));
        QCOMPARE(read,
                 QImage::fromData(QByteArrayView(onePiece.data(), qsizetype(onePiece.size()))));
    }

    void encodedAsTurboJpegEncodes_data()
    {
        QTest::addColumn<int>("quality");
        QTest::addColumn<QImage::Format>("format");
        for (int quality : {0, 50, 75, 95, 96, 100})
            QTest::addRow("quality %d", quality) << quality << QImage::Format_RGB32;
        QTest::newRow("rgb888") << 75 << QImage::Format_RGB888;
        QTest::newRow("rgbx8888") << 75 << QImage::Format_RGBX8888;
        QTest::newRow("grey") << 75 << QImage::Format_Grayscale8;
    }

    void encodedAsTurboJpegEncodes()
    {
        // A picture of one row of blocks is encoded in one go: the very bytes TurboJPEG
        // makes, so the encoder's settings (tables, transform, subsampling) are its.
        QFETCH(int, quality);
        QFETCH(QImage::Format, format);
        const bool grey = format == QImage::Format_Grayscale8;
        const QImage image = picture(format).copy(0, 0, 320, jpegBlockRows(grey) - 3);
        int pixelFormat = TJPF_BGRX;
        if (format == QImage::Format_RGB888)
            pixelFormat = TJPF_RGB;
        else if (format == QImage::Format_RGBX8888)
            pixelFormat = TJPF_RGBX;
        else if (grey)
            pixelFormat = TJPF_GRAY;
        const JpegSource source{image.constBits(), image.width(), int(image.bytesPerLine()),
                                image.height(), pixelFormat};
        tjhandle handle = tjInitCompress();
        unsigned char *turbo = nullptr;
        unsigned long turboSize = 0;
        QCOMPARE(tjCompress2(handle, source.bits, source.width, source.bytesPerLine, source.height,
                             pixelFormat, &turbo, &turboSize,
                             pixelFormat == TJPF_GRAY ? TJSAMP_GRAY : TJSAMP_420, quality, 0),
                 0);
        const std::string expected(reinterpret_cast<const char *>(turbo), turboSize);
        tjFree(turbo);
        tjDestroy(handle);
        QCOMPARE(encodeJpegByRows(source, quality, 2), expected);
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
        QTest::addColumn<QString>("reason");
        // A folder where the file would go, a path below a regular file, a name longer
        // than a folder entry can be: they fail for root too.
        QTest::newRow("folder at the path") << "taken/out.jpg"
                                            << "folder"
                                            << "a folder has that name";
        QTest::newRow("below a regular file") << "plain/out.jpg"
                                              << "file"
                                              << "its folder does not exist";
        QTest::newRow("missing folder") << "nowhere/deeper/out.jpg"
                                        << ""
                                        << "its folder does not exist";
        QTest::newRow("name too long") << QString(252, u'n') + ".jpg"
                                       << ""
                                       << "its name is longer than the system allows";
    }

    void unwritablePaths()
    {
        QFETCH(QString, relativePath);
        QFETCH(QString, setup);
        QFETCH(QString, reason);
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
        QCOMPARE(message, QStringLiteral("Cannot save the image. GDI+ Error:7\n\n\"%1\" cannot be "
                                         "written: %2.")
                              .arg(path, reason));
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

    // The temporary file beside the target has a short name of its own: a target
    // whose name is just within the system's limit is written.
    void longestNameIsWritten()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QString(251, u'n') + ".jpg"); // 255 bytes
        writeJpeg(picture(), path, 75);
        QCOMPARE(QImage(path).size(), QSize(320, 200));
        QCOMPARE(entries(dir.path()), QStringList{QFileInfo(path).fileName()});
    }

    // A write the system cuts short (here a file size limit; a full disk fails the
    // same way) fails the call, names the file and keeps the earlier file.
    void cutShortWriteKeepsEarlierFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("page_39.jpg");
        writeJpeg(picture(), path, 10);
        const QByteArray before = readFile(path);
        const QImage large = picture().scaled(1600, 1000);

        rlimit old{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &old) == 0);
        const auto oldSignal = ::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = rlim_t(before.size()) + 100;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        const auto [number, message] = errorOf([&] { writeJpeg(large, path, 100); });
        ::setrlimit(RLIMIT_FSIZE, &old);
        ::signal(SIGXFSZ, oldSignal);

        QCOMPARE(number, 5);
        QVERIFY2(message.startsWith("Cannot save the image. GDI+ Error:7\n\n\"" + path + "\""),
                 qPrintable(message));
        QCOMPARE(readFile(path), before);
        QCOMPARE(entries(dir.path()), QStringList{"page_39.jpg"});
    }

    void reasonsInTheUsersWords_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("reason");
        QTest::newRow("full disk") << ENOSPC << "the disk is full";
        QTest::newRow("quota") << EDQUOT << "the disk is full";
        QTest::newRow("read-only") << EROFS << "the disk is read-only";
        QTest::newRow("permission") << EACCES << "Pagelift may not write there";
    }

    void reasonsInTheUsersWords()
    {
        QFETCH(int, error);
        QFETCH(QString, reason);
        QCOMPARE(fileErrorReason(error), reason);
    }

    // A symbolic link at the output name is replaced by the image; the file it
    // pointed to, any file of the user's, stays as it was.
    void linkAtTheNameIsReplacedNotFollowed()
    {
        QTemporaryDir dir;
        const QString precious = dir.filePath("precious.txt");
        QVERIFY(writeFile(precious, "the user's own file"));
        const QString path = dir.filePath("x_1.jpg");
        QVERIFY(QFile::link(precious, path));
        writeJpeg(picture(), path, 75);
        QVERIFY(!QFileInfo(path).isSymLink());
        QCOMPARE(QImage(path).size(), QSize(320, 200));
        QCOMPARE(readFile(precious), QByteArray("the user's own file"));

        // A link that points nowhere is replaced as well.
        const QString dangling = dir.filePath("x_2.jpg");
        QVERIFY(QFile::link(dir.filePath("gone"), dangling));
        writeJpeg(picture(), dangling, 75);
        QVERIFY(!QFileInfo(dangling).isSymLink());
        QVERIFY(!QFileInfo::exists(dir.filePath("gone")));
    }

    // The image's name is the bytes the path stands for, valid UTF-8 or not.
    void nameThatIsNotUtf8()
    {
        QTemporaryDir dir;
        const QByteArray name = encodePath(dir.path()) + "/caf\xE9_1.jpg";
        writeJpeg(picture(), decodePath(name), 75);
        QCOMPARE(QImage::fromData(readFile(decodePath(name))).size(), QSize(320, 200));
        QVERIFY(::access(name.constData(), F_OK) == 0);
    }

    // A new image is readable by others as any new file is; a replaced one keeps
    // the permissions it had.
    void permissions()
    {
        QTemporaryDir dir;
        const QString fresh = dir.filePath("fresh.jpg");
        auto mode = [](const QString &path) {
            struct stat info
            {
            };
            ::stat(QFile::encodeName(path).constData(), &info);
            return int(info.st_mode & 07777);
        };
        const mode_t mask = ::umask(027);
        writeJpeg(picture(), fresh, 75);
        ::umask(mask);
        QCOMPARE(mode(fresh), 0640);
        QVERIFY(::chmod(QFile::encodeName(fresh).constData(), 0604) == 0);
        writeJpeg(picture(), fresh, 50);
        QCOMPARE(mode(fresh), 0604);
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

QTEST_GUILESS_MAIN(TestJpegWriter)
#include "tst_jpegwriter.moc"
