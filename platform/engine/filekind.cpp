#include "filekind.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <vector>

namespace {

bool startsWith(const std::vector<uint8_t> &head, std::initializer_list<uint8_t> signature)
{
    return head.size() >= signature.size() && std::equal(signature.begin(), signature.end(), head.begin());
}

// A zip container ends with its central directory; a truncated file has lost it.
bool zipHasDirectory(std::ifstream &file, int64_t size)
{
    const int64_t tail = std::min<int64_t>(size, 22 + 65535);
    std::vector<uint8_t> bytes(static_cast<size_t>(tail));
    file.clear();
    file.seekg(size - tail);
    if (!file.read(reinterpret_cast<char *>(bytes.data()), tail))
        return false;
    for (int64_t i = tail - 22; i >= 0; --i) {
        if (bytes[i] == 'P' && bytes[i + 1] == 'K' && bytes[i + 2] == 5 && bytes[i + 3] == 6)
            return true;
    }
    return false;
}

// Plain text in any 8-bit or UTF-8 encoding has no NUL bytes and few control codes.
bool looksLikeText(const std::vector<uint8_t> &head)
{
    if (startsWith(head, {0xFF, 0xFE}) || startsWith(head, {0xFE, 0xFF}))
        return true; // UTF-16 with a byte order mark
    size_t controls = 0;
    for (uint8_t byte : head) {
        if (byte == 0)
            return false;
        if (byte < 0x20 && !std::strchr("\t\n\r\f\v\x1a\x1b", byte))
            ++controls;
    }
    return controls * 100 <= head.size();
}

} // namespace

FileKind sniffFile(const std::string &path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return FileKind::Missing;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return FileKind::Unreadable;
    if (info.st_size == 0)
        return FileKind::Empty;

    std::vector<uint8_t> head(size_t(std::min<int64_t>(info.st_size, 65536)));
    if (!file.read(reinterpret_cast<char *>(head.data()), std::streamsize(head.size())))
        return FileKind::Unreadable;

    if (startsWith(head, {'P', 'K', 3, 4}) || startsWith(head, {'P', 'K', 5, 6}))
        return zipHasDirectory(file, info.st_size) ? FileKind::Zip : FileKind::BrokenZip;
    if (startsWith(head, {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}))
        return FileKind::Compound;
    if (startsWith(head, {'{', '\\', 'r', 't'}))
        return FileKind::Rtf;
    if (startsWith(head, {0xFF, 'W', 'P', 'C'}) ||  // WordPerfect 5 and later
        startsWith(head, {0x31, 0xBE, 0x00, 0x00}) || // Word for DOS, Write
        startsWith(head, {0x32, 0xBE, 0x00, 0x00}) ||
        startsWith(head, {0xDB, 0xA5, 0x2D, 0x00}) || // Word 2
        startsWith(head, {'W', 'o', 'r', 'd', 'P', 'r', 'o'}))
        return FileKind::WordBinary;
    return looksLikeText(head) ? FileKind::Text : FileKind::Binary;
}
