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
        "      --from FILE       also read paths from FILE, one per line (- for standard\n"
        "                        input)\n"
        "  -0                    the --from lists are separated by NUL characters\n"
        "  -q, --quality N       JPEG quality 1-100 (default: the window's)\n"
        "  -r, --resolution DPI  pixels per inch of page, 48-600 (default: the window's, 96)\n"
        "  -o, --output-dir DIR  write the images under DIR; documents found under a folder\n"
        "                        keep their path relative to it\n"
        "  -j, --jobs N          documents converted at once (default: the cores, as many\n"
        "                        as the memory takes)\n"
        "      --stop-on-error   stop at the first document that fails\n"
        "      --timeout SECONDS time a document may take (default 120)\n"
        "      --json            one JSON object per document on standard output\n"
        "      --linked-files none|beside\n"
        "                        what a document's linked pictures may come from besides\n"
        "                        the document: nothing, or files under its own folder\n"
        "                        (default: the window's LinkedFiles, none)\n"
        "      --require-sandbox convert nothing unless the engines' sandbox is wholly\n"
        "                        in force (exit status 2 otherwise)\n"
        "  -h, --help            this text\n"
        "      --version         the program's version, and what its sandbox enforces\n"
        "\n"
        "Exit status: 0 every document converted, 1 some failed, 2 a usage error.\n");
}

ParsedArguments parseArguments(const QStringList &arguments, const SettingsStore &store)
{
    ParsedArguments parsed;
    ConvertOptions &o = parsed.options;
    o.quality = settings::readInt(store, settings::kQuality);
    o.dpi = settings::readInt(store, settings::kResolution);
    o.linkedBeside = settings::readChoice(store, settings::kLinkedFiles) == 1;

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
    const Taker jobs = [&](const QString &v) { return toNumber(v, 1, 1024, o.jobs); };
    const Taker timeout = [&](const QString &v) {
        return toNumber(v, 1, 7 * 86400, o.timeoutSeconds);
    };
    const Taker linked = [&](const QString &v) {
        const bool known = v == QLatin1String("none") || v == QLatin1String("beside");
        o.linkedBeside = v == QLatin1String("beside");
        return known;
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
        {"-o", "--output-dir", output, "a folder"},
        {"-j", "--jobs", jobs, "a number of jobs from 1 to 1024"},
        {"", "--timeout", timeout, "a number of seconds from 1 to 604800"},
        {"", "--from", from, "a file"},
        {"", "--linked-files", linked, "none or beside"},
    };
    const std::map<QString, bool *> flags = {
        {"-0", &o.nulSeparated},
        {"--stop-on-error", &o.stopOnError},
        {"--json", &o.json},
        {"-h", &o.help},
        {"--help", &o.help},
        {"--version", &o.version},
        {"--require-sandbox", &o.requireSandbox},
    };

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
    }
    if (o.extensions.isEmpty())
        o.extensions = kDefaultExtensions;
    if (!o.help && !o.version && o.paths.isEmpty() && o.fromFiles.isEmpty())
        parsed.error = QStringLiteral("nothing to convert: give documents or folders");
    return parsed;
}
