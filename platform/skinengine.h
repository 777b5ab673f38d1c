#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

// Restyles windows with a skin: a Qt style sheet kept in a file. It takes its calls
// in the order a window is skinned: load the skin, set the options, switch it on,
// then apply it to a window.
class SkinEngine : public QObject
{
    Q_OBJECT
public:
    enum Option
    {
        RestyleDialogs = 0x1, // dialogs and message boxes shown later take the skin too
    };

    explicit SkinEngine(QObject *parent = nullptr);
    ~SkinEngine() override;

    enum class LoadResult
    {
        Loaded,
        Unreadable,
        NoSuchSchema,
    };
    // Reads the skin. A file may hold named schemas, each starting at a line
    // "/* schema: NAME */"; the text before the first one is common to all. An
    // empty `schema` takes the common part alone.
    virtual LoadResult loadSkin(const QString &skinFile, const QString &schema);
    virtual int options() const { return m_options; }
    virtual void setOptions(int options);
    // Nothing is restyled while the engine is off.
    virtual void setEnabled(bool enabled);
    // Restyles the skinned window again when the system's colours change, so that
    // the skin's references to system colours follow them.
    virtual void setFollowSystemColors(bool follow);
    virtual void applyWindow(QWidget *window);

    const QString &styleSheet() const { return m_styleSheet; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void restyle(QWidget *window);
    void watchDialogs();

    QString m_styleSheet;
    int m_options = 0;
    bool m_enabled = false;
    bool m_followSystemColors = false;
    bool m_watchingDialogs = false;
    QPointer<QWidget> m_window;
};
