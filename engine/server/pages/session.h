#pragma once

#include "drawingahead.h"
#include "pagechoice.h"
#include "pixelbuffer.h"
#include "printedpages.h"
#include "remainingpages.h"
#include "uniquefd.h"
#include "wireformat.h"

#include <array>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class EngineOffice;
class OpenDocument;
class HandedDocument;

// The documents' lives in the engine: the calls of the exporter, answered against the
// office's layout of the open document and the pages not yet cut.
//
// An engine serves one document, or several one after another, as `Reuse` allows: the
// answer to Close tells the client whether another may follow. It does so only while
// no call was refused, fewer than `documents` were opened, the process's resident
// memory stays below `residentBytes`, and no document brought state of its own into
// the office (EngineOffice::stateBroughtBy). The office must have warmed up (warmUp)
// on the same document as every engine's, so that each engine's first document finds
// the office alike; a later document then finds it as a first one would.
//
// An engine without an office (`office` null) serves one PDF document, drawn from the
// file as any PDF is, and refuses documents of other kinds.
class EngineSession
{
public:
    struct Reply
    {
        engineprotocol::ReplyHeader header;
        std::string detail;                  // a refusal's explanation
        std::shared_ptr<PixelBuffer> pixels; // a cut's picture, or null
    };

    struct Reuse
    {
        int documents = 1;
        size_t residentBytes = size_t(1) << 30;
        // The process's resident size in bytes now, which the process around the
        // session measures (process/memorywatch.h).
        std::function<size_t()> currentResidentBytes;
    };
    // The resident memory below which an engine that may take `memoryLimitBytes`
    // (0: no limit) goes on to another document: at most 1 GiB, and half its limit,
    // so that what a document leaves behind never makes the next one pass the limit.
    static size_t reuseResidentBytes(size_t memoryLimitBytes);

    EngineSession(EngineOffice *office, Reuse reuse);
    ~EngineSession();

    // Loads `path` and draws a little of it, then forgets it: the office's one-time
    // set-up for a first document, and poppler's fonts and drawing code, are then
    // ready before a real document comes. Every engine that may serve several
    // documents warms up on the same document, so that the first document of each
    // finds the office in the same state. False when the document could not be loaded
    // or drawn; the session then serves one document only.
    bool warmUp(const std::string &path);

    // `document` is the document an Open call brought along, or nothing.
    Reply handle(const engineprotocol::Request &request, UniqueFd document = {});
    // Runs once a reply has gone out, while the client works on it: after a cut, draws
    // the page the next cut will most likely take, the first page left; for a document
    // converted alone, the first two pages left, on two helper threads.
    void afterReply(const engineprotocol::Request &request);

private:
    struct PageBox
    {
        long x = 0, y = 0, width = 0, height = 0; // twips
        int pixelWidth = 0, pixelHeight = 0;      // at the document's resolution or box
        PrintedPages::Scale scale;                // what draws it to those pixels
    };

    Reply answer(const engineprotocol::Request &request, UniqueFd document);
    // Opens the document; the reply lists what was left out of it (handover.h).
    Reply open(const engineprotocol::Request &request, UniqueFd document);
    Reply chooseDrawing(const engineprotocol::Request &request);
    // The first `count` pages left that are to be drawn, at most.
    std::vector<int> chosenAhead(size_t count) const;
    Reply close();
    // Whether the engine may open another document once the open one is closed.
    bool mayServeAnother();
    Reply moveActiveEnd(const engineprotocol::Request &request);
    Reply cut(int32_t givenBack);
    void paginate();
    // Sets the pixel size of a page whose twips are known, and the scale that draws it.
    void measure(PageBox &box) const;
    void usePrintedPages();
    // Draws page `page` of m_pages into `buffer`, `canvasWidth` pixels to a row.
    // False when the page could not be drawn.
    bool renderInto(int page, uint8_t *buffer, int canvasWidth, int reader);

    // Memory for a picture of `size` bytes: a page buffer the client does not hold,
    // when the picture is not too large to keep; else fresh memory. Cleared, as fresh
    // memory is, when `blank` (a tile of the view is drawn over what lies there;
    // poppler sets every pixel itself).
    Picture pictureMemory(size_t size, bool blank);
    // Draws `pages`, one under the other, into `picture`, `width` pixels wide and
    // `height` high. The page that could not be drawn, with `picture` left empty; or -1.
    int drawPicture(const std::vector<int> &pages, int width, int64_t height, Picture &picture);
    // The same in two steps: the memory, taken on the engine's thread; then the drawing,
    // with reader `reader` of m_printed, which may run on another thread.
    Picture memoryFor(int width, int64_t height);
    size_t pictureBytes(int page) const;
    int drawInto(const std::vector<int> &pages, int width, Picture &picture, int reader);

    EngineOffice *m_office; // null: one PDF document only
    Reuse m_reuse;
    bool m_warmedUp = false;      // warmUp drew the warm-up document
    int m_opened = 0;             // documents opened
    bool m_refused = false;       // a call was refused
    bool m_servesAnother = false; // the answer to the last Close
    bool m_open = false;          // a document is open
    // No other document is converted meanwhile (Repaginate says so): printed pages
    // are then drawn ahead by helpers, on other processors.
    bool m_onlyDocument = false;
    // The open document in LibreOfficeKit, when it could not be printed as the office's
    // converter prints it; else null, and the pages are m_printed's.
    std::unique_ptr<OpenDocument> m_document;
    std::string m_path; // the open document's, as the office opened it
    // The copy of the open document that the office reads, when it was handed over.
    std::unique_ptr<HandedDocument> m_copy;
    int m_dpi = 0; // the resolution the document's pages are drawn at
    // How the Drawing call asked for the pages to be drawn: a box to fit (0: no bound
    // that way), grey, and which pages.
    int m_boxWidth = 0;
    int m_boxHeight = 0;
    bool m_grey = false;
    PageChoice m_choice;
    std::vector<PageBox> m_pages;
    // The pages as the office prints them, when they are the pages of m_pages; else
    // null, and pages are drawn as tiles of the view of m_document.
    std::unique_ptr<PrintedPages> m_printed;
    bool m_printedTried = false;
    std::optional<RemainingPages> m_rest;
    // Pages drawn ahead, on this thread or by helpers with readers of m_printed.
    DrawingAhead m_ahead;
    // Page buffers, kept from page to page and from document to document, and whether
    // the client holds a picture in each.
    std::array<std::shared_ptr<PixelBuffer>, engineprotocol::kPageBuffers> m_buffers;
    std::array<bool, engineprotocol::kPageBuffers> m_lent{};
    // Documents closed by the client. The office's teardown of a document takes
    // milliseconds and leaves nothing behind that matters, since the engine never
    // saves: a closed document is set aside, and goes with the engine's process, or
    // is destroyed after the reply to Close when the engine serves another.
    std::vector<std::unique_ptr<OpenDocument>> m_closed;
};
