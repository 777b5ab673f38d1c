#pragma once

#include <functional>

// Runs `work` on this thread and on up to `threads` - 1 threads more, all at once, and
// returns when every one has returned. Each takes its share of a common list of tasks;
// a thread that cannot be had leaves the tasks to the others.
void runOnThreads(int threads, const std::function<void()> &work);
