#pragma once

#include <QSettings>
#include <QString>

#include <limits>
#include <span>

// The per-user preferences. Every value is text in an INI file named after the
// application, one group per section. Values are written through at once and never
// cached, so two running copies see each other's last write.
class SettingsStore
{
public:
    // `folder` holds one file per application, "<folder>/<application>.conf". An
    // empty folder is no store at all: reads give the default, writes go nowhere.
    explicit SettingsStore(QString folder = {}) : m_folder(std::move(folder)) {}

    // The user's configuration folder (XDG_CONFIG_HOME, else ~/.config).
    static QString userFolder();

    const QString &folder() const { return m_folder; }
    QString filePath(const QString &application) const;

    // The stored text, or `defaultValue` as text when the key is missing. Never
    // creates or writes anything.
    QString readSetting(const QString &application, const QString &section, const QString &key,
                        const QString &defaultValue) const;
    // Stores the text at once, replacing an earlier value.
    QSettings::Status writeSetting(const QString &application, const QString &section,
                                   const QString &key, const QString &text) const;

private:
    QString m_folder;
};

// The program's keys, each with its type, range and default, in one place.
struct SettingKey
{
    enum Type
    {
        WholeNumber, // a 32-bit integer
        Number,      // a double
    };
    const char *name;
    Type type;
    double minimum;
    double maximum;
    double defaultValue;
};

// A key whose value is one of a few words.
struct ChoiceKey
{
    const char *name;
    std::span<const char *const> choices; // the first is the default
};

namespace settings {

inline constexpr const char *kApplication = "Orvanta";
inline constexpr const char *kSection = "Pagelift";

// JPEG quality: the slider's position.
inline constexpr SettingKey kQuality{"Slider1", SettingKey::WholeNumber, 1, 100, 75};
// Seconds an engine may take over one call before the document is given up. Nothing
// writes it; a user who converts very large documents raises it by hand.
inline constexpr SettingKey kTimeout{"Timeout", SettingKey::WholeNumber, 1, 86400, 120};
// Pixels per inch of the page pictures. Nothing writes it; the window draws pages at
// the screen's 96 unless the user asks for more (print quality) or fewer.
inline constexpr SettingKey kResolution{"Resolution", SettingKey::WholeNumber, 48, 600, 96};
// The splash window: 0 shows it at start-up, any other number keeps it away.
inline constexpr SettingKey kShowAgain{"ShowAgain", SettingKey::Number,
                                       std::numeric_limits<double>::lowest(),
                                       std::numeric_limits<double>::max(), 0};

// What engines may read beyond the document: "none", or "beside" for the files under
// the document's own folder (pictures linked beside it). Never the network.
inline constexpr const char *kLinkedFilesChoices[] = {"none", "beside"};
inline constexpr ChoiceKey kLinkedFiles{"LinkedFiles", kLinkedFilesChoices};

// Text to number as the store's readers convert it: blanks around the number are
// ignored, a fraction goes to the nearest whole number for whole-number keys (halves
// to the even neighbour). Text that is no number gives the key's default; a number
// outside the key's range is brought to the nearest end.
double toNumber(const SettingKey &key, const QString &text);

// Reads the key from the program's section and converts it.
double read(const SettingsStore &store, const SettingKey &key);
int readInt(const SettingsStore &store, const SettingKey &key);
// The position of the stored word among the key's choices, without regard to case or
// blanks around it; any other text gives the default, 0.
int readChoice(const SettingsStore &store, const ChoiceKey &key);
int toChoice(const ChoiceKey &key, const QString &text);

// Writes a whole number as its shortest decimal text.
QSettings::Status write(const SettingsStore &store, const SettingKey &key, int value);

} // namespace settings
