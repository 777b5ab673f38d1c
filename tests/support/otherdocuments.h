#pragma once

#include <QByteArray>

// Presentations, spreadsheets, drawings and PDFs the engine tests make by hand, each
// with what decides how it prints.

// Three slides of `width` x `height` (ODF lengths, "28cm"): the second hidden, the
// first with notes. Printed: two slides, no notes page.
QByteArray flatPresentation(const char *width, const char *height);

// A sheet nine 5 cm columns wide on A4 with 2 cm margins, three pages across, then a
// second sheet on a landscape A5 page style.
QByteArray flatSpreadsheet();

// Two A5 pages of shapes.
QByteArray flatDrawing();

// A Keynote 09 presentation (an index.apxl in a zip) of two 1024 x 768 point slides,
// each with a line of text, as the office's Keynote import reads it.
QByteArray keynotePresentation();

// A PDF of three pages: A4; Letter landscape with a crop box half an inch in; A5
// turned by a quarter.
QByteArray madePdf();

// `slides` slides of 28 x 15.75 cm, each with a title, a few lines of text and three
// filled shapes that differ from slide to slide.
QByteArray flatSlideShow(int slides);
