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
// The office is pre-initialised for the first order that needs it. An order whose first
// call opens a PDF, which poppler draws without an office, is served until then by an
// engine without one (EngineSession), forked from the small process the launcher is
// before: a run of PDFs never starts the office.
//
// Its orders and answers are in wireformat.h (namespace launcher). Engines die
// with the launcher, and the launcher with its parent or when its control socket closes.
// Every engine it forks may take `memoryLimitBytes` of memory (0: no limit).
//
// Once it has pre-initialised the office the launcher is sandboxed as its engines are
// (sandbox.h): wholly, or, when each engine's files depend on its document (linked
// files beside it), in its calls, each engine then confining its files itself. Before,
// it reads no more of a document than its first bytes, and every engine it forks enters
// the sandbox itself.
int runLauncher(const std::string &installDir, int control, size_t memoryLimitBytes, int documents,
                const SandboxOptions &sandbox);
