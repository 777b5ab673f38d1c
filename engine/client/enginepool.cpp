#include "enginepool.h"

#include "childprocesses.h"
#include "enginechannel.h"
#include "engineclient.h"
#include "error.h"
#include "pathbytes.h"
#include "socketio.h"

#include <QDir>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>

namespace {

namespace orders = engineprotocol::launcher;

} // namespace

// The launcher process and its control socket. Shared by the pool and by every engine
// forked from it, since those die with it. It has at most one engine alive or on order
// at a time, so that its office profile never serves two engines at once.
class LauncherProcess : public std::enable_shared_from_this<LauncherProcess>
{
public:
    static std::shared_ptr<LauncherProcess> start(const QString &program,
                                                  const QStringList &engineArguments)
    {
        qint64 pid = 0;
        UniqueFd socket;
        if (!spawnConnected(program, QStringList{QStringLiteral("--launcher")} + engineArguments,
                            pid, socket))
            return nullptr;
        return std::shared_ptr<LauncherProcess>(new LauncherProcess(pid_t(pid), std::move(socket)));
    }

    ~LauncherProcess()
    {
        // Its spare engines, ordered or not, die with it.
        m_socket.reset();
        childprocesses::end(m_pid, SIGKILL, 0);
    }

    qint64 pid() const { return m_pid; }
    bool usable() const { return !m_broken; }
    // Usable, with no engine alive and none on order.
    bool idle() const { return !m_broken && !m_engineInUse; }

    bool order(char kind) { return send(std::string(1, kind)); }

    // An engine whose first call, `frame`, is written before it starts; `document`
    // goes with it when not negative.
    bool orderWithCall(const std::string &frame, int document)
    {
        return send(orders::kEngineWithCall + frame, document);
    }

    // The engine the launcher forked for the oldest order, or null (and the launcher
    // is given up) when it has died, failed or not answered in time.
    std::unique_ptr<EngineChannel> receive(QDeadlineTimer deadline)
    {
        if (m_broken)
            return nullptr;
        engineprotocol::LaunchedEngine engine;
        if (!waitForDescriptor(m_socket.get(), POLLIN, deadline) ||
            !engineprotocol::receiveLaunchedEngine(m_socket.get(), engine)) {
            // A launcher that cannot fork is as good as gone.
            m_broken = true;
            return nullptr;
        }
        // The engine holds the launcher, which it dies with, until it has ended; then
        // the launcher is free for the next one.
        class Lease
        {
        public:
            explicit Lease(std::shared_ptr<LauncherProcess> launcher)
                : m_launcher(std::move(launcher))
            {
            }
            ~Lease() { m_launcher->m_engineInUse = false; }
            Lease(const Lease &) = delete;
            Lease &operator=(const Lease &) = delete;

        private:
            std::shared_ptr<LauncherProcess> m_launcher;
        };
        return adoptEngine(engine.pid, std::move(engine.socket), std::move(engine.pidfd),
                           std::make_shared<Lease>(shared_from_this()));
    }

private:
    LauncherProcess(pid_t pid, UniqueFd socket) : m_pid(pid), m_socket(std::move(socket))
    {
        childprocesses::add(m_pid);
    }

    bool send(const std::string &message, int descriptor = -1)
    {
        if (!m_broken && !engineprotocol::writeWithDescriptor(m_socket.get(), message, descriptor))
            m_broken = true;
        if (!m_broken)
            m_engineInUse = true;
        return !m_broken;
    }

    pid_t m_pid;
    UniqueFd m_socket;
    bool m_broken = false;
    bool m_engineInUse = false; // ordered, and not yet ended
};

EnginePool::EnginePool(const QString &engineFolder, int waitMs, size_t memoryLimitBytes, int spares,
                       int documentsPerEngine, SandboxChoice sandbox)
    : m_program(QDir(engineFolder).filePath(QStringLiteral("pagelift-engine"))), m_waitMs(waitMs),
      m_memoryLimitBytes(memoryLimitBytes ? memoryLimitBytes : engineMemoryLimit(spares + 1)),
      m_documentsPerEngine(std::max(1, documentsPerEngine)), m_spareCount(spares),
      m_sandbox(sandbox)
{
    // One launcher for the engine at work and one for each engine made ready.
    for (int i = 0; i < m_spareCount + 1; ++i) {
        if (std::shared_ptr<LauncherProcess> launcher =
                LauncherProcess::start(m_program, engineArguments(m_documentsPerEngine)))
            m_launchers.push_back(std::move(launcher));
    }
    orderSpares();
}

EnginePool::~EnginePool()
{
    m_spares.clear();
    m_launchers.clear();
}

QList<qint64> EnginePool::launcherPids() const
{
    QList<qint64> pids;
    for (const auto &launcher : m_launchers) {
        if (launcher->usable())
            pids << launcher->pid();
    }
    return pids;
}

qint64 EnginePool::launcherPid() const
{
    const QList<qint64> pids = launcherPids();
    return pids.isEmpty() ? 0 : pids.first();
}

qint64 EnginePool::sparePid()
{
    while (!m_spares.empty()) {
        receive(m_spares.front());
        if (m_spares.front().engine)
            return m_spares.front().engine->pid();
        m_spares.pop_front();
        dropUnusableLaunchers();
    }
    return 0;
}

void EnginePool::receive(Spare &spare)
{
    if (!spare.engine)
        spare.engine = spare.launcher->receive(QDeadlineTimer(m_waitMs));
}

QString EnginePool::nextUnopened() const
{
    for (qsizetype i = 0; i < m_expected.size(); ++i) {
        const QString &document = m_expected[i];
        const bool opened = std::any_of(m_spares.begin(), m_spares.end(), [&](const Spare &spare) {
            return spare.document == document;
        });
        if (!opened && !document.isEmpty())
            return document;
    }
    return {};
}

void EnginePool::expect(const QStringList &documents, int dpi)
{
    m_expected = documents;
    m_dpi = dpi;
    for (auto spare = m_spares.begin(); spare != m_spares.end();) {
        // Kept: a spare that opened nothing, or the very call a document of the list
        // would now make.
        if (spare->document.isEmpty() ||
            (documents.contains(spare->document) &&
             opensSameDocument(spare->frame, spare->document, m_dpi))) {
            ++spare;
            continue;
        }
        // Received first: the launcher's answer must not be left for the next order.
        receive(*spare);
        if (spare->engine)
            spare->engine->kill();
        spare = m_spares.erase(spare);
    }
    dropUnusableLaunchers();
    orderSpares();
}

QStringList EnginePool::openedAhead() const
{
    QStringList documents;
    for (const Spare &spare : m_spares) {
        if (!spare.document.isEmpty())
            documents << spare.document;
    }
    return documents;
}

std::shared_ptr<LauncherProcess> EnginePool::idleLauncher() const
{
    for (const auto &launcher : m_launchers) {
        if (launcher->idle())
            return launcher;
    }
    return nullptr;
}

void EnginePool::dropUnusableLaunchers()
{
    std::erase_if(m_launchers, [](const auto &launcher) { return !launcher->usable(); });
}

void EnginePool::orderSpares()
{
    // A spare that opened nothing is given the next document; it has been on order
    // for a while, so its launcher's answer is there or nearly. One that has died
    // meanwhile is dropped.
    for (auto spare = m_spares.begin(); spare != m_spares.end();) {
        const QString next = spare->document.isEmpty() ? nextUnopened() : QString();
        if (next.isEmpty()) {
            ++spare;
            continue;
        }
        receive(*spare);
        UniqueFd document;
        const std::string frame = openFrame(next, document);
        if (spare->engine && spare->engine->isRunning() &&
            spare->engine->writeWithDescriptor(frame.data(), frame.size(), document.get(),
                                               QDeadlineTimer(m_waitMs)) == ChannelStatus::Ok) {
            spare->document = next;
            spare->frame = frame;
            ++spare;
        } else {
            if (spare->engine)
                spare->engine->kill();
            spare = m_spares.erase(spare);
        }
    }
    dropUnusableLaunchers();
    while (m_spares.size() < size_t(m_spareCount)) {
        std::shared_ptr<LauncherProcess> launcher = idleLauncher();
        if (!launcher)
            break;
        const QString next = nextUnopened();
        if (std::optional<std::string> frame = orderFrom(*launcher, next, orders::kWarmEngine))
            m_spares.push_back(Spare{std::move(launcher), nullptr,
                                     frame->empty() ? QString() : next, std::move(*frame)});
        else
            dropUnusableLaunchers();
    }
}

std::optional<std::string> EnginePool::orderFrom(LauncherProcess &launcher, const QString &document,
                                                 char kind) const
{
    UniqueFd descriptor;
    std::string frame = document.isEmpty() ? std::string() : openFrame(document, descriptor);
    if (frame.size() > orders::kMaxCallAhead)
        frame.clear();
    const bool ordered =
        frame.empty() ? launcher.order(kind) : launcher.orderWithCall(frame, descriptor.get());
    return ordered ? std::optional(std::move(frame)) : std::nullopt;
}

bool EnginePool::othersExpected() const
{
    return std::any_of(m_expected.begin(), m_expected.end(),
                       [](const QString &document) { return !document.isEmpty(); });
}

std::unique_ptr<EngineChannel> EnginePool::take()
{
    const QString current = m_expected.value(0);
    if (!m_expected.isEmpty())
        m_expected.removeFirst();
    std::unique_ptr<EngineChannel> engine;
    while (!engine) {
        // The spare that opened the document ahead, else one that opened nothing.
        auto chosen = std::find_if(m_spares.begin(), m_spares.end(), [&](const Spare &spare) {
            return !current.isEmpty() && spare.document == current;
        });
        if (chosen == m_spares.end())
            chosen = std::find_if(m_spares.begin(), m_spares.end(),
                                  [](const Spare &spare) { return spare.document.isEmpty(); });
        if (chosen == m_spares.end())
            break;
        Spare spare = std::move(*chosen);
        m_spares.erase(chosen);
        receive(spare);
        // A spare that died while it waited is no use.
        if (spare.engine && spare.engine->isRunning()) {
            engine = std::move(spare.engine);
            engine->setOpenedAhead(spare.frame);
        }
    }
    if (!engine) {
        // Ordered with its first call, so that the launcher sees what the document is:
        // a PDF needs no office.
        if (std::shared_ptr<LauncherProcess> launcher = idleLauncher()) {
            const std::optional<std::string> frame = orderFrom(*launcher, current, orders::kEngine);
            if (frame)
                engine = launcher->receive(QDeadlineTimer(m_waitMs));
            if (engine)
                engine->setOpenedAhead(*frame);
        }
    }
    dropUnusableLaunchers();
    orderSpares();
    if (engine)
        return engine;
    return startEngineProcess(m_program, engineArguments(m_documentsPerEngine));
}

std::unique_ptr<EngineChannel> EnginePool::takeFresh() const
{
    return startEngineProcess(m_program, engineArguments(1));
}

void EnginePool::recycle(std::unique_ptr<EngineChannel> engine)
{
    if (!engine || !engine->isRunning())
        return;
    // It keeps the launcher it came from busy until it ends (see LauncherProcess), so
    // it stands in for an engine that launcher would make ready. First in line: it
    // has long since started and warmed up.
    m_spares.push_front(Spare{nullptr, std::move(engine), QString(), std::string()});
    orderSpares();
}

QStringList EnginePool::engineArguments(int documents) const
{
    QStringList arguments = memoryLimitArguments(m_memoryLimitBytes) + sandboxArguments(m_sandbox);
    if (documents > 1)
        arguments << QStringLiteral("--documents") << QString::number(documents);
    return arguments;
}

std::string EnginePool::openFrame(const QString &document, UniqueFd &descriptor) const
{
    descriptor = engineprotocol::openDocument(encodePath(document).toStdString());
    return engineprotocol::encodeRequest(openRequest(document, m_dpi, bool(descriptor)));
}

WordFactory pooledEngineFactory(std::shared_ptr<EnginePool> pool, DocumentOptions options)
{
    return [pool, options]() -> std::unique_ptr<WordApplication> {
        std::unique_ptr<EngineChannel> channel = pool->take();
        if (!channel)
            throw Error(engineFailureNumber(EngineFailure::StartFailed),
                        engineFailureMessage(EngineFailure::StartFailed, pool->program()));
        DocumentOptions mine = options;
        mine.onlyDocument = !pool->othersExpected();
        // A client may outlive the pool; its engine then ends with it.
        const std::weak_ptr<EnginePool> weak = pool;
        return std::make_unique<EngineClient>(
            std::move(channel), mine,
            [weak](std::unique_ptr<EngineChannel> engine) {
                if (const std::shared_ptr<EnginePool> alive = weak.lock())
                    alive->recycle(std::move(engine));
                else
                    engine->kill();
            },
            [weak]() -> std::unique_ptr<EngineChannel> {
                const std::shared_ptr<EnginePool> alive = weak.lock();
                return alive ? alive->takeFresh() : nullptr;
            });
    };
}
