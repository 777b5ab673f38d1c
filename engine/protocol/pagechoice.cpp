#include "pagechoice.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

namespace {

// A page number from 1 on; none for anything else.
std::optional<int> pageNumber(std::string_view text)
{
    int page = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), page);
    if (error != std::errc() || end != text.data() + text.size() || page < 1)
        return std::nullopt;
    return page;
}

} // namespace

std::optional<PageChoice> PageChoice::parse(std::string_view text)
{
    PageChoice choice;
    if (text.empty())
        return std::nullopt;
    for (size_t start = 0; start <= text.size();) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view part = text.substr(start, comma - start);
        const size_t dash = part.find('-');
        const std::optional<int> first = pageNumber(part.substr(0, dash));
        std::optional<int> last = first;
        if (dash != std::string_view::npos)
            last = dash + 1 == part.size() ? INT_MAX : pageNumber(part.substr(dash + 1));
        if (!first || !last || *last < *first)
            return std::nullopt;
        choice.m_ranges.emplace_back(*first, *last);
        start = comma + 1;
    }
    return choice;
}

bool PageChoice::contains(int page) const
{
    return everyPage() || std::any_of(m_ranges.begin(), m_ranges.end(), [page](const auto &range) {
               return page >= range.first && page <= range.second;
           });
}

int PageChoice::nextFrom(int page, int pageCount) const
{
    int next = INT_MAX;
    for (const auto &[first, last] : m_ranges) {
        if (last >= page)
            next = std::min(next, std::max(first, page));
    }
    if (everyPage())
        next = page;
    return next <= pageCount ? next : 0;
}

std::string PageChoice::text() const
{
    std::string out;
    for (const auto &[first, last] : m_ranges) {
        if (!out.empty())
            out += ',';
        out += std::to_string(first);
        if (last == INT_MAX)
            out += '-';
        else if (last != first)
            out += '-' + std::to_string(last);
    }
    return out;
}

PixelSize fitToBox(int64_t width, int64_t height, int boxWidth, int boxHeight)
{
    if (width <= 0 || height <= 0)
        return {};
    // The scale of the side that bounds the page; the other side is rounded to it.
    const double across = boxWidth > 0 ? double(boxWidth) / double(width) : HUGE_VAL;
    const double down = boxHeight > 0 ? double(boxHeight) / double(height) : HUGE_VAL;
    if (across == HUGE_VAL && down == HUGE_VAL)
        return {};
    if (across <= down)
        return {boxWidth, std::clamp(int(std::lround(double(height) * across)), 1,
                                     boxHeight > 0 ? boxHeight : INT_MAX)};
    return {
        std::clamp(int(std::lround(double(width) * down)), 1, boxWidth > 0 ? boxWidth : INT_MAX),
        boxHeight};
}
