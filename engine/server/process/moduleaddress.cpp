#include "moduleaddress.h"

int ModuleAddressCache::find(const void *address, Dl_info *info)
{
    const void *object = nullptr;
    const void *start = nullptr;
    // An address in no object (or a glibc without _dl_find_object) is asked each time.
    if (!address || !m_locate(address, &object, &start))
        return m_lookup(address, info);
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (const Entry &entry : m_entries) {
            // The same object at the same place: its names and symbols are where they were.
            if (entry.address == address && entry.object == object && entry.start == start) {
                *info = entry.info;
                return 1;
            }
        }
    }
    const int found = m_lookup(address, info);
    if (found) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_entries[m_next] = {address, object, start, *info};
        m_next = (m_next + 1) % kEntries;
    }
    return found;
}

bool ModuleAddressCache::locateLoaded(const void *address, const void **object, const void **start)
{
    dl_find_object found{};
    if (_dl_find_object(const_cast<void *>(address), &found) != 0)
        return false;
    *object = found.dlfo_link_map;
    *start = found.dlfo_map_start;
    return true;
}
