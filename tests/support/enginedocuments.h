#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Documents the engine tests make by hand, for what the office itself cannot save
// here or what only a made document shows.

// Pages that print the same or blank but carry what editing views mark or shade:
// hidden text, an empty table without borders, an empty section, a comment, spaces,
// tabs and breaks. screenOnlyMarksAreNotDrawn_data() names the pages.
extern const QByteArray kEditingAids;

// Small justified text, pages of it, then a long table ruled with thin lines: the kind
// of page where drawing for the screen and drawing for print differ most.
QByteArray denseDocument();

// A WordPerfect 4.2 document: text with one-byte codes and control bytes, a NUL among
// them, and no signature; the office's type detection recognises it by its content.
extern const QByteArray kWordPerfect42;

// A web page: on a screen one long page as wide as the window; printed, as the office
// prints it, pages of the default paper.
QByteArray webPage();

// Text with tracked changes, each insertion by one of `authors`: the office colours
// the changes of each author by the author's place in its table of authors, a table
// every document opened in the process adds to.
QByteArray trackedChanges(const QStringList &authors);

// An OpenDocument text that carries the font its text is set in, a font of this
// machine's put in the package as documents made elsewhere carry theirs.
QByteArray fontCarryingDocument(const QByteArray &font);

// The SHA-256 of a file's content; empty when it cannot be read.
QByteArray hashOf(const QString &path);

// Runs a program to its end, at most two minutes; true when it exits with 0.
bool run(const QString &program, const QStringList &arguments, QString *output = nullptr);
