#pragma once

#include <QString>

// Opens an address in the user's web browser (xdg-open), without waiting for it.
// False when the opener cannot be started.
bool openInBrowser(const QString &address);
