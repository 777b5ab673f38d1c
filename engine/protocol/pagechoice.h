#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Which pages of a document are drawn, as a user lists them: "1", "1-3", "2,5-7",
// "3-" (to the end). Pages are counted from 1; a page the document lacks is no
// error, it is simply not there to draw. Both sides of the engine's socket read the
// list, and it travels as its own text.
class PageChoice
{
public:
    // Every page.
    PageChoice() = default;
    // The list in `text`; none when it is not such a list (empty, a page 0, a range
    // that ends before it begins, anything but digits, '-' and ',').
    static std::optional<PageChoice> parse(std::string_view text);

    bool everyPage() const { return m_ranges.empty(); }
    bool contains(int page) const;
    // The first page chosen from `page` on, or 0 when there is none up to `pageCount`.
    int nextFrom(int page, int pageCount) const;
    // The list as parse() reads it; empty for every page.
    std::string text() const;

private:
    std::vector<std::pair<int, int>> m_ranges; // first and last page, each from 1
};

// The size in pixels of a page of `width` x `height` twips drawn to fit a box of
// `boxWidth` x `boxHeight` pixels, its proportions kept: as large as fits, at least
// a pixel each way. A box side of 0 bounds nothing (a width or a height alone).
struct PixelSize
{
    int width = 0;
    int height = 0;
};
PixelSize fitToBox(int64_t width, int64_t height, int boxWidth, int boxHeight);
