// The whole program path with the real engine: documents listed in the main window,
// converted by its start button.

#include "childprocesses.h"
#include "engineclient.h"
#include "enginepool.h"
#include "fakedialogs.h"
#include "filelistview.h"
#include "linkeddocuments.h"
#include "loopback.h"
#include "madedocuments.h"
#include "mainwindow.h"
#include "startup.h"

#include <QCryptographicHash>
#include <QDir>
#include <QImageReader>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

const QString kBinDir = qEnvironmentVariable("PAGELIFT_BIN_DIR");

QByteArray digest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// The real engines, with no LibreOffice of the user's to ask about: started the plain
// way, or forked from launchers and told the next documents, as the program does.
MainWindowEnvironment environmentWith(FakeDialogs &dialogs, bool pooled)
{
    MainWindowEnvironment environment;
    environment.dialogs = &dialogs;
    if (pooled)
        useEnginePool(environment, std::make_shared<EnginePool>(kBinDir));
    else
        environment.createWord = engineFactory(kBinDir);
    environment.isOfficeRunning = [] { return false; };
    return environment;
}

void addEngineKinds()
{
    QTest::addColumn<bool>("pooled");
    QTest::newRow("plain engines") << false;
    QTest::newRow("engines opening the next documents ahead") << true;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void startButtonConvertsTheList_data() { addEngineKinds(); }

    void startButtonConvertsTheList()
    {
        QFETCH(bool, pooled);
        QTemporaryDir dir;
        QStringList documents;
        const QList<QList<Page>> pages = {
            {Page::A4}, {Page::Letter, Page::Letter}, {Page::A4, Page::Landscape, Page::A4}};
        const QStringList formats = {"docx", "odt", "rtf"};
        for (int i = 0; i < 3; ++i) {
            QString error;
            documents << makeDocument(kBinDir, dir.path(), QStringLiteral("doc %1").arg(i + 1),
                                      pages[i], formats[i], &error);
            QVERIFY2(!documents.last().isEmpty(), qPrintable(error));
        }
        QList<QByteArray> before;
        for (const QString &document : documents)
            before << digest(document);

        FakeDialogs dialogs;
        auto form = std::make_unique<MainWindow>(environmentWith(dialogs, pooled));
        form->fileList->setColumnCount(1);
        for (const QString &document : documents)
            form->fileList->appendRow(document);
        form->startButton->click();

        QCOMPARE(dialogs.shown, QStringList{"message: Done."});
        const QStringList images = QDir(dir.path()).entryList({"*.jpg"}, QDir::Files, QDir::Name);
        QCOMPARE(images, (QStringList{"doc 1_1.jpg", "doc 2_1.jpg", "doc 2_2.jpg", "doc 3_1.jpg",
                                      "doc 3_2.jpg", "doc 3_3.jpg"}));
        const QList<QSize> sizes = {{794, 1123}, {816, 1056}, {816, 1056},
                                    {794, 1123}, {1123, 794}, {794, 1123}};
        for (int i = 0; i < images.size(); ++i) {
            QImageReader reader(dir.filePath(images[i]));
            QCOMPARE(reader.format(), QByteArray("jpeg"));
            const QSize size = reader.size();
            QVERIFY2(qAbs(size.width() - sizes[i].width()) <= 1 &&
                         qAbs(size.height() - sizes[i].height()) <= 1,
                     qPrintable(images[i]));
        }
        for (int i = 0; i < documents.size(); ++i)
            QCOMPARE(digest(documents[i]), before[i]);
        // Nothing but the documents (and the flat files they were made from) and their
        // images in the folder.
        QStringList entries =
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        entries.removeIf([](const QString &name) { return name.endsWith(".fodt"); });
        QCOMPARE(entries.size(), documents.size() + images.size());
        QCOMPARE(form->progressBar->value(), 0);
        QCOMPARE(form->mousePointer(), MousePointer::Arrow);
        // No engine outlives the run; launchers and engines made ready go with the window.
        if (!pooled)
            QCOMPARE(childprocesses::count(), 0);
        form.reset();
        QCOMPARE(childprocesses::count(), 0);
    }

    void linkedPicturesAreLeftOut_data() { addEngineKinds(); }

    // Through the window, as through pagelift-convert: a picture from another folder and
    // one from the network are neither drawn nor fetched, and the last message says so.
    void linkedPicturesAreLeftOut()
    {
        QFETCH(bool, pooled);
        QTemporaryDir dir;
        LoopbackListener listener;
        QVERIFY(listener.listening());
        QVERIFY(QDir().mkpath(dir.filePath("outside")) && QDir().mkpath(dir.filePath("docs")));
        const QString secret = dir.filePath("outside/secret.png");
        const QString network = QString("http://127.0.0.1:%1/secret.png").arg(listener.port());
        QVERIFY(writeFile(secret, solidPng(Qt::red)));
        const QString local = dir.filePath("docs/local.docx");
        const QString remote = dir.filePath("docs/remote.odt");
        QVERIFY(writeFile(local, linkedPictureDocument(LinkingFormat::Docx,
                                                       QUrl::fromLocalFile(secret).toString())));
        QVERIFY(writeFile(remote, linkedPictureDocument(LinkingFormat::Odt, network)));

        FakeDialogs dialogs;
        auto form = std::make_unique<MainWindow>(environmentWith(dialogs, pooled));
        form->fileList->setColumnCount(1);
        form->fileList->appendRows({local, remote});
        form->startButton->click();

        QCOMPARE(dialogs.messages,
                 QStringList{"Done.\n\nPictures linked from outside \"" + local +
                             "\" were left out: " + secret + ".\nPictures linked from outside \"" +
                             remote + "\" were left out: " + network + "."});
        for (const char *image : {"docs/local_1.jpg", "docs/remote_1.jpg"})
            QCOMPARE(pixelsNear(QImage(dir.filePath(image)), Qt::red), 0);
        QVERIFY(!listener.connected());
    }

    void badDocumentEndsTheRunWithItsMessage_data() { addEngineKinds(); }

    void badDocumentEndsTheRunWithItsMessage()
    {
        QFETCH(bool, pooled);
        QTemporaryDir dir;
        QString error;
        const QString good =
            makeDocument(kBinDir, dir.path(), "good", {Page::A4, Page::A4}, "docx", &error);
        QVERIFY2(!good.isEmpty(), qPrintable(error));
        const QString bad = dir.filePath("picture.docx");
        QImage(40, 40, QImage::Format_RGB32).save(bad, "PNG");
        const QString last = makeDocument(kBinDir, dir.path(), "last", {Page::A4}, "odt", &error);

        FakeDialogs dialogs;
        auto form = std::make_unique<MainWindow>(environmentWith(dialogs, pooled));
        form->fileList->setColumnCount(1);
        form->fileList->appendRows({good, bad, last});
        form->startButton->click();

        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY2(dialogs.messages[0].contains(bad), qPrintable(dialogs.messages[0]));
        QVERIFY2(dialogs.messages[0].contains("not a document"), qPrintable(dialogs.messages[0]));
        QCOMPARE(QDir(dir.path()).entryList({"*.jpg"}, QDir::Files, QDir::Name),
                 (QStringList{"good_1.jpg", "good_2.jpg"}));
        QCOMPARE(form->mousePointer(), MousePointer::Arrow);
        if (!pooled)
            QCOMPARE(childprocesses::count(), 0);
        form.reset();
        QCOMPARE(childprocesses::count(), 0);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
