#include "filereplace.h"

#include "pathbytes.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// The process's umask, read without changing it (umask() would, for a moment).
mode_t currentUmask()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return mode_t(std::stoul(line.substr(6), nullptr, 8));
    }
    return 022;
}

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// The temporary file of the write in progress, for removeUnfinishedFile.
char unfinished[PATH_MAX + 1];
std::atomic<bool> writing{false};

void noteUnfinished(const QByteArray &path)
{
    if (path.size() > PATH_MAX)
        return;
    std::memcpy(unfinished, path.constData(), size_t(path.size()) + 1);
    writing.store(true);
}

std::mutex protectedMutex;
std::set<std::pair<dev_t, ino_t>> protectedFiles;

bool isProtected(const struct stat &info)
{
    const std::lock_guard lock(protectedMutex);
    return protectedFiles.count({info.st_dev, info.st_ino}) > 0;
}

// Why the file now at `target` must stay, or 0. A symbolic link is replaced itself,
// so only a file that is there under its own name counts.
int reasonToKeep(const QByteArray &target)
{
    struct stat info;
    if (::lstat(target.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    if (isProtected(info))
        return kTargetIsADocument;
    if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0 && errno == EACCES)
        return kTargetIsReadOnly;
    return 0;
}

} // namespace

void protectFromReplacement(dev_t device, ino_t inode)
{
    const std::lock_guard lock(protectedMutex);
    protectedFiles.insert({device, inode});
}

void clearProtectedFiles()
{
    const std::lock_guard lock(protectedMutex);
    protectedFiles.clear();
}

void removeUnfinishedFile()
{
    if (writing.exchange(false))
        ::unlink(unfinished);
}

int replaceFile(const QString &path, QByteArrayView bytes)
{
    const QByteArray target = encodePath(path);
    const qsizetype slash = target.lastIndexOf('/');
    // A short name of our own, so that a target whose name is just short enough can
    // still be written.
    QByteArray temporary = (slash >= 0 ? target.left(slash + 1) : QByteArray()) +
                           QByteArrayLiteral(".pagelift-XXXXXX.tmp");
    const int fd = ::mkostemps(temporary.data(), 4, O_CLOEXEC);
    if (fd < 0)
        return errno;
    noteUnfinished(temporary);

    struct stat existing;
    const mode_t mode = ::lstat(target.constData(), &existing) == 0 && S_ISREG(existing.st_mode)
                            ? existing.st_mode & 07777
                            : 0666 & ~currentUmask();
    int error = 0;
    if (!writeAll(fd, bytes.data(), size_t(bytes.size())) || ::fchmod(fd, mode) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0)
        error = reasonToKeep(target);
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0)
        ::unlink(temporary.constData());
    writing.store(false);
    return error;
}

int makeFolders(const QString &folder)
{
    QByteArray path = encodePath(folder);
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    struct stat info;
    if (path.isEmpty() || ::stat(path.constData(), &info) == 0)
        return path.isEmpty() || S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    const qsizetype slash = path.lastIndexOf('/');
    if (slash > 0) {
        if (const int error = makeFolders(decodePath(path.left(slash))))
            return error;
    }
    if (::mkdir(path.constData(), 0777) != 0 && errno != EEXIST)
        return errno;
    return 0;
}

QString fileErrorReason(int error)
{
    static const std::pair<int, const char *> kReasons[] = {
        {kTargetIsReadOnly, "the file is read-only"},
        {kTargetIsADocument, "that file is one of the documents being converted"},
        {ENOSPC, "the disk is full"},
        {EDQUOT, "the disk is full"},
        {ENAMETOOLONG, "its name is longer than the system allows"},
        {EFBIG, "it would be larger than the system allows"},
        {EACCES, "Pagelift may not write there"},
        {EPERM, "Pagelift may not write there"},
        {EROFS, "the disk is read-only"},
        {EISDIR, "a folder has that name"},
        {ENOENT, "its folder does not exist"},
        {ENOTDIR, "its folder does not exist"},
    };
    for (const auto &[number, reason] : kReasons) {
        if (number == error)
            return QString::fromLatin1(reason);
    }
    return QString::fromLocal8Bit(std::strerror(error));
}
