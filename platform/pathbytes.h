#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// File names on this system are bytes, and need not be valid UTF-8. Paths travel
// through the program as QString; these two convert without loss: valid UTF-8 is
// decoded as usual, and every byte that is not part of valid UTF-8 becomes a lone
// surrogate U+DC80..U+DCFF, which encodePath turns back into that byte. A name the
// system gave stays the same bytes from the scan (or a drop, or the command line) to
// the engine and to the output names. Shown on screen, such a byte looks like an
// unknown character.
QString decodePath(QByteArrayView bytes);
QByteArray encodePath(const QString &path);
