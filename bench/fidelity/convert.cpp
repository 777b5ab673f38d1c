// pagelift-fidelity-convert: converts documents through the start button of an
// offscreen main window, each document in a run of its own, and leaves the pages in
// one folder.
//
//   pagelift-fidelity-convert [-q QUALITY] [-o FOLDER] DOCUMENT...
//
// Page N of `report.docx` becomes FOLDER/report_N.jpg (beside the document without -o).
// The engine always opens the document where it is, so that what shows its own path
// (a file name field, say) shows the same as in LibreOffice. A document that cannot be
// converted is reported on standard error with the message the window would show, and
// the exit status is 1; the other documents still run.

#include "dialogs.h"
#include "engineclient.h"
#include "filelistview.h"
#include "mainwindow.h"
#include "wordapplication.h"

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

// The engine's word processor, opening `document` whatever path the window asks for:
// the window writes the pages beside the path it was given.
class OpenElsewhere : public WordApplication
{
public:
    OpenElsewhere(std::unique_ptr<WordApplication> word, QString document)
        : m_word(std::move(word)), m_document(std::move(document))
    {
    }
    void documentsOpen(const QString &) override { m_word->documentsOpen(m_document); }
    void activeDocumentRepaginate() override { m_word->activeDocumentRepaginate(); }
    qint32 activeDocumentBuiltInDocumentProperties(qint32 property) override
    {
        return m_word->activeDocumentBuiltInDocumentProperties(property);
    }
    void selectionGoTo(qint32 what, qint32 which, qint16 name) override
    {
        m_word->selectionGoTo(what, which, name);
    }
    void selectionMoveUp(qint32 unit, qint16 count, qint32 extend) override
    {
        m_word->selectionMoveUp(unit, count, extend);
    }
    void selectionEndKey(qint32 unit, qint32 extend) override
    {
        m_word->selectionEndKey(unit, extend);
    }
    void selectionCut() override { m_word->selectionCut(); }
    void activeDocumentClose(qint32 savechanges) override
    {
        m_word->activeDocumentClose(savechanges);
    }
    void quit() override { m_word->quit(); }

private:
    std::unique_ptr<WordApplication> m_word;
    QString m_document;
};

// Converts `document` through the window, which is given `listed` as its path; returns
// the window's messages.
QStringList convertOne(const QString &document, const QString &listed, int quality)
{
    RecordingDialogs dialogs;
    MainWindowEnvironment environment;
    environment.dialogs = &dialogs;
    const WordFactory engine = engineFactory(QCoreApplication::applicationDirPath());
    environment.createWord = [engine, document]() -> std::unique_ptr<WordApplication> {
        return std::make_unique<OpenElsewhere>(engine(), document);
    };
    environment.isOfficeRunning = [] { return false; };
    MainWindow form(environment);
    form.fileList->setColumnCount(1);
    form.qualitySlider->setValue(quality);
    form.fileList->addTopLevelItem(new QTreeWidgetItem(QStringList{listed}));
    form.startButton->click();
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
        const QString listed =
            folder.isEmpty() ? document : QDir(folder).filePath(QFileInfo(document).fileName());
        const QStringList messages = convertOne(document, listed, quality);
        if (messages != QStringList{QStringLiteral("Done.")}) {
            // Named as the user gave it, not as the window had it.
            const QString text = messages.join(u' ').simplified().replace(listed, document);
            std::fprintf(stderr, "%s\n", qPrintable(text));
            status = 1;
        }
    }
    return status;
}
