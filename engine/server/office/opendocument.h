#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace lok {
class Document;
}

// A document open in LibreOfficeKit, as the pages room uses one that could not be
// printed hidden: its view drawn page by page, or its PDF export.
class OpenDocument
{
public:
    explicit OpenDocument(std::unique_ptr<lok::Document> document);
    ~OpenDocument();
    OpenDocument(const OpenDocument &) = delete;
    OpenDocument &operator=(const OpenDocument &) = delete;

    // Readies the view to be drawn as the document prints (kRenderingOptions), with
    // every field brought up to date, as LibreOffice does before it prints (hidden text
    // whose condition holds disappears, for one); the view it loads shows them as stored.
    void prepareForDrawing();
    // The page rectangles as "x, y, width, height; ..." in twips, in page order.
    std::string pageRectangles();
    // Draws the view's rectangle `x`, `y`, `width`, `height` (twips) into `buffer`,
    // `canvasWidth` x `canvasHeight` pixels.
    void paint(uint8_t *buffer, int canvasWidth, int canvasHeight, int x, int y, int width,
               int height);
    // Saves the document as PDF at `file`, as the office's own conversion to PDF does.
    bool exportPdf(const std::filesystem::path &file);
    // Leaves the document to the end of the process: the office's teardown of a
    // document is slow, and nothing of it is saved.
    void abandon();

private:
    std::unique_ptr<lok::Document> m_document;
};
