#include "threadshare.h"

#include <thread>
#include <vector>

void runOnThreads(int threads, const std::function<void()> &work)
{
    std::vector<std::thread> helpers;
    for (int i = 1; i < threads; ++i) {
        try {
            helpers.emplace_back(work);
        } catch (...) {
            break; // no thread to be had: the threads there take the tasks left
        }
    }
    work();
    for (std::thread &helper : helpers)
        helper.join();
}
