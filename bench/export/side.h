#pragma once

// What pagelift-bench's sides have in common: what a side did with a case's documents,
// how a side is made, and how the images it wrote are counted and kept.

#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <utility>

// The JPEG quality of every side.
constexpr int kQuality = 75;

// Where the benchmark's fellow programs are (pagelift-convert, the engine...).
QString binFolder();

// What one side did with one case's documents.
struct Outcome
{
    double seconds = 0;         // wall time
    double cpuSeconds = 0;      // user + system of every process at work, during the run
    double aheadCpuSeconds = 0; // spent before the run on its behalf (engines made ready)
    double ownCpuSeconds = -1;  // of which in this process (the window), where that counts
    int pages = 0;              // images written
    qint64 bytes = 0;           // their size
    QString error;

    double allCpuSeconds() const { return cpuSeconds + aheadCpuSeconds; }
};

// One way of converting documents. A side converts a case's documents in one go and
// tells what that took; further sides (another Pagelift program, another reference)
// are one more entry in the lists main() builds.
struct Side
{
    QString name;
    std::function<Outcome(const QStringList &documents)> run;
    const void *runner = nullptr; // the same for a side that serves several cases
};

// A side run by a `Runner` made of `arguments`, which keeps its state (a pool, a
// listener) from case to case.
template <typename Runner, typename... Arguments>
Side side(const QString &name, Arguments &&...arguments)
{
    auto runner = std::make_shared<Runner>(std::forward<Arguments>(arguments)...);
    return {name, [runner](const QStringList &documents) { return (*runner)(documents); },
            runner.get()};
}

// Where --keep-images copies Pagelift's images, or empty.
QString &keptImagesFolder();

// Copies the documents' images to --keep-images' folder, so that two runs (another
// build, other settings) can be compared byte for byte.
void keepImages(const QStringList &documents);

// Adds the images in `folder` whose names match `pattern` to the outcome.
void addImages(Outcome &outcome, const QString &folder, const QString &pattern);

// Adds the JPEGs written beside the documents to the outcome.
void addImagesBeside(Outcome &outcome, const QStringList &documents);

// Processes that belong to a reference and live through several cases (the warm
// listeners): everything else this benchmark starts and keeps is Pagelift's.
QSet<qint64> &referenceProcesses();
