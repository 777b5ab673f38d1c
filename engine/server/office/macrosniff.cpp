#include "macrosniff.h"

#include <algorithm>
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
    // central directory, also when the entry itself is compressed; compound files name
    // their storages in UTF-16.
    static const std::array<std::string, 5> kPackageNames = {"vbaProject", "vbaData", "Basic/",
                                                             "Scripts/", "library-embedded"};
    static const std::array<std::string, 2> kStorageNames = {utf16("Macros"),
                                                             utf16("_VBA_PROJECT")};
    const std::string_view all(bytes.data(), bytes.size());
    const auto found = [&](const std::string &name) {
        return all.find(name) != std::string_view::npos;
    };
    return std::any_of(kPackageNames.begin(), kPackageNames.end(), found) ||
           std::any_of(kStorageNames.begin(), kStorageNames.end(), found);
}
