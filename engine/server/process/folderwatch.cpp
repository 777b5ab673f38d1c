#include "folderwatch.h"

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

FolderWatch::FolderWatch(const std::filesystem::path &folder)
    : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    if (m_fd >= 0 &&
        ::inotify_add_watch(m_fd, folder.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR) < 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

FolderWatch::~FolderWatch()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FolderWatch::takeMadeFolders(std::vector<std::string> &names)
{
    if (m_fd < 0)
        return false;
    bool complete = true;
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t size = ::read(m_fd, buffer, sizeof buffer);
        if (size < 0 && errno == EINTR)
            continue;
        if (size <= 0)
            return complete && (size == 0 || errno == EAGAIN);
        for (ssize_t at = 0; at < size;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (event->mask & IN_Q_OVERFLOW)
                complete = false;
            else if ((event->mask & IN_ISDIR) && event->len > 0)
                names.emplace_back(event->name, ::strnlen(event->name, event->len));
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
}
