#pragma once

#include <QObject>
#include <functional>
#include <set>

#include "integration/desktop/download_end.h"

class ChecksumChecks;
class DownloadQueue;
struct EngineContext;

// Hands on the downloads that end: each session that ends with its file whole or
// for a reason, and each file whose checksum the check found wrong.
class DownloadEndNotices : public QObject {
    Q_OBJECT
public:
    using Tell = std::function<void(const DownloadEnd& end)>;

    DownloadEndNotices(EngineContext& ctx, DownloadQueue& queue, ChecksumChecks& checks, Tell tell,
                       QObject* parent = nullptr);

private:
    void sessionEnded(int slot, const QString& why);
    void checked(int slot);

    EngineContext& ctx_;
    Tell tell_;
    // Slots whose failed check was told: hashing the file again for its SHA-256 alone reports
    // the same result once more.
    std::set<int> checksumTold_;
};
