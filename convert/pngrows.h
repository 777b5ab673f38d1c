#pragma once

// PNG encoding of a page on several threads.
//
// A PNG's pixels are one zlib stream. Deflate can be cut anywhere its blocks end: a
// band of rows compressed on its own and ended with a sync flush (an empty stored
// block, which leaves the stream on a whole byte) is followed by the next band's
// blocks as if one compressor had made both. Each band starts with the 32 KiB of rows
// before it as its dictionary, so matches reach back across the cut as they would in
// one go. The bands are compressed at once, each in an IDAT chunk of its own, and the
// stream's checksum is joined from theirs. The bands depend on the picture alone: a
// picture gives the same bytes on every machine.
//
// Rows are written unfiltered: on pages of text, filtering ("Up", "Sub") made the files
// larger at the fastest zlib level and took longer (see the figures in docs/formats.md).

#include <string>

struct PngSource
{
    const unsigned char *bits = nullptr;
    int width = 0;
    int bytesPerLine = 0;
    int height = 0;
    // 4: 0xAARRGGBB words on this machine (blue first in memory), written as RGB with
    // the fourth byte left out; 1: grey bytes, written as 8-bit grey.
    int bytesPerPixel = 4;
};

// zlib's fastest level: a page of text takes about a third of the time of level 6
// for a file a few per cent larger.
inline constexpr int kPngLevel = 1;

// The row filters this encoder can write (the PNG filter types of the same numbers).
enum class PngFilter
{
    None = 0,
    Sub = 1,
    Up = 2,
};
inline constexpr PngFilter kPngFilter = PngFilter::None;

// The PNG of `source` at zlib level `level` (0-9), each row filtered with `filter`,
// using up to `threads` threads. Empty when it could not be made (no memory, a picture
// too large for a PNG).
std::string encodePng(const PngSource &source, int threads, int level = kPngLevel,
                      PngFilter filter = kPngFilter);
