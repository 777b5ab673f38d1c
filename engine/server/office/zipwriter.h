#pragma once

#include <string>
#include <utility>
#include <vector>

// A zip archive of the given entries, in order, stored without compression: enough for
// an OpenDocument or Office Open XML container.
std::string makeStoredZip(const std::vector<std::pair<std::string, std::string>> &entries);
