#include "office.h"

#include "documentkinds.h"
#include "filekind.h"
#include "macrosniff.h"

#include <LibreOfficeKit/LibreOfficeKit.hxx>
#include <LibreOfficeKit/LibreOfficeKitEnums.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using engineprotocol::Refusal;

namespace {

// Language tags of the installed spelling and hyphenation dictionaries. The office's
// language support, and with it hyphenation, is off for every language not named.
std::string installedLanguages()
{
    static const std::regex tag("[a-z]{2,3}(_[A-Z]{2})?");
    std::set<std::string> tags{"en_US"};
    for (const char *folder : {"/usr/share/hyphen", "/usr/share/hunspell", "/usr/share/mythes"}) {
        std::error_code ec;
        for (const auto &entry : fs::directory_iterator(folder, ec)) {
            std::string name = entry.path().stem().string();
            for (const char *prefix : {"hyph_", "th_"}) {
                if (name.rfind(prefix, 0) == 0)
                    name.erase(0, std::strlen(prefix));
            }
            if (std::regex_match(name, tag))
                tags.insert(name);
        }
    }
    std::string list;
    for (const std::string &name : tags)
        list += (list.empty() ? "" : " ") + name;
    return list;
}

// "7.4" from the office's version information, {"ProductVersion": "7.4", ...}.
std::string productVersion(const std::string &info)
{
    static const std::regex field("\"ProductVersion\"\\s*:\\s*\"([0-9.]+)\"");
    std::smatch match;
    return std::regex_search(info, match, field) ? match[1].str() : std::string();
}

// Gives the office folders of its own in the profile. A certificate store: without one
// it looks for the store of the user's web browser or mail program, and opens that for
// writing. And a temporary folder: an office whose process is ended leaves its
// temporary files behind, so they are collected here, where the next user of this
// profile removes them.
void useOwnFolders(const ProfileSlot &profile)
{
    const fs::path store = profile.folder() / "certificates";
    std::error_code ec;
    fs::create_directories(store, ec);
    ::setenv("MOZILLA_CERTIFICATE_FOLDER", store.c_str(), 1);
    profile.clearTemporaryFolder();
    ::setenv("TMPDIR", profile.temporaryFolder().c_str(), 1);
}

// Files refused before the office sees them, and why; None for the ones it may open.
// Binary data of no kind known here goes to the office, whose type detection decides.
Refusal refusalBeforeLoading(FileKind kind)
{
    switch (kind) {
    case FileKind::Missing:
        return Refusal::FileNotFound;
    case FileKind::Folder:
        return Refusal::Folder;
    case FileKind::Special:
        return Refusal::SpecialFile;
    case FileKind::Unreadable:
        return Refusal::Unreadable;
    case FileKind::Empty:
    case FileKind::Database:
    case FileKind::Formula:
        return Refusal::NotADocument;
    case FileKind::BrokenZip:
        return Refusal::Corrupt;
    default:
        return Refusal::None;
    }
}

// The office's plain-text import filters ("Text", "Text (encoded)"), which it also
// takes for files it does not recognise.
bool isPlainTextFilter(const std::string &filter)
{
    return filter.rfind("Text", 0) == 0;
}

// A macro's arguments go through one round of URL decoding before the macro sees them,
// and are part of a URL that must parse: no spaces, and no quotes to end them early.
std::string macroArgument(const std::string &text)
{
    return "\"" +
           percentEncoded(text,
                          [](unsigned char c) {
                              return std::string_view("% ()\"").find(char(c)) ==
                                     std::string_view::npos;
                          }) +
           "\"";
}

} // namespace

EngineOffice::EngineOffice(std::unique_ptr<ProfileSlot> profile,
                           std::filesystem::path profileFolder, lok::Office *office)
    : m_profile(std::move(profile)), m_profileFolder(std::move(profileFolder)), m_office(office)
{
    m_office->setOptionalFeatures(LOK_FEATURE_DOCUMENT_PASSWORD |
                                  LOK_FEATURE_DOCUMENT_PASSWORD_TO_MODIFY |
                                  LOK_FEATURE_NO_TILED_ANNOTATIONS);
    m_office->registerCallback(&EngineOffice::onCallback, this);
    // Without it new documents take US Letter whatever the system says; should the
    // office run no macros, that is all that is lost.
    m_office->runMacro(kUseSystemLocaleMacro);
}

// The office is never shut down: the engine process ends with _exit, which is both
// faster and safer than the office's own teardown.
EngineOffice::~EngineOffice() = default;

void EngineOffice::configureEnvironment()
{
    if (!std::getenv("LOK_ALLOWLIST_LANGUAGES"))
        ::setenv("LOK_ALLOWLIST_LANGUAGES", installedLanguages().c_str(), 1);
    ::setenv("SAL_USE_VCLPLUGIN", "svp", 1);
}

std::unique_ptr<ProfileSlot> EngineOffice::readySlot(const std::string &installDir,
                                                     std::string &error)
{
    std::unique_ptr<ProfileSlot> profile = ProfileSlot::acquire(engineCacheRoot(), error);
    if (!profile)
        return nullptr;
    if (!profile->isReady(installDir)) {
        if (!profile->reset(error))
            return nullptr;
        useOwnFolders(*profile);
        // The first start runs in a child that ends the office properly, which saves
        // what the office learnt; this process has not loaded the office yet.
        const pid_t child = ::fork();
        if (child < 0) {
            error = "cannot start a process";
            return nullptr;
        }
        if (child == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::_exit(prepareProfile(installDir, profile->folder().string()));
        }
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            error = "the office could not make its profile in " + profile->folder().string();
            return nullptr;
        }
        profile->markReady(installDir);
    }
    useOwnFolders(*profile);
    return profile;
}

std::unique_ptr<EngineOffice> EngineOffice::start(const std::string &installDir, std::string &error)
{
    std::unique_ptr<ProfileSlot> profile = readySlot(installDir, error);
    return profile ? startIn(installDir, std::move(profile), error) : nullptr;
}

std::unique_ptr<EngineOffice> EngineOffice::startIn(const std::string &installDir,
                                                    std::unique_ptr<ProfileSlot> profile,
                                                    std::string &error)
{
    lok::Office *office = lok::lok_cpp_init(installDir.c_str(), profile->url().c_str());
    if (!office) {
        error = "the office in " + installDir + " could not be started";
        return nullptr;
    }
    const fs::path folder = profile->folder();
    return std::unique_ptr<EngineOffice>(new EngineOffice(std::move(profile), folder, office));
}

std::unique_ptr<EngineOffice> EngineOffice::startPreinitialised(const std::string &installDir,
                                                                const ProfileSlot &profile,
                                                                std::string &error)
{
    lok::Office *office = lok::lok_cpp_init(installDir.c_str(), profile.url().c_str());
    if (!office) {
        error = "the office in " + installDir + " could not be started";
        return nullptr;
    }
    return std::unique_ptr<EngineOffice>(new EngineOffice(nullptr, profile.folder(), office));
}

std::string EngineOffice::stateBroughtBy(const std::string &path, bool openInKit)
{
    std::error_code ec;
    const fs::path fonts = ProfileSlot::documentFontsFolder(m_profileFolder);
    if (m_profileFolder.empty() || (fs::exists(fonts, ec) && !fs::is_empty(fonts, ec)))
        return "embedded fonts";
    if (openInKit)
        return "a document open in LibreOfficeKit";
    if (mayCarryMacros(path))
        return "macros";
    return {};
}

void EngineOffice::onCallback(int type, const char * /*payload*/, void *data)
{
    auto *self = static_cast<EngineOffice *>(data);
    if (type == LOK_CALLBACK_DOCUMENT_PASSWORD ||
        type == LOK_CALLBACK_DOCUMENT_PASSWORD_TO_MODIFY) {
        // No password is ever asked for: answering none ends the load at once. The
        // answer goes to the URL the load was given; some filters name the file
        // differently in the callback's payload.
        self->m_passwordAsked = true;
        self->m_office->setDocumentPassword(self->m_loadingUrl.c_str(), nullptr);
    }
}

EngineOffice::Loaded EngineOffice::loadDocument(const std::string &path,
                                                const std::filesystem::path &folder,
                                                const std::filesystem::path &copy,
                                                const PageChoice &pages, const PdfReader &readPdf)
{
    Loaded result;
    // What the file holds is read from the copy; what the path names (a folder, a
    // missing file) from the path.
    const FileKind kind = sniffFile(copy.empty() ? path : copy.string());
    result.refusal = refusalBeforeLoading(kind);
    if (result.refusal == Refusal::SpecialFile)
        result.detail = specialFileKind(path);
    if (kind == FileKind::Database || kind == FileKind::Formula)
        result.detail = unprintableKind(kind == FileKind::Database ? "database" : "formula");
    if (result.refusal != Refusal::None)
        return result;
    if (kind == FileKind::Pdf)
        return openPdf(copy.empty() ? path : copy.string(), readPdf);
    result = printHidden(path, kind, folder, copy, pages, readPdf);
    if (result.printed || result.refusal != Refusal::None)
        return result;
    // LibreOfficeKit would ask for the import filter's options, whatever it is given,
    // and wait for an answer for ever.
    if (!importFilterFor(path).name.empty()) {
        result.refusal = Refusal::Corrupt;
        return result;
    }
    // Opened in LibreOfficeKit, the document is either refused in the words the office
    // gives (a password, damage) or loaded after all, and then drawn from there.
    return loadInKit(copy.empty() ? path : copy.string(), kind);
}

EngineOffice::Loaded EngineOffice::printHidden(const std::string &path, FileKind kind,
                                               const std::filesystem::path &folder,
                                               const std::filesystem::path &copy,
                                               const PageChoice &pages, const PdfReader &readPdf)
{
    Loaded result;
    const std::string stem = "pagelift-hidden-" + std::to_string(::getpid());
    const fs::path pdf = folder / (stem + ".pdf");
    const fs::path answer = folder / (stem + ".answer");
    std::error_code ec;
    fs::remove(pdf, ec);
    const ImportFilter importFilter = importFilterFor(path);
    const std::vector<std::string> lines =
        runMacroWithAnswer(kPrintHiddenMacro,
                           {fileUrl(path),
                            fileUrl(pdf),
                            {},
                            copy.empty() ? std::string() : fileUrl(copy),
                            pages.text(),
                            std::to_string(pages.nextFrom(1, INT_MAX)),
                            importFilter.name,
                            importFilter.options},
                           2, answer);
    const auto line = [&](size_t n) { return n < lines.size() ? lines[n] : std::string(); };
    const std::string outcome = line(0);
    const std::string filter = line(1);
    const std::string changes = line(2);
    const std::string officeKind = line(3);
    const std::optional<PageChoice> printed = PageChoice::parse(line(4));
    const int pageCount = std::atoi(line(5).c_str());
    for (size_t n = 6; n < lines.size(); ++n) {
        if (!lines[n].empty())
            result.links.push_back(lines[n]);
    }
    // A spreadsheet or the like is no document; nor is binary data that the office's
    // type detection does not recognise, which it loads as plain text: pages of
    // garbage. What it does recognise (WordPerfect 4.2, which has no signature, and
    // the like) is a document.
    if (outcome == "other" || (outcome == "printed" && kind == FileKind::Binary &&
                               (filter.empty() || isPlainTextFilter(filter)))) {
        result.refusal = Refusal::NotADocument;
        result.detail = unprintableKind(officeKind);
    } else if (outcome == "printed") {
        const std::optional<PrintedChoice> standsFor =
            printed ? std::optional<PrintedChoice>(PrintedChoice{pageCount, *printed})
                    : std::nullopt;
        const PdfRead read = readPdf(pdf, standsFor ? &*standsFor : nullptr);
        // Should the pages printed not be the pages chosen, the office counted pages
        // otherwise than it printed them: the whole document is printed instead.
        if (read == PdfRead::OtherPages) {
            fs::remove(pdf, ec);
            return printHidden(path, kind, folder, copy, {}, readPdf);
        }
        result.printed = read == PdfRead::Read;
    }
    // Its pages are read (poppler keeps the file open); an export that failed may have
    // left part of a file.
    fs::remove(pdf, ec);
    result.changesOrComments = changes == "changes";
    return result;
}

EngineOffice::Loaded EngineOffice::loadInKit(const std::string &path, FileKind kind)
{
    Loaded result;
    m_passwordAsked = false;
    m_loadingUrl = fileUrl(path);
    std::unique_ptr<lok::Document> loaded(m_office->documentLoad(m_loadingUrl.c_str()));
    if (!loaded) {
        // A file of no kind known here that the office cannot read either is no
        // document (IBM DisplayWrite, say), not a damaged one.
        result.refusal = m_passwordAsked            ? Refusal::Password
                         : kind == FileKind::Binary ? Refusal::NotADocument
                                                    : Refusal::Corrupt;
        // The office's words explain damage; what is no document needs none.
        if (char *message = m_office->getError()) {
            if (result.refusal != Refusal::NotADocument)
                result.detail = message;
            m_office->freeError(message);
        }
        return result;
    }
    bool document = loaded->getDocumentType() == LOK_DOCTYPE_TEXT;
    // As above: binary data loaded as plain text is no document; when the filter
    // cannot be told, binary data stays refused.
    if (document && kind == FileKind::Binary) {
        const std::string filter = importFilterOf(m_loadingUrl);
        document = !filter.empty() && !isPlainTextFilter(filter);
    }
    if (!document)
        result.refusal = Refusal::NotADocument;
    else
        result.document = std::make_unique<OpenDocument>(std::move(loaded));
    return result;
}

std::string EngineOffice::importFilterOf(const std::string &url)
{
    std::error_code ec;
    const fs::path answer = fs::temp_directory_path(ec) / "pagelift-import-filter";
    const std::vector<std::string> lines =
        runMacroWithAnswer(kWriteImportFilterMacro, {url, {}}, 1, answer);
    return lines.empty() ? std::string() : lines.front();
}

std::vector<std::string> EngineOffice::runMacroWithAnswer(const char *macro,
                                                          std::vector<std::string> arguments,
                                                          size_t answerArgument,
                                                          const fs::path &answer)
{
    std::error_code ec;
    fs::remove(answer, ec);
    arguments[answerArgument] = fileUrl(answer);
    std::string call = std::string(macro) + "(";
    for (size_t n = 0; n < arguments.size(); ++n)
        call += (n ? "," : "") + macroArgument(arguments[n]);
    call += ")";
    std::vector<std::string> lines;
    if (m_office->runMacro(call.c_str())) {
        std::ifstream in(answer, std::ios::binary);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
    }
    fs::remove(answer, ec);
    return lines;
}

std::unique_ptr<lok::Document> EngineOffice::loadAny(const std::string &path, std::string &error)
{
    std::unique_ptr<lok::Document> document(m_office->documentLoad(fileUrl(path).c_str()));
    if (!document) {
        char *message = m_office->getError();
        error = message ? message : "cannot open " + path;
        m_office->freeError(message);
    }
    return document;
}

bool EngineOffice::preinitialise(const std::string &installDir, const ProfileSlot &profile)
{
    return lok_preinit(installDir.c_str(), profile.url().c_str()) == 0;
}

std::string officeInstallDir()
{
    const char *dir = std::getenv("PAGELIFT_LOK_DIR");
    return dir && dir[0] ? dir : PAGELIFT_LOK_INSTALL_DIR;
}

int prepareProfile(const std::string &installDir, const std::string &profileFolder)
{
    lok::Office *office = lok::lok_cpp_init(installDir.c_str(), fileUrl(profileFolder).c_str());
    if (!office)
        return 1;
    char *info = office->getVersionInfo();
    const std::string version = productVersion(info ? info : "");
    std::free(info);
    // Ending the office writes its configuration, first-start results included.
    delete office;
    return ProfileSlot::recordOfficeVersion(profileFolder, version) &&
                   ProfileSlot::addMacros(profileFolder)
               ? 0
               : 1;
}
