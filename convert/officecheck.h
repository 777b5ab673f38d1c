#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <sys/types.h>

class Dialogs;
class QWidget;

// One running process, as the system lists it.
struct ProcessEntry
{
    qint64 pid = 0;
    uid_t user = 0;
    QString name; // the program's name as the kernel keeps it (at most 15 characters)
};

// Every process whose entry can be read under `procFolder`.
QList<ProcessEntry> runningProcesses(const QString &procFolder = QStringLiteral("/proc"));

using ProcessList = std::function<QList<ProcessEntry>()>;

// True when an office of the current user is already running (a LibreOffice process,
// "soffice.bin"); Pagelift's own engines have a name of their own and do not count.
// Any failure of the check counts as "not running".
bool isOfficeRunning(const ProcessList &processes = [] { return runningProcesses(); });

// Asks the user whether to go on when an office is already running. True when the run
// must not start.
bool officeGuardCancels(
    Dialogs &dialogs, QWidget *parent,
    const std::function<bool()> &officeRunning = [] { return isOfficeRunning(); });
