#pragma once

#include <string>

// WebP encoding of a page with libwebp, from 0xAARRGGBB words (blue first in memory);
// the fourth byte is taken for opaque. Quality 0-99 makes a lossy WebP at that
// quality, 100 a lossless one. A grey picture (every pixel's red, green and blue alike)
// decodes grey: WebP has no grey layout, but its colour planes stay flat. Empty when
// libwebp failed.
std::string encodeWebp(const unsigned char *bits, int width, int height, int bytesPerLine,
                       int quality);
