#pragma once

#include "profile.h"
#include "wireformat.h"

#include <filesystem>
#include <memory>
#include <string>

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

// The embedded office of one engine process. Starting it is split in steps so that
// a launcher can do the shared part once and start engines from it: the environment,
// the profile, then the office itself.
class EngineOffice
{
public:
    struct Loaded
    {
        engineprotocol::Refusal refusal = engineprotocol::Refusal::None;
        std::string detail;
        std::unique_ptr<lok::Document> document;
    };

    ~EngineOffice();
    EngineOffice(const EngineOffice &) = delete;
    EngineOffice &operator=(const EngineOffice &) = delete;

    // Sets the variables the office reads at start-up. Call before anything else.
    static void configureEnvironment();
    // Takes a profile slot, makes the profile on first use, and starts the office in
    // it. Returns null with `error` set when the office cannot be started.
    static std::unique_ptr<EngineOffice> start(const std::string &installDir, std::string &error);
    // Takes a profile slot and makes its profile if it has never been through a
    // complete start. Null with `error` set when there is none to be had.
    static std::unique_ptr<ProfileSlot> readySlot(const std::string &installDir,
                                                  std::string &error);
    // Finishes the start of an office that a launcher pre-initialised in the profile
    // `profile`; the launcher holds that profile's slot.
    static std::unique_ptr<EngineOffice> startPreinitialised(const std::string &installDir,
                                                             const ProfileSlot &profile,
                                                             std::string &error);

    // Loads `path` and draws a little of it, then forgets it: the office's one-time
    // set-up for a first document is then done before a real document comes. Every
    // engine that may serve several documents warms up on the same document, so that
    // the first document of each finds the office in the same state. False when the
    // document could not be loaded.
    bool warmUp(const std::string &path);
    bool warmedUp() const { return m_authorsAfterWarmUp >= 0; }

    // What `document`, opened from `path`, brought into this process that could
    // change how a later document looks, in a few words; empty when nothing known to.
    // Embedded fonts stay installed in the process. Tracked-change authors stay in its
    // table, and a later document's changes take their colours by their place in it.
    // Macros leave their libraries behind. Meaningful once warmed up, with the fonts
    // documents brought cleared before the office started.
    std::string stateBroughtBy(lok::Document &document, const std::string &path);

    // Opens a word-processor document: refuses anything else, and documents that
    // need a password, without ever waiting for one.
    Loaded loadDocument(const std::string &path);
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

    std::unique_ptr<ProfileSlot> m_profile;
    std::filesystem::path m_profileFolder;
    lok::Office *m_office;
    int m_authorsAfterWarmUp = -1; // the tracked-change authors known then, or -1
    bool m_passwordAsked = false;
    std::string m_loadingUrl;
};

// Runs one complete start and shutdown of the office in `profileFolder`, so that
// the office's first-start work is done and saved. Returns the process exit code.
int prepareProfile(const std::string &installDir, const std::string &profileFolder);
