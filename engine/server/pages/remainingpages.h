#pragma once

#include <cstdint>
#include <vector>

// The part of a document that has not been cut yet, as the exporter's selection calls
// see it: the remaining pages in order, an insertion point and a selection, all
// counted in lines. Every page is `linesPerPage` lines long, so moving up far enough
// always reaches the start; a selection that touches part of a page takes the whole
// page. Positions (anchor, active end) are line numbers from the start of the rest.
class RemainingPages
{
public:
    struct Range
    {
        int first = 0; // index of the first selected page in the rest
        int count = 0; // number of selected pages
    };

    explicit RemainingPages(int pageCount, int linesPerPage = 60);

    int pageCount() const { return int(m_pages.size()); }
    int linesPerPage() const { return m_linesPerPage; }
    // The original page numbers (from 0) of the pages still in the rest.
    const std::vector<int> &pages() const { return m_pages; }

    // Puts the insertion point at the start of page `page` (from 1), clamped to the
    // pages there are; the selection collapses to it.
    void goToPage(int page);
    enum class Extend
    {
        Move,
        Extend,
    };
    // Moves the active end `lines` lines up, never past the start. With Extend the
    // anchor stays; with Move the selection collapses to the new point.
    void moveUp(int lines, Extend extend);
    // Moves the active end to the end of the rest.
    void endKey(Extend extend);

    // The pages the selection touches; count 0 when nothing is selected.
    Range selection() const;
    // Removes the selected pages and returns their original page numbers; the
    // insertion point is left where the selection began.
    std::vector<int> cut();

    int anchor() const { return m_anchor; }
    int active() const { return m_active; }

private:
    int endLine() const { return pageCount() * m_linesPerPage; }

    std::vector<int> m_pages;
    int m_linesPerPage;
    int m_anchor = 0;
    int m_active = 0;
};
