#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <new>

// Runs `work` on this thread and on up to `threads` - 1 threads more, all at once, and
// returns when every one has returned. Each takes its share of a common list of tasks;
// a thread that cannot be had leaves the tasks to the others.
void runOnThreads(int threads, const std::function<void()> &work);

// Runs tasks 0 to `count` - 1 on up to `threads` threads, each thread taking the next
// task not yet taken, with tools of its own (an encoder, say) that `makeTools()` makes
// once for all its tasks. `task(tools, index)` answers whether the task succeeded; after
// a task fails, or runs out of memory, no further task starts. True when every task
// succeeded.
template <typename MakeTools, typename Task>
bool runTasksOnThreads(int threads, int count, const MakeTools &makeTools, const Task &task)
{
    std::atomic<int> next{0};
    std::atomic<bool> failed{false};
    runOnThreads(std::min(threads, count), [&] {
        try {
            auto tools = makeTools();
            for (int index = next++; index < count && !failed; index = next++) {
                if (!task(tools, index))
                    failed = true;
            }
        } catch (const std::bad_alloc &) {
            failed = true;
        }
    });
    return !failed;
}
