#include "options.h"

#include "settings.h"

#include <algorithm>
#include <functional>
#include <map>
#include <optional>

namespace {

const QStringList kDefaultExtensions = {"doc", "docx", "odt", "rtf"};

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

QString usageText()
{
    return QStringLiteral(
        "usage: pagelift-convert [OPTIONS] PATH...\n"
        "Turns documents into page images: every page of DOC.docx becomes DOC_1.jpg,\n"
        "DOC_2.jpg ... beside it (or under --output-dir).\n"
        "\n"
        "  PATH                  a document, or a folder whose whole tree is walked\n"
        "  -e, --extension EXT   extensions taken from folders, repeatable or\n"
        "                        comma-separated (default: doc, docx, odt, rtf; * for all)\n"
        "      --from FILE       also read paths from FILE, one per line, lines ending in\n"
        "                        LF or CR LF (- for standard input); folders are walked\n"
        "  -0                    the --from lists are separated by NUL characters\n"
        "  -f, --format FORMAT   jpeg, png or webp (default: jpeg, the window's); pages\n"
        "                        are named DOC_1.jpg, DOC_1.png, DOC_1.webp\n"
        "  -q, --quality N       JPEG and WebP quality 1-100 (default: the window's);\n"
        "                        WebP at 100 is lossless; PNG is lossless and ignores it\n"
        "      --gray            8-bit grey pictures, drawn grey\n"
        "      --pages LIST      only these pages: 1, 1-3, 2,5-7, 3- (to the end); pages\n"
        "                        a document does not have are skipped\n"
        "  -r, --resolution DPI  pixels per inch of page, 48-600 (default: the window's, 96)\n"
        "      --size WxH        each page drawn to fit W x H pixels, its proportions kept\n"
        "      --width W         each page drawn W pixels wide (with --height: to fit both)\n"
        "      --height H        each page drawn H pixels high; --size, --width and\n"
        "                        --height exclude --resolution\n"
        "  -o, --output-dir DIR  write the images under DIR; documents found under a folder\n"
        "                        keep their path relative to it\n"
        "  -j, --jobs N          documents converted at once (default: the CPUs this run\n"
        "                        may use, as many as its memory takes)\n"
        "      --stop-on-error   stop at the first document that fails\n"
        "      --timeout SECONDS time each step of a document may take: opening it,\n"
        "                        counting its pages, drawing one page (default 120)\n"
        "      --json            one JSON object per document on standard output\n"
        "  -v, --verbose         say on standard error the CPUs and memory this run may\n"
        "                        use, and the jobs they make\n"
        "      --thumbnail SIZE INPUT OUTPUT\n"
        "                        for file managers: page 1 of INPUT as a PNG fitting\n"
        "                        SIZE x SIZE pixels, written to exactly OUTPUT, nothing\n"
        "                        written on failure; --timeout is the time the whole\n"
        "                        thumbnail may take (default 10 seconds)\n"
        "  -h, --help            this text\n"
        "      --version         the program's version, and the CPUs, memory and jobs\n"
        "                        a run would take\n"
        "\n"
        "Exit status: 0 every document converted, 1 some failed or were skipped or the\n"
        "report could not be written, 2 a usage error or an unusable --output-dir or list.\n");
}

ParsedArguments parseArguments(const QStringList &arguments, const SettingsStore &store)
{
    ParsedArguments parsed;
    ConvertOptions &o = parsed.options;
    o.quality = settings::readInt(store, settings::kQuality);
    o.dpi = settings::readInt(store, settings::kResolution);

    // Options that take a value, by every name they go by.
    using Taker = std::function<bool(const QString &)>;
    const Taker extension = [&](const QString &value) {
        for (const QString &part : value.split(u',', Qt::SkipEmptyParts)) {
            QString e = part.trimmed().toLower();
            if (e.startsWith(u'.'))
                e.remove(0, 1);
            if (e.isEmpty())
                return false;
            o.extensions << e;
        }
        return !value.trimmed().isEmpty();
    };
    const Taker quality = [&](const QString &v) { return toNumber(v, 1, 100, o.quality); };
    const Taker resolution = [&](const QString &v) { return toNumber(v, 48, 600, o.dpi); };
    const Taker output = [&](const QString &v) {
        o.outputFolder = v;
        return !v.isEmpty();
    };
    const Taker format = [&](const QString &v) {
        const std::optional<ImageFormat> named = imageFormatNamed(v);
        o.format = named.value_or(ImageFormat::Jpeg);
        return named.has_value();
    };
    const Taker pages = [&](const QString &v) {
        const std::optional<PageChoice> choice = PageChoice::parse(v.toStdString());
        o.pages = choice.value_or(PageChoice());
        return choice.has_value();
    };
    const Taker size = [&](const QString &v) {
        const QStringList sides = v.toLower().split(u'x');
        return sides.size() == 2 && toNumber(sides[0], 1, kMostPixels, o.boxWidth) &&
               toNumber(sides[1], 1, kMostPixels, o.boxHeight);
    };
    const Taker width = [&](const QString &v) { return toNumber(v, 1, kMostPixels, o.boxWidth); };
    const Taker height = [&](const QString &v) { return toNumber(v, 1, kMostPixels, o.boxHeight); };
    const Taker thumbnail = [&](const QString &v) {
        return toNumber(v, 1, kMostPixels, o.thumbnailSize);
    };
    const Taker jobs = [&](const QString &v) { return toNumber(v, 1, 1024, o.jobs); };
    const Taker timeout = [&](const QString &v) {
        return toNumber(v, 1, 7 * 86400, o.timeoutSeconds);
    };
    const Taker from = [&](const QString &v) {
        o.fromFiles << v;
        return !v.isEmpty();
    };
    // Each option that takes a value, by both its names ("" where it has no short one),
    // and what its value must be.
    struct Valued
    {
        const char *shortName;
        const char *longName;
        Taker take;
        const char *what;
    };
    const Valued valued[] = {
        {"-e", "--extension", extension, "an extension"},
        {"-q", "--quality", quality, "a quality from 1 to 100"},
        {"-r", "--resolution", resolution, "a resolution from 48 to 600"},
        {"-f", "--format", format, "jpeg, png or webp"},
        {"", "--pages", pages, "a list of pages such as 1-3,5,7-"},
        {"", "--size", size, "a box such as 256x256, each side up to 20000"},
        {"", "--width", width, "a width in pixels from 1 to 20000"},
        {"", "--height", height, "a height in pixels from 1 to 20000"},
        {"", "--thumbnail", thumbnail, "a size in pixels from 1 to 20000"},
        {"-o", "--output-dir", output, "a folder"},
        {"-j", "--jobs", jobs, "a number of jobs from 1 to 1024"},
        {"", "--timeout", timeout, "a number of seconds from 1 to 604800"},
        {"", "--from", from, "a file"},
    };
    const std::map<QString, bool *> flags = {
        {"-0", &o.nulSeparated}, {"--stop-on-error", &o.stopOnError},
        {"--json", &o.json},     {"-h", &o.help},
        {"--help", &o.help},     {"--version", &o.version},
        {"-v", &o.verbose},      {"--verbose", &o.verbose},
        {"--gray", &o.grey},
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
        if (const auto flag = flags.find(argument); flag != flags.end()) {
            *flag->second = true;
            continue;
        }
        // "--name=value", "-xVALUE", or the value in the next argument.
        QString name = argument;
        std::optional<QString> value;
        if (argument.startsWith(QLatin1String("--")) && argument.contains(u'=')) {
            name = argument.section(u'=', 0, 0);
            value = argument.section(u'=', 1);
        } else if (!argument.startsWith(QLatin1String("--")) && argument.size() > 2) {
            name = argument.left(2);
            value = argument.mid(2);
        }
        const auto option =
            std::find_if(std::begin(valued), std::end(valued), [&](const Valued &v) {
                return name == QLatin1String(v.shortName) || name == QLatin1String(v.longName);
            });
        if (option == std::end(valued)) {
            parsed.error = QStringLiteral("unknown option %1").arg(argument);
            return parsed;
        }
        const QString what = QLatin1String(option->what);
        if (!value) {
            if (i + 1 >= arguments.size()) {
                parsed.error = QStringLiteral("%1 needs %2").arg(name, what);
                return parsed;
            }
            value = arguments[++i];
        }
        if (!option->take(*value)) {
            parsed.error = QStringLiteral("%1 needs %2, not \"%3\"").arg(name, what, *value);
            return parsed;
        }
        given << QLatin1String(option->longName);
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
