#pragma once

#include <QString>

// Where the program's own files are. Each is looked for beside the program first (the
// build folder, and a program folder set up by hand, as the optional files always
// were), then where an installation puts it relative to the program: the engine in
// ../libexec/pagelift and the data in ../share/pagelift for the usual layout. Only
// relative paths are used, so an installation moved elsewhere as a whole still finds
// its files.
namespace programfiles {

// The folder that holds pagelift-engine: beside the program, else the installed
// helper folder if the engine is there, else beside the program (where a missing
// engine is then reported).
QString engineFolder(const QString &programFolder);

// The path of the data file or folder `name` (HAND-M.CUR, Splash, x/o.cjs): beside
// the program when anything of that name is there, else the installed one when it
// exists, else the path beside the program.
QString dataPath(const QString &programFolder, const QString &name);

} // namespace programfiles
