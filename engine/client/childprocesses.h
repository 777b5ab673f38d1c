#pragma once

#include <QtGlobal>

// The engine processes this program has started and not yet ended. Closing the
// program ends every one of them, so that none outlives the window.
namespace childprocesses {

void add(qint64 pid);
void remove(qint64 pid);
// Kills every registered process at once (SIGKILL) and forgets them. Safe to call
// from a signal handler.
void killAll();
int count();

} // namespace childprocesses
