#include "filekind.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool startsWith(const std::vector<uint8_t> &head, std::initializer_list<uint8_t> signature)
{
    return head.size() >= signature.size() &&
           std::equal(signature.begin(), signature.end(), head.begin());
}

uint32_t le(const uint8_t *p, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

bool contains(const std::vector<uint8_t> &bytes, std::string_view text)
{
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

// OpenDocument names its kind in the media type; every kind of text is a document.
FileKind kindOfMediaType(std::string_view mediaType)
{
    const std::string_view prefix = "application/vnd.oasis.opendocument.";
    if (mediaType.substr(0, prefix.size()) != prefix)
        return FileKind::Zip;
    const std::string_view kind = mediaType.substr(prefix.size());
    if (kind.substr(0, 4) == "text")
        return FileKind::Zip;
    if (kind.substr(0, 4) == "base")
        return FileKind::Database;
    if (kind.substr(0, 7) == "formula")
        return FileKind::Formula;
    return FileKind::OtherOffice;
}

// A zip container ends with its central directory; a truncated file has lost it. The
// directory's names tell a spreadsheet or presentation from a word-processor file.
FileKind zipKind(std::ifstream &file, int64_t size, const std::vector<uint8_t> &head)
{
    const int64_t tail = std::min<int64_t>(size, 22 + 65535);
    std::vector<uint8_t> bytes(static_cast<size_t>(tail));
    file.clear();
    file.seekg(size - tail);
    if (!file.read(reinterpret_cast<char *>(bytes.data()), tail))
        return FileKind::BrokenZip;
    int64_t end = -1;
    for (int64_t i = tail - 22; i >= 0 && end < 0; --i) {
        if (bytes[i] == 'P' && bytes[i + 1] == 'K' && bytes[i + 2] == 5 && bytes[i + 3] == 6)
            end = i;
    }
    if (end < 0)
        return FileKind::BrokenZip;
    const uint32_t directorySize = le(&bytes[end + 12], 4);
    const uint32_t directoryOffset = le(&bytes[end + 16], 4);
    if (int64_t(directoryOffset) + directorySize > size)
        return FileKind::BrokenZip;

    std::vector<uint8_t> directory(directorySize);
    file.seekg(directoryOffset);
    if (!file.read(reinterpret_cast<char *>(directory.data()), directorySize))
        return FileKind::BrokenZip;
    bool wordDocument = false;
    bool otherDocument = false;
    for (size_t at = 0; at + 46 <= directory.size() && le(&directory[at], 4) == 0x02014b50;) {
        const size_t nameLength = le(&directory[at + 28], 2);
        const size_t skip =
            46 + nameLength + le(&directory[at + 30], 2) + le(&directory[at + 32], 2);
        if (at + 46 + nameLength > directory.size())
            break;
        const std::string name(directory.begin() + at + 46,
                               directory.begin() + at + 46 + nameLength);
        if (name.rfind("word/", 0) == 0)
            wordDocument = true;
        if (name.rfind("xl/", 0) == 0 || name.rfind("ppt/", 0) == 0 || name.rfind("visio/", 0) == 0)
            otherDocument = true;
        at += skip;
    }
    if (otherDocument && !wordDocument)
        return FileKind::OtherOffice;

    // OpenDocument stores its media type first and uncompressed.
    if (head.size() > 30 && le(&head[8], 2) == 0) {
        const size_t nameLength = le(&head[26], 2);
        const size_t dataAt = 30 + nameLength + le(&head[28], 2);
        const size_t dataLength = le(&head[18], 4);
        if (nameLength == 8 && std::string(head.begin() + 30, head.begin() + 38) == "mimetype" &&
            dataAt + dataLength <= head.size())
            return kindOfMediaType(
                std::string_view(reinterpret_cast<const char *>(head.data()) + dataAt, dataLength));
    }
    return FileKind::Zip;
}

// A compound file's directory names its streams in UTF-16: Word keeps its text in
// "WordDocument", Excel in "Workbook" or "Book", PowerPoint in "PowerPoint Document".
FileKind compoundKind(std::ifstream &file, int64_t size)
{
    auto utf16 = [](std::string_view text) {
        std::string out;
        for (char c : text)
            out += std::string{c, '\0'};
        return out;
    };
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min<int64_t>(size, 16 << 20)));
    file.clear();
    file.seekg(0);
    file.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(bytes.size()));
    if (contains(bytes, utf16("WordDocument")))
        return FileKind::Compound;
    if (contains(bytes, utf16("Workbook")) || contains(bytes, utf16("Book")) ||
        contains(bytes, utf16("PowerPoint Document")))
        return FileKind::OtherOffice;
    return FileKind::Compound;
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

bool startsAsZip(const std::vector<uint8_t> &head)
{
    return startsWith(head, {'P', 'K', 3, 4}) || startsWith(head, {'P', 'K', 5, 6});
}

bool startsAsCompound(const std::vector<uint8_t> &head)
{
    return startsWith(head, {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1});
}

// A PDF may have bytes before its header; readers look within the first kilobyte.
constexpr size_t kPdfHeaderWithin = 1024;

bool startsAsPdf(const std::vector<uint8_t> &head)
{
    const std::string_view start(reinterpret_cast<const char *>(head.data()),
                                 std::min(head.size(), kPdfHeaderWithin));
    return !startsAsZip(head) && !startsAsCompound(head) &&
           start.find("%PDF-") != std::string_view::npos;
}

} // namespace

FileKind sniffFile(const std::string &path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return FileKind::Missing;
    if (S_ISDIR(info.st_mode))
        return FileKind::Folder;
    if (!S_ISREG(info.st_mode))
        return FileKind::Special;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return FileKind::Unreadable;
    if (info.st_size == 0)
        return FileKind::Empty;

    std::vector<uint8_t> head(size_t(std::min<int64_t>(info.st_size, 65536)));
    if (!file.read(reinterpret_cast<char *>(head.data()), std::streamsize(head.size())))
        return FileKind::Unreadable;

    if (startsAsZip(head))
        return zipKind(file, info.st_size, head);
    if (startsAsCompound(head))
        return compoundKind(file, info.st_size);
    if (startsAsPdf(head))
        return FileKind::Pdf;
    if (startsWith(head, {'{', '\\', 'r', 't'}))
        return FileKind::Rtf;
    if (startsWith(head, {0xFF, 'W', 'P', 'C'}) ||    // WordPerfect 5 and later
        startsWith(head, {0x31, 0xBE, 0x00, 0x00}) || // Word for DOS, Write
        startsWith(head, {0x32, 0xBE, 0x00, 0x00}) ||
        startsWith(head, {0xDB, 0xA5, 0x2D, 0x00}) || // Word 2
        startsWith(head, {'W', 'o', 'r', 'd', 'P', 'r', 'o'}))
        return FileKind::WordBinary;
    if (!looksLikeText(head))
        return FileKind::Binary;
    // Flat OpenDocument names its kind in an attribute of the root element.
    const std::string_view text(reinterpret_cast<const char *>(head.data()), head.size());
    const size_t attribute = text.find("office:mimetype=\"");
    if (attribute != std::string_view::npos) {
        const size_t from = attribute + 17;
        const FileKind kind = kindOfMediaType(text.substr(from, text.find('"', from) - from));
        return kind == FileKind::Zip ? FileKind::Text : kind;
    }
    return FileKind::Text;
}

bool isPdfFile(int descriptor)
{
    struct stat info;
    if (descriptor < 0 || ::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    std::vector<uint8_t> head(kPdfHeaderWithin);
    ssize_t got = -1;
    do {
        got = ::pread(descriptor, head.data(), head.size(), 0);
    } while (got < 0 && errno == EINTR);
    head.resize(got > 0 ? size_t(got) : 0);
    return startsAsPdf(head);
}

std::string specialFileKind(const std::string &path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return {};
    if (S_ISFIFO(info.st_mode))
        return "named pipe";
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))
        return "device";
    if (S_ISSOCK(info.st_mode))
        return "socket";
    return {};
}
