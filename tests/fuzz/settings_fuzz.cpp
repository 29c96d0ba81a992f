// A settings file of any content, as a hand edit or a broken disk may leave it.
#include <QFile>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

#include "core/settings/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Velmora.ini"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return 0;
        }
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    Settings settings;
    LoadSettings(settings, SettingsStore(path), folder.path());
    return 0;
}
