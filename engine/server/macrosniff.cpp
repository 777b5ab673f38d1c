#include "macrosniff.h"

#include <array>
#include <fstream>
#include <string_view>
#include <vector>

namespace {

// Past this a document keeps its engine to itself rather than be read twice.
constexpr size_t kLargestRead = size_t(64) << 20;

std::string utf16(std::string_view text)
{
    std::string out;
    for (char c : text)
        out += std::string{c, '\0'};
    return out;
}

} // namespace

bool mayCarryMacros(const std::string &path)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file)
        return true;
    const std::streamoff size = file.tellg();
    if (size < 0 || size_t(size) > kLargestRead)
        return true;
    std::vector<char> bytes(static_cast<size_t>(size));
    file.seekg(0);
    if (!file.read(bytes.data(), std::streamsize(bytes.size())))
        return true;
    // Zip entry names are stored as they are, in the local headers and again in the
    // central directory, also when the entry itself is compressed.
    static const std::array<std::string, 7> kMarkers = {
        "vbaProject", "vbaData", "Basic/", "Scripts/", "library-embedded", utf16("Macros"),
        utf16("_VBA_PROJECT")};
    const std::string_view all(bytes.data(), bytes.size());
    for (const std::string &marker : kMarkers) {
        if (all.find(marker) != std::string_view::npos)
            return true;
    }
    return false;
}
