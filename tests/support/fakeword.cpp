#include "fakeword.h"

#include "error.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPainter>

QImage fakePagePicture(const FakeWordLibrary::Page &page)
{
    QImage image(page.size, QImage::Format_ARGB32_Premultiplied);
    image.fill(page.color);
    return image;
}

class FakeWord : public WordApplication
{
public:
    explicit FakeWord(FakeWordLibrary &library) : m_library(library)
    {
        ++m_library.instancesCreated;
        ++m_library.instancesAlive;
        m_library.calls << QStringLiteral("new");
    }
    ~FakeWord() override { --m_library.instancesAlive; }

    void documentsOpen(const QString &path) override
    {
        record(QStringLiteral("Documents.Open(%1)").arg(path));
        auto found = m_library.m_documents.find(path);
        if (found == m_library.m_documents.end())
            throw Error(1, QStringLiteral("The file \"%1\" does not exist.").arg(path));
        m_document = found->second;
        m_rest = m_document.pages;
    }
    QStringList leftOut() const override { return m_document.leftOut; }
    void activeDocumentRepaginate() override
    {
        record(QStringLiteral("ActiveDocument.Repaginate"));
    }
    qint32 activeDocumentBuiltInDocumentProperties(qint32 property) override
    {
        record(QStringLiteral("ActiveDocument.BuiltInDocumentProperties(%1)").arg(property));
        return m_document.reportedPageCount.value_or(qint32(m_document.pages.size()));
    }
    void selectionGoTo(qint32 what, qint32 which, qint16 page) override
    {
        record(QStringLiteral("Selection.GoTo(%1,%2,%3)").arg(what).arg(which).arg(page));
        // The start of the page-th remaining page, as a line position.
        m_anchor = m_active = std::min<int>(page - 1, int(m_rest.size())) * kLinesPerPage;
    }
    void selectionMoveUp(qint32 unit, qint16 count, qint32 extend) override
    {
        record(QStringLiteral("Selection.MoveUp(%1,%2,%3)").arg(unit).arg(count).arg(extend));
        m_active = std::max(0, m_active - count);
        if (!extend)
            m_anchor = m_active;
    }
    void selectionEndKey(qint32 unit, qint32 extend) override
    {
        record(QStringLiteral("Selection.EndKey(%1,%2)").arg(unit).arg(extend));
        m_active = int(m_rest.size()) * kLinesPerPage;
        if (!extend)
            m_anchor = m_active;
    }
    void selectionCut() override
    {
        record(QStringLiteral("Selection.Cut"));
        const int from = std::min(m_anchor, m_active) / kLinesPerPage;
        const int to = (std::max(m_anchor, m_active) + kLinesPerPage - 1) / kLinesPerPage;
        if (to <= from || from >= int(m_rest.size()))
            throw Error(1, QStringLiteral("Nothing is selected."));
        // Selected pages stacked into one picture.
        int width = 0, height = 0;
        for (int i = from; i < to; ++i) {
            width = std::max(width, m_rest[size_t(i)].size.width());
            height += m_rest[size_t(i)].size.height();
        }
        QImage picture(width, height, QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::white);
        QPainter painter(&picture);
        int y = 0;
        for (int i = from; i < to; ++i) {
            painter.drawImage(0, y, fakePagePicture(m_rest[size_t(i)]));
            y += m_rest[size_t(i)].size.height();
        }
        painter.end();
        m_rest.erase(m_rest.begin() + from, m_rest.begin() + to);
        m_anchor = m_active = from * kLinesPerPage;
        QGuiApplication::clipboard()->setImage(picture);
    }
    void activeDocumentClose(qint32 savechanges) override
    {
        record(QStringLiteral("ActiveDocument.Close(%1)").arg(savechanges));
    }
    void quit() override
    {
        record(QStringLiteral("Quit"));
        ++m_library.instancesQuit;
    }

private:
    static constexpr int kLinesPerPage = 40;

    void record(const QString &call)
    {
        m_library.calls << call;
        if (!m_library.failOn.isEmpty() && call.startsWith(m_library.failOn) &&
            ++m_library.m_failSeen == m_library.failAfter)
            throw Error(1, m_library.failMessage);
        if (m_library.onCall)
            m_library.onCall(call);
    }

    FakeWordLibrary &m_library;
    FakeWordLibrary::Document m_document;
    std::vector<FakeWordLibrary::Page> m_rest;
    int m_anchor = 0;
    int m_active = 0;
};

void FakeWordLibrary::addDocument(const QString &path, std::vector<Page> pages)
{
    m_documents[path] = Document{std::move(pages), std::nullopt, {}};
}

WordFactory FakeWordLibrary::factory()
{
    return [this] { return std::unique_ptr<WordApplication>(std::make_unique<FakeWord>(*this)); };
}
