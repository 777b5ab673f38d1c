#pragma once

#include <QByteArray>
#include <QString>

// `text` (a message, or a path) as bytes that are safe to show on a terminal: control
// characters (newlines, escapes, C1 controls, and such bytes of names that are not
// UTF-8) are written as \n, \r, \t or \xHH, so that no name can move the cursor, clear
// the screen or break a line of the report in two. Everything else keeps its bytes.
QByteArray printable(const QString &text);

// A message of one or more lines as one line for the terminal, its line breaks become
// spaces, then printable.
QByteArray printableLine(const QString &message);
