#include "filelistview.h"

#include "pathbytes.h"

#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>

namespace {

QStringList localPaths(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    // Read from the list's own bytes rather than through QUrl, which would turn a file
    // name that is not valid UTF-8 into another name.
    const QByteArray list = data->data(QStringLiteral("text/uri-list"));
    for (QByteArray line : list.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QUrl url = QUrl::fromEncoded(line);
        if (!url.isLocalFile())
            continue;
        // The path as it stands in the line: after the scheme and the (empty or
        // local) host, percent-decoded to bytes.
        const qsizetype start = line.indexOf('/', line.indexOf("://") + 3);
        // "%00" decodes to a NUL, which no file name holds: such an address names
        // no file.
        const QByteArray path = QByteArray::fromPercentEncoding(line.mid(start));
        if (!path.contains('\0'))
            paths << decodePath(path);
    }
    return paths;
}

} // namespace

FileListView::FileListView(QWidget *parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSortingEnabled(false);
    setHeaderHidden(false);
    setColumnCount(0);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setDropIndicatorShown(false);
    header()->setStretchLastSection(false);
}

void FileListView::appendRow(const QString &text)
{
    addTopLevelItem(new QTreeWidgetItem(QStringList{text}));
}

void FileListView::appendRows(const QStringList &texts)
{
    if (texts.isEmpty())
        return;
    QList<QTreeWidgetItem *> items;
    items.reserve(texts.size());
    for (const QString &text : texts)
        items << new QTreeWidgetItem(QStringList{text});
    addTopLevelItems(items);
}

int FileListView::rowCount() const
{
    return topLevelItemCount();
}

QString FileListView::rowText(int row) const
{
    const QTreeWidgetItem *item = topLevelItem(row - 1);
    return item ? item->text(0) : QString();
}

void FileListView::removeCurrentRow()
{
    const int index = indexOfTopLevelItem(currentItem());
    if (index >= 0)
        delete takeTopLevelItem(index);
}

void FileListView::keyPressEvent(QKeyEvent *event)
{
    // Delete removes whatever the modifiers; no other key removes anything.
    if (event->key() == Qt::Key_Delete) {
        removeCurrentRow();
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void FileListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTreeWidget::mouseDoubleClickEvent(event);
    // The press before it made the row under the pointer current. A double-click on
    // the empty area below the rows removes nothing: the current row there is one
    // the user no longer sees selected.
    if (itemAt(event->position().toPoint()))
        removeCurrentRow();
}

// Only drags that carry local files may be dropped; the item view's own rules (which
// want its internal row format) are bypassed.
void FileListView::dragEnterEvent(QDragEnterEvent *event)
{
    dragMoveEvent(event);
}

void FileListView::dragMoveEvent(QDragMoveEvent *event)
{
    if (localPaths(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->accept();
}

void FileListView::dropEvent(QDropEvent *event)
{
    const QStringList paths = localPaths(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->accept();
    emit pathsDropped(paths);
}
