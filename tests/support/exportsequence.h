#pragma once

#include "errorof.h"
#include "wordapplication.h"

#include <QString>
#include <functional>

// The page exporter's calls for the pages of an open document: each page but the last
// by going to page 2 and moving up, the last by selecting to the end; `afterCut` runs
// after each cut with the page's index from 0. A count below 1 still cuts once.
inline void cutAllPages(WordApplication &word, qint32 count,
                        const std::function<void(int page)> &afterCut)
{
    for (int page = 0; page < std::max(1, count); ++page) {
        if (page < count - 1) {
            word.selectionGoTo(1, 2, 2);
            for (int i = 0; i < 100; ++i)
                word.selectionMoveUp(5, 200, 1);
        } else {
            word.selectionEndKey(6, 1);
        }
        word.selectionCut();
        afterCut(page);
    }
}
