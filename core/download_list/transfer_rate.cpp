#include "core/download_list/transfer_rate.h"

#include "core/download_list/records.h"

namespace {

constexpr float kRateKnownSeconds = 1.0f;

}  // namespace

std::optional<double> TransferRate(const DownloadRecord& r) {
    if (!(r.ElapsedSeconds >= kRateKnownSeconds)) {
        return std::nullopt;
    }
    return double(r.BytesDone.bytes()) / double(r.ElapsedSeconds);
}

std::optional<double> TransferTimeLeft(const DownloadRecord& r) {
    const std::optional<double> rate = TransferRate(r);
    if (!rate || !(*rate > 0) || r.FileSize.bytes() <= 0) {
        return std::nullopt;
    }
    return double(r.FileSize.bytes() - r.BytesDone.bytes()) / *rate;
}
