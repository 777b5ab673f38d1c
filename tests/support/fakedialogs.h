#pragma once

#include "dialogs.h"

#include <QStringList>
#include <deque>

// Answers the program's dialogs from a queue that the test fills, and records every
// dialog that was shown, in order, as "kind: text".
class FakeDialogs : public Dialogs
{
public:
    void messageBox(QWidget *parent, const QString &text) override;
    bool askYesNo(QWidget *parent, const QString &text) override;
    QString inputBox(QWidget *parent, const QString &prompt, const QString &defaultText) override;
    QString showOpen(QWidget *parent, const QString &title, const QString &filter) override;
    QString browseForFolder(QWidget *parent, const QString &title) override;

    // Answers, taken in order by the dialog of the matching kind. A dialog with no
    // answer left fails the test and gets the cancel answer.
    std::deque<bool> yesNoAnswers;
    std::deque<QString> inputAnswers;
    std::deque<QString> openAnswers;
    std::deque<QString> folderAnswers;

    QStringList shown;    // "message: ...", "yesno: ...", "input: ...", "open: ...", "folder: ..."
    QStringList messages; // the texts of the message boxes alone
    QString lastDefaultText; // of the last input box
    QString lastFilter;      // of the last open dialog
};
