#pragma once

#include "engineprotocol.h"
#include "profile.h"

#include <memory>
#include <string>

namespace lok {
class Office;
class Document;
} // namespace lok

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

    // Opens a word-processor document: refuses anything else, and documents that
    // need a password, without ever waiting for one.
    Loaded loadDocument(const std::string &path);
    // Opens any document the office reads, for format conversion.
    std::unique_ptr<lok::Document> loadAny(const std::string &path, std::string &error);

    lok::Office &office() { return *m_office; }

private:
    EngineOffice(std::unique_ptr<ProfileSlot> profile, lok::Office *office);
    static void onCallback(int type, const char *payload, void *data);

    std::unique_ptr<ProfileSlot> m_profile;
    lok::Office *m_office;
    bool m_passwordAsked = false;
    std::string m_loadingUrl;
};

// Runs one complete start and shutdown of the office in `profileFolder`, so that
// the office's first-start work is done and saved. Returns the process exit code.
int prepareProfile(const std::string &installDir, const std::string &profileFolder);
