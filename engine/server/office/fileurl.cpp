#include "fileurl.h"

#include <cctype>
#include <cstring>

namespace fs = std::filesystem;

std::string fileUrl(const fs::path &path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : fs::absolute(path).string()) {
        if (std::isalnum(c) || std::strchr("/-._~", c)) {
            url += char(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}
