// The engine's parts that need no office: the model of the rest of the document, the
// check of what a file is, and the profile slots.

#include "filekind.h"
#include "fileurl.h"
#include "folderwatch.h"
#include "handover.h"
#include "macrosniff.h"
#include "madedocuments.h"
#include "moduleaddress.h"
#include "printedpages.h"
#include "profile.h"
#include "remainingpages.h"
#include "server.h"
#include "socketio.h"
#include "storedzip.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <QScopeGuard>

#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/un.h>

#include <cstring>
#include <fstream>
#include <limits>
#include <thread>
#include <vector>

Q_DECLARE_METATYPE(FileKind)

namespace {

QList<int> toList(const std::vector<int> &pages)
{
    return QList<int>(pages.begin(), pages.end());
}

const QByteArray kContent = "<?xml version=\"1.0\"?><office:document-content/>";

QByteArray openDocument(const QByteArray &kind)
{
    return storedZip(
        {{"mimetype", "application/vnd.oasis.opendocument." + kind}, {"content.xml", kContent}});
}

QByteArray officeOpenXml(const QByteArray &part)
{
    return storedZip({{"[Content_Types].xml", "<Types/>"}, {part, kContent}});
}

// `name` as a compound file's directory holds it: UTF-16, little-endian.
QByteArray utf16Name(const char *name)
{
    QByteArray out;
    for (const char *c = name; *c; ++c)
        out += QByteArray(1, *c) + QByteArray(1, '\0');
    return out;
}

// The first sector of a compound file, then a directory naming `storages`.
QByteArray compoundFile(const QList<QByteArray> &storages)
{
    QByteArray file = QByteArray::fromHex("d0cf11e0a1b11ae1") + QByteArray(504, '\0');
    for (const QByteArray &storage : storages)
        file += storage + QByteArray(128 - storage.size() % 128, '\0');
    return file;
}

// A one-page PDF of shapes whose edges are smoothed, a half-transparent fill over
// them (pixels the paper shows through in part), and lines of text in three sizes,
// whose glyphs start at every fraction of a pixel: the same characters again and
// again, more than poppler's own glyph cache holds. Under and over them, rectangles
// of one colour: a background past the page's edges but one, drawn as a slide's is,
// one in a turned and clipped space, one over the text, one too thin for a middle, and
// squares of a Type 3 font and of a pattern without colours of its own, which poppler
// draws as masks in a grey of its own.
QByteArray shapesPdf()
{
    QByteArray content = "1 0.98 0.9 rg 0 200.2 m 300.5 200.2 l 300.5 0.028 l 0 0.028 l h f*\n"
                         "q 0 1 -1 0 290 12.3 cm 20.2 20.7 130.15 200 re W n "
                         "0.1 0.6 0.3 rg 10.6 5.1 150.3 60.45 re f Q\n"
                         "1 0 0 rg 20 20 m 280 60 l 150 190 l h f\n"
                         "0 0.5 0 RG 2.3 w 10 190 m 290 10 l S\n"
                         "q /Half gs 0 0 1 rg 50.4 50.7 200 99.5 re f Q\n"
                         "0 g BT 0.13 Tc\n";
    double y = 192;
    for (const char *size : {"5.3", "7.1", "9.7"}) {
        for (int line = 0; line < 6; ++line) {
            y -= 9.37;
            content += "/F1 " + QByteArray(size) + " Tf 1 0 0 1 " +
                       QByteArray::number(4.3 + line * 0.29) + ' ' + QByteArray::number(y) +
                       " Tm (The quick brown fox jumps over the lazy dog 0123456789 "
                       "PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS) Tj\n";
        }
    }
    content += "ET\n0.2 0.3 0.9 rg 60.3 95.62 80.41 30.3 re f 0.5 g 200 20 1.2 50 re f\n"
               "0.3 g BT /F2 40 Tf 150 140 Td (AA) Tj ET\n"
               "/Tiles cs 0.8 0.2 0.1 /Squares scn 20 110 120 60 re f\n";
    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents 4 0 R "
        "/Resources << /ExtGState << /Half 5 0 R >> /Font << /F1 6 0 R /F2 7 0 R >> "
        "/ColorSpace << /Tiles [/Pattern /DeviceRGB] >> /Pattern << /Squares 9 0 R >> >> >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content +
            "endstream",
        "<< /Type /ExtGState /ca 0.5 /CA 0.5 >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 10 10] /FontMatrix [0.1 0 0 0.1 0 0] "
        "/CharProcs << /square 8 0 R >> /Encoding << /Type /Encoding /Differences [65 "
        "/square] >> /FirstChar 65 /LastChar 65 /Widths [12] /Resources << >> >>",
        "<< /Length 33 >>\nstream\n10 0 0 0 10 10 d1 0 0 10 10 re f\nendstream",
        "<< /PatternType 1 /PaintType 2 /TilingType 1 /BBox [0 0 30 30] /XStep 30 /YStep 30 "
        "/Resources << >> /Length 15 >>\nstream\n2 2 24 24 re f\nendstream",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

// glibc's dladdr, counted; and an object that can be made to move.
int g_lookups = 0;
const void *g_movedTo = nullptr;

int countedLookup(const void *address, Dl_info *info)
{
    ++g_lookups;
    return ::dladdr(address, info);
}

bool movableLocate(const void *address, const void **object, const void **start)
{
    if (!ModuleAddressCache::locateLoaded(address, object, start))
        return false;
    if (g_movedTo)
        *start = g_movedTo;
    return true;
}

} // namespace

class TestEngineCore : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    // A document handed over is copied whole under its own name, and the copy goes with
    // the object; what is no regular file, or finds no room, gives no copy.
    void handedDocumentIsCopiedWhole()
    {
        const QString original = m_dir.filePath("handed/report.docx");
        QVERIFY(QDir().mkpath(m_dir.filePath("handed")));
        QByteArray content(300000, '\0');
        for (int i = 0; i < content.size(); ++i)
            content[i] = char(i * 7);
        QVERIFY(writeFile(original, content));
        const UniqueFd file(::open(QFile::encodeName(original).constData(), O_RDONLY));
        const UniqueFd folder(::open(QFile::encodeName(m_dir.path()).constData(), O_RDONLY));
        const std::filesystem::path into = m_dir.filePath("copies").toStdString();
        {
            const auto copy = HandedDocument::copy(file.get(), into, "report.docx");
            QVERIFY(copy);
            QCOMPARE(QString::fromStdString(copy->path().filename()), "report.docx");
            QFile copied(QString::fromStdString(copy->path()));
            QVERIFY(copied.open(QIODevice::ReadOnly));
            QCOMPARE(copied.readAll(), content);
        }
        QVERIFY(!std::filesystem::exists(into / "report.docx"));
        QVERIFY(!HandedDocument::copy(folder.get(), into, "folder"));
        QVERIFY(HandedDocument::isRegularFile(file.get()));
        // A folder where the copies would go that cannot be made: no room.
        QVERIFY(!HandedDocument::copy(file.get(), "/proc/self/no-such-place", "report.docx"));
    }

    // What the engine names as left out: every link to the network, and files it may
    // not read; a file that is there, or missing, is not.
    void leftOutLinks_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("named"); // empty: not left out
        QTest::newRow("http") << "http://127.0.0.1:1/a.png"
                              << "http://127.0.0.1:1/a.png";
        QTest::newRow("another machine's file") << "file://host/a.png"
                                                << "file://host/a.png";
        QTest::newRow("a file that is there")
            << QUrl::fromLocalFile(m_dir.filePath("there.png")).toString() << "";
        // A socket cannot be opened as a file, as a file out of the engine's set cannot.
        QTest::newRow("escaped name of a file it cannot open")
            << QUrl::fromLocalFile(m_dir.filePath("no entry.sock")).toString(QUrl::FullyEncoded)
            << m_dir.filePath("no entry.sock");
        QTest::newRow("a missing file")
            << QUrl::fromLocalFile(m_dir.filePath("gone.png")).toString() << "";
    }

    void leftOutLinks()
    {
        QFETCH(QString, link);
        QFETCH(QString, named);
        QVERIFY(writeFile(m_dir.filePath("there.png"), "png"));
        const QByteArray socketPath = QFile::encodeName(m_dir.filePath("no entry.sock"));
        const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
        QVERIFY(QFile::exists(m_dir.filePath("no entry.sock")) ||
                ::bind(socket.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        const std::vector<std::string> left = ::leftOutLinks({link.toStdString()});
        QCOMPARE(left.size(), named.isEmpty() ? size_t(0) : size_t(1));
        if (!named.isEmpty())
            QCOMPARE(QString::fromStdString(left.front()), named);
    }

    // --- the rest of the document ---

    void exporterSequenceTakesOnePageAtATime()
    {
        RemainingPages rest(4);
        QList<int> taken;
        for (int pass = 0; pass < 4; ++pass) {
            if (rest.pageCount() > 1) {
                rest.goToPage(2);
                for (int i = 0; i < 100; ++i)
                    rest.moveUp(200, RemainingPages::Extend::Extend);
            } else {
                rest.endKey(RemainingPages::Extend::Extend);
            }
            const std::vector<int> pages = rest.cut();
            QCOMPARE(pages.size(), size_t(1));
            taken.append(pages.front());
        }
        QCOMPARE(taken, QList<int>({0, 1, 2, 3}));
        QCOMPARE(rest.pageCount(), 0);
    }

    void selections_data()
    {
        QTest::addColumn<int>("pages");
        QTest::addColumn<int>("goTo");
        QTest::addColumn<int>("up"); // lines moved up with extension; -1: EndKey instead
        QTest::addColumn<QList<int>>("cut");

        QTest::newRow("page 2, up to the start") << 4 << 2 << 20000 << QList<int>{0};
        QTest::newRow("page 3, up to the start: two pages") << 4 << 3 << 20000 << QList<int>{0, 1};
        QTest::newRow("one line up takes the page above") << 4 << 3 << 1 << QList<int>{1};
        QTest::newRow("exactly one page up") << 4 << 3 << 60 << QList<int>{1};
        QTest::newRow("go to beyond the end clamps to the last page")
            << 3 << 9 << 20000 << QList<int>{0, 1};
        QTest::newRow("go to page 0 clamps to the first page")
            << 3 << 0 << -1 << QList<int>{0, 1, 2};
        QTest::newRow("end from page 2") << 3 << 2 << -1 << QList<int>{1, 2};
        QTest::newRow("nothing moved, nothing selected") << 3 << 2 << 0 << QList<int>{};
        QTest::newRow("empty document") << 0 << 2 << -1 << QList<int>{};
    }

    void selections()
    {
        QFETCH(int, pages);
        QFETCH(int, goTo);
        QFETCH(int, up);
        QFETCH(QList<int>, cut);
        RemainingPages rest(pages);
        rest.goToPage(goTo);
        if (up < 0)
            rest.endKey(RemainingPages::Extend::Extend);
        else
            rest.moveUp(up, RemainingPages::Extend::Extend);
        QCOMPARE(rest.selection().count, cut.size());
        QCOMPARE(toList(rest.cut()), cut);
        QCOMPARE(rest.pageCount(), pages - cut.size());
    }

    void moveUpNeverPassesTheStart()
    {
        RemainingPages rest(2);
        rest.goToPage(2);
        rest.moveUp(std::numeric_limits<int>::max(), RemainingPages::Extend::Extend);
        QCOMPARE(rest.active(), 0);
        rest.moveUp(200, RemainingPages::Extend::Extend);
        QCOMPARE(rest.active(), 0);
        QCOMPARE(rest.anchor(), rest.linesPerPage());
    }

    void moveWithoutExtensionCollapsesTheSelection()
    {
        RemainingPages rest(3);
        rest.goToPage(3);
        rest.moveUp(200, RemainingPages::Extend::Move);
        QCOMPARE(rest.selection().count, 0);
        rest.endKey(RemainingPages::Extend::Move);
        QCOMPARE(rest.selection().count, 0);
    }

    void cutLeavesTheInsertionPointWhereTheSelectionBegan()
    {
        RemainingPages rest(4);
        rest.goToPage(3);
        rest.endKey(RemainingPages::Extend::Extend);
        QCOMPARE(toList(rest.cut()), QList<int>({2, 3}));
        QCOMPARE(rest.active(), 2 * rest.linesPerPage());
        QCOMPARE(rest.selection().count, 0);
        // The pages that are left keep their original numbers.
        QCOMPARE(toList(rest.pages()), QList<int>({0, 1}));
        rest.goToPage(1);
        rest.endKey(RemainingPages::Extend::Extend);
        QCOMPARE(toList(rest.cut()), QList<int>({0, 1}));
    }

    // --- what a file is ---

    void fileKinds_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<FileKind>("kind");

        QByteArray png;
        {
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            QImage(16, 16, QImage::Format_RGB32).save(&buffer, "PNG");
        }
        QByteArray jpeg;
        {
            QImage image(16, 16, QImage::Format_RGB32);
            image.fill(Qt::red);
            QBuffer buffer(&jpeg);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "JPEG");
        }
        QByteArray random;
        for (int i = 0; i < 4096; ++i)
            random.append(char((i * 7919 + 13) % 251));
        const QByteArray zip = openDocument("text");

        QTest::newRow("empty") << QByteArray() << FileKind::Empty;
        QTest::newRow("zip") << zip << FileKind::Zip;
        QTest::newRow("zip cut short") << zip.left(zip.size() / 2) << FileKind::BrokenZip;
        QTest::newRow("odt") << openDocument("text") << FileKind::Zip;
        QTest::newRow("ott") << openDocument("text-template") << FileKind::Zip;
        QTest::newRow("ods") << openDocument("spreadsheet") << FileKind::OtherOffice;
        QTest::newRow("odp") << openDocument("presentation") << FileKind::OtherOffice;
        QTest::newRow("odb") << openDocument("base") << FileKind::Database;
        QTest::newRow("odf") << openDocument("formula") << FileKind::Formula;
        QTest::newRow("docx") << officeOpenXml("word/document.xml") << FileKind::Zip;
        QTest::newRow("xlsx") << officeOpenXml("xl/workbook.xml") << FileKind::OtherOffice;
        QTest::newRow("pptx") << officeOpenXml("ppt/presentation.xml") << FileKind::OtherOffice;
        QTest::newRow("unknown zip") << storedZip({{"a.txt", "a"}}) << FileKind::Zip;
        QTest::newRow("flat odt") << QByteArray(
                                         "<?xml version=\"1.0\"?><office:document office:mimetype="
                                         "\"application/vnd.oasis.opendocument.text\">")
                                  << FileKind::Text;
        QTest::newRow("flat ods") << QByteArray(
                                         "<?xml version=\"1.0\"?><office:document office:mimetype="
                                         "\"application/vnd.oasis.opendocument.spreadsheet\">")
                                  << FileKind::OtherOffice;
        QTest::newRow("flat odf") << QByteArray(
                                         "<?xml version=\"1.0\"?><office:document office:mimetype="
                                         "\"application/vnd.oasis.opendocument.formula\">")
                                  << FileKind::Formula;
        QTest::newRow("pdf") << QByteArray("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n") << FileKind::Pdf;
        QTest::newRow("pdf after other bytes")
            << QByteArray("\x01\x02 junk\n%PDF-1.7\n", 17) << FileKind::Pdf;
        const QByteArray compound("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
        auto stream = [](const char *name) {
            QByteArray out;
            for (const char *c = name; *c; ++c)
                out.append(*c).append('\0');
            return out;
        };
        QTest::newRow("doc") << compound + QByteArray(504, '\0') + stream("WordDocument")
                             << FileKind::Compound;
        QTest::newRow("doc with an embedded workbook")
            << compound + QByteArray(504, '\0') + stream("Workbook") + stream("WordDocument")
            << FileKind::Compound;
        QTest::newRow("xls") << compound + QByteArray(504, '\0') + stream("Workbook")
                             << FileKind::OtherOffice;
        QTest::newRow("ppt") << compound + QByteArray(504, '\0') + stream("PowerPoint Document")
                             << FileKind::OtherOffice;
        QTest::newRow("compound file")
            << QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(504, '\0')
            << FileKind::Compound;
        QTest::newRow("rtf") << QByteArray("{\\rtf1\\ansi Hello}") << FileKind::Rtf;
        QTest::newRow("WordPerfect")
            << QByteArray("\xFFWPC\x10\x00\x00\x00", 8) << FileKind::WordBinary;
        QTest::newRow("ascii text") << QByteArray("Hello\r\nworld\tagain\f\n") << FileKind::Text;
        QTest::newRow("utf-8 text") << QString("Grüße, 日本語\n").toUtf8() << FileKind::Text;
        QTest::newRow("latin-1 text") << QByteArray("Gr\xFC\xDF"
                                                    "e\n")
                                      << FileKind::Text;
        QTest::newRow("utf-16 text with mark") << QByteArray("\xFF\xFEH\0i\0", 6) << FileKind::Text;
        QTest::newRow("flat xml") << QByteArray("<?xml version=\"1.0\"?><office:document/>")
                                  << FileKind::Text;
        QTest::newRow("png picture") << png << FileKind::Binary;
        QTest::newRow("jpeg picture") << jpeg << FileKind::Binary;
        QTest::newRow("random bytes") << random << FileKind::Binary;
        QTest::newRow("control codes")
            << QByteArray("\x01\x02\x03\x04 text", 9) << FileKind::Binary;
    }

    void repliesWaitOnlyForRequestsInHand()
    {
        // Calls written in one go are answered in one go; but no answer waits for a
        // call that has not arrived whole, or the client would wait for ever.
        using namespace engineprotocol;
        int ends[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        UniqueFd client(ends[0]), engine(ends[1]);
        int served = -1;
        RequestReader requests(engine.get());
        std::thread server(
            [&] { served = serveCalls(requests, engine.get(), nullptr, "no office", 0); });
        auto guard = qScopeGuard([&] {
            client.reset();
            server.join();
        });
        const auto answered = [&](int timeoutMs) {
            pollfd ready{client.get(), POLLIN, 0};
            if (::poll(&ready, 1, timeoutMs) != 1)
                return false;
            char head[4 + kReplyHeaderSize];
            ReplyHeader header;
            std::string detail;
            if (!readFully(client.get(), head, sizeof head) || !decodeReplyHeader(head, header))
                return false;
            detail.resize(header.extra);
            return readFully(client.get(), detail.data(), detail.size()) &&
                   header.refusal == Refusal::EngineFailure && detail == "no office";
        };

        const std::string call = encodeRequest({Call::Property, 0, 0, 0, {}});
        QVERIFY(writeFully(client.get(), call + call + call + call.substr(0, 5)));
        for (int i = 0; i < 3; ++i)
            QVERIFY2(answered(5000), qPrintable(QString::number(i)));
        QVERIFY(!answered(200)); // the fourth has not arrived whole
        QVERIFY(
            writeFully(client.get(), call.substr(5) + encodeRequest({Call::Quit, 0, 0, 0, {}})));
        QVERIFY(answered(5000));
        QVERIFY(answered(5000)); // the quit
        server.join();
        guard.dismiss();
        QCOMPARE(served, 0);
    }

    void fileKinds()
    {
        QFETCH(QByteArray, content);
        QFETCH(FileKind, kind);
        const QString path = m_dir.filePath("sample");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        QCOMPARE(sniffFile(path.toStdString()), kind);
    }

    // Folders and special files are told apart from missing ones, and a special file
    // is never opened (a named pipe without a writer would block the open).
    // Documents that may carry macros are told apart before the office runs any: such
    // a document ends its engine, since its libraries stay in the office.
    void macrosAreSniffed_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("macros");
        const QByteArray docx = "word/document.xml";
        QTest::newRow("docx") << officeOpenXml(docx) << false;
        QTest::newRow("docm with a VBA project")
            << storedZip({{"[Content_Types].xml", "<Types/>"},
                          {docx, kContent},
                          {"word/vbaProject.bin", compoundFile({utf16Name("VBA")})}})
            << true;
        QTest::newRow("odt") << openDocument("text") << false;
        QTest::newRow("odt with Basic")
            << storedZip({{"mimetype", "application/vnd.oasis.opendocument.text"},
                          {"content.xml", kContent},
                          {"Basic/Standard/Module1.xml", "<script:module/>"}})
            << true;
        QTest::newRow("odt with scripts")
            << storedZip({{"mimetype", "application/vnd.oasis.opendocument.text"},
                          {"content.xml", kContent},
                          {"Scripts/python/tool.py", "print()"}})
            << true;
        QTest::newRow("flat odt with an embedded library")
            << QByteArray("<office:document><office:scripts><office:script><ooo:libraries>"
                          "<ooo:library-embedded ooo:name=\"Standard\"/></ooo:libraries>"
                          "</office:script></office:scripts></office:document>")
            << true;
        QTest::newRow("doc") << compoundFile({utf16Name("WordDocument"), utf16Name("1Table")})
                             << false;
        QTest::newRow("doc with Word 97 macros")
            << compoundFile(
                   {utf16Name("WordDocument"), utf16Name("Macros"), utf16Name("_VBA_PROJECT")})
            << true;
        // The word in a document's text is not a storage's name.
        QTest::newRow("rtf about macros")
            << QByteArray("{\\rtf1 Macros and _VBA_PROJECT}") << false;
    }

    void macrosAreSniffed()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, macros);
        const QString path = m_dir.filePath(QTest::currentDataTag());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        QCOMPARE(mayCarryMacros(path.toStdString()), macros);
    }

    void unreadableDocumentIsTakenForOneWithMacros()
    {
        QVERIFY(mayCarryMacros(m_dir.filePath("no such document").toStdString()));
    }

    void missingFoldersAndSpecialFiles()
    {
        QCOMPARE(sniffFile(m_dir.filePath("no such file").toStdString()), FileKind::Missing);
        QCOMPARE(sniffFile(m_dir.path().toStdString()), FileKind::Folder);
        const std::string pipe = m_dir.filePath("pipe.doc").toStdString();
        QVERIFY(::mkfifo(pipe.c_str(), 0600) == 0);
        QCOMPARE(sniffFile(pipe), FileKind::Special);
        QCOMPARE(specialFileKind(pipe), std::string("named pipe"));
        QCOMPARE(sniffFile("/dev/null"), FileKind::Special);
        QCOMPARE(specialFileKind("/dev/null"), std::string("device"));
        QCOMPARE(specialFileKind(m_dir.path().toStdString()), std::string());
    }

    // --- the launcher's watch on the folder where pre-initialisation works ---

    // What a launcher relies on to find the throw-away profile the office made and
    // removed: folders made directly in the watched folder, even those gone again,
    // and nothing else.
    void folderWatchNotesFoldersMadeThere()
    {
        namespace fs = std::filesystem;
        const fs::path folder = m_dir.filePath("watched").toStdString();
        fs::create_directories(folder / "before");
        FolderWatch watch(folder);
        QVERIFY(watch.isWatching());
        fs::create_directory(folder / "lu123.tmp");
        fs::create_directories(folder / "lu123.tmp" / "user" / "basic");
        std::ofstream(folder / "file.tmp") << "not a folder";
        fs::create_directory(m_dir.filePath("elsewhere").toStdString());
        fs::rename(m_dir.filePath("elsewhere").toStdString(), folder / "moved in");
        fs::remove_all(folder / "lu123.tmp");
        fs::create_directory(folder / "before" / "nested");

        std::vector<std::string> made;
        QVERIFY(watch.takeMadeFolders(made));
        QCOMPARE(made, (std::vector<std::string>{"lu123.tmp", "moved in"}));
        // Each folder is told once.
        made.clear();
        QVERIFY(watch.takeMadeFolders(made));
        QVERIFY(made.empty());
        fs::create_directory(folder / "later");
        QVERIFY(watch.takeMadeFolders(made));
        QCOMPARE(made, std::vector<std::string>{"later"});
    }

    void folderWatchOfAMissingFolderSaysSo()
    {
        FolderWatch watch(m_dir.filePath("no such folder").toStdString());
        QVERIFY(!watch.isWatching());
        std::vector<std::string> made;
        QVERIFY(!watch.takeMadeFolders(made));
    }

    // --- profiles ---

    void slotsAreNeverShared()
    {
        const std::filesystem::path root = m_dir.filePath("cache").toStdString();
        std::string error;
        auto first = ProfileSlot::acquire(root, error);
        auto second = ProfileSlot::acquire(root, error);
        QVERIFY(first && second);
        QCOMPARE(first->folder(), root / "engine-profile-0");
        QCOMPARE(second->folder(), root / "engine-profile-1");
        first.reset();
        auto third = ProfileSlot::acquire(root, error);
        QVERIFY(third);
        QCOMPARE(third->folder(), root / "engine-profile-0");
    }

    // Fonts a document brought are where the office put them until the next engine
    // of the profile starts: the next engine judges its own documents by what is there.
    void documentFontsGoWithTheTemporaryFolder()
    {
        const std::filesystem::path root = m_dir.filePath("fonts-cache").toStdString();
        std::string error;
        auto slot = ProfileSlot::acquire(root, error);
        QVERIFY(slot);
        const std::filesystem::path fonts = ProfileSlot::documentFontsFolder(slot->folder());
        std::filesystem::create_directories(fonts);
        std::filesystem::create_directories(slot->temporaryFolder());
        std::ofstream(fonts / "carried.ttf") << "font";
        std::ofstream(slot->temporaryFolder() / "left.tmp") << "left";
        QVERIFY(std::filesystem::exists(fonts / "carried.ttf"));
        QVERIFY(std::filesystem::exists(slot->temporaryFolder() / "left.tmp"));
        slot->clearTemporaryFolder();
        QVERIFY(!std::filesystem::exists(fonts / "carried.ttf"));
        QVERIFY(!std::filesystem::exists(slot->temporaryFolder() / "left.tmp"));
        QVERIFY(std::filesystem::is_directory(slot->temporaryFolder()));
    }

    // Temporary files go to memory only where no one else can reach them and there is
    // room; two profiles never share a temporary folder, whatever cache they are in.
    void temporaryFilesGoToAPrivateMemoryFolder()
    {
        std::string error;
        auto mine = ProfileSlot::acquire(m_dir.filePath("cache-a").toStdString(), error);
        auto theirs = ProfileSlot::acquire(m_dir.filePath("cache-b").toStdString(), error);
        QVERIFY(mine && theirs);
        QCOMPARE(mine->folder().filename(), theirs->folder().filename());
        QVERIFY(mine->temporaryFolder() != theirs->temporaryFolder());

        struct statfs shm = {};
        if (::statfs("/dev/shm", &shm) != 0 || shm.f_type != TMPFS_MAGIC ||
            uint64_t(shm.f_bavail) * shm.f_bsize < (uint64_t(1) << 30))
            QSKIP("no /dev/shm in memory with a gigabyte free");
        QTemporaryDir runtime("/dev/shm/pagelift-test-XXXXXX");
        QVERIFY(runtime.isValid());
        const std::filesystem::path runtimePath = runtime.path().toStdString();
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        auto restore = qScopeGuard([&] { qputenv("XDG_RUNTIME_DIR", saved); });
        const auto inRuntime = [&] {
            const std::filesystem::path folder = ProfileSlot::memoryFolder();
            return !folder.empty() && folder.parent_path() == runtimePath;
        };

        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        QVERIFY(::chmod(runtime.path().toLocal8Bit(), 0700) == 0);
        QCOMPARE(ProfileSlot::memoryFolder(), runtimePath / "pagelift");
        auto slot = ProfileSlot::acquire(m_dir.filePath("cache-c").toStdString(), error);
        QVERIFY(slot);
        QCOMPARE(slot->temporaryFolder().parent_path(), runtimePath / "pagelift");
        slot.reset();

        // Open to others: not taken, nor the folder made in it earlier.
        QVERIFY(::chmod(runtime.path().toLocal8Bit(), 0755) == 0);
        QVERIFY(!inRuntime());
        QVERIFY(::chmod(runtime.path().toLocal8Bit(), 0700) == 0);
        QVERIFY(::chmod((runtimePath / "pagelift").c_str(), 0777) == 0);
        QVERIFY(!inRuntime());
        // A link, which another user could have put there.
        std::filesystem::remove(runtimePath / "pagelift");
        std::filesystem::create_directory(runtimePath / "elsewhere");
        std::filesystem::create_directory_symlink(runtimePath / "elsewhere",
                                                  runtimePath / "pagelift");
        QVERIFY(!inRuntime());
        // On a disk.
        qputenv("XDG_RUNTIME_DIR", m_dir.path().toLocal8Bit());
        QVERIFY(::chmod(m_dir.path().toLocal8Bit(), 0700) == 0);
        const std::filesystem::path onDisk = ProfileSlot::memoryFolder();
        QVERIFY(onDisk.empty() || onDisk.parent_path() != m_dir.path().toStdString());
    }

    void profileIsReadyOnlyAfterMarking()
    {
        const std::filesystem::path root = m_dir.filePath("ready").toStdString();
        const std::string install = m_dir.filePath("office").toStdString();
        std::filesystem::create_directories(install);
        std::ofstream(std::filesystem::path(install) / "versionrc") << "buildid=1\n";
        std::string error;
        auto slot = ProfileSlot::acquire(root, error);
        QVERIFY(slot);
        QVERIFY(!slot->isReady(install));
        QVERIFY(slot->reset(error));
        QVERIFY(!slot->isReady(install));
        slot->markReady(install);
        QVERIFY(slot->isReady(install));

        // A new office version remakes the profile.
        std::ofstream(std::filesystem::path(install) / "versionrc") << "buildid=2\n";
        QVERIFY(!slot->isReady(install));
    }

    void profileHidesEditingAids()
    {
        const std::filesystem::path root = m_dir.filePath("settings").toStdString();
        std::string error;
        auto slot = ProfileSlot::acquire(root, error);
        QVERIFY(slot && slot->reset(error));
        QFile file(QString::fromStdString(
            (slot->folder() / "user" / "registrymodifications.xcu").string()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString settings = QString::fromUtf8(file.readAll());
        for (const char *aid :
             {"DocBoundaries", "TableBoundaries", "WriterSectionBoundaries", "ObjectBoundaries"}) {
            const QString item = QString("ColorScheme['LibreOffice']/%1\"><prop "
                                         "oor:name=\"IsVisible\" oor:op=\"fuse\"><value>false")
                                     .arg(aid);
            QVERIFY2(settings.contains(item), aid);
        }
    }

    // Printed pages come out as pdftoppm draws the same PDF, to the byte, from every
    // reader, with all of them drawing at once, and again from their glyph caches, in
    // colour and grey; the
    // paper is laid under each page as it is copied out, where pdftoppm lays it in a
    // pass of its own, and the engine's glyph caches are larger than pdftoppm's.
    void printedPagesAreDrawnAsPdftoppmDrawsThem()
    {
        const QString pdf = m_dir.filePath("shapes.pdf");
        QFile file(pdf);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(shapesPdf());
        file.close();
        QCOMPARE(QProcess::execute("pdftoppm", {"-r", "96", "-png", "-singlefile", pdf,
                                                m_dir.filePath("shapes")}),
                 0);
        QCOMPARE(QProcess::execute("pdftoppm", {"-r", "96", "-gray", "-png", "-singlefile", pdf,
                                                m_dir.filePath("grey")}),
                 0);
        const QImage expected =
            QImage(m_dir.filePath("shapes.png")).convertToFormat(QImage::Format_RGB32);
        const QImage expectedGrey =
            QImage(m_dir.filePath("grey.png")).convertToFormat(QImage::Format_RGB32);
        QVERIFY(!expected.isNull() && !expectedGrey.isNull());

        std::unique_ptr<PrintedPages> pages = PrintedPages::open(pdf.toStdString());
        QVERIFY(pages);
        QVERIFY(!QFile::exists(pdf));
        QVERIFY(!pages->addReader(PrintedPages::kReaders));
        for (int reader = 1; reader < PrintedPages::kReaders; ++reader)
            QVERIFY(pages->addReader(reader));
        const int width = expected.width();
        const int height = expected.height();
        std::vector<std::vector<QImage>> drawn(PrintedPages::kReaders);
        std::vector<std::thread> threads;
        for (int reader = 0; reader < PrintedPages::kReaders; ++reader) {
            threads.emplace_back([&, reader] {
                for (int round = 0; round < 5; ++round) {
                    QImage image(width, height, QImage::Format_RGB32);
                    image.fill(Qt::black); // every pixel must be drawn over
                    if (pages->draw(0, 96, image.bits(), width, height, width, reader))
                        drawn[size_t(reader)].push_back(image);
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        for (int reader = 0; reader < PrintedPages::kReaders; ++reader) {
            QCOMPARE(drawn[size_t(reader)].size(), size_t(5));
            for (const QImage &image : drawn[size_t(reader)])
                QVERIFY2(image == expected, qPrintable(QString("reader %1").arg(reader)));
        }
        QImage grey(width, height, QImage::Format_RGB32);
        QVERIFY(pages->draw(0, {96, 96, true}, grey.bits(), width, height, width));
        QCOMPARE(grey, expectedGrey);
        // Partly covered pixels are there to be compared: neither white nor one colour.
        QSet<QRgb> colours;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                colours.insert(expected.pixel(x, y));
        }
        QVERIFY(colours.size() > 20);
    }

    void dladdrAnswersAreKeptWhileTheirObjectStays()
    {
        g_lookups = 0;
        g_movedTo = nullptr;
        ModuleAddressCache cache(countedLookup, movableLocate);
        const auto *inLibc = static_cast<const char *>(::dlsym(RTLD_DEFAULT, "qsort"));
        QVERIFY(inLibc);
        const auto same = [](const Dl_info &a, const Dl_info &b) {
            return QByteArray(a.dli_fname) == QByteArray(b.dli_fname) &&
                   a.dli_fbase == b.dli_fbase && a.dli_saddr == b.dli_saddr &&
                   QByteArray(a.dli_sname) == QByteArray(b.dli_sname);
        };
        Dl_info expected{};
        QVERIFY(::dladdr(inLibc, &expected) != 0);
        for (int i = 0; i < 3; ++i) {
            Dl_info info{};
            QCOMPARE(cache.find(inLibc, &info), 1);
            QVERIFY(same(info, expected));
        }
        QCOMPARE(g_lookups, 1);

        // The object loaded again elsewhere: glibc is asked anew.
        Dl_info info{};
        int elsewhere = 0;
        g_movedTo = &elsewhere;
        QCOMPARE(cache.find(inLibc, &info), 1);
        QCOMPARE(g_lookups, 2);
        g_movedTo = nullptr;

        // More addresses than are kept: each answer is still glibc's for that address.
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < 80; ++i) {
                Dl_info info{};
                Dl_info direct{};
                QCOMPARE(cache.find(inLibc + 64 * i, &info), ::dladdr(inLibc + 64 * i, &direct));
                QVERIFY2(same(info, direct), qPrintable(QString::number(i)));
            }
        }

        // An address in no object is glibc's to answer, every time.
        const int before = g_lookups;
        const std::vector<char> heap(64);
        QCOMPARE(cache.find(heap.data(), &info), 0);
        QCOMPARE(cache.find(heap.data(), &info), 0);
        QCOMPARE(g_lookups, before + 2);
    }

    void officeVersionIsRecorded()
    {
        const std::filesystem::path root = m_dir.filePath("version").toStdString();
        std::string error;
        auto slot = ProfileSlot::acquire(root, error);
        QVERIFY(slot && slot->reset(error));
        QVERIFY(!ProfileSlot::recordOfficeVersion(slot->folder(), ""));
        QVERIFY(!ProfileSlot::recordOfficeVersion(slot->folder(), "7.4<evil/>"));
        QVERIFY(ProfileSlot::recordOfficeVersion(slot->folder(), "7.4"));
        QFile file(QString::fromStdString(
            (slot->folder() / "user" / "registrymodifications.xcu").string()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString settings = QString::fromUtf8(file.readAll());
        QVERIFY(settings.contains("<item oor:path=\"/org.openoffice.Setup/Product\"><prop "
                                  "oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>7.4<"));
        QVERIFY(settings.trimmed().endsWith("</oor:items>"));
        QVERIFY(settings.contains("DocBoundaries")); // the earlier settings are kept
    }

    void cacheRootFollowsXdg()
    {
        const QByteArray saved = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", "/some/cache");
        QCOMPARE(engineCacheRoot(), std::filesystem::path("/some/cache/pagelift"));
        qputenv("XDG_CACHE_HOME", "relative/is/ignored");
        QCOMPARE(engineCacheRoot(),
                 std::filesystem::path(qgetenv("HOME").toStdString()) / ".cache" / "pagelift");
        qputenv("XDG_CACHE_HOME", saved);
    }

    void fileUrls_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("url");
        QTest::newRow("plain") << "/a/b.docx"
                               << "file:///a/b.docx";
        QTest::newRow("space and quotes") << "/a b/it's \"x\".doc"
                                          << "file:///a%20b/it%27s%20%22x%22.doc";
        QTest::newRow("non-ascii") << "/ü/日.odt"
                                   << "file:///%C3%BC/%E6%97%A5.odt";
        QTest::newRow("percent and hash") << "/a%b#c?.rtf"
                                          << "file:///a%25b%23c%3F.rtf";
    }

    void fileUrls()
    {
        QFETCH(QString, path);
        QFETCH(QString, url);
        QCOMPARE(QString::fromStdString(fileUrl(path.toStdString())), url);
    }
};

QTEST_GUILESS_MAIN(TestEngineCore)
#include "tst_enginecore.moc"
