#pragma once

#include <cstdio>

// The system's paper, asked ahead. The office asks for the paper of new documents (a
// plain-text file, for one) by running libpaper's paperconf through popen, and a
// sandboxed engine runs no program. So the engine asks once, the same way, before its
// sandbox goes up (a launcher before it forks: its engines keep the answer), and the
// office's own question is answered from what was heard, by the engine's popen and
// pclose (popenhook.cpp), which stand in for the C library's for that command only.
namespace systempaper {

// The command the office runs.
inline constexpr const char *kCommand = "paperconf 2>/dev/null";

// Runs kCommand and keeps its output and exit status.
void askOnce();
// The kept output as a stream when `command` is kCommand and it was asked; else null.
FILE *answer(const char *command);
// When `stream` came from answer(): closes it, sets `status` to the kept exit status
// (as pclose reports it) and returns true.
bool close(FILE *stream, int &status);

} // namespace systempaper
