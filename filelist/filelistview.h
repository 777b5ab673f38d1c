#pragma once

#include <QTreeWidget>

// The list of documents to convert: report view, one column, rows in the order of
// adding. Drops are not taken by the control itself; they are handled in code.
class FileListView : public QTreeWidget
{
    Q_OBJECT
public:
    explicit FileListView(QWidget *parent = nullptr);
};
