#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// The word processor as the page exporter drives it: one instance per document.
// Each call mirrors one automation call, with the same arguments in the same order.
// A call that fails throws Error with a message that names the document.
class WordApplication
{
public:
    virtual ~WordApplication() = default;

    virtual void documentsOpen(const QString &path) = 0;
    virtual void activeDocumentRepaginate() = 0;
    // Property 14 is the page count.
    virtual qint32 activeDocumentBuiltInDocumentProperties(qint32 property) = 0;
    // what 1 = a page, which 2 = the next one, page = its number among the remaining.
    virtual void selectionGoTo(qint32 what, qint32 which, qint16 page) = 0;
    // unit 5 = lines, extend 1 = move the active end only.
    virtual void selectionMoveUp(qint32 unit, qint16 count, qint32 extend) = 0;
    // unit 6 = the whole story.
    virtual void selectionEndKey(qint32 unit, qint32 extend) = 0;
    // Removes the selection and puts its picture on the system clipboard.
    virtual void selectionCut() = 0;
    virtual void activeDocumentClose(qint32 savechanges) = 0;
    virtual void quit() = 0;

    // Not an automation call: what the word processor left out of the open document
    // (pictures linked from files it may not read, or from the network), as the links
    // name them. Known once the document is open.
    virtual QStringList leftOut() const { return {}; }
};

// Creates a fresh instance, as creating the automation object does.
using WordFactory = std::function<std::unique_ptr<WordApplication>()>;
