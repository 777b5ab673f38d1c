#include "wordguard.h"

#include "dialogs.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

bool IsWordRunning()
{
    // LibreOffice runs as "soffice.bin"; the engines that Pagelift starts have a
    // name of their own.
    const uid_t self = ::getuid();
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        bool numeric = false;
        pid.toInt(&numeric);
        if (!numeric)
            continue;
        const QString folder = QStringLiteral("/proc/") + pid;
        struct stat info;
        if (::stat(QFile::encodeName(folder).constData(), &info) != 0 || info.st_uid != self)
            continue;
        QFile comm(folder + QStringLiteral("/comm"));
        if (!comm.open(QIODevice::ReadOnly))
            continue;
        if (comm.readAll().trimmed() == "soffice.bin")
            return true;
    }
    return false;
}

bool WordGuardCancels(Dialogs &dialogs, QWidget *parent,
                      const std::function<bool()> &isWordRunning)
{
    if (!isWordRunning())
        return false;
    const QString question =
        QStringLiteral("Word may be open. It is recommended that you close Word first. Use "
                       "Ctrl+Alt+Del > Task Manager > WINWORD.EXE if necessary.\n\n"
                       "Would you like to proceed anyway?");
    return !dialogs.askYesNo(parent, question);
}
