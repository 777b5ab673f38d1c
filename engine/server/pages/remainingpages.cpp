#include "remainingpages.h"

#include <algorithm>

RemainingPages::RemainingPages(int pageCount, int linesPerPage)
    : m_linesPerPage(std::max(1, linesPerPage))
{
    for (int page = 0; page < pageCount; ++page)
        m_pages.push_back(page);
}

void RemainingPages::goToPage(int page)
{
    const int clamped = std::clamp(page, 1, std::max(1, pageCount()));
    m_anchor = m_active = std::min((clamped - 1) * m_linesPerPage, endLine());
}

void RemainingPages::moveUp(int lines, Extend extend)
{
    // Lines are counted in 64 bits so a huge count cannot wrap around.
    const int64_t target = int64_t(m_active) - std::max<int64_t>(0, lines);
    m_active = int(std::max<int64_t>(0, target));
    if (extend == Extend::Move)
        m_anchor = m_active;
}

void RemainingPages::endKey(Extend extend)
{
    m_active = endLine();
    if (extend == Extend::Move)
        m_anchor = m_active;
}

RemainingPages::Range RemainingPages::selection() const
{
    const int start = std::min(m_anchor, m_active);
    const int end = std::max(m_anchor, m_active);
    if (start == end)
        return {start / m_linesPerPage, 0};
    const int first = start / m_linesPerPage;
    const int last = (end + m_linesPerPage - 1) / m_linesPerPage; // one past
    return {first, std::min(last, pageCount()) - first};
}

std::vector<int> RemainingPages::cut()
{
    const Range range = selection();
    std::vector<int> taken(m_pages.begin() + range.first,
                           m_pages.begin() + range.first + range.count);
    m_pages.erase(m_pages.begin() + range.first, m_pages.begin() + range.first + range.count);
    m_anchor = m_active = range.first * m_linesPerPage;
    return taken;
}
