#pragma once

#include <string>

// What a file looks like before the office reads it. The office takes any file it
// does not recognise for plain text, so binary data is marked here; the engine asks
// the office which filter read it, rather than render pages of garbage.
enum class FileKind
{
    Missing,     // no such file
    Folder,      // a folder
    Special,     // a named pipe, a device or a socket: never opened, since reading one
                 // may wait forever or change it
    Unreadable,  // exists but cannot be read
    Empty,       // zero bytes
    Zip,         // a complete zip container (OOXML, OpenDocument and the like)
    OtherOffice, // a spreadsheet, presentation or drawing
    Database,    // an OpenDocument database or formula: the office opens them, but
    Formula,     // they have no pages to print
    Pdf,         // drawn straight from the file, without the office
    BrokenZip,   // a zip container whose directory is missing: truncated or damaged
    Compound,    // an OLE compound file (.doc, .wps, encrypted OOXML, .xls...)
    Rtf,
    WordBinary, // other binary word-processor formats the office reads
    Text,       // plain text, HTML, flat XML
    Binary,     // anything else: pictures, executables, random bytes, and formats only
                // the office's own type detection knows
};

FileKind sniffFile(const std::string &path);

// Whether the regular file open as `descriptor` is a PDF, as sniffFile tells one, read
// with pread so that the descriptor's offset stays where it was.
bool isPdfFile(int descriptor);

// What a special file is, in the user's words ("named pipe"); empty for other files.
std::string specialFileKind(const std::string &path);
