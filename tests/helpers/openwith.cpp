// The real program's start with documents on its command line, as a file manager's
// "Open with" starts it: prints the rows of the list once the window is shown, each
// as the bytes of its path, and ends.
#include "filelistview.h"
#include "mainwindow.h"
#include "pathbytes.h"
#include "startup.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    return runPagelift(argc, argv, [](MainWindow &window) {
        for (int row = 1; row <= window.fileList->rowCount(); ++row)
            std::printf("%s\n", encodePath(window.fileList->rowText(row)).constData());
        std::fflush(stdout);
        std::_Exit(0);
    });
}
