#pragma once

#include <cstddef>
#include <functional>

// Watches this process's memory from a thread of its own and calls `onExceeded` once
// its resident size passes `limitBytes`; `onExceeded` ends the process and never
// returns. A document whose layout takes ever more memory (a small file of a
// gigabyte of markup) is stopped there, before the system has to kill some program
// to find memory, maybe one of the user's. A limit of 0 watches nothing.
void watchMemory(size_t limitBytes, std::function<void()> onExceeded);

// The resident size of this process in bytes, or 0 when it cannot be read.
size_t residentBytes();

// Makes this process (and the engines a launcher forks) the kernel's first choice when
// the machine or the cgroup runs out of memory. Its limit above is counted from what
// was free when it started; should others take that memory meanwhile, the kernel kills
// an engine, whose document its worker reports as failed while the run goes on, rather
// than the worker or the window, whose whole run would end.
void goFirstWhenMemoryRunsOut();
