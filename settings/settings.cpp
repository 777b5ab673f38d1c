#include "settings.h"

#include <QDir>
#include <QLocale>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

QString SettingsStore::userFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString SettingsStore::filePath(const QString &application) const
{
    if (m_folder.isEmpty())
        return {};
    return QDir(m_folder).filePath(application + QStringLiteral(".conf"));
}

QString SettingsStore::readSetting(const QString &application, const QString &section,
                                   const QString &key, const QString &defaultValue) const
{
    const QString path = filePath(application);
    if (path.isEmpty())
        return defaultValue;
    // A QSettings object that is only read never writes its file back.
    const QSettings store(path, QSettings::IniFormat);
    const QVariant value = store.value(section + QLatin1Char('/') + key);
    return value.isValid() ? value.toString() : defaultValue;
}

QSettings::Status SettingsStore::writeSetting(const QString &application, const QString &section,
                                              const QString &key, const QString &text) const
{
    const QString path = filePath(application);
    if (path.isEmpty())
        return QSettings::AccessError;
    // sync() takes the file's lock, merges with what other copies wrote meanwhile,
    // and replaces the file atomically.
    QSettings store(path, QSettings::IniFormat);
    store.setValue(section + QLatin1Char('/') + key, text);
    store.sync();
    return store.status();
}

namespace settings {

double toNumber(const SettingKey &key, const QString &text)
{
    const QString trimmed = text.trimmed();
    bool ok = false;
    double value = QLocale::c().toDouble(trimmed, &ok);
    if (!ok)
        value = QLocale::system().toDouble(trimmed, &ok);
    if (!ok || !std::isfinite(value))
        return key.defaultValue;
    if (key.type == SettingKey::WholeNumber)
        value = std::nearbyint(value); // the default rounding mode: halves to even
    return std::clamp(value, key.minimum, key.maximum);
}

double read(const SettingsStore &store, const SettingKey &key)
{
    const QString text =
        store.readSetting(QLatin1String(kApplication), QLatin1String(kSection),
                          QLatin1String(key.name), QString::number(key.defaultValue));
    return toNumber(key, text);
}

int readInt(const SettingsStore &store, const SettingKey &key)
{
    const double value = read(store, key);
    return int(std::clamp(value, double(std::numeric_limits<int>::min()),
                          double(std::numeric_limits<int>::max())));
}

int toChoice(const ChoiceKey &key, const QString &text)
{
    const QString word = text.trimmed();
    for (size_t i = 0; i < key.choices.size(); ++i) {
        if (word.compare(QLatin1String(key.choices[i]), Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return 0;
}

int readChoice(const SettingsStore &store, const ChoiceKey &key)
{
    return toChoice(key, store.readSetting(QLatin1String(kApplication), QLatin1String(kSection),
                                           QLatin1String(key.name), QString()));
}

QSettings::Status write(const SettingsStore &store, const SettingKey &key, int value)
{
    return store.writeSetting(QLatin1String(kApplication), QLatin1String(kSection),
                              QLatin1String(key.name), QString::number(value));
}

} // namespace settings
