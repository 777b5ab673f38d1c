#pragma once

#include "imagewriter.h"
#include "pagechoice.h"

#include <QString>
#include <QStringList>

class SettingsStore;

// What a pagelift-convert command line asks for.
struct ConvertOptions
{
    QStringList paths;      // documents and folders, as given
    QStringList extensions; // taken from folders, lower case; "*" takes every file
    QStringList fromFiles;  // lists of paths to read too ("-" is standard input)
    bool nulSeparated = false;
    int quality = 75;
    int dpi = 96;
    ImageFormat format = ImageFormat::Jpeg;
    bool grey = false;
    PageChoice pages{};
    // Each page drawn to fit this box in pixels instead of at `dpi` (0: no bound that
    // way; both 0: no box).
    int boxWidth = 0;
    int boxHeight = 0;
    // The file manager's mode: page 1 of the one document in `paths` as a PNG fitting
    // a square of this many pixels, written to exactly `thumbnailFile`; 0 otherwise.
    int thumbnailSize = 0;
    QString thumbnailFile;
    QString outputFolder; // empty: images go beside each document
    int jobs = 0;         // 0: as many as the machine takes
    bool stopOnError = false;
    int timeoutSeconds = 120;
    bool json = false;
    bool verbose = false;        // say on standard error what the jobs rest on
    bool linkedBeside = false;   // --linked-files beside (default: the window's LinkedFiles)
    bool requireSandbox = false; // --require-sandbox
    bool help = false;
    bool version = false;
};

struct ParsedArguments
{
    ConvertOptions options;
    QString error; // a one-line usage error, or empty
};

// Reads the arguments (without the program's name). Quality and resolution default to
// what the window would use, from `store`.
ParsedArguments parseArguments(const QStringList &arguments, const SettingsStore &store);

// The --help text. The manual page and the shell completion are made from it at build
// time (resources/manuals/from-help.py), so an option is written here once: a row
// "  -x, --name VALUE  what it does", continued on lines indented to the same column.
// A value named FILE or DIR completes to files or folders; a value written a|b|c
// lists its fixed choices.
QString usageText();
