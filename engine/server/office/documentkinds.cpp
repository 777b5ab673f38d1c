#include "documentkinds.h"

#include "office.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

using engineprotocol::Refusal;

std::string unprintableKind(const std::string &officeKind)
{
    if (officeKind == "database")
        return "it is a database, which has no pages to print";
    if (officeKind == "formula")
        return "it is a formula, which has no pages of its own to print";
    return {};
}

ImportFilter importFilterFor(const std::string &path)
{
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    // Separator 44 (a comma), text in 34 (double quotes), UTF-8 (76), from line 1;
    // quoted fields as text, numbers such as dates recognised.
    if (extension == ".csv")
        return {"Text - txt - csv (StarCalc)", "44,34,76,1,,0,false,true"};
    return {};
}

EngineOffice::Loaded EngineOffice::openPdf(const std::string &path, const PdfReader &readPdf)
{
    // A PDF is its own print: its pages are drawn as they are, the office never sees
    // it.
    Loaded result;
    const PdfRead read = readPdf(path, nullptr);
    result.printed = read == PdfRead::Read;
    if (!result.printed)
        result.refusal = read == PdfRead::Locked ? Refusal::Password : Refusal::Corrupt;
    return result;
}

EngineOffice::Loaded EngineOffice::loadPdf(const std::string &path,
                                           const std::filesystem::path &copy,
                                           const PdfReader &readPdf)
{
    const std::string file = copy.empty() ? path : copy.string();
    if (sniffFile(file) == FileKind::Pdf)
        return openPdf(file, readPdf);
    Loaded result;
    result.refusal = Refusal::EngineFailure;
    result.detail = "the document is not a PDF document any more";
    return result;
}
