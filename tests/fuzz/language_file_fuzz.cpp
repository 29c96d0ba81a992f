// A language file of any content, as a user may drop one into the language folder.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

#include "core/text/text_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("fuzzed.txt"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return 0;
        }
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    TextTable table;
    LoadLanguage(table, QStringLiteral("fuzzed"), {folder.path()});
    for (int number = -1; number <= 1001; number += 7) {
        (void)table.text(number);
    }
    return 0;
}
