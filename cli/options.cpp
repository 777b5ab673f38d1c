#include "options.h"

#include "settings.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

// Every kind Pagelift converts, by its usual extensions: text documents, presentations,
// spreadsheets, drawings and PDFs.
const QStringList kDefaultExtensions = {"doc", "docx", "odt",  "rtf", "ppt", "pptx", "odp",
                                        "key", "xls",  "xlsx", "ods", "csv", "odg",  "pdf"};
const std::string kExtensionHelp =
    "extensions taken from folders, repeatable or comma-separated (default: " +
    kDefaultExtensions.join(", ").toStdString() + "; * for all)";

bool toNumber(const QString &text, int least, int most, int &value)
{
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < least || number > most)
        return false;
    value = number;
    return true;
}

// Page pictures are drawn at most this many pixels each way.
constexpr int kMostPixels = 20000;
// What a thumbnail may take when --timeout does not say: file managers wait a few
// seconds, and a document LibreOffice needs longer for gets no thumbnail.
constexpr int kThumbnailSeconds = 10;

} // namespace

namespace {

// One option: its names, the value it takes (none for a flag), what it does as --help
// says it, and how its value is taken. --help and the parser read the same table, so an
// option is written once.
struct Option
{
    const char *shortName; // "" where it has none
    const char *longName;
    const char *valueName; // "" for a flag
    const char *help;
    const char *what; // what its value must be, for the usage error
    std::function<bool(const QString &value)> take;
};

std::vector<Option> optionTable(ConvertOptions &o)
{
    const auto flag = [](bool &set) {
        return [&set](const QString &) {
            set = true;
            return true;
        };
    };
    const auto number = [](int least, int most, int &value) {
        return [least, most, &value](const QString &v) { return toNumber(v, least, most, value); };
    };
    return {
        {"-e", "--extension", "EXT", kExtensionHelp.c_str(), "an extension",
         [&o](const QString &value) {
             for (const QString &part : value.split(u',', Qt::SkipEmptyParts)) {
                 QString e = part.trimmed().toLower();
                 if (e.startsWith(u'.'))
                     e.remove(0, 1);
                 if (e.isEmpty())
                     return false;
                 o.extensions << e;
             }
             return !value.trimmed().isEmpty();
         }},
        {"", "--from", "FILE",
         "also read paths from FILE, one per line, lines ending in LF or CR LF (- for "
         "standard input); folders are walked",
         "a file",
         [&o](const QString &v) {
             o.fromFiles << v;
             return !v.isEmpty();
         }},
        {"-0", "", "", "the --from lists are separated by NUL characters", "",
         flag(o.nulSeparated)},
        {"-f", "--format", "FORMAT",
         "jpeg, png or webp (default: jpeg, the window's); pages are named DOC_1.jpg, "
         "DOC_1.png, DOC_1.webp",
         "jpeg, png or webp",
         [&o](const QString &v) {
             const std::optional<ImageFormat> named = imageFormatNamed(v);
             o.format = named.value_or(ImageFormat::Jpeg);
             return named.has_value();
         }},
        {"-q", "--quality", "N",
         "JPEG and WebP quality 1-100 (default: the window's); WebP at 100 is lossless; PNG "
         "is lossless and ignores it",
         "a quality from 1 to 100", number(1, 100, o.quality)},
        {"", "--gray", "", "8-bit grey pictures, drawn grey", "", flag(o.grey)},
        {"", "--pages", "LIST",
         "only these pages: 1, 1-3, 2,5-7, 3- (to the end); pages a document does not have "
         "are skipped",
         "a list of pages such as 1-3,5,7-",
         [&o](const QString &v) {
             const std::optional<PageChoice> choice = PageChoice::parse(v.toStdString());
             o.pages = choice.value_or(PageChoice());
             return choice.has_value();
         }},
        {"-r", "--resolution", "DPI", "pixels per inch of page, 48-600 (default: the window's, 96)",
         "a resolution from 48 to 600", number(48, 600, o.dpi)},
        {"", "--size", "WxH", "each page drawn to fit W x H pixels, its proportions kept",
         "a box such as 256x256, each side up to 20000",
         [&o](const QString &v) {
             const QStringList sides = v.toLower().split(u'x');
             return sides.size() == 2 && toNumber(sides[0], 1, kMostPixels, o.boxWidth) &&
                    toNumber(sides[1], 1, kMostPixels, o.boxHeight);
         }},
        {"", "--width", "W", "each page drawn W pixels wide (with --height: to fit both)",
         "a width in pixels from 1 to 20000", number(1, kMostPixels, o.boxWidth)},
        {"", "--height", "H",
         "each page drawn H pixels high; --size, --width and --height exclude --resolution",
         "a height in pixels from 1 to 20000", number(1, kMostPixels, o.boxHeight)},
        {"-o", "--output-dir", "DIR",
         "write the images under DIR; documents found under a folder keep their path "
         "relative to it",
         "a folder",
         [&o](const QString &v) {
             o.outputFolder = v;
             return !v.isEmpty();
         }},
        {"-j", "--jobs", "N",
         "documents converted at once (default: the CPUs this run may use, as many as its "
         "memory takes)",
         "a number of jobs from 1 to 1024", number(1, 1024, o.jobs)},
        {"", "--stop-on-error", "", "stop at the first document that fails", "",
         flag(o.stopOnError)},
        {"", "--timeout", "SECONDS",
         "time each step of a document may take: opening it, counting its pages, drawing one "
         "page (default 120)",
         "a number of seconds from 1 to 604800", number(1, 7 * 86400, o.timeoutSeconds)},
        {"", "--json", "", "one JSON object per document on standard output", "", flag(o.json)},
        {"-v", "--verbose", "",
         "say on standard error the CPUs and memory this run may use, and the jobs they make", "",
         flag(o.verbose)},
        {"", "--thumbnail", "SIZE",
         "for file managers, with INPUT OUTPUT after it: page 1 of INPUT as a PNG fitting "
         "SIZE x SIZE pixels, written to exactly OUTPUT, nothing written on failure; "
         "--timeout is the time the whole thumbnail may take (default 10 seconds)",
         "a size in pixels from 1 to 20000", number(1, kMostPixels, o.thumbnailSize)},
        {"", "--linked-files", "none|beside",
         "what a document's linked pictures may come from besides the document: nothing, or "
         "files under its own folder (default: the window's LinkedFiles, none)",
         "none or beside",
         [&o](const QString &v) {
             o.linkedBeside = v == QLatin1String("beside");
             return v == QLatin1String("none") || v == QLatin1String("beside");
         }},
        {"", "--require-sandbox", "",
         "convert nothing unless the engines' sandbox is wholly in force (exit status 2 "
         "otherwise)",
         "", flag(o.requireSandbox)},
        {"-h", "--help", "", "this text", "", flag(o.help)},
        {"", "--version", "",
         "the program's version, what its sandbox enforces, and the CPUs, memory and jobs a "
         "run would take",
         "", flag(o.version)},
    };
}

// `text` in lines of at most `width` characters, each but the first indented by
// `indent` spaces.
QString wrapped(const QString &text, int indent, int width)
{
    QString out, line;
    for (const QString &word : text.split(u' ', Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && indent + line.size() + 1 + word.size() > width) {
            out += line + u'\n' + QString(indent, u' ');
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return out + line;
}

} // namespace

QString usageText()
{
    constexpr int kHelpColumn = 24;
    QString text = QStringLiteral(
        "usage: pagelift-convert [OPTIONS] PATH...\n"
        "Turns documents into page images: every page of DOC.docx becomes DOC_1.jpg,\n"
        "DOC_2.jpg ... beside it (or under --output-dir).\n"
        "\n"
        "  PATH                  a document, or a folder whose whole tree is walked\n");
    ConvertOptions unused;
    for (const Option &option : optionTable(unused)) {
        QString names = QStringLiteral("  ") +
                        (*option.shortName ? QString::fromLatin1(option.shortName) +
                                                 (*option.longName ? ", " : "")
                                           : QStringLiteral("    ")) +
                        QLatin1String(option.longName);
        if (*option.valueName)
            names += u' ' + QLatin1String(option.valueName);
        text += names.size() < kHelpColumn ? names.leftJustified(kHelpColumn)
                                           : names + u'\n' + QString(kHelpColumn, u' ');
        text += wrapped(QString::fromUtf8(option.help), kHelpColumn, 80) + u'\n';
    }
    return text + QStringLiteral(
                      "\n"
                      "Exit status: 0 every document converted, 1 some failed or were skipped or "
                      "the\n"
                      "report could not be written, 2 a usage error or an unusable --output-dir "
                      "or list.\n");
}

ParsedArguments parseArguments(const QStringList &arguments, const SettingsStore &store)
{
    ParsedArguments parsed;
    ConvertOptions &o = parsed.options;
    o.quality = settings::readInt(store, settings::kQuality);
    o.dpi = settings::readInt(store, settings::kResolution);
    o.linkedBeside = settings::readChoice(store, settings::kLinkedFiles) == 1;
    const std::vector<Option> table = optionTable(o);
    const auto named = [&](const QString &name) {
        return std::find_if(table.begin(), table.end(), [&](const Option &option) {
            return name == QLatin1String(option.shortName) ||
                   (*option.longName && name == QLatin1String(option.longName));
        });
    };
    // The options given, by their long names, for the ones that exclude others.
    QStringList given;

    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (optionsEnded || argument == QLatin1String("-") || !argument.startsWith(u'-')) {
            o.paths << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        // "--name=value", "-xVALUE", or the value in the next argument.
        QString name = argument;
        std::optional<QString> value;
        auto option = named(argument);
        if (option == table.end()) {
            if (argument.startsWith(QLatin1String("--")) && argument.contains(u'=')) {
                name = argument.section(u'=', 0, 0);
                value = argument.section(u'=', 1);
            } else if (!argument.startsWith(QLatin1String("--")) && argument.size() > 2) {
                name = argument.left(2);
                value = argument.mid(2);
            }
            option = named(name);
        }
        if (option == table.end() || (value && !*option->valueName)) {
            parsed.error = QStringLiteral("unknown option %1").arg(argument);
            return parsed;
        }
        const QString what = QLatin1String(option->what);
        if (*option->valueName && !value) {
            if (i + 1 >= arguments.size()) {
                parsed.error = QStringLiteral("%1 needs %2").arg(name, what);
                return parsed;
            }
            value = arguments[++i];
        }
        if (!option->take(value.value_or(QString()))) {
            parsed.error = QStringLiteral("%1 needs %2, not \"%3\"").arg(name, what, *value);
            return parsed;
        }
        given << QLatin1String(*option->longName ? option->longName : option->shortName);
    }
    const auto excluded = [&](const QStringList &one, const QStringList &other) {
        for (const QString &a : one) {
            for (const QString &b : other) {
                if (given.contains(a) && given.contains(b)) {
                    parsed.error = QStringLiteral("%1 and %2 exclude each other").arg(a, b);
                    return true;
                }
            }
        }
        return false;
    };
    const QStringList box = {"--size", "--width", "--height"};
    if (excluded({"--resolution"}, box) || excluded({"--size"}, {"--width", "--height"}) ||
        excluded({"--thumbnail"}, box + QStringList{"--format", "--pages", "--resolution",
                                                    "--output-dir", "--from", "--jobs"}))
        return parsed;
    if (o.thumbnailSize > 0) {
        if (o.paths.size() != 2 || o.json) {
            parsed.error = QStringLiteral("--thumbnail needs SIZE INPUT OUTPUT and nothing else");
            return parsed;
        }
        o.thumbnailFile = o.paths.takeLast();
        o.format = ImageFormat::Png;
        o.pages = *PageChoice::parse("1");
        o.boxWidth = o.boxHeight = o.thumbnailSize;
        if (!given.contains(QLatin1String("--timeout")))
            o.timeoutSeconds = kThumbnailSeconds;
    }
    if (o.extensions.isEmpty())
        o.extensions = kDefaultExtensions;
    if (!o.help && !o.version && o.paths.isEmpty() && o.fromFiles.isEmpty())
        parsed.error = QStringLiteral("nothing to convert: give documents or folders");
    return parsed;
}
