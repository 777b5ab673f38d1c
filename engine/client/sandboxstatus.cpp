#include "sandboxstatus.h"

#include <QDir>
#include <QProcess>

SandboxStatus sandboxStatus(const QString &engineFolder)
{
    constexpr int kWaitMs = 10000;
    QProcess check;
    check.start(QDir(engineFolder).filePath(QStringLiteral("pagelift-engine")),
                {QStringLiteral("--sandbox-check")});
    SandboxStatus status;
    if (!check.waitForFinished(kWaitMs)) {
        check.kill();
        check.waitForFinished(kWaitMs);
        status.missing = QStringLiteral("the document engine could not be asked about it");
        return status;
    }
    const QString answer = QString::fromUtf8(check.readAllStandardOutput()).section(u'\n', 0, 0);
    const QString incomplete = QStringLiteral("sandbox incomplete: ");
    status.complete = answer == QLatin1String("sandbox complete");
    if (answer.startsWith(incomplete))
        status.missing = answer.mid(incomplete.size());
    else if (!status.complete)
        status.missing = QStringLiteral("the document engine could not be asked about it");
    return status;
}

QString sandboxNotice(const SandboxStatus &status)
{
    if (status.complete)
        return {};
    return QStringLiteral("Documents are converted without the whole sandbox: %1.")
        .arg(status.missing);
}
