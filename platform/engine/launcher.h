#pragma once

#include <cstdint>
#include <string>

// The launcher: a process that does the slow, shareable part of an office's start once
// (lok_preinit) and then makes engines by forking itself, each of which finishes its
// start in milliseconds and serves one document. It never loads a document itself, and
// it stays single-threaded, so that a fork copies a sound process.
//
// On its control socket the launcher reads one byte per engine wanted:
//   'e'  an engine that serves calls at once
//   'w'  an engine that first loads and drops a small document of its own, so that
//        the office's one-time set-up for a first document is paid before it is used
//   'a'  followed by one call frame (its 4-byte length, then the call, at most
//        kMaxCallAhead bytes in all): an engine whose first call is already written,
//        so that it starts on that call (opening the next document ahead) instead of
//        on a document of its own
// and answers each with a 32-bit process id (-1 when the fork failed) that carries
// two descriptors (SCM_RIGHTS): the engine's end of its call socket and a pidfd of the
// engine. Engines die with the launcher, and the launcher with its parent or when its
// control socket closes.
namespace launcher {

inline constexpr char kEngine = 'e';
inline constexpr char kWarmEngine = 'w';
inline constexpr char kEngineWithCall = 'a';
// Small enough for the call socket to hold it before the engine reads it.
inline constexpr uint32_t kMaxCallAhead = 32768;

} // namespace launcher

int runLauncher(const std::string &installDir, int control);
