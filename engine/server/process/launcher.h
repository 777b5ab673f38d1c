#pragma once

#include "sandbox.h"

#include <cstddef>
#include <string>

// The launcher: a process that does the slow, shareable part of an office's start once
// (lok_preinit) and then makes engines by forking itself, each of which finishes its
// start in milliseconds and serves up to `documents` documents (see EngineSession). It
// never loads a document itself, and it stays single-threaded, so that a fork copies a
// sound process.
//
// Its orders and answers are in wireformat.h (namespace launcher). Engines die
// with the launcher, and the launcher with its parent or when its control socket closes.
// Every engine it forks may take `memoryLimitBytes` of memory (0: no limit).
//
// Once ready for orders the launcher is sandboxed as its engines are (sandbox.h):
// wholly, or, when each engine's files depend on its document (linked files beside
// it), in its calls, each engine then confining its files itself.
int runLauncher(const std::string &installDir, int control, size_t memoryLimitBytes, int documents,
                const SandboxOptions &sandbox);
