#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>

// Documents that reach outside themselves, made by the tests: a picture linked rather
// than embedded, as each format writes such a link, and a document whose load event
// runs a macro.

enum class LinkingFormat
{
    Odt,     // OpenDocument: draw:image with an xlink:href, in a zip
    FlatOdt, // the same in one XML file
    Docx,    // Office Open XML: a:blip r:link to an external relationship
};

// A one-page document whose only picture, two inches square, is linked from `href`.
QByteArray linkedPictureDocument(LinkingFormat format, const QString &href);
// A PNG of one colour.
QByteArray solidPng(const QColor &color);
// How many pixels of `page` are near `color` (a linked picture drawn, or not).
int pixelsNear(const QImage &page, const QColor &color);

// Flat OpenDocument text whose load event runs a Basic macro of its own that writes
// "macro-ran" into the running office's user profile folder ($(user)).
QByteArray macroDocument();
inline constexpr const char *kMacroMarker = "macro-ran";
