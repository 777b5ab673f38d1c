#pragma once

#include <QString>

class QWidget;

// Every modal dialog of the program goes through this seam, so that tests can
// answer them. Message and input boxes carry the program's title as caption.
class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // A message with an OK button only and no icon.
    virtual void messageBox(QWidget *parent, const QString &text) = 0;
    // A question with Yes and No and no icon; true when the answer is Yes.
    virtual bool askYesNo(QWidget *parent, const QString &text) = 0;
    // A line of text; the empty text when cancelled.
    virtual QString inputBox(QWidget *parent, const QString &prompt,
                             const QString &defaultText) = 0;
    // The open-file dialog for several files. The answer is empty when cancelled,
    // one full path for one file, or the folder followed by the file names, each
    // after a NUL character, for several. `filter` pairs captions and patterns with
    // "|": "Documents (*.do*)|*.do*|All Files (*.*)|*.*".
    virtual QString showOpen(QWidget *parent, const QString &title, const QString &filter) = 0;
    // The folder picker; the empty text when cancelled.
    virtual QString browseForFolder(QWidget *parent, const QString &title) = 0;
};

// The real dialogs.
class QtDialogs : public Dialogs
{
public:
    void messageBox(QWidget *parent, const QString &text) override;
    bool askYesNo(QWidget *parent, const QString &text) override;
    QString inputBox(QWidget *parent, const QString &prompt, const QString &defaultText) override;
    QString showOpen(QWidget *parent, const QString &title, const QString &filter) override;
    QString browseForFolder(QWidget *parent, const QString &title) override;
};

// The title that message and input boxes show.
inline constexpr const char *kProductTitle = "Pagelift";
