#include "cursorfile.h"
#include "skinengine.h"

#include <QBuffer>
#include <QDialog>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

void put16(QByteArray &d, int v)
{
    d.append(char(v & 0xff)).append(char((v >> 8) & 0xff));
}
void put32(QByteArray &d, int v)
{
    put16(d, v & 0xffff);
    put16(d, (v >> 16) & 0xffff);
}

// A one-bit cursor, 16 x 16: black where `ink` says so, white elsewhere, and
// transparent where `clear` says so (the AND mask).
QByteArray oneBitCursor(QPoint hotSpot, const std::function<bool(int, int)> &ink,
                        const std::function<bool(int, int)> &clear)
{
    const int size = 16;
    QByteArray dib;
    put32(dib, 40);
    put32(dib, size);
    put32(dib, size * 2);
    put16(dib, 1);
    put16(dib, 1);
    put32(dib, 0);
    put32(dib, 0);
    put32(dib, 0);
    put32(dib, 0);
    put32(dib, 2);
    put32(dib, 0);
    put32(dib, 0x00ffffff); // index 0: white (B, G, R, 0)
    put32(dib, 0x00000000); // index 1: black
    auto rows = [&](const std::function<bool(int, int)> &bit) {
        for (int y = size - 1; y >= 0; --y) { // bottom-up
            quint32 row = 0;
            for (int x = 0; x < size; ++x)
                if (bit(x, y))
                    row |= 1u << (31 - x);
            const quint32 be = qToBigEndian(row);
            dib.append(reinterpret_cast<const char *>(&be), 4);
        }
    };
    rows(ink);
    rows(clear);
    QByteArray file;
    put16(file, 0);
    put16(file, 2);
    put16(file, 1);
    file.append(char(size)).append(char(size)).append(char(2)).append(char(0));
    put16(file, hotSpot.x());
    put16(file, hotSpot.y());
    put32(file, int(dib.size()));
    put32(file, 22);
    return file + dib;
}

QByteArray pngCursor(QPoint hotSpot)
{
    QImage picture(8, 8, QImage::Format_ARGB32);
    picture.fill(qRgba(200, 10, 10, 255));
    picture.setPixel(0, 0, qRgba(0, 0, 0, 0));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    QByteArray file;
    put16(file, 0);
    put16(file, 2);
    put16(file, 1);
    file.append(char(8)).append(char(8)).append(char(0)).append(char(0));
    put16(file, hotSpot.x());
    put16(file, hotSpot.y());
    put32(file, int(png.size()));
    put32(file, 22);
    return file + png;
}

} // namespace

class TestSkinCursor : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &content)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write(content);
        return file.fileName();
    }

private slots:
    void shippedHandCursor()
    {
        const CursorFile hand = CursorFile::read(PAGELIFT_RESOURCES_DIR "/HAND-M.CUR");
        QCOMPARE(hand.status, CursorFile::Status::Ok);
        QCOMPARE(hand.image.size(), QSize(32, 32));
        // The hotspot is the fingertip: the top of the finger's black outline.
        QCOMPARE(hand.hotSpot, QPoint(5, 0));
        QCOMPARE(hand.image.pixel(5, 0), qRgba(0, 0, 0, 255));
        QCOMPARE(qAlpha(hand.image.pixel(4, 0)), 0);
        QCOMPARE(qAlpha(hand.image.pixel(31, 31)), 0);
        QCOMPARE(hand.image.pixel(5, 3), qRgba(255, 255, 255, 255)); // inside the finger
    }

    void oneBitWithMask()
    {
        const QByteArray data = oneBitCursor(
            QPoint(7, 9), [](int x, int y) { return x == y; }, [](int x, int) { return x >= 12; });
        const CursorFile cursor = CursorFile::fromData(data);
        QCOMPARE(cursor.status, CursorFile::Status::Ok);
        QCOMPARE(cursor.hotSpot, QPoint(7, 9));
        QCOMPARE(cursor.image.size(), QSize(16, 16));
        QCOMPARE(cursor.image.pixel(3, 3), qRgba(0, 0, 0, 255));       // ink, top rows first
        QCOMPARE(cursor.image.pixel(4, 3), qRgba(255, 255, 255, 255)); // paper
        QCOMPARE(cursor.image.pixel(0, 15), qRgba(255, 255, 255, 255));
        QCOMPARE(qAlpha(cursor.image.pixel(13, 13)), 0); // masked out
        QCOMPARE(qAlpha(cursor.image.pixel(11, 0)), 255);
        QCOMPARE(CursorFile::read(write("one.cur", data)).hotSpot, QPoint(7, 9));
    }

    void pngPayload()
    {
        const CursorFile cursor = CursorFile::fromData(pngCursor(QPoint(2, 6)));
        QCOMPARE(cursor.status, CursorFile::Status::Ok);
        QCOMPARE(cursor.hotSpot, QPoint(2, 6));
        QCOMPARE(cursor.image.size(), QSize(8, 8));
        QCOMPARE(cursor.image.pixel(4, 4), qRgba(200, 10, 10, 255));
        QCOMPARE(qAlpha(cursor.image.pixel(0, 0)), 0);
    }

    void broken_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<CursorFile::Status>("status");
        const QByteArray good = oneBitCursor(
            QPoint(1, 1), [](int, int) { return true; }, [](int, int) { return false; });
        QByteArray icon = good;
        icon[2] = 1; // an icon directory, not a cursor
        QByteArray none = good;
        none[4] = 0; // no pictures
        QByteArray farOffset = good;
        farOffset[18] = char(0xff);
        QByteArray compressed = good;
        compressed[22 + 16] = 1;
        QByteArray sixteenBits = good;
        sixteenBits[22 + 14] = 16;
        QTest::newRow("empty") << QByteArray() << CursorFile::Status::NotACursor;
        QTest::newRow("an icon") << icon << CursorFile::Status::NotACursor;
        QTest::newRow("no pictures") << none << CursorFile::Status::NotACursor;
        QTest::newRow("directory cut short") << good.left(12) << CursorFile::Status::Truncated;
        QTest::newRow("picture beyond the end") << farOffset << CursorFile::Status::Truncated;
        QTest::newRow("pixels cut short")
            << good.left(good.size() - 10) << CursorFile::Status::Truncated;
        QTest::newRow("compressed picture") << compressed << CursorFile::Status::Unsupported;
        QTest::newRow("16 bits per pixel") << sixteenBits << CursorFile::Status::Unsupported;
        QTest::newRow("text") << QByteArray("not a cursor, just text")
                              << CursorFile::Status::NotACursor;
    }

    void broken()
    {
        QFETCH(QByteArray, data);
        QFETCH(CursorFile::Status, status);
        const CursorFile cursor = CursorFile::fromData(data);
        QCOMPARE(cursor.status, status);
        QVERIFY(cursor.image.isNull());
    }

    void missingFile()
    {
        QCOMPARE(CursorFile::read(m_dir.filePath("none.cur")).status,
                 CursorFile::Status::Unreadable);
    }

    void schemas_data()
    {
        QTest::addColumn<QString>("schema");
        QTest::addColumn<SkinEngine::LoadResult>("result");
        QTest::addColumn<QString>("sheet");
        QTest::newRow("the common part") << "" << SkinEngine::LoadResult::Loaded << "A{}\n";
        QTest::newRow("first schema")
            << "Orange" << SkinEngine::LoadResult::Loaded << "A{}\n\nB{}\n";
        QTest::newRow("last schema") << "Dark" << SkinEngine::LoadResult::Loaded << "A{}\n\nC{}\n";
        QTest::newRow("no such schema")
            << "Green" << SkinEngine::LoadResult::NoSuchSchema << "previous";
    }

    void schemas()
    {
        QFETCH(QString, schema);
        QFETCH(SkinEngine::LoadResult, result);
        QFETCH(QString, sheet);
        const QString file =
            write("skin.cjs", "A{}\n/* schema: Orange */\nB{}\n  /* schema: Dark */  \nC{}\n");
        const QString previous = write("previous.cjs", "previous");
        SkinEngine engine;
        QCOMPARE(engine.loadSkin(previous, QString()), SkinEngine::LoadResult::Loaded);
        QCOMPARE(engine.loadSkin(file, schema), result);
        QCOMPARE(engine.styleSheet(), sheet);
    }

    void unreadableSkin()
    {
        SkinEngine engine;
        QCOMPARE(engine.loadSkin(m_dir.filePath("none.cjs"), QString()),
                 SkinEngine::LoadResult::Unreadable);
        QCOMPARE(engine.loadSkin(m_dir.path(), QString()), SkinEngine::LoadResult::Unreadable);
        QVERIFY(engine.styleSheet().isEmpty());
    }

    void appliesOnlyWhenEnabled()
    {
        SkinEngine engine;
        QCOMPARE(engine.loadSkin(write("s.cjs", "QWidget { color: red; }"), QString()),
                 SkinEngine::LoadResult::Loaded);
        QWidget window;
        engine.applyWindow(&window);
        QVERIFY(window.styleSheet().isEmpty());
        engine.setEnabled(true);
        engine.applyWindow(&window);
        QCOMPARE(window.styleSheet(), QStringLiteral("QWidget { color: red; }"));
    }

    void dialogsShownLater_data()
    {
        QTest::addColumn<int>("options");
        QTest::addColumn<bool>("dialogSkinned");
        QTest::newRow("with the option") << int(SkinEngine::RestyleDialogs) << true;
        QTest::newRow("without it") << 0 << false;
    }

    void dialogsShownLater()
    {
        QFETCH(int, options);
        QFETCH(bool, dialogSkinned);
        SkinEngine engine;
        engine.loadSkin(write("d.cjs", "QDialog { background: red; }"), QString());
        engine.setOptions(options);
        engine.setEnabled(true);
        QWidget window;
        engine.applyWindow(&window);

        QDialog dialog;
        QWidget other(nullptr, Qt::SplashScreen);
        dialog.show();
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.styleSheet().isEmpty(), !dialogSkinned);
        QVERIFY(other.styleSheet().isEmpty()); // only dialogs
    }
};

QTEST_MAIN(TestSkinCursor)
#include "tst_skincursor.moc"
