#include "fakedialogs.h"
#include "fakeword.h"
#include "filelistview.h"
#include "mainwindow.h"

#include <QDir>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

class TestBatch : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    FakeDialogs m_dialogs;
    FakeWordLibrary m_word;
    bool m_wordRunning = false;
    int m_guardChecks = 0;
    // What the run announced, and how many documents had been opened and messages
    // shown by then.
    struct Announcement
    {
        QStringList documents;
        qsizetype opened = 0;
        qsizetype messages = 0;
    };
    QList<Announcement> m_announced;
    QString m_sandboxNotice; // what the window is told the sandbox lacks
    std::unique_ptr<MainWindow> m_form;

    QString addDocument(const QString &name, int pages)
    {
        const QString path = m_dir.filePath(name);
        std::vector<FakeWordLibrary::Page> list;
        for (int i = 0; i < pages; ++i)
            list.push_back({QSize(60, 80), QColor::fromHsv(i * 60, 180, 200)});
        m_word.addDocument(path, std::move(list));
        return path;
    }

    void list(const QStringList &paths)
    {
        for (const QString &path : paths)
            m_form->fileList->addTopLevelItem(new QTreeWidgetItem(QStringList{path}));
    }

    QStringList images() const
    {
        return QDir(m_dir.path()).entryList({"*.jpg"}, QDir::Files, QDir::Name);
    }

    QStringList opened() const { return m_word.calls.filter("Documents.Open"); }

private slots:
    void init()
    {
        m_dialogs = FakeDialogs();
        m_word = FakeWordLibrary();
        m_wordRunning = false;
        m_guardChecks = 0;
        m_announced.clear();
        for (const QString &name : QDir(m_dir.path()).entryList(QDir::Files))
            QFile::remove(m_dir.filePath(name));
        MainWindowEnvironment environment;
        environment.dialogs = &m_dialogs;
        environment.createWord = m_word.factory();
        environment.isOfficeRunning = [this] {
            ++m_guardChecks;
            return m_wordRunning;
        };
        environment.expectDocuments = [this](const QStringList &documents) {
            m_announced.append({documents, opened().size(), m_dialogs.shown.size()});
        };
        m_sandboxNotice.clear();
        environment.sandboxNotice = [this] { return m_sandboxNotice; };
        m_form = std::make_unique<MainWindow>(environment);
        m_form->fileList->setColumnCount(1);
    }

    void emptyListStartsNothing()
    {
        m_form->startButton->click();
        QCOMPARE(m_dialogs.shown, QStringList{"message: No files added."});
        QCOMPARE(m_guardChecks, 0);
        QCOMPARE(m_word.instancesCreated, 0);
        QCOMPARE(m_form->mousePointer(), MousePointer::Arrow);
    }

    // Two documents of one folder with the same base name name their images alike:
    // the names stay, and the final message says whose images the run replaced, and
    // how many of them.
    void replacedImagesAreNamedAtTheEnd()
    {
        const QString doc = addDocument("report.doc", 2);
        const QString docx = addDocument("report.docx", 1);
        const QString other = addDocument("other.odt", 1);
        list({doc, other, docx});
        m_form->startButton->click();
        QCOMPARE(images(), (QStringList{"other_1.jpg", "report_1.jpg", "report_2.jpg"}));
        QCOMPARE(m_dialogs.messages, QStringList{"Done.\n\n1 of the 2 images of \"" + doc +
                                                 "\" was replaced by one of \"" + docx +
                                                 "\", which has the same name."});

        // A run that writes each name once ends with "Done." alone.
        m_dialogs = FakeDialogs();
        m_form->fileList->clear();
        list({doc, other});
        m_form->startButton->click();
        QCOMPARE(m_dialogs.messages, QStringList{"Done."});
    }

    // What the engine left out of each document follows "Done.", and what the sandbox
    // lacks ends the first run's message only.
    void leftOutAndSandboxAreToldAtTheEnd()
    {
        const QString linking = addDocument("linking.odt", 1);
        const QString plain = addDocument("plain.odt", 1);
        m_word.document(linking).leftOut = {"/elsewhere/secret.png", "http://127.0.0.1:9/a.png"};
        m_sandboxNotice = "Documents are converted without the whole sandbox: no Landlock.";
        list({linking, plain});
        const QString leftOut =
            "Pictures linked from outside \"" + linking +
            "\" were left out: /elsewhere/secret.png, http://127.0.0.1:9/a.png.";
        m_form->startButton->click();
        QCOMPARE(m_dialogs.messages, QStringList{"Done.\n\n" + leftOut + "\n\n" + m_sandboxNotice});
        m_dialogs = FakeDialogs();
        m_form->startButton->click();
        QCOMPARE(m_dialogs.messages, QStringList{"Done.\n\n" + leftOut});
    }

    void documentsConvertInListOrder()
    {
        const QString a = addDocument("a.docx", 2);
        const QString b = addDocument("b.doc", 3);
        list({a, b});
        QList<int> progress;
        connect(m_form->progressBar, &QProgressBar::valueChanged, this,
                [&](int value) { progress << value; });
        m_form->startButton->click();

        QCOMPARE(images(), (QStringList{"a_1.jpg", "a_2.jpg", "b_1.jpg", "b_2.jpg", "b_3.jpg"}));
        // All of the first document is done before the second is opened.
        const qsizetype secondOpen = m_word.calls.indexOf("Documents.Open(" + b + ")");
        QVERIFY(m_word.calls.lastIndexOf("Quit", secondOpen) >
                m_word.calls.indexOf("Documents.Open(" + a + ")"));
        QCOMPARE(m_word.calls.count("Quit"), 2);
        QCOMPARE(m_word.instancesAlive, 0);
        QCOMPARE(m_dialogs.shown, QStringList{"message: Done."});
        QCOMPARE(m_guardChecks, 1);
        QCOMPARE(m_form->progressBar->value(), 0);
        QCOMPARE(m_form->mousePointer(), MousePointer::Arrow);
        // The bar moved forward during the run before it was set back to 0.
        QVERIFY(progress.size() >= 5);
        QCOMPARE(progress.last(), 0);
        const QList<int> during = progress.mid(0, progress.size() - 1);
        QVERIFY(std::is_sorted(during.begin(), during.end()));
        QCOMPARE(during.last(), m_form->progressBar->maximum());
    }

    void nextDocumentsAreAnnouncedAsTheRunGoes()
    {
        const QString a = addDocument("a.docx", 1);
        const QString b = addDocument("b.docx", 2);
        const QString c = addDocument("c.docx", 1);
        const QString d = addDocument("d.docx", 1);
        list({a, b, c, d});
        m_form->startButton->click();

        QCOMPARE(m_dialogs.shown, QStringList{"message: Done."});
        QCOMPARE(m_announced.size(), 5);
        // Each document with the two after it, when its turn comes and before it is
        // opened; then nothing, before "Done." is shown.
        const QList<QStringList> lists{{a, b, c}, {b, c, d}, {c, d}, {d}, {}};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(m_announced[i].documents, lists[i]);
            QCOMPARE(m_announced[i].opened, qsizetype(i));
            QCOMPARE(m_announced[i].messages, qsizetype(0));
        }
    }

    void guardAnswers_data()
    {
        QTest::addColumn<bool>("proceed");
        QTest::newRow("no") << false;
        QTest::newRow("yes") << true;
    }

    void guardAnswers()
    {
        QFETCH(bool, proceed);
        list({addDocument("x.odt", 1), addDocument("y.odt", 1)});
        m_wordRunning = true;
        m_dialogs.yesNoAnswers = {proceed};
        m_form->startButton->click();

        const QString question =
            "yesno: Word may be open. It is recommended that you close Word first. Use "
            "Ctrl+Alt+Del > Task Manager > WINWORD.EXE if necessary.\n\nWould you like to "
            "proceed anyway?";
        if (proceed) {
            QCOMPARE(m_dialogs.shown, (QStringList{question, "message: Done."}));
            QCOMPARE(images(), (QStringList{"x_1.jpg", "y_1.jpg"}));
        } else {
            QCOMPARE(m_dialogs.shown, QStringList{question});
            QCOMPARE(m_word.instancesCreated, 0);
            QCOMPARE(images(), QStringList());
        }
        QCOMPARE(m_form->mousePointer(), MousePointer::Arrow);
    }

    void errorEndsTheRunAndKeepsEarlierImages()
    {
        const QString first = addDocument("first.docx", 2);
        const QString second = addDocument("second.docx", 3);
        const QString third = addDocument("third.docx", 1);
        list({first, second, third});
        m_word.failOn = "Selection.Cut";
        m_word.failAfter = 4; // the second page of the second document
        m_word.failMessage = "The engine refused the page.";
        m_form->startButton->click();

        QCOMPARE(images(), (QStringList{"first_1.jpg", "first_2.jpg", "second_1.jpg"}));
        QCOMPARE(opened().size(), 2);
        QVERIFY(!m_word.calls.join('\n').contains(third));
        QCOMPARE(m_dialogs.messages.size(), 1);
        QVERIFY(m_dialogs.messages[0].startsWith(m_word.failMessage));
        QVERIFY(m_dialogs.messages[0].contains(second));
        QCOMPARE(m_form->mousePointer(), MousePointer::Arrow);
        QCOMPARE(m_word.instancesAlive, 0);
        // Nothing is expected any more once the run has stopped, before its message.
        QCOMPARE(m_announced.size(), 3);
        QCOMPARE(m_announced[1].documents, (QStringList{second, third}));
        QCOMPARE(m_announced[2].documents, QStringList());
        QCOMPARE(m_announced[2].messages, qsizetype(0));

        // The window stays usable: the next run goes through.
        m_word.failOn.clear();
        m_form->startButton->click();
        QCOMPARE(m_dialogs.messages.last(), QStringLiteral("Done."));
        QCOMPARE(images().size(), 6);
    }

    void secondClickDuringARunStartsNothing()
    {
        list({addDocument("one.doc", 2), addDocument("two.doc", 2)});
        int clicks = 0;
        m_word.onCall = [&](const QString &call) {
            if (call.startsWith("Selection.MoveUp") && clicks++ == 0)
                m_form->startButton->click();
        };
        m_form->startButton->click();
        QCOMPARE(m_word.instancesCreated, 2);
        QCOMPARE(opened().size(), 2);
        QCOMPARE(m_dialogs.shown, QStringList{"message: Done."});
        QCOMPARE(m_guardChecks, 1);
    }

    void listEditsDuringARun_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QStringList>("converted");
        // Three rows a, b, c; the edit happens while a is exported. Rows are read by
        // position when their turn comes.
        QTest::newRow("last row removed") << "remove 3" << QStringList{"a", "b"};
        QTest::newRow("first row removed") << "remove 1" << QStringList{"a", "c"};
        QTest::newRow("all rows removed") << "clear" << QStringList{"a"};
        QTest::newRow("rows added") << "add" << QStringList{"a", "b", "c"};
    }

    void listEditsDuringARun()
    {
        QFETCH(QString, edit);
        QFETCH(QStringList, converted);
        list({addDocument("a.doc", 2), addDocument("b.doc", 1), addDocument("c.doc", 1)});
        const QString extra = addDocument("d.doc", 1);
        bool done = false;
        m_word.onCall = [&](const QString &call) {
            if (done || !call.startsWith("Selection.MoveUp"))
                return;
            done = true;
            FileListView *view = m_form->fileList;
            if (edit == "remove 3")
                delete view->takeTopLevelItem(2);
            else if (edit == "remove 1")
                delete view->takeTopLevelItem(0);
            else if (edit == "clear")
                view->clear();
            else
                list({extra});
        };
        m_form->startButton->click();

        QStringList names;
        for (const QString &call : opened())
            names << QFileInfo(call.mid(15).chopped(1)).baseName();
        QCOMPARE(names, converted);
        QCOMPARE(m_dialogs.shown, QStringList{"message: Done."});
        QCOMPARE(m_form->progressBar->value(), 0);
    }
};

QTEST_MAIN(TestBatch)
#include "tst_batch.moc"
