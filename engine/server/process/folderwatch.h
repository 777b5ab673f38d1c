#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Notes the folders made directly in one folder, by any process, from the moment the
// watch begins, including those removed again before anyone looks. Starts no thread.
class FolderWatch
{
public:
    explicit FolderWatch(const std::filesystem::path &folder);
    ~FolderWatch();
    FolderWatch(const FolderWatch &) = delete;
    FolderWatch &operator=(const FolderWatch &) = delete;

    // False when the folder cannot be watched; nothing is noted then.
    bool isWatching() const { return m_fd >= 0; }
    // The names of the folders made (or moved in) since the watch began or since
    // the last call, in the order they came. False when some may have been missed:
    // the folder cannot be watched, or more came than the system keeps track of.
    bool takeMadeFolders(std::vector<std::string> &names);

private:
    int m_fd = -1;
};
