// Saves the list file named on the command line over and over, one entry more each time, and
// prints the entry count after every save that completed. The kill test stops it with SIGKILL
// wherever it happens to be and compares the file with the last count it printed.
//
// usage: core_list_save_loop LIST_FILE

#include <cstdio>

#include "core/download_list/download_list.h"
#include "core/download_list/list_additions.h"

// The address of slot `slot`, so the test can tell every entry is the one saved there.
static QString UrlOf(int slot) {
    return QStringLiteral("http://127.0.0.1/pub/file%1.bin").arg(slot);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s LIST_FILE\n", argv[0]);
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    DownloadListState list;
    const ListLoadResult loaded = LoadList(list, path);
    if (!loaded.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(loaded.error));
        return 1;
    }
    for (;;) {
        const int slot = ChooseFreeSlot(list);
        if (slot == 0) {
            return 0;  // full
        }
        const QString url = UrlOf(slot);
        FillNewRecord(list.DownloadList[slot], ParseUrl(url), url, 0, {});
        if (const QString why = SaveList(list, path); !why.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(why));
            return 1;
        }
        // Flushed before the next save begins: the count printed is a promise about the file.
        std::printf("%d\n", int(list.DownloadCount));
        std::fflush(stdout);
    }
}
