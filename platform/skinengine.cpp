#include "skinengine.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QRegularExpression>
#include <QWidget>

SkinEngine::SkinEngine(QObject *parent) : QObject(parent) {}

SkinEngine::~SkinEngine() = default;

SkinEngine::LoadResult SkinEngine::loadSkin(const QString &skinFile, const QString &schema)
{
    QFile file(skinFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return LoadResult::Unreadable;
    const QString text = QString::fromUtf8(file.readAll());

    static const QRegularExpression marker(
        QStringLiteral("^\\s*/\\*\\s*schema:\\s*(\\S+)\\s*\\*/\\s*$"),
        QRegularExpression::MultilineOption);
    QString common = text;
    QString chosen;
    bool found = schema.isEmpty();
    QRegularExpressionMatchIterator it = marker.globalMatch(text);
    bool first = true;
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        if (first) {
            common = text.left(match.capturedStart());
            first = false;
        }
        if (!schema.isEmpty() && match.captured(1) == schema) {
            const QRegularExpressionMatch next = marker.match(text, match.capturedEnd());
            const qsizetype end = next.hasMatch() ? next.capturedStart() : text.size();
            chosen = text.mid(match.capturedEnd(), end - match.capturedEnd());
            found = true;
        }
    }
    if (!found)
        return LoadResult::NoSuchSchema;
    m_styleSheet = common + chosen;
    return LoadResult::Loaded;
}

void SkinEngine::setOptions(int options)
{
    m_options = options;
}

void SkinEngine::setEnabled(bool enabled)
{
    m_enabled = enabled;
}

void SkinEngine::setFollowSystemColors(bool follow)
{
    m_followSystemColors = follow;
}

void SkinEngine::applyWindow(QWidget *window)
{
    if (!m_enabled || !window)
        return;
    if (m_window && m_window != window)
        m_window->removeEventFilter(this);
    m_window = window;
    window->installEventFilter(this);
    restyle(window);
    if (m_options & RestyleDialogs)
        watchDialogs();
}

void SkinEngine::restyle(QWidget *window)
{
    // Setting the same text again would not re-resolve the system colours it names.
    window->setStyleSheet(QString());
    window->setStyleSheet(m_styleSheet);
}

void SkinEngine::watchDialogs()
{
    if (m_watchingDialogs || !qApp)
        return;
    qApp->installEventFilter(this);
    m_watchingDialogs = true;
}

bool SkinEngine::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_enabled)
        return false;
    if (watched == m_window && event->type() == QEvent::ApplicationPaletteChange &&
        m_followSystemColors) {
        restyle(m_window);
    } else if (m_watchingDialogs && event->type() == QEvent::Show && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        // Dialogs only: the other windows (the splash, menus, tooltips) keep their looks.
        if (widget->windowType() == Qt::Dialog && widget->styleSheet().isEmpty() &&
            !m_styleSheet.isEmpty())
            widget->setStyleSheet(m_styleSheet);
    }
    return false;
}
