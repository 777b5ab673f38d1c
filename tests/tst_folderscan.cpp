#include "addfolder.h"
#include "dirlisting.h"
#include "dropping.h"
#include "fakedialogs.h"
#include "filelistview.h"
#include "filetree.h"
#include "folderscan.h"
#include "madedocuments.h"
#include "mousepointer.h"
#include "pathbytes.h"
#include "pointerlog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Runs `action` when events have been processed `rounds` times from now: inside a
// scan, since nothing else processes events while the test waits on the scan.
void duringScan(int rounds, std::function<void()> action)
{
    QMetaObject::invokeMethod(
        qApp,
        [rounds, action] {
            if (rounds <= 1)
                action();
            else
                duringScan(rounds - 1, action);
        },
        Qt::QueuedConnection);
}

QStringList relative(const QString &root, const QStringList &rows)
{
    QStringList result;
    for (const QString &row : rows) {
        if (row.startsWith(root + u'/'))
            result << row.mid(root.size() + 1);
        else
            result << QStringLiteral("outside: ") + row;
    }
    return result;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// Gives up root's right to read everything while it lives, so that a folder with no
// permissions is unreadable even when the tests run as root.
class WithoutRootRights
{
public:
    WithoutRootRights() : m_wasRoot(geteuid() == 0)
    {
        if (m_wasRoot)
            m_dropped = seteuid(65534) == 0;
    }
    ~WithoutRootRights()
    {
        if (m_dropped && seteuid(0) != 0)
            qFatal("cannot take root rights back");
    }
    bool unprivileged() const { return !m_wasRoot || m_dropped; }

private:
    bool m_wasRoot;
    bool m_dropped = false;
};

} // namespace

class TestFolderScan : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_root;
    FakeDialogs m_dialogs;
    PointerLog m_pointer;
    FileListView m_list;

    // The folder button, answered with `extension` and the test's folder.
    QStringList scan(const QString &extension, const QString &folder = {})
    {
        m_dialogs.inputAnswers.push_back(extension);
        m_dialogs.folderAnswers.push_back(folder.isNull() ? m_root : folder);
        addAllWordFilesInFolder(nullptr, m_dialogs, m_pointer, m_list);
        return rows();
    }

    QStringList rows() const
    {
        QStringList result;
        for (int position = 1; position <= m_list.rowCount(); ++position)
            result << m_list.rowText(position);
        return relative(m_root, result);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_root = m_dir->path() + QStringLiteral("/R");
        QVERIFY(QDir().mkpath(m_root));
        m_dialogs = FakeDialogs();
        m_pointer = PointerLog();
        m_list.clear();
    }

    void wildcards_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("matches");
        QTest::newRow("extension") << "a.doc"
                                   << "*.doc" << true;
        QTest::newRow("extension in capitals") << "REPORT.DOC"
                                               << "*.doc" << true;
        QTest::newRow("pattern in capitals") << "report.doc"
                                             << "*.DOC" << true;
        QTest::newRow("longer extension") << "a.docx"
                                          << "*.doc" << false;
        QTest::newRow("other extension") << "a.txt"
                                         << "*.doc" << false;
        QTest::newRow("two dots, last one counts") << "a.b.doc"
                                                   << "*.doc" << true;
        QTest::newRow("extension in the middle") << "a.doc.bak"
                                                 << "*.doc" << false;
        QTest::newRow("star inside the extension") << "a.docx"
                                                   << "*.do*" << true;
        QTest::newRow("star dot star, no dot") << "README"
                                               << "*.*" << true;
        QTest::newRow("star dot star, hidden") << ".profile"
                                               << "*.*" << true;
        QTest::newRow("leading dot typed") << "a.doc"
                                           << "*..doc" << false;
        QTest::newRow("leading dot typed, two dots") << "a..doc"
                                                     << "*..doc" << true;
        QTest::newRow("question mark") << "ab.doc"
                                       << "a?.doc" << true;
        QTest::newRow("question mark needs a character") << "a.doc"
                                                         << "a?.doc" << false;
        QTest::newRow("letters beyond ASCII")
            << QString::fromUtf8("Über.DOC") << QString::fromUtf8("über.doc") << true;
        QTest::newRow("plain name") << "name"
                                    << "NAME" << true;
    }

    void wildcards()
    {
        QFETCH(QString, name);
        QFETCH(QString, pattern);
        QFETCH(bool, matches);
        QCOMPARE(matchesWildcard(name, pattern), matches);
    }

    void listingFiltersByAttributes_data()
    {
        QTest::addColumn<int>("attributes");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("files, hidden ones too")
            << int(HiddenAttribute | SystemAttribute) << QStringList{".h.doc", "a.doc"};
        QTest::newRow("folders, not hidden ones")
            << int(DirectoryAttribute) << QStringList{"S", "a.doc"};
        QTest::newRow("plain files only") << 0 << QStringList{"a.doc"};
    }

    void listingFiltersByAttributes()
    {
        QFETCH(int, attributes);
        QFETCH(QStringList, expected);
        makeTree(m_root, {"a.doc", ".h.doc", "S/", ".hid/"});
        DirListing listing(m_root + u'/', attributes);
        QVERIFY(listing.isOpen());
        QStringList names;
        while (listing.next())
            names << listing.name();
        QCOMPARE(sorted(names), expected);
    }

    void listingsKeepTheirOwnPositions()
    {
        makeTree(m_root, {"1", "2", "3", "4", "5"});
        DirListing outer(m_root + u'/', 0);
        QStringList outerNames;
        while (outer.next()) {
            outerNames << outer.name();
            // A listing of the same folder run in between, as a nested scan would.
            DirListing inner(m_root + u'/', 0);
            QStringList innerNames;
            while (inner.next())
                innerNames << inner.name();
            QCOMPARE(innerNames, nativeOrder(m_root));
        }
        QCOMPARE(outerNames, nativeOrder(m_root));
    }

    void missingFolderListsNothing()
    {
        DirListing listing(m_root + QStringLiteral("/none/*.*"), HiddenAttribute);
        QVERIFY(!listing.isOpen());
        QVERIFY(!listing.next());
        QCOMPARE(fileAttributes(m_root + QStringLiteral("/none")), -1);
        QCOMPARE(listFiles(m_root + QStringLiteral("/none"), QStringLiteral("*.*")), QStringList());
    }

    void listFilesTakesFolderWithOrWithoutSlash()
    {
        makeTree(m_root, {"a.doc", "b.txt", "S/c.doc"});
        QCOMPARE(listFiles(m_root, QStringLiteral("*.doc")), QStringList{"a.doc"});
        QCOMPARE(listFiles(m_root + u'/', QStringLiteral("*.doc")), QStringList{"a.doc"});
    }

    // Names are bytes: ones that are not valid UTF-8 come out of the scan and the
    // drop as text that turns back into the same bytes.
    void namesThatAreNotUtf8()
    {
        const QByteArray root = encodePath(m_root);
        QVERIFY(::mkdir(root + "/D\xE9p\xF4t", 0755) == 0);
        for (const QByteArray &name :
             {QByteArray("/caf\xE9.doc"), QByteArray("/D\xE9p\xF4t/\xFF.DOC")})
            QVERIFY(writeFile(decodePath(root + name), "x"));
        const QStringList rows = folderTreeRows(m_root, QStringLiteral("*.doc"));
        QCOMPARE(rows.size(), 2);
        QCOMPARE(encodePath(rows[0]), root + "/caf\xE9.doc");
        QCOMPARE(encodePath(rows[1]), root + "/D\xE9p\xF4t/\xFF.DOC");
        QVERIFY(fileAttributes(rows[1]) >= 0);

        appendDroppedPaths(m_list, {decodePath(root + "/D\xE9p\xF4t")});
        QCOMPARE(m_list.rowCount(), 1);
        QCOMPARE(encodePath(m_list.rowText(1)), root + "/D\xE9p\xF4t/\xFF.DOC");
    }

    // The tree R: a.doc; S: b.doc; T: c.doc; S/U: d.doc. R's own file first, then its
    // subfolders' files in the order R lists them, then the next level.
    void breadthFirstInListingOrder()
    {
        makeTree(m_root, {"a.doc", "S/b.doc", "T/c.doc", "S/U/d.doc"});
        QStringList expected{"a.doc"};
        for (const QString &name : nativeOrder(m_root)) {
            if (name == QLatin1String("S"))
                expected << "S/b.doc";
            else if (name == QLatin1String("T"))
                expected << "T/c.doc";
        }
        expected << "S/U/d.doc";
        QCOMPARE(scan("doc"), expected);
    }

    void collectSubfoldersLevelByLevel()
    {
        makeTree(m_root, {"S/U/", "T/", "S/V/W/", "T/X/"});
        FolderSet folders(m_root);
        collectSubfolders(folders);
        const QStringList entries = relative(m_root, folders.entries().mid(1));
        QCOMPARE(folders.entries().first(), m_root + u'/');
        QCOMPARE(entries.size(), 6);
        // Each level in its parents' order, each parent's children in listing order.
        QStringList expected;
        QStringList level{""};
        while (!level.isEmpty()) {
            QStringList next;
            for (const QString &parent : level)
                for (const QString &name : nativeOrder(m_root + u'/' + parent))
                    next << parent + name + u'/';
            expected << next;
            level = next;
        }
        QCOMPARE(entries, expected);
    }

    void extensions_data()
    {
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QStringList>("expected");
        const QStringList mixed{"a.doc", "b.txt", "README", "S/c.DOC", "S/d.docx"};
        QTest::newRow("doc, any case") << mixed << "doc" << QStringList{"S/c.DOC", "a.doc"};
        QTest::newRow("star: every file, no extension too")
            << mixed << "*" << QStringList{"README", "S/c.DOC", "S/d.docx", "a.doc", "b.txt"};
        QTest::newRow("txt") << mixed << "txt" << QStringList{"b.txt"};
        QTest::newRow("leading dot is taken as typed") << mixed << ".doc" << QStringList{};
        QTest::newRow("no match, no rows") << mixed << "pdf" << QStringList{};
        QTest::newRow("slash in the extension finds nothing") << mixed << "doc/x" << QStringList{};
        QTest::newRow("tilde names skipped everywhere")
            << QStringList{"~$a.doc", "S/~b.doc", "S/b.doc", "x~.doc"} << "doc"
            << QStringList{"S/b.doc", "x~.doc"};
        QTest::newRow("hidden file added, hidden folder not entered")
            << QStringList{".h.doc", ".hid/x.doc", ".hid/S/y.doc", "S/.z.doc"} << "doc"
            << QStringList{".h.doc", "S/.z.doc"};
        const QStringList accented{QString::fromUtf8("Über.DOC"), QString::fromUtf8("süß.txt"),
                                   QString::fromUtf8("a.DÓC"), QString::fromUtf8("Ä/b.doc")};
        QTest::newRow("names beyond ASCII")
            << accented << "doc"
            << QStringList{QString::fromUtf8("Ä/b.doc"), QString::fromUtf8("Über.DOC")};
        QTest::newRow("extension beyond ASCII, any case")
            << accented << QString::fromUtf8("dóc") << QStringList{QString::fromUtf8("a.DÓC")};
        QTest::newRow("folder named like a match is no row")
            << QStringList{"f.doc/", "f.doc/g.doc"} << "doc" << QStringList{"f.doc/g.doc"};
    }

    void extensions()
    {
        QFETCH(QStringList, tree);
        QFETCH(QString, extension);
        QFETCH(QStringList, expected);
        makeTree(m_root, tree);
        QCOMPARE(sorted(scan(extension)), expected);
        QCOMPARE(m_pointer.settings,
                 (QList<MousePointer>{MousePointer::Hourglass, MousePointer::Arrow}));
        QCOMPARE(m_dialogs.messages, QStringList());
    }

    void dialogsAsked()
    {
        scan("doc");
        QCOMPARE(m_dialogs.shown,
                 (QStringList{"input: Enter file extension to load:\n\n(* for all files, txt for "
                              "all txt files, doc for all doc files, etc.)",
                              "folder: Please select folder:"}));
        QCOMPARE(m_dialogs.lastDefaultText, QStringLiteral("doc"));
    }

    void cancelEndsQuietly_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("dialogs");
        QTest::newRow("cancel at the extension") << QString() << QString() << 1;
        QTest::newRow("empty extension") << "" << QString() << 1;
        QTest::newRow("cancel at the folder") << "doc" << QString() << 2;
    }

    void cancelEndsQuietly()
    {
        QFETCH(QString, extension);
        QFETCH(QString, folder);
        QFETCH(int, dialogs);
        makeTree(m_root, {"a.doc"});
        m_pointer.setMousePointer(MousePointer::Hand);
        m_pointer.settings.clear();
        m_dialogs.inputAnswers.push_back(extension);
        if (dialogs == 2)
            m_dialogs.folderAnswers.push_back(folder);
        addAllWordFilesInFolder(nullptr, m_dialogs, m_pointer, m_list);
        QCOMPARE(m_dialogs.shown.size(), dialogs);
        QCOMPARE(m_list.rowCount(), 0);
        QCOMPARE(m_pointer.settings, QList<MousePointer>());
        QCOMPARE(m_pointer.mousePointer(), MousePointer::Hand);
    }

    void manyFilesInListingOrder()
    {
        QStringList tree;
        for (int i = 0; i < 150; ++i)
            tree << QStringLiteral("f%1.doc").arg(i);
        makeTree(m_root, tree);
        QCOMPARE(scan("doc"), nativeOrder(m_root));
    }

    void sameScanTwiceAddsTwice()
    {
        makeTree(m_root, {"a.doc", "S/b.doc"});
        const QStringList once = scan("doc");
        QCOMPARE(once.size(), 2);
        QCOMPARE(scan("doc"), once + once);
    }

    void folderWithTrailingSlash()
    {
        makeTree(m_root, {"a.doc"});
        QCOMPARE(scan("doc", m_root + u'/'), QStringList{"a.doc"});
    }

    void linkToParentEnds()
    {
        makeTree(m_root, {"a.doc", "S/b.doc"});
        QVERIFY(QFile::link(m_root, m_root + QStringLiteral("/S/up")));
        QCOMPARE(sorted(scan("doc")), (QStringList{"S/b.doc", "a.doc"}));
        QCOMPARE(m_pointer.settings,
                 (QList<MousePointer>{MousePointer::Hourglass, MousePointer::Arrow}));
    }

    void folderReachedTwiceWalkedOnce()
    {
        makeTree(m_root, {"S/b.doc", "S/U/c.doc"});
        QVERIFY(QFile::link(m_root + QStringLiteral("/S"), m_root + QStringLiteral("/L")));
        const QStringList found = scan("doc");
        QCOMPARE(found.size(), 2);
        // Through whichever of S and L the listing gives first.
        QCOMPARE(found.filter(QStringLiteral("/b.doc")).size(), 1);
        QCOMPARE(found.filter(QStringLiteral("/c.doc")).size(), 1);
    }

    void linkedFolderIsEntered()
    {
        QTemporaryDir elsewhere;
        makeTree(elsewhere.path(), {"x.doc"});
        QVERIFY(QFile::link(elsewhere.path(), m_root + QStringLiteral("/L")));
        QCOMPARE(scan("doc"), QStringList{"L/x.doc"});
    }

    void unreadableFolderSkipped()
    {
        makeTree(m_root, {"a.doc", "locked/x.doc", "locked/deeper/y.doc", "open/z.doc"});
        // The tree must stay readable for an ordinary user but the one folder.
        QVERIFY(QFile::setPermissions(m_dir->path(), QFile::permissions(m_root)));
        const QString locked = m_root + QStringLiteral("/locked");
        QVERIFY(chmod(QFile::encodeName(locked).constData(), 0) == 0);
        QStringList found;
        {
            WithoutRootRights unprivileged;
            if (!unprivileged.unprivileged()) {
                chmod(QFile::encodeName(locked).constData(), 0755);
                QSKIP("running as root without the right to give up root's rights");
            }
            QVERIFY(opendir(QFile::encodeName(locked).constData()) == nullptr);
            found = scan("doc");
        }
        chmod(QFile::encodeName(locked).constData(), 0755);
        QCOMPARE(sorted(found), (QStringList{"a.doc", "open/z.doc"}));
        QCOMPARE(m_pointer.settings,
                 (QList<MousePointer>{MousePointer::Hourglass, MousePointer::Arrow}));
        QCOMPARE(m_dialogs.messages, QStringList());
    }

    void hourglassWhileScanning()
    {
        makeTree(m_root, {"a.doc", "S/b.doc"});
        MousePointer seen = MousePointer::Hand;
        duringScan(1, [&] { seen = m_pointer.mousePointer(); });
        scan("doc");
        QCOMPARE(seen, MousePointer::Hourglass);
        QCOMPARE(m_pointer.mousePointer(), MousePointer::Arrow);
    }

    // An event handled in the middle of a scan starts a scan of its own (a drop):
    // both finish whole, the inner one's rows first.
    void scanInsideScan()
    {
        makeTree(m_root, {"a.doc", "S/b.doc", "S/U/c.doc", "T/d.doc", "T/V/e.doc"});
        const QString other = m_dir->path() + QStringLiteral("/O");
        makeTree(other, {"p.txt", "P/q.doc", "P/Q/r.doc", "W/s.doc"});
        const QStringList alone = folderTreeRows(m_root, QStringLiteral("*.doc"));
        const QStringList otherAlone = folderTreeRows(other, QStringLiteral("*.*"));
        QCOMPARE(alone.size(), 5);
        QCOMPARE(otherAlone.size(), 4);
        bool ran = false;
        duringScan(4, [&] {
            appendDroppedPaths(m_list, {other});
            ran = true;
        });
        m_dialogs.inputAnswers.push_back("doc");
        m_dialogs.folderAnswers.push_back(m_root);
        addAllWordFilesInFolder(nullptr, m_dialogs, m_pointer, m_list);
        QVERIFY(ran);
        QStringList all;
        for (int position = 1; position <= m_list.rowCount(); ++position)
            all << m_list.rowText(position);
        QCOMPARE(all, otherAlone + alone);
    }
};

QTEST_MAIN(TestFolderScan)
#include "tst_folderscan.moc"
