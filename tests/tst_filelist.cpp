#include "addfiles.h"
#include "dropping.h"
#include "fakedialogs.h"
#include "filelistview.h"
#include "filetree.h"
#include "mainwindow.h"
#include "pathbytes.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>

namespace {

const QString kHeader = QStringLiteral(" Word File(s)");

QStringList rowsOf(const FileListView &list)
{
    QStringList rows;
    for (int position = 1; position <= list.rowCount(); ++position)
        rows << list.rowText(position);
    return rows;
}

QString nul()
{
    return QString(QChar(0));
}

std::unique_ptr<QMimeData> filesData(const QStringList &paths)
{
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    data->setUrls(urls);
    return data;
}

} // namespace

class TestFileList : public QObject
{
    Q_OBJECT

private:
    // One list for the whole run: the drag manager remembers the last drop target.
    FileListView m_list;
    FakeDialogs m_dialogs;
    std::unique_ptr<QTemporaryDir> m_dir;

    void fill(const QStringList &rows)
    {
        for (const QString &row : rows)
            m_list.appendRow(row);
    }

    // A drag that enters the list and, when `drop`, is released over it; whether the
    // list took the drag.
    bool drag(const QMimeData &data, bool drop)
    {
        const QPoint point = m_list.viewport()->rect().center();
        QDragEnterEvent enter(point, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(m_list.viewport(), &enter);
        if (!enter.isAccepted())
            return false;
        QDragMoveEvent move(point, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                            Qt::NoModifier);
        QApplication::sendEvent(m_list.viewport(), &move);
        if (!move.isAccepted() || move.dropAction() != Qt::CopyAction)
            return false;
        if (drop) {
            QDropEvent release(point, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                               Qt::NoModifier);
            QApplication::sendEvent(m_list.viewport(), &release);
            if (!release.isAccepted() || release.dropAction() != Qt::CopyAction)
                return false;
        }
        return true;
    }

private slots:
    void initTestCase()
    {
        // As the main window has it.
        connect(&m_list, &FileListView::pathsDropped, this,
                [this](const QStringList &paths) { appendDroppedPaths(m_list, paths); });
        m_list.setHeaderLabels({kHeader});
        m_list.resize(400, 200);
        m_list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_list));
    }

    void init()
    {
        m_list.clear();
        m_dialogs = FakeDialogs();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void rowsKeepOrderAndDuplicates()
    {
        fill({"/d/b.doc", "/d/a.doc", "/d/b.doc", " odd name.DOC "});
        QCOMPARE(m_list.rowCount(), 4);
        QCOMPARE(rowsOf(m_list),
                 (QStringList{"/d/b.doc", "/d/a.doc", "/d/b.doc", " odd name.DOC "}));
        QCOMPARE(m_list.rowText(0), QString());
        QCOMPARE(m_list.rowText(5), QString());
        m_list.appendRows({"/x", "/y"});
        QCOMPARE(m_list.rowText(6), QStringLiteral("/y"));
    }

    void keys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<QStringList>("expected");
        const QStringList removed{"a", "c"};
        const QStringList kept{"a", "b", "c"};
        QTest::newRow("Delete") << int(Qt::Key_Delete) << Qt::KeyboardModifiers() << removed;
        QTest::newRow("Shift+Delete")
            << int(Qt::Key_Delete) << Qt::KeyboardModifiers(Qt::ShiftModifier) << removed;
        QTest::newRow("Ctrl+Delete")
            << int(Qt::Key_Delete) << Qt::KeyboardModifiers(Qt::ControlModifier) << removed;
        QTest::newRow("Alt+Delete")
            << int(Qt::Key_Delete) << Qt::KeyboardModifiers(Qt::AltModifier) << removed;
        QTest::newRow("Ctrl+Shift+Delete")
            << int(Qt::Key_Delete) << Qt::KeyboardModifiers(Qt::ControlModifier | Qt::ShiftModifier)
            << removed;
        QTest::newRow("Backspace") << int(Qt::Key_Backspace) << Qt::KeyboardModifiers() << kept;
        QTest::newRow("Ctrl+X") << int(Qt::Key_X) << Qt::KeyboardModifiers(Qt::ControlModifier)
                                << kept;
        QTest::newRow("Return") << int(Qt::Key_Return) << Qt::KeyboardModifiers() << kept;
        QTest::newRow("Space") << int(Qt::Key_Space) << Qt::KeyboardModifiers() << kept;
    }

    void keys()
    {
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(QStringList, expected);
        fill({"a", "b", "c"});
        m_list.setCurrentItem(m_list.topLevelItem(1));
        QTest::keyClick(&m_list, Qt::Key(key), modifiers);
        QCOMPARE(rowsOf(m_list), expected);
        QCOMPARE(m_list.headerItem()->text(0), kHeader);
    }

    void doubleClickRemovesTheClickedRow()
    {
        fill({"a", "b", "c"});
        const QRect third = m_list.visualItemRect(m_list.topLevelItem(2));
        QVERIFY(third.isValid());
        QTest::mouseDClick(m_list.viewport(), Qt::LeftButton, {}, third.center());
        QCOMPARE(rowsOf(m_list), (QStringList{"a", "b"}));
    }

    void doubleClickBelowTheRowsRemovesNothing()
    {
        fill({"a", "b", "c"});
        QTest::mouseClick(m_list.viewport(), Qt::LeftButton, {},
                          m_list.visualItemRect(m_list.topLevelItem(1)).center());
        const QPoint below(10, m_list.visualItemRect(m_list.topLevelItem(2)).bottom() + 20);
        QVERIFY(m_list.viewport()->rect().contains(below));
        QTest::mouseDClick(m_list.viewport(), Qt::LeftButton, {}, below);
        QCOMPARE(rowsOf(m_list), (QStringList{"a", "b", "c"}));
    }

    void nothingToRemoveDoesNothing()
    {
        const int windows = QApplication::topLevelWidgets().size();
        QTest::keyClick(&m_list, Qt::Key_Delete);
        QTest::mouseDClick(m_list.viewport(), Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(m_list.rowCount(), 0);
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(m_list.headerItem()->text(0), kHeader);
        QCOMPARE(m_list.columnCount(), 1);
    }

    void openDialogAnswers_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("cancel") << QString() << QStringList{};
        QTest::newRow("one file") << "/home/u/Docs/report.doc"
                                  << QStringList{"/home/u/Docs/report.doc"};
        QTest::newRow("three files in order")
            << "/home/u/Docs" + nul() + "c.doc" + nul() + "a.doc" + nul() + "b.rtf"
            << QStringList{"/home/u/Docs/c.doc", "/home/u/Docs/a.doc", "/home/u/Docs/b.rtf"};
        QTest::newRow("root folder, one slash")
            << "/" + nul() + "a.doc" + nul() + "b.doc" << QStringList{"/a.doc", "/b.doc"};
        QTest::newRow("folder ending in a slash")
            << "/d/" + nul() + "a.doc" + nul() + "b.doc" << QStringList{"/d/a.doc", "/d/b.doc"};
        QTest::newRow("network path kept")
            << "//server/share/dir" + nul() + "a.doc" + nul() + "b.doc"
            << QStringList{"//server/share/dir/a.doc", "//server/share/dir/b.doc"};
        QTest::newRow("empty piece still counts")
            << "/d" + nul() + "a.doc" + nul() + nul() + "b.doc"
            << QStringList{"/d/a.doc", "/d/", "/d/b.doc"};
        QTest::newRow("one file, tilde kept")
            << "/d/~$report.doc" << QStringList{"/d/~$report.doc"};
    }

    void openDialogAnswers()
    {
        QFETCH(QString, answer);
        QFETCH(QStringList, expected);
        QCOMPARE(openDialogPaths(answer), expected);
        fill({"/earlier.doc"});
        m_dialogs.openAnswers.push_back(answer);
        addWordFiles(nullptr, m_dialogs, m_list);
        QCOMPARE(rowsOf(m_list), QStringList{"/earlier.doc"} + expected);
        QCOMPARE(m_dialogs.shown,
                 QStringList{"open: Add File(s) - Use Ctrl & Shift to select multiple files"});
        QCOMPARE(m_dialogs.lastFilter,
                 QStringLiteral("Word Documents (*.do*)|*.do*|All Files (*.*)|*.*"));
    }

    void cancelAfterEarlierUseAddsNothing()
    {
        m_dialogs.openAnswers = {"/d" + nul() + "a.doc" + nul() + "b.doc", QString()};
        addWordFiles(nullptr, m_dialogs, m_list);
        addWordFiles(nullptr, m_dialogs, m_list);
        QCOMPARE(rowsOf(m_list), (QStringList{"/d/a.doc", "/d/b.doc"}));
    }

    void sameFileTwiceGivesTwoRows()
    {
        m_dialogs.openAnswers = {"/d/a.doc", "/d/a.doc"};
        addWordFiles(nullptr, m_dialogs, m_list);
        addWordFiles(nullptr, m_dialogs, m_list);
        QCOMPARE(rowsOf(m_list), (QStringList{"/d/a.doc", "/d/a.doc"}));
    }

    void droppedFilesAsTheyStand()
    {
        const QString root = m_dir->path();
        makeTree(root, {"a.doc", "b.txt", "~$c.doc"});
        const QStringList dropped{root + "/a.doc", root + "/b.txt", root + "/~$c.doc",
                                  root + "/missing.doc", root + "/a.doc"};
        QVERIFY(drag(*filesData(dropped), true));
        QCOMPARE(rowsOf(m_list), dropped);
    }

    // The drop's own bytes decide the path: a name that is not valid UTF-8 stays the
    // same bytes; an address holding a NUL ("%00") names no file and is left out.
    void droppedNameThatIsNotUtf8()
    {
        const QByteArray raw = encodePath(m_dir->path()) + "/r\xE9sum\xE9 #1.doc";
        QMimeData data;
        data.setData("text/uri-list", "# a comment line\r\nfile://" + raw.toPercentEncoding("/") +
                                          "\r\nfile://" + encodePath(m_dir->path()) +
                                          "/a.rtf%00b.doc\r\n");
        QVERIFY(drag(data, true));
        QCOMPARE(m_list.rowCount(), 1);
        QCOMPARE(encodePath(m_list.rowText(1)), raw);
    }

    void droppedFoldersInDropOrder()
    {
        const QString root = m_dir->path();
        makeTree(root, {"A/a1.doc", "A/sub/a2.txt", "A/sub/~$x.doc", "A/.hid/no.doc", "f.pdf",
                        "B/b1.odt", "B/.b2"});
        QVERIFY(drag(*filesData({root + "/A", root + "/f.pdf", root + "/B/"}), true));
        const QStringList rows = rowsOf(m_list);
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows.mid(0, 3),
                 (QStringList{root + "/A/a1.doc", root + "/A/sub/a2.txt", root + "/f.pdf"}));
        // B's two files in the order its listing gives them.
        QCOMPARE(QSet<QString>(rows.begin() + 3, rows.end()),
                 (QSet<QString>{root + "/B/b1.odt", root + "/B/.b2"}));
    }

    void droppedHiddenFolderScanned()
    {
        const QString root = m_dir->path();
        makeTree(root, {".hidden/x.doc", ".hidden/S/y"});
        QVERIFY(drag(*filesData({root + "/.hidden"}), true));
        QCOMPARE(rowsOf(m_list), (QStringList{root + "/.hidden/x.doc", root + "/.hidden/S/y"}));
    }

    void dragsWithoutLocalFilesRefused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("url");
        QTest::newRow("plain text") << "/tmp/a.doc" << QString();
        QTest::newRow("web address") << QString() << "https://example.org/a.doc";
    }

    void dragsWithoutLocalFilesRefused()
    {
        QFETCH(QString, text);
        QFETCH(QString, url);
        QMimeData data;
        if (!text.isNull())
            data.setText(text);
        if (!url.isNull())
            data.setUrls({QUrl(url)});
        QVERIFY(!drag(data, false));
        // Even a drop that got through adds nothing.
        QDropEvent release(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_list.viewport(), &release);
        QCOMPARE(m_list.rowCount(), 0);
    }

    void buttonsOfTheMainWindow()
    {
        const QString root = m_dir->path();
        makeTree(root, {"a.doc", "S/b.doc", "S/c.txt"});
        FakeDialogs dialogs;
        MainWindowEnvironment environment;
        environment.dialogs = &dialogs;
        MainWindow form(environment);
        form.fileList->setHeaderLabels({kHeader});
        dialogs.openAnswers.push_back(root + nul() + "x.doc" + nul() + "y.doc");
        form.addFilesButton->click();
        dialogs.inputAnswers.push_back("doc");
        dialogs.folderAnswers.push_back(root);
        MousePointer seen = MousePointer::Hand;
        QMetaObject::invokeMethod(
            &form, [&] { seen = form.mousePointer(); }, Qt::QueuedConnection);
        form.addFolderButton->click();
        QCOMPARE(seen, MousePointer::Hourglass);
        QCOMPARE(form.mousePointer(), MousePointer::Arrow);
        QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(rowsOf(*form.fileList), (QStringList{root + "/x.doc", root + "/y.doc",
                                                      root + "/a.doc", root + "/S/b.doc"}));
        // A drop on the list reaches the window's handler: every file of the folder.
        emit form.fileList->pathsDropped({root + "/S"});
        QCOMPARE(rowsOf(*form.fileList).mid(4).size(), 2);
        QVERIFY(rowsOf(*form.fileList).mid(4).contains(root + "/S/c.txt"));
        QCOMPARE(dialogs.messages, QStringList());
    }
};

QTEST_MAIN(TestFileList)
#include "tst_filelist.moc"
