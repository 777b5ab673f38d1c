#include "dialogs.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

#include <algorithm>

void QtDialogs::messageBox(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, kProductTitle, text, QMessageBox::Ok, parent);
    box.exec();
}

bool QtDialogs::askYesNo(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, kProductTitle, text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    return box.exec() == QMessageBox::Yes;
}

QString QtDialogs::inputBox(QWidget *parent, const QString &prompt, const QString &defaultText)
{
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, kProductTitle, prompt, QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
}

namespace {

// The open dialog takes typed names as they stand, even when no such file exists:
// the batch run is the first to use them. Qt checks existence in its multi-file mode,
// so the dialog runs in its any-file mode with the multiple selection switched back on.
class OpenFilesDialog : public QFileDialog
{
public:
    OpenFilesDialog(QWidget *parent, const QString &title) : QFileDialog(parent, title)
    {
        // Qt's own dialog, so that the rule above holds on every desktop.
        setOption(QFileDialog::DontUseNativeDialog);
        setOption(QFileDialog::HideNameFilterDetails);
        setFileMode(QFileDialog::AnyFile);
        setAcceptMode(QFileDialog::AcceptOpen);
        for (const char *name : {"listView", "treeView"}) {
            if (auto *view = findChild<QAbstractItemView *>(QLatin1String(name)))
                view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        }
    }

    QStringList chosen() const { return m_chosen; }

    void accept() override
    {
        const QStringList files = typedFiles();
        const bool anyFolder = std::any_of(files.begin(), files.end(), [](const QString &file) {
            return QFileInfo(file).isDir();
        });
        if (files.isEmpty() || anyFolder) {
            QFileDialog::accept(); // enters the folder
            return;
        }
        m_chosen = files;
        QDialog::accept();
    }

private:
    // The names in the name field, where a choice in the view also lands: one name,
    // or several, each in double quotes. Relative names are in the shown folder.
    QStringList typedFiles() const
    {
        const auto *edit = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        const QString text = edit ? edit->text().trimmed() : QString();
        if (text.isEmpty())
            return selectedFiles();
        QStringList names;
        if (!text.contains(u'"')) {
            names << text;
        } else {
            const QStringList tokens = text.split(u'"');
            for (qsizetype i = 1; i < tokens.size(); i += 2)
                names << tokens[i];
        }
        QStringList files;
        for (const QString &name : std::as_const(names)) {
            if (!name.isEmpty())
                files << QDir::cleanPath(directory().absoluteFilePath(name));
        }
        return files;
    }

    QStringList m_chosen;
};

} // namespace

QString QtDialogs::showOpen(QWidget *parent, const QString &title, const QString &filter)
{
    // "Caption|pattern|Caption|pattern" becomes Qt's name filters. Qt reads the
    // patterns from the last parenthesis of each filter and hides them from view,
    // so the caption is shown as written while "*.*" also matches names without a dot.
    QStringList nameFilters;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        if (pattern == QLatin1String("*.*"))
            pattern = QStringLiteral("*");
        nameFilters << parts[i] + QStringLiteral(" (") + pattern.replace(u';', u' ') + u')';
    }

    OpenFilesDialog dialog(parent, title);
    dialog.setNameFilters(nameFilters);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList files = dialog.chosen();
    if (files.isEmpty())
        return QString();
    if (files.size() == 1)
        return files.first();
    QString result = QFileInfo(files.first()).absolutePath();
    for (const QString &file : files)
        result += QChar(0) + QFileInfo(file).fileName();
    return result;
}

QString QtDialogs::browseForFolder(QWidget *parent, const QString &title)
{
    return QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
}
