#pragma once

#include "pixelbuffer.h"

#include <array>
#include <functional>
#include <future>
#include <vector>

// Pages drawn before the cut that takes them: kept pictures, and up to two helper
// threads drawing the next pages meanwhile. Helper n draws with reader n + 1 of the
// printed pages; the engine's own thread draws with reader 0.
class DrawingAhead
{
public:
    // Draws a page into a picture with a reader; the page that could not be drawn
    // (the picture left empty), or -1.
    using Draw = std::function<int(Picture &picture, int reader)>;

    DrawingAhead() = default;
    DrawingAhead(const DrawingAhead &) = delete;
    DrawingAhead &operator=(const DrawingAhead &) = delete;
    ~DrawingAhead() { settle(true); }

    // Whether `page` is kept or being drawn.
    bool has(int page) const;
    // Forgets the pictures kept of other pages than `pages`; helpers go on.
    void keepOnly(const std::vector<int> &pages);
    void keep(int page, Picture picture);
    // Has a free helper draw `page`, once `ready(reader)` made its reader ready, into
    // the memory `memory()` gives. False when no helper could.
    bool startHelper(int page, const std::function<bool(int reader)> &ready,
                     const std::function<Picture()> &memory, Draw draw);
    // The picture of `page`, waiting for its helper; empty when none is kept.
    Picture take(int page);
    // Keeps the pictures the helpers have drawn; waits for them when `wait`.
    void settle(bool wait);
    // Waits for the helpers and forgets every picture.
    void drop();
    // Whether page buffer `number` holds a picture kept or being drawn.
    bool holds(int number) const;

private:
    struct Kept
    {
        int page = -1;
        Picture picture;
    };
    struct Helper
    {
        int page = -1; // -1: draws none
        Picture picture;
        std::future<int> drawn; // the drawing's answer
    };
    void settle(Helper &helper, bool wait);

    std::vector<Kept> m_kept;
    std::array<Helper, 2> m_helpers;
};
