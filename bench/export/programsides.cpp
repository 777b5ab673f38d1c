#include "programsides.h"

#include "processcpu.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <csignal>
#include <functional>
#include <sys/prctl.h>
#include <vector>

namespace {

// How long one program a side runs (pdftoppm, soffice, a thumbnail) may take.
constexpr int kToolMilliseconds = 600000;

// Times `work`, which starts processes and waits for them to end, and returns what it
// reports wrong: its wall time, and the processor time of the processes it waited for
// (with theirs: a program waits for its workers, they for their launchers, the launchers
// for their engines). Nothing else of this program ends meanwhile.
Outcome timeWaitedFor(const std::function<QString()> &work)
{
    const CpuSnapshot before = CpuSnapshot::take();
    QElapsedTimer timer;
    timer.start();
    Outcome outcome;
    outcome.error = work();
    outcome.seconds = timer.nsecsElapsed() / 1e9;
    outcome.cpuSeconds = CpuSnapshot::take().reaped - before.reaped;
    return outcome;
}

// Runs each command (its program first), `atOnce` at a time, until all have ended; false
// when any failed or they had not all ended within the time limit of one program.
bool runAll(const QList<QStringList> &commands, int atOnce)
{
    QEventLoop loop;
    std::vector<std::unique_ptr<QProcess>> processes;
    qsizetype next = 0;
    int running = 0;
    bool allWell = true;
    std::function<void()> startMore = [&] {
        while (running < atOnce && next < commands.size()) {
            QStringList command = commands[next++];
            auto process = std::make_unique<QProcess>();
            process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            process->setStandardOutputFile(QProcess::nullDevice());
            const auto ended = [&](bool well) {
                allWell = allWell && well;
                --running;
                startMore();
                if (running == 0)
                    loop.quit();
            };
            QObject::connect(process.get(), &QProcess::finished, &loop,
                             [ended](int code, QProcess::ExitStatus status) {
                                 ended(status == QProcess::NormalExit && code == 0);
                             });
            QObject::connect(process.get(), &QProcess::errorOccurred, &loop,
                             [ended](QProcess::ProcessError error) {
                                 if (error == QProcess::FailedToStart)
                                     ended(false);
                             });
            ++running;
            QProcess *started = process.get();
            processes.push_back(std::move(process));
            started->start(command.takeFirst(), command);
        }
    };
    startMore();
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
        allWell = false;
        loop.quit();
    });
    limit.start(kToolMilliseconds);
    if (running > 0)
        loop.exec();
    const bool done = allWell && running == 0;
    // What still runs after the time limit is killed as its QProcess goes, with nothing
    // connected to it any more.
    for (const std::unique_ptr<QProcess> &process : processes)
        process->disconnect();
    return done;
}

QString convertProgram()
{
    return binFolder() + QStringLiteral("/pagelift-convert");
}

// pdftoppm drawing each PDF as JPEGs into `out`, through `prefix`.
QList<QStringList> pdftoppmCommands(const QStringList &pdfs, const QString &out, int dpi,
                                    const QStringList &prefix = {})
{
    QList<QStringList> commands;
    for (const QString &pdf : pdfs)
        commands << prefix + QStringList{QStringLiteral("pdftoppm"),
                                         QStringLiteral("-jpeg"),
                                         QStringLiteral("-r"),
                                         QString::number(dpi),
                                         QStringLiteral("-jpegopt"),
                                         QStringLiteral("quality=%1").arg(kQuality),
                                         pdf,
                                         QDir(out).filePath(QFileInfo(pdf).completeBaseName())};
    return commands;
}

} // namespace

QStringList pinnedTo(int core)
{
    return {QStringLiteral("taskset"), QStringLiteral("-c"), QString::number(core)};
}

Outcome ConvertSide::operator()(const QStringList &documents)
{
    QStringList command = m_prefix;
    command << convertProgram() << QStringLiteral("-q") << QString::number(kQuality) << m_options
            << QStringLiteral("--from") << QStringLiteral("-") << QStringLiteral("-0");
    if (!m_out.isEmpty()) {
        QDir(m_out).removeRecursively();
        command << QStringLiteral("-o") << m_out;
    }
    QByteArray list;
    for (const QString &document : documents)
        list += QFile::encodeName(document) + '\0';

    Outcome outcome = timeWaitedFor([&] {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(command.takeFirst(), command);
        process.write(list);
        process.closeWriteChannel();
        const bool finished = process.waitForFinished(3600000);
        return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0
                   ? QString()
                   : QStringLiteral("pagelift-convert failed");
    });
    if (m_out.isEmpty()) {
        addImagesBeside(outcome, documents);
        keepImages(documents);
    } else {
        addImages(outcome, m_out, QStringLiteral("*"));
    }
    return outcome;
}

QStringList drawnAt(int dpi, int jobs, const QStringList &more)
{
    QStringList options{QStringLiteral("-r"), QString::number(dpi)};
    if (jobs > 0)
        options << QStringLiteral("-j") << QString::number(jobs);
    return options + more;
}

Outcome ThumbnailSide::operator()(const QStringList &documents)
{
    QDir(m_out).removeRecursively();
    QDir().mkpath(m_out);
    QList<QStringList> commands;
    for (const QString &document : documents)
        commands << QStringList{
            convertProgram(),
            QStringLiteral("--timeout"),
            QString::number(kToolMilliseconds / 1000),
            QStringLiteral("--thumbnail"),
            QString::number(m_size),
            document,
            QDir(m_out).filePath(QFileInfo(document).completeBaseName() + QStringLiteral(".png"))};
    Outcome outcome = timeWaitedFor(
        [&] { return runAll(commands, 1) ? QString() : QStringLiteral("a thumbnail failed"); });
    addImages(outcome, m_out, QStringLiteral("*.png"));
    return outcome;
}

Outcome ColdSide::operator()(const QStringList &documents)
{
    QDir(m_out).removeRecursively();
    QDir().mkpath(m_out);
    QStringList soffice = {QStringLiteral("soffice"),
                           QStringLiteral("--headless"),
                           QStringLiteral("-env:UserInstallation=file://") + m_profile,
                           QStringLiteral("--convert-to"),
                           QStringLiteral("pdf"),
                           QStringLiteral("--outdir"),
                           m_out};
    soffice += documents;
    Outcome outcome = timeWaitedFor([&] {
        const QString error = runAll({soffice}, 1) ? QString() : QStringLiteral("soffice failed");
        QStringList pdfs;
        for (const QString &document : documents) {
            const QString pdf = QDir(m_out).filePath(QFileInfo(document).completeBaseName() +
                                                     QStringLiteral(".pdf"));
            if (QFileInfo::exists(pdf))
                pdfs << pdf;
        }
        runAll(pdftoppmCommands(pdfs, m_out, m_dpi), 1);
        return error;
    });
    addImages(outcome, m_out, QStringLiteral("*.jpg"));
    return outcome;
}

Outcome PdftoppmSide::operator()(const QStringList &pdfs)
{
    QDir(m_out).removeRecursively();
    QDir().mkpath(m_out);
    const QList<QStringList> commands = pdftoppmCommands(pdfs, m_out, 96, m_prefix);
    Outcome outcome = timeWaitedFor(
        [&] { return runAll(commands, m_atOnce) ? QString() : QStringLiteral("pdftoppm failed"); });
    addImages(outcome, m_out, QStringLiteral("*.jpg"));
    return outcome;
}

Listener::Listener(const QString &profile, const QString &warmUp, const QStringList &prefix)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // It ends its office when told to end, so that nothing outlives the benchmark.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    QStringList command = prefix;
    command << QStringLiteral("/usr/bin/python3")
            << QCoreApplication::applicationDirPath() +
                   QStringLiteral("/pagelift-bench-listener.py")
            << profile << QString::number(kQuality);
    m_process.start(command.takeFirst(), command);
    if (!m_process.waitForStarted(60000) || answer() != "ready")
        qFatal("the warm listener did not start (is python3-uno installed?)");
    referenceProcesses().insert(pid());
    const QString scratch = profile + QStringLiteral("-warm-up");
    send({QStringLiteral("convert"), scratch, warmUp});
    if (answer() != "done")
        qFatal("the warm listener cannot convert %s", qPrintable(warmUp));
    QDir(scratch).removeRecursively();
}

Listener::~Listener()
{
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(60000)) {
        m_process.terminate();
        if (!m_process.waitForFinished(60000))
            m_process.kill();
    }
    m_process.waitForFinished(10000);
}

void Listener::send(const QStringList &order)
{
    m_process.write(order.join(u'\t').toUtf8() + '\n');
    while (m_process.bytesToWrite() > 0 && m_process.waitForBytesWritten(kToolMilliseconds)) {
    }
}

QByteArray Listener::answer()
{
    QDeadlineTimer deadline(kToolMilliseconds);
    while (!m_process.canReadLine()) {
        if (m_process.state() != QProcess::Running || deadline.hasExpired() ||
            !m_process.waitForReadyRead(int(deadline.remainingTime())))
            return {};
    }
    return m_process.readLine().trimmed();
}

Outcome ListenerSide::operator()(const QStringList &documents)
{
    QDir(m_out).removeRecursively();
    const CpuSnapshot before = CpuSnapshot::take();
    QElapsedTimer timer;
    timer.start();
    QList<Listener *> busy;
    const qsizetype count = m_listeners.size();
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype first = documents.size() * i / count;
        const QStringList share = documents.mid(first, documents.size() * (i + 1) / count - first);
        if (share.isEmpty())
            continue;
        m_listeners[i]->send(QStringList{m_order, m_out} + m_orderArguments + share);
        busy << m_listeners[i].get();
    }
    Outcome outcome;
    for (Listener *listener : busy) {
        const QByteArray answer = listener->answer();
        if (answer != "done" && outcome.error.isEmpty())
            outcome.error = QString::fromUtf8(answer);
    }
    outcome.seconds = timer.nsecsElapsed() / 1e9;
    const CpuSnapshot after = CpuSnapshot::take();
    for (const std::shared_ptr<Listener> &listener : m_listeners)
        outcome.cpuSeconds += after.child(listener->pid()) - before.child(listener->pid());
    addImages(outcome, m_out,
              m_order == QLatin1String("convert") ? QStringLiteral("*.jpg")
                                                  : QStringLiteral("*.png"));
    return outcome;
}
