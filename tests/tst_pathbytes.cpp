// File names are bytes: a path read from the system turns into text and back into the
// same bytes, whatever they are.

#include "pathbytes.h"

#include <QTest>

class TestPathBytes : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("validUtf8");
        QTest::newRow("plain") << QByteArray("/docs/report.doc") << true;
        QTest::newRow("UTF-8 letters") << QByteArray("/d/\xC3\x9C"
                                                     "ber \xE2\x82\xAC.odt")
                                       << true;
        QTest::newRow("four-byte character") << QByteArray("/d/\xF0\x9F\x93\x84.rtf") << true;
        QTest::newRow("Latin-1 letter") << QByteArray("/d/caf\xE9.doc") << false;
        QTest::newRow("a lone 0xFF") << QByteArray("/d/\xFF") << false;
        QTest::newRow("cut-off sequence") << QByteArray("/d/a\xE2\x82") << false;
        QTest::newRow("overlong slash") << QByteArray("/d/\xC0\xAF.doc") << false;
        QTest::newRow("encoded surrogate") << QByteArray("/d/\xED\xB2\x80.doc") << false;
        QTest::newRow("beyond Unicode") << QByteArray("/d/\xF4\x90\x80\x80") << false;
        QTest::newRow("valid then not")
            << QByteArray("/d/\xC3\xA9\xE9\xC3\xA9\x80\x80.doc") << false;
    }

    void roundTrip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, validUtf8);
        const QString path = decodePath(bytes);
        QCOMPARE(encodePath(path), bytes);
        if (validUtf8)
            QCOMPARE(path, QString::fromUtf8(bytes));
        else
            QVERIFY(path != QString::fromUtf8(bytes));
        QVERIFY(path.startsWith("/d") || path.startsWith("/docs"));
    }

    // Text typed by the user (or given by Qt) is UTF-8 on disk.
    void textIsUtf8()
    {
        QCOMPARE(encodePath(QStringLiteral("/d/\u00DCber.doc")), QByteArray("/d/\xC3\x9C"
                                                                            "ber.doc"));
        QCOMPARE(encodePath(QString()), QByteArray());
        QCOMPARE(decodePath(QByteArray()), QString());
    }
};

QTEST_GUILESS_MAIN(TestPathBytes)
#include "tst_pathbytes.moc"
