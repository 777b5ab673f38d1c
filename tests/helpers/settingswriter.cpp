// Writes one setting many times, as a second running copy of the program would:
// settingswriter FOLDER NAME COUNT writes qualitySlider and Writer<NAME> COUNT times each.
#include "settings.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 2;
    const SettingsStore store(QString::fromLocal8Bit(argv[1]));
    const QString name = QString::fromLocal8Bit(argv[2]);
    const int count = QString::fromLocal8Bit(argv[3]).toInt();
    for (int i = 1; i <= count; ++i) {
        const QString value = name + QString::number(i);
        if (store.writeSetting(QStringLiteral("Orvanta"), QStringLiteral("Pagelift"),
                               QStringLiteral("Slider1"), value) != QSettings::NoError ||
            store.writeSetting(QStringLiteral("Orvanta"), QStringLiteral("Pagelift"),
                               QStringLiteral("Writer") + name, value) != QSettings::NoError)
            return 1;
    }
    return 0;
}
