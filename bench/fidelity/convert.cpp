// pagelift-fidelity-convert: converts documents through the start button of an
// offscreen main window, each document in a run of its own, and leaves the pages in
// one folder.
//
//   pagelift-fidelity-convert [-q QUALITY] [-o FOLDER] DOCUMENT...
//
// Page N of `report.docx` becomes FOLDER/report_N.jpg (beside the document without -o).
// A document that cannot be converted is reported on standard error with the message
// the window would show, and the exit status is 1; the other documents still run.

#include "dialogs.h"
#include "engineclient.h"
#include "filelistview.h"
#include "form1.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QSlider>
#include <QTreeWidget>

#include <cstdio>

namespace {

// Records the run's messages instead of showing them.
class RecordingDialogs : public Dialogs
{
public:
    void messageBox(QWidget *, const QString &text) override { messages << text; }
    bool askYesNo(QWidget *, const QString &) override { return true; }
    QString inputBox(QWidget *, const QString &, const QString &) override { return {}; }
    QString showOpen(QWidget *, const QString &, const QString &) override { return {}; }
    QString browseForFolder(QWidget *, const QString &) override { return {}; }
    QStringList messages;
};

// Converts `document` in place; returns the window's messages.
QStringList convertOne(const QString &document, int quality)
{
    RecordingDialogs dialogs;
    Form1Environment environment;
    environment.dialogs = &dialogs;
    environment.createWord = engineFactory(QCoreApplication::applicationDirPath());
    environment.isWordRunning = [] { return false; };
    Form1 form(environment);
    form.ListView1->setColumnCount(1);
    form.Slider1->setValue(quality);
    form.ListView1->addTopLevelItem(new QTreeWidgetItem(QStringList{document}));
    form.PushButton2->click();
    return dialogs.messages;
}

int usage()
{
    std::fputs("usage: pagelift-fidelity-convert [-q QUALITY] [-o FOLDER] DOCUMENT...\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    int quality = 75;
    QString folder;
    QStringList documents;
    const QStringList arguments = app.arguments().mid(1);
    for (int i = 0; i < arguments.size(); ++i) {
        if ((arguments[i] == QLatin1String("-q") || arguments[i] == QLatin1String("-o")) &&
            i + 1 < arguments.size()) {
            if (arguments[i] == QLatin1String("-q")) {
                bool ok = false;
                quality = arguments[++i].toInt(&ok);
                if (!ok || quality < 1 || quality > 100)
                    return usage();
            } else {
                folder = arguments[++i];
            }
        } else if (arguments[i].startsWith(u'-')) {
            return usage();
        } else {
            documents << arguments[i];
        }
    }
    if (documents.isEmpty())
        return usage();
    if (!folder.isEmpty() && !QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(folder));
        return 1;
    }

    int status = 0;
    for (const QString &document : documents) {
        // The window writes beside the document, so with -o it converts a copy that
        // sits in the folder. A file that is not there stays as it was given, so the
        // window reports it.
        QString converted = document;
        if (!folder.isEmpty() && QFileInfo(document).isFile()) {
            converted = QDir(folder).filePath(QFileInfo(document).fileName());
            QFile::remove(converted);
            if (!QFile::copy(document, converted)) {
                std::fprintf(stderr, "cannot copy %s to %s\n", qPrintable(document),
                             qPrintable(folder));
                status = 1;
                continue;
            }
        }
        const QStringList messages = convertOne(converted, quality);
        if (converted != document)
            QFile::remove(converted);
        if (messages != QStringList{QStringLiteral("Done.")}) {
            // Named as the user gave it, not as the copy.
            const QString text = messages.join(u' ').simplified().replace(converted, document);
            std::fprintf(stderr, "%s\n", qPrintable(text));
            status = 1;
        }
    }
    return status;
}
