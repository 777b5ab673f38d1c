#pragma once

#include "filekind.h"
#include "fileurl.h"
#include "opendocument.h"
#include "pagechoice.h"
#include "profile.h"
#include "wireformat.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lok {
class Office;
class Document;
} // namespace lok

// How documents are drawn: as they print, without spelling marks or shadows around the
// pages.
inline constexpr const char *kRenderingOptions =
    R"({".uno:SpellOnline":{"type":"boolean","value":"false"},)"
    R"(".uno:ShowBorderShadow":{"type":"boolean","value":"false"},)"
    R"(".uno:HideWhitespace":{"type":"boolean","value":"false"}})";

// The office prints documents into PDF files, and takes a PDF document as its own
// print; the pages room reads them (pages/printedpages.h), through a PdfReader given to
// loadDocument, which says whether the file could be read as pages.
enum class PdfRead
{
    Read,
    Locked,
    Unreadable,
    OtherPages // not the pages it was to stand for
};
// A PDF of the chosen pages alone stands for a document of `pageCount` pages, of which
// it holds `printed`.
struct PrintedChoice
{
    int pageCount = 0;
    PageChoice printed;
};
// Reads `pdf`; `standsFor` says what it stands for when it is not the whole document.
using PdfReader =
    std::function<PdfRead(const std::filesystem::path &pdf, const PrintedChoice *standsFor)>;

// The embedded office of one engine process. Starting it is split in steps so that
// a launcher can do the shared part once and start engines from it: the environment,
// the profile, then the office itself.
class EngineOffice
{
public:
    // An open document: its pages as LibreOffice prints them, read by the PdfReader
    // given (`printed`), or, should printing it as LibreOffice's converter does fail,
    // the document open in LibreOfficeKit (whose pages may then still be printed from
    // it). Neither when it was refused.
    struct Loaded
    {
        engineprotocol::Refusal refusal = engineprotocol::Refusal::None;
        std::string detail;
        bool printed = false;
        std::unique_ptr<OpenDocument> document;
        // Known for printed ones.
        bool changesOrComments = false;
        // The pictures it links to (known for printed ones), as the office resolved
        // their links.
        std::vector<std::string> links;
    };

    ~EngineOffice();
    EngineOffice(const EngineOffice &) = delete;
    EngineOffice &operator=(const EngineOffice &) = delete;

    // Sets the variables the office reads at start-up. Call before anything else.
    static void configureEnvironment();
    // Takes a profile slot, makes the profile on first use, and starts the office in
    // it. Returns null with `error` set when the office cannot be started.
    static std::unique_ptr<EngineOffice> start(const std::string &installDir, std::string &error);
    // The same in a slot readySlot() gave.
    static std::unique_ptr<EngineOffice> startIn(const std::string &installDir,
                                                 std::unique_ptr<ProfileSlot> profile,
                                                 std::string &error);
    // Takes a profile slot and makes its profile if it has never been through a
    // complete start. Null with `error` set when there is none to be had.
    static std::unique_ptr<ProfileSlot> readySlot(const std::string &installDir,
                                                  std::string &error);
    // Loads the office's libraries and reads the profile `profile` once, in a launcher,
    // before it forks engines; false when that failed.
    static bool preinitialise(const std::string &installDir, const ProfileSlot &profile);
    // Finishes the start of an office that a launcher pre-initialised in the profile
    // `profile`; the launcher holds that profile's slot.
    static std::unique_ptr<EngineOffice> startPreinitialised(const std::string &installDir,
                                                             const ProfileSlot &profile,
                                                             std::string &error);

    // What the document at `path`, open in LibreOfficeKit or printed hidden, brought
    // into this process that could change how a later document looks, in a few words;
    // empty when nothing known to. Embedded fonts stay installed in the process. Macros
    // leave their libraries behind. A document open in LibreOfficeKit is not looked into
    // and counts as bringing state. (Tracked changes and comments go to an office that
    // printed nothing, which serves no other: EngineSession::open.) Meaningful once the
    // office warmed up (EngineSession::warmUp), with the fonts documents brought cleared
    // before the office started.
    std::string stateBroughtBy(const std::string &path, bool openInKit);

    // Opens a document the office prints (text, presentation, spreadsheet, drawing)
    // or a PDF: refuses anything else, and documents that need a password, without
    // ever waiting for one. Its pages are printed as LibreOffice's converter prints
    // them, into a PDF in `folder` that `readPdf` reads before it is removed: those of
    // `pages` alone where the office can tell them apart, the others counted. A PDF
    // document is read as it is. With a `copy` of the document (pages/handover.h), the
    // copy is read as the document at `path`.
    Loaded loadDocument(const std::string &path, const std::filesystem::path &folder,
                        const std::filesystem::path &copy, const PageChoice &pages,
                        const PdfReader &readPdf);
    // Opens a PDF document as loadDocument does, where there is no office: a file that
    // is not a PDF (any longer) is refused.
    static Loaded loadPdf(const std::string &path, const std::filesystem::path &copy,
                          const PdfReader &readPdf);
    // Opens any document the office reads, for format conversion.
    std::unique_ptr<lok::Document> loadAny(const std::string &path, std::string &error);

    lok::Office &office() { return *m_office; }
    const std::filesystem::path &profileFolder() const { return m_profileFolder; }

private:
    EngineOffice(std::unique_ptr<ProfileSlot> profile, std::filesystem::path profileFolder,
                 lok::Office *office);
    static void onCallback(int type, const char *payload, void *data);
    // The import filter the office chose for the open document at `url`; empty when
    // it cannot be told.
    std::string importFilterOf(const std::string &url);
    // Opens the document at `path` hidden and prints it into a PDF in `folder`, which
    // `readPdf` reads: printed, or not when that failed and the document is to be
    // opened in LibreOfficeKit instead; or a refusal.
    Loaded printHidden(const std::string &path, FileKind kind, const std::filesystem::path &folder,
                       const std::filesystem::path &copy, const PageChoice &pages,
                       const PdfReader &readPdf);
    // Runs Basic macro `macro` with `arguments`, argument `answerArgument` being the URL
    // of `answer`, a file the macro writes its answer into: the answer's lines, none
    // when the macro could not run. The file is gone afterwards.
    std::vector<std::string> runMacroWithAnswer(const char *macro,
                                                std::vector<std::string> arguments,
                                                size_t answerArgument,
                                                const std::filesystem::path &answer);
    // Opens the document at `path` in LibreOfficeKit.
    Loaded loadInKit(const std::string &path, FileKind kind);
    // Has the PDF document at `path` read as its pages, the office not involved
    // (documentkinds.cpp).
    static Loaded openPdf(const std::string &path, const PdfReader &readPdf);

    std::unique_ptr<ProfileSlot> m_profile;
    std::filesystem::path m_profileFolder;
    lok::Office *m_office;
    bool m_passwordAsked = false;
    std::string m_loadingUrl;
};

// The LibreOffice program folder: $PAGELIFT_LOK_DIR, else the one Pagelift was built for.
std::string officeInstallDir();
// Runs one complete start and shutdown of the office in `profileFolder`, so that
// the office's first-start work is done and saved. Returns the process exit code.
int prepareProfile(const std::string &installDir, const std::string &profileFolder);
