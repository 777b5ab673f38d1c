#pragma once

// Answers to dladdr, kept. The office asks dladdr which library holds one of its own
// addresses once for every document it opens (to load another library from beside
// it), and glibc answers by going through every exported symbol of that library: some
// 41,000 in libmergedlo.so, 0.6 to 1.2 ms a call on this path. The engine's own dladdr
// (dladdrhook.cpp), which the office's libraries find before glibc's, asks glibc once
// for each address and keeps the answer for as long as the library that holds the
// address stays loaded where it was.

#include <dlfcn.h>

#include <array>
#include <cstddef>
#include <mutex>

class ModuleAddressCache
{
public:
    // dladdr itself: non-zero and `info` filled when a loaded object holds `address`.
    using Lookup = int (*)(const void *address, Dl_info *info);
    // The object that holds `address` (its link map and where it begins), or false
    // when none does.
    using Locate = bool (*)(const void *address, const void **object, const void **start);

    ModuleAddressCache(Lookup lookup, Locate locate) : m_lookup(lookup), m_locate(locate) {}

    int find(const void *address, Dl_info *info);

    // glibc's answer: the object's link map, from _dl_find_object.
    static bool locateLoaded(const void *address, const void **object, const void **start);

private:
    struct Entry
    {
        const void *address = nullptr;
        const void *object = nullptr;
        const void *start = nullptr;
        Dl_info info{};
    };
    static constexpr size_t kEntries = 32;

    Lookup m_lookup;
    Locate m_locate;
    std::mutex m_mutex;
    std::array<Entry, kEntries> m_entries{};
    size_t m_next = 0; // the entry replaced next, once all are taken
};
