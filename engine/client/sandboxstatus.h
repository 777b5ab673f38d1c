#pragma once

#include <QString>

// What the engines' sandbox enforces on this machine, as the engine itself tells it
// (pagelift-engine --sandbox-check, which enters the engine's own sandbox).
struct SandboxStatus
{
    bool complete = false;
    QString missing; // what is not in force, in the engine's words; empty when complete
};

// Asks the engine in `engineFolder`; waits at most a few seconds.
SandboxStatus sandboxStatus(const QString &engineFolder);

// What the user is told when the sandbox is not complete; empty when it is.
QString sandboxNotice(const SandboxStatus &status);
