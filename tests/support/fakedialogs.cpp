#include "fakedialogs.h"

#include <QTest>

namespace {

template <typename T> T take(std::deque<T> &answers, const char *kind, T cancel)
{
    if (answers.empty()) {
        QTest::qFail((QByteArray("no answer left for a ") + kind + " dialog").constData(), __FILE__,
                     __LINE__);
        return cancel;
    }
    T answer = answers.front();
    answers.pop_front();
    return answer;
}

} // namespace

void FakeDialogs::messageBox(QWidget *, const QString &text)
{
    shown << QStringLiteral("message: ") + text;
    messages << text;
}

bool FakeDialogs::askYesNo(QWidget *, const QString &text)
{
    shown << QStringLiteral("yesno: ") + text;
    return take(yesNoAnswers, "yes/no", false);
}

QString FakeDialogs::inputBox(QWidget *, const QString &prompt, const QString &defaultText)
{
    shown << QStringLiteral("input: ") + prompt;
    lastDefaultText = defaultText;
    return take(inputAnswers, "input", QString());
}

QString FakeDialogs::showOpen(QWidget *, const QString &title, const QString &filter)
{
    shown << QStringLiteral("open: ") + title;
    lastFilter = filter;
    return take(openAnswers, "open", QString());
}

QString FakeDialogs::browseForFolder(QWidget *, const QString &title)
{
    shown << QStringLiteral("folder: ") + title;
    return take(folderAnswers, "folder", QString());
}
