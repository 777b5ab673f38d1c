#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

// A file: URL for a path, made absolute and percent-encoded: what LibreOffice takes
// where it wants a document's, a profile's or a macro argument's address.
std::string fileUrl(const std::filesystem::path &path);

// `text` with each byte that `keep` does not keep written as %XX.
std::string percentEncoded(std::string_view text, const std::function<bool(unsigned char)> &keep);
