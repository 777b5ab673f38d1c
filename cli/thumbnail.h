#pragma once

struct ConvertOptions;
class QString;

// pagelift-convert --thumbnail SIZE INPUT OUTPUT, as a file manager calls it: page 1
// of INPUT drawn to fit SIZE x SIZE pixels, written as a PNG to exactly OUTPUT, in one
// step, by a fresh engine from `engineFolder`. The whole of it may take
// `options.timeoutSeconds`: past that, the engine is killed and nothing is written.
// On any failure nothing is written at OUTPUT, the reason goes to standard error, and
// the exit status is 1.
int runThumbnail(int &argc, char **argv, const ConvertOptions &options,
                 const QString &engineFolder);
