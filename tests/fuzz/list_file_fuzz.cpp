// A damaged list file: loading takes what it can, and what it took saves and loads again to
// the same entries.
#include <cstddef>
#include <cstdint>

#include "core/download_list/download_list.h"
#include "core/download_list/list_file_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    DownloadListState list;
    DecodeListFile(bytes, list);
    const QByteArray saved = EncodeListFile(list);
    DownloadListState again;
    const ListLoadResult reloaded = DecodeListFile(saved, again);
    if (!reloaded.complete || again.DownloadCount != list.DownloadCount ||
        EncodeListFile(again) != saved) {
        __builtin_trap();
    }
    return 0;
}
