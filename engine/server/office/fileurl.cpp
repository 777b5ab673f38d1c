#include "fileurl.h"

#include <cctype>

namespace fs = std::filesystem;

std::string percentEncoded(std::string_view text, const std::function<bool(unsigned char)> &keep)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        if (keep(c)) {
            encoded += char(c);
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 15];
        }
    }
    return encoded;
}

std::string fileUrl(const fs::path &path)
{
    return "file://" + percentEncoded(fs::absolute(path).string(), [](unsigned char c) {
               return std::isalnum(c) ||
                      std::string_view("/-._~").find(char(c)) != std::string_view::npos;
           });
}
