#pragma once

#include <filesystem>

// A small document of the engine's own, loaded and thrown away by an engine made ready
// ahead of time: an office pays a large one-time cost on its first load (filters,
// fonts, layout), which this moves out of the way of the user's document.
bool writeWarmUpDocument(const std::filesystem::path &path);
