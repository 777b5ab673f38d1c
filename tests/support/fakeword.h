#pragma once

#include "wordapplication.h"

#include <QColor>
#include <QImage>
#include <QSize>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// A word processor for tests. Documents are registered by path with their pages
// (a size and a colour each); the instance keeps the rest of the document as the
// real engine does, renders known pixels on Cut, records every call, and can fail
// on command.
class FakeWordLibrary
{
public:
    struct Page
    {
        QSize size;
        QColor color;
    };
    struct Document
    {
        std::vector<Page> pages;
        // The page count reported; by default the number of pages.
        std::optional<qint32> reportedPageCount;
        // What the word processor says it left out of the document.
        QStringList leftOut;
    };

    void addDocument(const QString &path, std::vector<Page> pages);
    Document &document(const QString &path) { return m_documents.at(path); }

    // The factory that the exporter receives.
    WordFactory factory();

    // Every call of every instance, in order, as "Name(arguments)", e.g.
    // "Selection.GoTo(1,2,2)". Instances are separated by "new".
    QStringList calls;
    int instancesCreated = 0;
    int instancesAlive = 0; // made and not yet destroyed
    int instancesQuit = 0;

    // Throws Error(number 1, `failMessage`) from the call whose recorded text starts
    // with `failOn`, the `failAfter`-th time it is seen (counting from 1).
    QString failOn;
    int failAfter = 1;
    QString failMessage = QStringLiteral("The fake word processor refused.");

    // Runs after each call is recorded (tests use it to act "during" an export).
    std::function<void(const QString &call)> onCall;

private:
    friend class FakeWord;
    std::map<QString, Document> m_documents;
    int m_failSeen = 0;
};

// The colour of a page picture's top-left pixel tells which page it is.
QImage fakePagePicture(const FakeWordLibrary::Page &page);
