#include "dialogs.h"
#include "filetree.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// Acts on the next modal dialog as soon as it is up, from the dialog's own event loop.
// A dialog that refused what the action did would still be up; it is cancelled then.
void whenModal(std::function<void(QWidget *)> action)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, action] {
        if (QWidget *dialog = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            action(dialog);
            // Whatever the action left, even after a failed check, the dialog closes.
            if (dialog->isVisible())
                qobject_cast<QDialog *>(dialog)->reject();
        }
    });
    poll->start(0);
}

const QString kFilter = QStringLiteral("Word Documents (*.do*)|*.do*|All Files (*.*)|*.*");

} // namespace

// The real open dialog, driven as a user would: typing names and confirming.
class TestQtDialogs : public QObject
{
    Q_OBJECT

private slots:
    void typedNamesNeedNotExist_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("one name") << "missing.doc" << QStringList{"missing.doc"};
        QTest::newRow("two names")
            << "\"a missing.doc\" \"b.doc\"" << QStringList{"a missing.doc", "b.doc"};
        QTest::newRow("an existing and a missing name")
            << "\"here.doc\" \"gone.doc\"" << QStringList{"here.doc", "gone.doc"};
    }

    void typedNamesNeedNotExist()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, names);
        QTemporaryDir dir;
        makeTree(dir.path(), {"here.doc"});
        QString title;
        QStringList captions;
        whenModal([&](QWidget *widget) {
            auto *dialog = qobject_cast<QFileDialog *>(widget);
            QVERIFY(dialog);
            title = dialog->windowTitle();
            auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
            QVERIFY(types);
            for (int i = 0; i < types->count(); ++i)
                captions << types->itemText(i);
            captions << QStringLiteral("current: ") + types->currentText();
            dialog->setDirectory(dir.path());
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            // Typed as a user would, into the focused field.
            QApplication::setActiveWindow(dialog);
            name->setFocus();
            QVERIFY(name->hasFocus());
            QTest::keyClicks(name, typed);
            QTest::keyClick(name, Qt::Key_Return);
        });
        QtDialogs dialogs;
        const QString answer = dialogs.showOpen(nullptr, QStringLiteral("Pick"), kFilter);
        QCOMPARE(title, QStringLiteral("Pick"));
        QCOMPARE(captions, (QStringList{"Word Documents (*.do*)", "All Files (*.*)",
                                        "current: Word Documents (*.do*)"}));
        const QString expected = names.size() == 1 ? dir.path() + u'/' + names.first()
                                                   : dir.path() + QChar(0) + names.join(QChar(0));
        QCOMPARE(answer, expected);
    }

    void severalChosenInTheView()
    {
        QTemporaryDir dir;
        makeTree(dir.path(), {"a.doc", "b.doc", "c.txt"});
        whenModal([&](QWidget *widget) {
            auto *dialog = qobject_cast<QFileDialog *>(widget);
            QVERIFY(dialog);
            dialog->setDirectory(dir.path());
            auto *view = dialog->findChild<QAbstractItemView *>(QStringLiteral("listView"));
            QVERIFY(view);
            // The folder is read in the background; the filter hides c.txt.
            QTRY_COMPARE(view->model()->rowCount(view->rootIndex()), 2);
            QCOMPARE(view->selectionMode(), QAbstractItemView::ExtendedSelection);
            for (int row = 0; row < 2; ++row)
                view->selectionModel()->select(view->model()->index(row, 0, view->rootIndex()),
                                               QItemSelectionModel::Select |
                                                   QItemSelectionModel::Rows);
            auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
            QVERIFY(buttons);
            buttons->button(QDialogButtonBox::Open)->click();
        });
        QtDialogs dialogs;
        const QStringList parts =
            dialogs.showOpen(nullptr, QStringLiteral("Pick"), kFilter).split(QChar(0));
        QCOMPARE(parts.size(), 3);
        QCOMPARE(parts.first(), dir.path());
        QCOMPARE(QSet<QString>(parts.begin() + 1, parts.end()), (QSet<QString>{"a.doc", "b.doc"}));
    }

    void fileTypesFilterTheView()
    {
        QTemporaryDir dir;
        makeTree(dir.path(), {"README", "a.doc", "b.DOCX", "c.txt"});
        whenModal([&](QWidget *widget) {
            auto *dialog = qobject_cast<QFileDialog *>(widget);
            QVERIFY(dialog);
            dialog->setDirectory(dir.path());
            auto *view = dialog->findChild<QAbstractItemView *>(QStringLiteral("listView"));
            auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
            QVERIFY(view && types);
            QTRY_COMPARE(view->model()->rowCount(view->rootIndex()), 2);
            // "All Files (*.*)" shows names without a dot too.
            QTest::keyClick(types, Qt::Key_Down);
            QCOMPARE(types->currentIndex(), 1);
            QTRY_COMPARE(view->model()->rowCount(view->rootIndex()), 4);
            dialog->reject();
        });
        QtDialogs dialogs;
        QCOMPARE(dialogs.showOpen(nullptr, QStringLiteral("Pick"), kFilter), QString());
    }

    void cancelAnswersEmpty()
    {
        whenModal([](QWidget *dialog) { qobject_cast<QDialog *>(dialog)->reject(); });
        QtDialogs dialogs;
        QCOMPARE(dialogs.showOpen(nullptr, QStringLiteral("Pick"), kFilter), QString());
    }
};

QTEST_MAIN(TestQtDialogs)
#include "tst_qtdialogs.moc"
