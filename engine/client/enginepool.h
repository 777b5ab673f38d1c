#pragma once

#include "engineclient.h"
#include "uniquefd.h"

#include <QDeadlineTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class EngineChannel;
class LauncherProcess;

// Engines, quickly. Launcher processes (pagelift-engine --launcher) pre-initialise the
// office once and fork engines, and engines are made ready ahead of time (two at a
// time, by default): forked, started and warmed up on a document of their own while
// the current document is being converted, so that the next document takes one at
// once. An engine serves up to `documentsPerEngine` documents one after another, as
// long as each went well and left nothing behind in it (the engine decides, see
// EngineSession); the client hands it back (recycle()) and it waits with the engines
// made ready for the next document. Any failure ends it, as before.
//
// A forked engine works in its launcher's office profile, and a profile is never used
// by two engines at once: each launcher holds a profile of its own and has at most one
// engine alive at any moment, so there is one launcher for the engine at work and one
// for each engine made ready.
//
// During a run the pool is told which documents come next (expect()), and engines made
// ready ahead open them already, on idle time, so that a document's engine has loaded
// it by the time its turn comes. An engine that opened a document ahead is handed over
// for that document only, or ended when the document is no longer expected; an engine
// handed back opens the next document expected at once.
//
// A document's images are the same whether it is the first of its engine or a later
// one: every engine warms up on the same document before its first, and an engine goes
// on only after documents that brought nothing of their own.
//
// The launcher and the spare engine handed over are registered with childprocesses, so
// closing the main window ends them, and spares still on order die with the launcher;
// all of them also die with this program, and end when the pool is destroyed (an
// engine in use, or handed back, keeps its launcher until it has ended). When the
// launcher cannot be started, or dies, engines are started the plain way.
class EnginePool
{
public:
    // Starts the launcher of `engineFolder`/pagelift-engine and orders the spares at
    // once, so the first document does not wait for either. `waitMs` bounds each
    // wait for the launcher. Each engine may take `memoryLimitBytes` of memory (0:
    // the machine's share for as many engines as the pool may have alive at once).
    // `spares` engines are made ready ahead: two by default, since a list of short
    // documents goes through engines faster than one engine warms up, and the second
    // uses the moments the first leaves the processor idle. Each engine serves at most
    // `documentsPerEngine` documents (1: every document gets a fresh engine).
    // Engines are sandboxed as `sandbox` says.
    explicit EnginePool(const QString &engineFolder, int waitMs = kDefaultCallTimeoutMs,
                        size_t memoryLimitBytes = 0, int spares = 2,
                        int documentsPerEngine = kDefaultDocumentsPerEngine,
                        SandboxChoice sandbox = {});
    ~EnginePool();
    EnginePool(const EnginePool &) = delete;
    EnginePool &operator=(const EnginePool &) = delete;

    // Starting an engine costs a fresh office's work on a first document, many times a
    // small document's own: a run of 200 short documents on one core took a tenth less
    // time with a hundred documents to an engine than with twenty. Memory still ends an
    // engine sooner (EngineSession::Reuse).
    static constexpr int kDefaultDocumentsPerEngine = 100;

    // An engine for one document: the spare when there is one, else one forked or
    // started now, forked with the expected document's Open call written (a launcher
    // forks an engine without an office for a PDF). Null when no engine can be started
    // at all.
    std::unique_ptr<EngineChannel> take();
    // An engine started the plain way for one document, which it opens first: its
    // office has printed nothing before, not even the warm-up. Null when it cannot
    // be started.
    std::unique_ptr<EngineChannel> takeFresh() const;
    // Whether documents are expected after the one last taken: their engines then
    // open them meanwhile.
    bool othersExpected() const;
    // Takes back an engine that closed its document and may serve another; it waits
    // with the engines made ready, and opens the next document expected at once.
    void recycle(std::unique_ptr<EngineChannel> engine);

    // The documents a run converts next, in order: the first is the one take() is
    // called for next, the others follow it. Engines made ready ahead open them
    // already, as many as there are such engines; engines that opened a document not
    // in `documents` are ended. An empty list ends every engine that opened a
    // document ahead.
    // Their pages are drawn at `dpi`.
    void expect(const QStringList &documents, int dpi = pageunits::kDefaultDpi);
    // The documents that engines made ready ahead have been given, in order.
    QStringList openedAhead() const;

    // The process ids of the launchers that can still be used.
    QList<qint64> launcherPids() const;
    // The process id of a launcher that can still be used, else 0.
    qint64 launcherPid() const;
    // The process id of the spare engine the next document takes (waiting for the
    // launcher's answer if it is still on order), or 0 when there is none.
    qint64 sparePid();

    const QString &program() const { return m_program; }

private:
    // An engine made ready ahead: ordered from its launcher, then received.
    struct Spare
    {
        std::shared_ptr<LauncherProcess> launcher; // null for one handed back
        std::unique_ptr<EngineChannel> engine;     // null until received
        QString document;                          // opened ahead, or empty
        std::string frame;                         // the Open call sent for it
    };

    void receive(Spare &spare);
    // The Open call for `document` at the expected resolution, as a frame, and the
    // document opened to go with it (see openDocument).
    std::string openFrame(const QString &document, UniqueFd &descriptor) const;
    // The first expected document that no spare has opened.
    QString nextUnopened() const;
    // Gives spares that opened nothing the next documents, then orders spares up to
    // their number, each with the next document when there is one.
    void orderSpares();
    // Orders an engine from `launcher` whose first call opens `document`, or, with no
    // document or a call too long to go ahead, one of `kind`. The call sent (empty for
    // none), or nothing when the order failed.
    std::optional<std::string> orderFrom(LauncherProcess &launcher, const QString &document,
                                         char kind) const;
    void dropUnusableLaunchers();
    // A launcher with no engine alive and none on order, or null.
    std::shared_ptr<LauncherProcess> idleLauncher() const;

    // The arguments an engine is started with, to serve up to `documents` documents
    // (more than one: it warms up first).
    QStringList engineArguments(int documents) const;

    QString m_program;
    int m_waitMs;
    size_t m_memoryLimitBytes;
    int m_documentsPerEngine;
    int m_spareCount;
    SandboxChoice m_sandbox;
    std::vector<std::shared_ptr<LauncherProcess>> m_launchers; // the usable ones
    std::deque<Spare> m_spares;
    QStringList m_expected;
    int m_dpi = pageunits::kDefaultDpi;
};

// Creates an automation client per instance on an engine from `pool`, which takes the
// engine back when it may serve another document; creation throws Error when no
// engine can be started.
WordFactory pooledEngineFactory(std::shared_ptr<EnginePool> pool, DocumentOptions options = {});
