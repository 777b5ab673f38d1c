// pagelift-documentmaker: saves each IN in the format its OUT's extension names, all in
// one office (its start costs more than saving a small document).
//
//   pagelift-documentmaker IN OUT [--password SECRET]
//   pagelift-documentmaker IN OUT IN OUT...

#include "messages.h"
#include "office.h"

#include <LibreOfficeKit/LibreOfficeKit.hxx>
#include <LibreOfficeKit/LibreOfficeKitEnums.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

QJsonObject stringArgument(const std::string &value)
{
    return {{"type", "string"}, {"value", QString::fromStdString(value)}};
}

// Saving with a password goes through the office's own Save As command, the only
// way to pass one; the command runs on the office's thread and reports when done.
bool saveWithPassword(lok::Document &document, const std::string &url, const std::string &format,
                      const std::string &password)
{
    // The Word filters of this office save without encrypting; only OpenDocument
    // text and presentations are offered.
    const char *filter = format == "odt" ? "writer8" : format == "odp" ? "impress8" : nullptr;
    if (!filter)
        return false;

    struct Result
    {
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;
        bool success = false;
    } result;
    document.registerCallback(
        [](int type, const char *payload, void *data) {
            if (type != LOK_CALLBACK_UNO_COMMAND_RESULT)
                return;
            auto *r = static_cast<Result *>(data);
            std::lock_guard lock(r->mutex);
            r->done = true;
            r->success = std::strstr(payload, "\"success\": true") != nullptr;
            r->changed.notify_all();
        },
        &result);
    const QJsonObject arguments{{"URL", stringArgument(url)},
                                {"FilterName", stringArgument(filter)},
                                {"Password", stringArgument(password)}};
    document.postUnoCommand(
        ".uno:SaveAs", QJsonDocument(arguments).toJson(QJsonDocument::Compact).constData(), true);
    std::unique_lock lock(result.mutex);
    result.changed.wait_for(lock, std::chrono::seconds(60), [&] { return result.done; });
    return result.success;
}

int convert(const std::vector<std::pair<std::string, std::string>> &pairs,
            const std::string &password)
{
    std::string error;
    EngineOffice::configureEnvironment();
    std::unique_ptr<EngineOffice> office = EngineOffice::start(officeInstallDir(), error);
    if (!office) {
        std::fprintf(messageStream(), "pagelift-documentmaker: %s\n", error.c_str());
        return 1;
    }
    for (const auto &[in, out] : pairs) {
        std::unique_ptr<lok::Document> document = office->loadAny(in, error);
        if (!document) {
            std::fprintf(messageStream(), "pagelift-documentmaker: %s: %s\n", in.c_str(),
                         error.c_str());
            return 1;
        }
        const std::string format = std::filesystem::path(out).extension().string().substr(1);
        const std::string url = fileUrl(std::filesystem::absolute(out));
        const bool saved = password.empty() ? document->saveAs(url.c_str(), format.c_str())
                                            : saveWithPassword(*document, url, format, password);
        if (!saved) {
            std::fprintf(messageStream(), "pagelift-documentmaker: cannot save %s as %s\n",
                         out.c_str(), format.c_str());
            return 1;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    int code = 0;
    if (arguments.size() == 4 && arguments[2] == "--password") {
        code = convert({{arguments[0], arguments[1]}}, arguments[3]);
    } else if (!arguments.empty() && arguments.size() % 2 == 0) {
        std::vector<std::pair<std::string, std::string>> pairs;
        for (size_t i = 0; i + 1 < arguments.size(); i += 2)
            pairs.emplace_back(arguments[i], arguments[i + 1]);
        code = convert(pairs, {});
    } else {
        std::fprintf(stderr, "usage: pagelift-documentmaker IN OUT [--password SECRET] | "
                             "pagelift-documentmaker IN OUT IN OUT...\n");
        code = 2;
    }
    // The office's own teardown is slow and fragile; nothing is left to save.
    std::fflush(messageStream());
    ::_exit(code);
}
