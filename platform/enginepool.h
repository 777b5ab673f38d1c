#pragma once

#include "wordapplication.h"

#include <QDeadlineTimer>
#include <QString>
#include <memory>

class EngineChannel;
class LauncherProcess;

// Fresh engines, quickly. A launcher process (pagelift-engine --launcher) pre-initialises
// the office once and forks an engine for each document, and engines are made ready
// ahead of time (two at a time): forked, started and warmed up on a document of their
// own while the current document is being converted, so that the next document takes
// one at once. Every engine still serves one document and ends with it.
//
// The launcher and the spare engine handed over are registered with childprocesses, so
// closing the main window ends them, and spares still on order die with the launcher;
// all of them also die with this program, and end when the pool is destroyed (an
// engine in use keeps its launcher until it has ended). When the launcher cannot be
// started, or dies, engines are started the plain way.
class EnginePool
{
public:
    // Starts the launcher of `engineFolder`/pagelift-engine and orders the spares at
    // once, so the first document does not wait for either. `waitMs` bounds each
    // wait for the launcher.
    explicit EnginePool(const QString &engineFolder, int waitMs = 120000);
    ~EnginePool();
    EnginePool(const EnginePool &) = delete;
    EnginePool &operator=(const EnginePool &) = delete;

    // A fresh engine for one document: the spare when there is one, else one forked
    // or started now. Null when no engine can be started at all.
    std::unique_ptr<EngineChannel> take();

    // The launcher's process id while it can be used, else 0.
    qint64 launcherPid() const;
    // The process id of the spare engine the next document takes (waiting for the
    // launcher's answer if it is still on order), or 0 when there is none.
    qint64 sparePid();

    const QString &program() const { return m_program; }

private:
    std::unique_ptr<EngineChannel> receiveSpare();
    void orderSpare();

    QString m_program;
    int m_waitMs;
    std::shared_ptr<LauncherProcess> m_launcher; // null once it cannot be used
    int m_spareOrdered = 0;                      // spares ordered, not yet handed over
    std::unique_ptr<EngineChannel> m_spare;
};

// Creates an automation client per instance on an engine from `pool`; creation throws
// Error when no engine can be started.
WordFactory pooledEngineFactory(std::shared_ptr<EnginePool> pool, int callTimeoutMs = 120000);
