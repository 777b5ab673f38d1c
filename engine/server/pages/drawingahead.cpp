#include "drawingahead.h"

#include <algorithm>
#include <chrono>
#include <utility>

bool DrawingAhead::has(int page) const
{
    return std::any_of(m_helpers.begin(), m_helpers.end(),
                       [page](const Helper &helper) { return helper.page == page; }) ||
           std::any_of(m_kept.begin(), m_kept.end(),
                       [page](const Kept &kept) { return kept.page == page; });
}

void DrawingAhead::keepOnly(const std::vector<int> &pages)
{
    std::erase_if(m_kept, [&](const Kept &kept) {
        return std::find(pages.begin(), pages.end(), kept.page) == pages.end();
    });
}

void DrawingAhead::keep(int page, Picture picture)
{
    m_kept.push_back({page, std::move(picture)});
}

bool DrawingAhead::startHelper(int page, const std::function<bool(int reader)> &ready,
                               const std::function<Picture()> &memory, Draw draw)
{
    for (size_t number = 0; number < m_helpers.size(); ++number) {
        Helper &helper = m_helpers[number];
        const int reader = int(number) + 1;
        if (helper.page >= 0 || !ready(reader))
            continue;
        helper.page = page;
        helper.picture = memory();
        helper.drawn = std::async(std::launch::async, [draw = std::move(draw), &helper, reader] {
            return draw(helper.picture, reader);
        });
        return true;
    }
    return false;
}

Picture DrawingAhead::take(int page)
{
    for (Helper &helper : m_helpers) {
        if (helper.page == page)
            settle(helper, true);
    }
    for (auto kept = m_kept.begin(); kept != m_kept.end(); ++kept) {
        if (kept->page == page) {
            Picture picture = std::move(kept->picture);
            m_kept.erase(kept);
            return picture;
        }
    }
    return {};
}

void DrawingAhead::settle(bool wait)
{
    for (Helper &helper : m_helpers)
        settle(helper, wait);
}

void DrawingAhead::settle(Helper &helper, bool wait)
{
    if (helper.page < 0)
        return;
    if (!wait && helper.drawn.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return;
    if (helper.drawn.get() < 0)
        m_kept.push_back({helper.page, std::move(helper.picture)});
    helper.page = -1;
    helper.picture = {};
}

void DrawingAhead::drop()
{
    settle(true);
    m_kept.clear();
}

bool DrawingAhead::holds(int number) const
{
    if (number < 0)
        return false;
    return std::any_of(m_helpers.begin(), m_helpers.end(),
                       [number](const Helper &helper) {
                           return helper.page >= 0 && helper.picture.number == number;
                       }) ||
           std::any_of(m_kept.begin(), m_kept.end(),
                       [number](const Kept &kept) { return kept.picture.number == number; });
}
