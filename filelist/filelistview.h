#pragma once

#include <QStringList>
#include <QTreeWidget>

// The list of documents to convert: report view, one column, rows in the order of
// adding. Each row's only datum is its text, a path as its source built it. Drops of
// local files are accepted and handed on as paths (pathsDropped); the list itself
// adds nothing for them.
class FileListView : public QTreeWidget
{
    Q_OBJECT
public:
    explicit FileListView(QWidget *parent = nullptr);

    // Appends after the last row; the text is kept exactly as given.
    void appendRow(const QString &text);
    void appendRows(const QStringList &texts);
    int rowCount() const;
    // The text of row `row`, counted from 1 at the top; empty outside
    // 1 to rowCount().
    QString rowText(int row) const;
    // Removes the current row; does nothing when there is none.
    void removeCurrentRow();

signals:
    // Local files and folders dropped on the list, in drop order.
    void pathsDropped(const QStringList &paths);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
};
