#include "madedocuments.h"

#include "pathbytes.h"

#include <QDir>
#include <QFile>

#include <QProcess>
#include <fstream>
#include <iterator>

#include <algorithm>
#include <tuple>

namespace {

QString masterOf(Page page)
{
    switch (page) {
    case Page::Letter:
        return "Letter";
    case Page::Landscape:
        return "Landscape";
    default:
        return "A4";
    }
}

} // namespace

QByteArray flatOdt(const QList<Page> &pages, const QString &subject)
{
    const QString about =
        subject.isEmpty() ? QString() : QStringLiteral(" of ") + subject.toHtmlEscaped();
    QString body;
    for (int i = 0; i < pages.size(); ++i) {
        const bool newMaster = i == 0 || masterOf(pages[i]) != masterOf(pages[i - 1]);
        const QString style = newMaster ? "First" + masterOf(pages[i]) : QString("Break");
        if (pages[i] == Page::BlankA4) {
            body += QString("<text:p text:style-name=\"%1\"/>").arg(style);
            continue;
        }
        body += QString("<text:p text:style-name=\"%1\"><text:span text:style-name=\"Big\">Page "
                        "%2</text:span></text:p>")
                    .arg(style)
                    .arg(i + 1);
        // Pages differ in length, so that a page compared with the wrong one shows.
        for (int paragraph = 0; paragraph < 2 + (i * 3) % 7; ++paragraph) {
            body += "<text:p>";
            for (int sentence = 0; sentence < 5; ++sentence)
                body += QString("Sentence %1 of paragraph %2 on page %3%4 says little but fills "
                                "the line with ordinary words. ")
                            .arg(sentence + 1)
                            .arg(paragraph + 1)
                            .arg(i + 1)
                            .arg(about);
            body += "</text:p>";
        }
    }

    QString masters;
    QString layouts;
    QString firstStyles;
    const QList<std::tuple<QString, QString, QString, QString>> geometry = {
        {"A4", "21cm", "29.7cm", "portrait"},
        {"Letter", "8.5in", "11in", "portrait"},
        {"Landscape", "29.7cm", "21cm", "landscape"},
    };
    for (const auto &[name, width, height, orientation] : geometry) {
        layouts += QString("<style:page-layout style:name=\"pm%1\"><style:page-layout-properties "
                           "fo:page-width=\"%2\" fo:page-height=\"%3\" "
                           "style:print-orientation=\"%4\" fo:margin-top=\"2cm\" "
                           "fo:margin-bottom=\"2cm\" fo:margin-left=\"2cm\" "
                           "fo:margin-right=\"2cm\"/></style:page-layout>")
                       .arg(name, width, height, orientation);
        masters += QString("<style:master-page style:name=\"%1\" style:page-layout-name=\"pm%1\"/>")
                       .arg(name);
        firstStyles += QString("<style:style style:name=\"First%1\" style:family=\"paragraph\" "
                               "style:parent-style-name=\"Standard\" "
                               "style:master-page-name=\"%1\"/>")
                           .arg(name);
    }

    return QString(R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:font-face-decls>
 <style:font-face style:name="Liberation Serif" svg:font-family="'Liberation Serif'" style:font-family-generic="roman"/>
</office:font-face-decls>
<office:styles>
 <style:style style:name="Standard" style:family="paragraph">
  <style:paragraph-properties fo:margin-bottom="0.2cm"/>
  <style:text-properties style:font-name="Liberation Serif" fo:font-size="12pt" fo:language="en" fo:country="US"/>
 </style:style>
</office:styles>
<office:automatic-styles>%1%2
 <style:style style:name="Break" style:family="paragraph" style:parent-style-name="Standard">
  <style:paragraph-properties fo:break-before="page"/>
 </style:style>
 <style:style style:name="Big" style:family="text">
  <style:text-properties fo:font-size="28pt" fo:font-weight="bold" fo:color="#1f4e9c"/>
 </style:style>
</office:automatic-styles>
<office:master-styles>%3</office:master-styles>
<office:body><office:text>%4</office:text></office:body>
</office:document>
)")
        .arg(layouts, firstStyles, masters, body)
        .toUtf8();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    // By the path's own bytes, which need not be valid UTF-8.
    std::ofstream file(encodePath(path).toStdString(), std::ios::binary | std::ios::trunc);
    file.write(content.constData(), content.size());
    file.close();
    return bool(file);
}

QByteArray readFile(const QString &path)
{
    std::ifstream file(encodePath(path).toStdString(), std::ios::binary);
    return QByteArray::fromStdString(
        std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
}

QString makeDocument(const QString &engineFolder, const QString &folder, const QString &name,
                     const QList<Page> &pages, const QString &format, QString *error)
{
    return makeDocuments(engineFolder, folder, {{name, pages, {}}}, format, error).value(0);
}

bool saveDocuments(const QString &engineFolder, const QList<std::pair<QString, QString>> &saves,
                   QString *error)
{
    QStringList arguments;
    for (const auto &[from, to] : saves)
        arguments << from << to;
    QProcess convert;
    convert.setProcessChannelMode(QProcess::MergedChannels);
    convert.start(QDir(engineFolder).filePath(QStringLiteral("pagelift-documentmaker")), arguments);
    const bool finished = convert.waitForFinished(300000 + 1000 * int(saves.size()));
    const bool allThere = std::all_of(saves.begin(), saves.end(),
                                      [](const auto &save) { return QFile::exists(save.second); });
    if (!finished || convert.exitStatus() != QProcess::NormalExit || convert.exitCode() != 0 ||
        !allThere) {
        if (error)
            *error = QString::fromLocal8Bit(convert.readAll());
        return false;
    }
    return true;
}

QStringList makeDocuments(const QString &engineFolder, const QString &folder,
                          const QList<DocumentPlan> &plans, const QString &format, QString *error)
{
    QStringList flats;
    QStringList documents;
    QList<std::pair<QString, QString>> saves;
    for (const DocumentPlan &plan : plans) {
        const QString flat = QDir(folder).filePath(plan.name + QStringLiteral(".fodt"));
        if (!writeFile(flat, flatOdt(plan.pages, plan.subject))) {
            if (error)
                *error = QStringLiteral("cannot write ") + flat;
            return {};
        }
        const QString document = QDir(folder).filePath(plan.name + u'.' + format);
        flats << flat;
        documents << document;
        saves.append({flat, document});
    }
    if (format == QLatin1String("fodt") || plans.isEmpty())
        return flats;
    return saveDocuments(engineFolder, saves, error) ? documents : QStringList();
}
