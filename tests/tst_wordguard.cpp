#include "wordguard.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestWordGuard : public QObject
{
    Q_OBJECT

private slots:
    void seesALibreOfficeProcessOfTheUser()
    {
        QVERIFY(!IsWordRunning());

        // A harmless program under LibreOffice's process name.
        QTemporaryDir dir;
        const QString fake = dir.filePath("soffice.bin");
        QVERIFY(QFile::copy("/bin/sleep", fake));
        QVERIFY(QFile::setPermissions(fake, QFile::ReadOwner | QFile::ExeOwner));
        QProcess process;
        process.start(fake, {"60"});
        QVERIFY(process.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(IsWordRunning(), 10000);

        process.kill();
        QVERIFY(process.waitForFinished(10000));
        QVERIFY(!IsWordRunning());
    }
};

QTEST_GUILESS_MAIN(TestWordGuard)
#include "tst_wordguard.moc"
