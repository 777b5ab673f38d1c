#include "handover.h"

#include "uniquefd.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool copyAll(int from, int to, off_t size)
{
    off_t offset = 0;
    while (offset < size) {
        const ssize_t n = ::sendfile(to, from, &offset, size_t(size - offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
    }
    return true;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The path of a file: URL, its escapes decoded; empty for any other address.
std::string pathOfFileUrl(const std::string &url)
{
    const std::string scheme = "file://";
    if (url.compare(0, scheme.size(), scheme) != 0)
        return {};
    std::string path;
    for (size_t i = scheme.size(); i < url.size(); ++i) {
        const int high = i + 2 < url.size() ? hexValue(url[i + 1]) : -1;
        const int low = i + 2 < url.size() ? hexValue(url[i + 2]) : -1;
        if (url[i] == '%' && high >= 0 && low >= 0) {
            path += char(high * 16 + low);
            i += 2;
        } else {
            path += url[i];
        }
    }
    // file://host/path names another machine's file.
    return path.empty() || path[0] != '/' ? std::string() : path;
}

} // namespace

std::unique_ptr<HandedDocument> HandedDocument::copy(int descriptor, const fs::path &folder,
                                                     const fs::path &name)
{
    struct stat info = {};
    if (descriptor < 0 || ::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode) || name.empty())
        return nullptr;
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);
    const fs::path path = folder / name;
    const UniqueFd out(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    // Made first, so that a copy cut short is removed with it.
    std::unique_ptr<HandedDocument> copied(new HandedDocument(path));
    if (!out || !copyAll(descriptor, out.get(), info.st_size))
        return nullptr;
    return copied;
}

bool HandedDocument::isRegularFile(int descriptor)
{
    struct stat info = {};
    return descriptor >= 0 && ::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode);
}

HandedDocument::~HandedDocument()
{
    std::error_code ec;
    fs::remove_all(m_path.parent_path(), ec);
}

std::vector<std::string> leftOutLinks(const std::vector<std::string> &links)
{
    std::vector<std::string> left;
    for (const std::string &link : links) {
        const std::string path = pathOfFileUrl(link);
        std::string named = link;
        if (!path.empty()) {
            const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
            if (file || errno == ENOENT || errno == ENOTDIR)
                continue;
            named = path;
        }
        if (std::find(left.begin(), left.end(), named) == left.end())
            left.push_back(named);
    }
    return left;
}
