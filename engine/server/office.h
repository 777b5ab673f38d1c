#pragma once

#include "profile.h"
#include "wireformat.h"

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
    // `profileUrl`; the launcher holds that profile's slot.
    static std::unique_ptr<EngineOffice> startPreinitialised(const std::string &installDir,
                                                             const std::string &profileUrl,
                                                             std::string &error);

    // Loads `path` and draws a little of it, then forgets it: the office's one-time
    // set-up for a first document is then done before a real document comes.
    void warmUp(const std::string &path);

    // Opens a word-processor document: refuses anything else, and documents that
    // need a password, without ever waiting for one.
    Loaded loadDocument(const std::string &path);
    // Opens any document the office reads, for format conversion.
    std::unique_ptr<lok::Document> loadAny(const std::string &path, std::string &error);

    lok::Office &office() { return *m_office; }

private:
    EngineOffice(std::unique_ptr<ProfileSlot> profile, lok::Office *office);
    static void onCallback(int type, const char *payload, void *data);
    // The import filter the office chose for the open document at `url`; empty when
    // it cannot be told.
    std::string importFilterOf(const std::string &url);

    std::unique_ptr<ProfileSlot> m_profile;
    lok::Office *m_office;
    bool m_passwordAsked = false;
    std::string m_loadingUrl;
};

// Runs one complete start and shutdown of the office in `profileFolder`, so that
// the office's first-start work is done and saved. Returns the process exit code.
int prepareProfile(const std::string &installDir, const std::string &profileFolder);
