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

// Ends `pid`, a child of this process: sends `signal` (0: none, it ends by itself),
// waits up to `graceMs` (-1: for as long as it takes) for it to end (on its pidfd,
// without polling), then kills it, and reaps it.
void end(qint64 pid, int signal, int graceMs);

// For a program that is the subreaper of its descendants (PR_SET_CHILD_SUBREAPER):
// reaps those that have ended, so that none stays a zombie.
void reapEndedDescendants();
// Waits for every process below this one to end, killing those still there after
// `graceMs`, and reaps them all.
void endAndReapDescendants(int graceMs);

} // namespace childprocesses
