#pragma once

#include "pixelbuffer.h"
#include "printedpages.h"
#include "remainingpages.h"
#include "wireformat.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lok {
class Document;
}
class EngineOffice;

// One document's life in the engine: the calls of the exporter, answered against the
// office's layout of the document and the pages not yet cut.
class EngineSession
{
public:
    struct Reply
    {
        engineprotocol::ReplyHeader header;
        std::string detail; // a refusal's explanation
        PixelBuffer pixels; // a cut's picture
    };

    explicit EngineSession(EngineOffice &office);
    ~EngineSession();

    Reply handle(const engineprotocol::Request &request);
    // Runs once a reply has gone out, while the client works on it: after a cut, draws
    // the page the next cut will most likely take, the first page left.
    void afterReply(const engineprotocol::Request &request);

private:
    struct PageBox
    {
        long x = 0, y = 0, width = 0, height = 0; // twips
        int pixelWidth = 0, pixelHeight = 0;      // at the document's resolution
    };

    Reply open(const engineprotocol::Request &request);
    Reply moveActiveEnd(const engineprotocol::Request &request);
    Reply cut();
    void paginate();
    void usePrintedPages();
    // Draws page `page` of m_pages into `buffer`, `canvasWidth` pixels to a row.
    void renderInto(int page, uint8_t *buffer, int canvasWidth);

    EngineOffice &m_office;
    std::unique_ptr<lok::Document> m_document;
    int m_dpi = 0; // the resolution the document's pages are drawn at
    std::vector<PageBox> m_pages;
    // The pages as the office prints them, when they are the pages of m_pages; else
    // null, and pages are drawn as tiles of the office's view.
    std::unique_ptr<PrintedPages> m_printed;
    bool m_printedTried = false;
    std::optional<RemainingPages> m_rest;
    int m_aheadPage = -1; // the page drawn ahead into m_aheadPixels, or -1
    PixelBuffer m_aheadPixels;
    // Documents closed by the client. The office's teardown of a document takes
    // milliseconds and leaves nothing behind that matters, since the engine never
    // saves: a closed document is set aside, and goes with the engine's process.
    std::vector<std::unique_ptr<lok::Document>> m_closed;
};
