#pragma once

#include <cstdint>

// Page geometry comes from the office in twips, 1440 to the inch; page pictures are
// drawn at a resolution in dots per inch, by default the screen's 96.
namespace pageunits {

inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kDefaultDpi = 96;
// The resolutions a page may be drawn at: from a thumbnail to print quality.
inline constexpr int kMinDpi = 48;
inline constexpr int kMaxDpi = 600;

// The pixels that `twips` cover at `dpi`, to the nearest whole pixel (halves up).
constexpr int toPixels(int64_t twips, int dpi)
{
    return int((twips * dpi + kTwipsPerInch / 2) / kTwipsPerInch);
}

} // namespace pageunits
