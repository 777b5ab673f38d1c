#pragma once

#include <string>

// The kinds of document the office prints besides word-processor documents, as the
// engine's PrintHidden macro names them ("presentation", "spreadsheet", "drawing"),
// and the kinds it opens but cannot print ("database", "formula").

// Why a document of `officeKind` has no pages, in words that follow "is not a
// document that Pagelift can open: "; empty for any other kind.
std::string unprintableKind(const std::string &officeKind);

// The import filter, and its options, that read the document at `path` without the
// office asking anything: comma-separated values (.csv), whose import would wait on
// its options dialog, are read as UTF-8, commas between fields, double quotes around
// text. None for every other document, whose filter the office's type detection
// chooses (a .txt stays plain text whatever it holds).
struct ImportFilter
{
    std::string name;
    std::string options;
};
ImportFilter importFilterFor(const std::string &path);
