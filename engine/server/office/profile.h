#pragma once

#include <filesystem>
#include <memory>
#include <string>

// The office profile an engine runs with. Profiles live in the user's cache folder
// (pagelift/engine-profile-N), never in the user's own office profile. A profile is
// used by one engine at a time: each slot has a lock file, held for the engine's
// whole life and released by the kernel however the engine ends.
class ProfileSlot
{
public:
    ~ProfileSlot();
    ProfileSlot(const ProfileSlot &) = delete;
    ProfileSlot &operator=(const ProfileSlot &) = delete;

    // Takes the first slot under `root` that no running engine holds.
    static std::unique_ptr<ProfileSlot> acquire(const std::filesystem::path &root,
                                                std::string &error);

    const std::filesystem::path &folder() const { return m_folder; }
    // The profile as the office wants it named.
    std::string url() const;
    // Where the office running in this profile keeps its temporary files: in memory
    // (see memoryFolder()) when the system offers a place there, else in the profile.
    // The office makes several for every document it opens, which on a disk costs it
    // more than the rest of a small document's work. It never removes its own when
    // its process is ended, so the folder is emptied whenever no engine uses it.
    std::filesystem::path temporaryFolder() const { return m_temporaryFolder; }
    // A folder of this user's alone in memory (a tmpfs) with room to spare:
    // $XDG_RUNTIME_DIR/pagelift, else /dev/shm/pagelift-UID; empty when there is none.
    static std::filesystem::path memoryFolder();
    // Empties the temporary folder, and the fonts that documents brought, which the
    // office keeps in the profile (see documentFontsFolder()).
    void clearTemporaryFolder() const;
    // Where the office puts the fonts embedded in the documents it opens, of the
    // profile in `folder`; the fonts stay installed in its process.
    static std::filesystem::path documentFontsFolder(const std::filesystem::path &folder);
    // The temporary folder of the office's pre-initialisation, which makes a
    // throw-away profile there (see the launcher); emptied by each launcher that
    // pre-initialises in this profile.
    std::filesystem::path preinitialisationFolder() const;
    void clearPreinitialisationFolder() const;

    // True once the profile has been through one complete start with this office
    // installation and these settings; until then every start repeats the office's
    // slow first-start work.
    bool isReady(const std::string &installDir) const;
    // Empties the profile and writes the settings the engine needs.
    bool reset(std::string &error);
    void markReady(const std::string &installDir);
    // Records that the office of `version` ("7.4") has started in this profile. The
    // office notes this itself only some time after start-up; without it every start
    // repeats the checks of a first start after an upgrade, which take most of a second.
    static bool recordOfficeVersion(const std::filesystem::path &folder,
                                    const std::string &version);

    // Adds the engine's macros (see kUseSystemLocaleMacro) to a profile that has been
    // through its first start.
    static bool addMacros(const std::filesystem::path &folder);

private:
    ProfileSlot(int lockFd, std::filesystem::path folder);

    int m_lockFd;
    std::filesystem::path m_folder;
    std::filesystem::path m_temporaryFolder;
};

// The macros in every engine profile (see profile.cpp). One gives the office back the
// system's locale and paper, which LibreOfficeKit replaces with en-US at start-up; the
// second, called with the URL of an open document and the URL of a file, writes the
// name of the import filter that loaded the document into that file; the third,
// called with the URLs of a document, a PDF and a file, prints the document to the PDF
// as LibreOffice's converter does and writes how that went into the file.
inline constexpr const char *kUseSystemLocaleMacro = "macro:///Pagelift.Engine.UseSystemLocale";
inline constexpr const char *kWriteImportFilterMacro = "macro:///Pagelift.Engine.WriteImportFilter";
inline constexpr const char *kPrintHiddenMacro = "macro:///Pagelift.Engine.PrintHidden";

// $XDG_CACHE_HOME/pagelift, or ~/.cache/pagelift.
std::filesystem::path engineCacheRoot();
