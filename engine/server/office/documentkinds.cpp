#include "office/documentkinds.h"

#include "office/office.h"
#include "pages/printedpages.h"

using engineprotocol::Refusal;

bool kindLeavesState(const std::string &officeKind)
{
    return officeKind == "presentation" || officeKind == "spreadsheet" || officeKind == "drawing";
}

std::string unprintableKind(const std::string &officeKind)
{
    if (officeKind == "database")
        return "it is a database, which has no pages to print";
    if (officeKind == "formula")
        return "it is a formula, which has no pages of its own to print";
    return {};
}

EngineOffice::Loaded EngineOffice::openPdf(const std::string &path)
{
    // A PDF is its own print: its pages are drawn as they are, the office never sees
    // it.
    Loaded result;
    bool locked = false;
    result.printed = PrintedPages::read(path, locked);
    if (!result.printed)
        result.refusal = locked ? Refusal::Password : Refusal::Corrupt;
    return result;
}
