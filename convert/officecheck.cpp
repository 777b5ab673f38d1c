#include "officecheck.h"

#include "dialogs.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

QList<ProcessEntry> runningProcesses(const QString &procFolder)
{
    QList<ProcessEntry> processes;
    const QStringList pids = QDir(procFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        bool numeric = false;
        const qint64 number = pid.toLongLong(&numeric);
        if (!numeric)
            continue;
        const QString folder = procFolder + u'/' + pid;
        struct stat info;
        if (::stat(QFile::encodeName(folder).constData(), &info) != 0)
            continue;
        QFile comm(folder + QStringLiteral("/comm"));
        if (!comm.open(QIODevice::ReadOnly))
            continue;
        processes.append({number, info.st_uid, QString::fromLocal8Bit(comm.readAll().trimmed())});
    }
    return processes;
}

bool isOfficeRunning(const ProcessList &processes)
{
    const uid_t self = ::getuid();
    const QList<ProcessEntry> entries = processes();
    return std::any_of(entries.begin(), entries.end(), [self](const ProcessEntry &entry) {
        return entry.user == self && entry.name == QLatin1String("soffice.bin");
    });
}

bool officeGuardCancels(Dialogs &dialogs, QWidget *parent,
                        const std::function<bool()> &officeRunning)
{
    if (!officeRunning())
        return false;
    const QString question =
        QStringLiteral("Word may be open. It is recommended that you close Word first. Use "
                       "Ctrl+Alt+Del > Task Manager > WINWORD.EXE if necessary.\n\n"
                       "Would you like to proceed anyway?");
    return !dialogs.askYesNo(parent, question);
}
