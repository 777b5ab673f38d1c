#include "officecheck.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

Q_DECLARE_METATYPE(QList<ProcessEntry>)

class TestOfficeCheck : public QObject
{
    Q_OBJECT

private slots:
    void decidesFromTheProcessList_data()
    {
        const uid_t self = ::getuid();
        QTest::addColumn<QList<ProcessEntry>>("processes");
        QTest::addColumn<bool>("running");
        QTest::newRow("nothing") << QList<ProcessEntry>{} << false;
        QTest::newRow("an office of the user")
            << QList<ProcessEntry>{{10, self, "bash"}, {11, self, "soffice.bin"}} << true;
        QTest::newRow("another user's office")
            << QList<ProcessEntry>{{11, self + 1, "soffice.bin"}} << false;
        QTest::newRow("Pagelift's own engines")
            << QList<ProcessEntry>{{12, self, "pagelift-engine"}} << false;
        QTest::newRow("the office's starter script only")
            << QList<ProcessEntry>{{13, self, "soffice"}} << false;
    }

    void decidesFromTheProcessList()
    {
        QFETCH(QList<ProcessEntry>, processes);
        QFETCH(bool, running);
        QCOMPARE(isOfficeRunning([&] { return processes; }), running);
    }

    // The real list, whatever else runs on the machine: a harmless program started
    // under LibreOffice's process name is in it, as the user's, until it ends.
    void listsAProcessUnderTheOfficeName()
    {
        QTemporaryDir dir;
        const QString fake = dir.filePath("soffice.bin");
        QVERIFY(QFile::copy("/bin/sleep", fake));
        QVERIFY(QFile::setPermissions(fake, QFile::ReadOwner | QFile::ExeOwner));
        QProcess process;
        process.start(fake, {"60"});
        QVERIFY(process.waitForStarted(10000));
        const qint64 pid = process.processId();
        auto listed = [pid] {
            const QList<ProcessEntry> processes = runningProcesses();
            return std::any_of(processes.begin(), processes.end(), [pid](const ProcessEntry &e) {
                return e.pid == pid && e.user == ::getuid() && e.name == "soffice.bin";
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(listed(), 10000);
        QVERIFY(isOfficeRunning());

        process.kill();
        QVERIFY(process.waitForFinished(10000));
        QVERIFY(!listed());
    }
};

QTEST_GUILESS_MAIN(TestOfficeCheck)
#include "tst_officecheck.moc"
