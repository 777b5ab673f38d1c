#pragma once

#include <filesystem>
#include <string>

// A file: URL for a path, made absolute and percent-encoded: what LibreOffice takes
// where it wants a document's, a profile's or a macro argument's address.
std::string fileUrl(const std::filesystem::path &path);
