#pragma once

#include "mainwindow.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

// A program folder and a configuration folder of their own, and a main-window
// environment whose seams record what they are asked to do.
class StartupRig
{
public:
    StartupRig()
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("program"));
        QDir(m_dir.path()).mkpath(QStringLiteral("config"));
    }

    QString programFolder() const { return m_dir.path() + QStringLiteral("/program"); }
    QString settingsFolder() const { return m_dir.path() + QStringLiteral("/config"); }
    QString settingsFile() const { return settingsFolder() + QStringLiteral("/Orvanta.conf"); }

    // A picture of one colour in <program>/Splash/.
    void addSplashPicture(const QString &name, QSize size, const QColor &colour) const
    {
        QDir(programFolder()).mkpath(QStringLiteral("Splash"));
        QImage picture(size, QImage::Format_RGB32);
        picture.fill(colour);
        QVERIFY(picture.save(programFolder() + QStringLiteral("/Splash/") + name, "PNG"));
    }

    void addFile(const QString &relativePath, const QByteArray &content) const
    {
        const QString path = programFolder() + QLatin1Char('/') + relativePath;
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    // Stored and read back without the program's own store.
    void store(const QString &key, const QString &text) const
    {
        QSettings settings(settingsFile(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Pagelift/") + key, text);
        settings.sync();
    }
    QVariant stored(const QString &key) const
    {
        return QSettings(settingsFile(), QSettings::IniFormat)
            .value(QStringLiteral("Pagelift/") + key);
    }

    MainWindowEnvironment environment()
    {
        MainWindowEnvironment environment;
        environment.settingsFolder = settingsFolder();
        environment.programFolder = programFolder();
        environment.openHomePage = [this](const QString &address) { opened << address; };
        environment.randomFraction = [this] {
            ++draws;
            if (onDraw)
                onDraw();
            return draw;
        };
        environment.splashPause = splashPause;
        environment.endProgram = [this] { ++ends; };
        return environment;
    }

    QStringList opened;
    double draw = 0.5;
    int draws = 0;
    std::function<void()> onDraw;
    std::chrono::milliseconds splashPause{300};
    int ends = 0;

private:
    QTemporaryDir m_dir;
};

// Keeps every test away from the user's own configuration folder.
inline void useTemporaryConfigFolder(QTemporaryDir &folder)
{
    QVERIFY(folder.isValid());
    qputenv("XDG_CONFIG_HOME", folder.path().toLocal8Bit());
}
