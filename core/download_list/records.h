#pragma once

#include <QString>
#include <QVector>
#include <cstdint>

#include "core/types/currency.h"
#include "core/types/ole_date.h"

// The download list's records. Field names, types and order are those of the list file, whose
// byte image they are (see list_file_format.cpp). Integer flags hold -1 for true and 0 for
// false; IsUpdate, Reserved3 and LoginFlag hold 1 instead.

// A dynamic array as the list file stores it: either never dimensioned (or erased), or one
// dimension with a lower bound and its elements.
template <typename T>
struct StoredArray {
    bool dimensioned = false;
    std::int32_t lowerBound = 0;
    QVector<T> items;

    // Dimensions the array as lowerBound..upper (upper < lowerBound gives no elements),
    // keeping existing elements when `preserve` is set.
    void redim(std::int32_t upper, bool preserve = false) {
        if (!preserve) {
            items.clear();
            lowerBound = 0;
        }
        dimensioned = true;
        items.resize(upper >= lowerBound ? upper - lowerBound + 1 : 0);
    }
    void erase() {
        dimensioned = false;
        lowerBound = 0;
        items.clear();
    }
    // Element at index i of the dimensioned range, or nullptr outside it.
    T* at(std::int32_t i) {
        const std::int64_t k = std::int64_t(i) - lowerBound;
        return dimensioned && k >= 0 && k < items.size() ? &items[k] : nullptr;
    }
    const T* at(std::int32_t i) const { return const_cast<StoredArray*>(this)->at(i); }
    std::int32_t upperBound() const { return lowerBound + std::int32_t(items.size()) - 1; }
    bool operator==(const StoredArray&) const = default;
};

struct SegmentRecord {
    Currency StartPos;        // first byte asked for on the current connection
    Currency EndPos;          // last byte offset of the segment
    Currency Received;        // bytes received on it: StartPos + Received is the next to fetch
    Currency Done;            // bytes stored by earlier connections and sessions
    Currency Length;          // the range's length, from EndPos - Length + 1; 0 while size unknown
    std::int16_t InPlan = 0;  // -1 for every planned segment; 0 counts as complete
    // -1 for every planned segment: the watchdog restarts it when it stalls, and its row in the
    // download window is coloured.
    std::int16_t Watched = 0;
    std::int16_t SegFlagB = 0;  // never read; cleared when the lone segment starts over
    QString PartFile;           // temporary part file
    std::int16_t State = 0;     // see SegmentState
    // Millisecond tick of the last activity, which the watchdog measures silence from; a request
    // sets it a grace ahead, for the server's first answer.
    std::int32_t SegTick = 0;
    std::int32_t SegExtra = 0;  // kept as read, never used
    bool operator==(const SegmentRecord&) const = default;
};

namespace SegmentState {
constexpr std::int16_t Idle = 0;
constexpr std::int16_t Connecting = 1;
constexpr std::int16_t Receiving = 2;
constexpr std::int16_t Complete = 3;
constexpr std::int16_t Paused = 4;
constexpr std::int16_t FtpLoggedIn = 6;
constexpr std::int16_t FtpTransferRequested = 7;
constexpr std::int16_t FtpWaiting = 11;
}  // namespace SegmentState

struct SiteLogin {
    QString Site;
    std::int32_t LoginReserved = 0;  // kept as read, never used
    QString LoginUser;
    QString LoginPassword;       // scrambled hexadecimal form
    std::int32_t LoginFlag = 0;  // 1 once saved; never read
    bool operator==(const SiteLogin&) const = default;
};

struct DownloadRecord {
    std::int16_t IsUpdate = 0;  // 1: a program update, which its join installs
    StoredArray<SegmentRecord> Segments;
    std::int16_t SegmentCount = 0;
    // Never holds logins: the addresses the entry had before a change of address (Site; see
    // engine/address_change/address_change.h).
    StoredArray<SiteLogin> SiteLogins;
    std::int32_t Reserved1 = 0;         // never read
    QString FileName;
    QString UrlPath;
    QString HostName;
    std::int32_t Port = 0;
    QString UserName;
    QString Password;
    QString Reserved2;           // "0" once removed; never read
    std::int16_t Reserved3 = 0;  // ReplacesEarlierFile: 1 = may write over its old target
    QString SavePath;
    std::int16_t HasSavePath = 0;
    // FailureCode: why the last attempt failed, while Failed is set (0: not known). Written
    // only by the entry's transitions (MarkFailed); failure_words.h gives the codes' meanings.
    std::int16_t Reserved4 = 0;
    std::int16_t RangesSupported = 0;
    std::int16_t Failed = 0;
    std::int16_t RetryCount = 0;
    QString Reserved5;  // the browser's cookies for Url (see browser_handover.h)
    QString Referer;
    std::int16_t Queued = 0;
    std::int16_t Scheduled = 0;
    std::int16_t Paused = 0;
    std::int16_t Resuming = 0;
    std::int32_t Priority = 0;  // 0 low, 1 middle, 2 high
    std::int32_t LastTick = 0;  // millisecond tick ElapsedSeconds last counted to
    Currency FileSize;  // 0 = not known yet (an empty file's 0 is known only to its session)
    Currency BytesDone;
    float ElapsedSeconds = 0;
    float RemainingSeconds = 0;
    std::int16_t Active = 0;
    std::int16_t Transferring = 0;
    std::int16_t Completed = 0;
    std::int16_t Removed = 0;
    std::int16_t Running = 0;
    float Percent = 0;
    QString Url;
    std::int16_t Protocol = 0;  // 0 HTTP, 1 FTP, 2 HTTPS
    OleDate DateAdded;
    bool operator==(const DownloadRecord&) const = default;
};

namespace Protocol {
constexpr std::int16_t Http = 0;
constexpr std::int16_t Ftp = 1;
constexpr std::int16_t Https = 2;
}  // namespace Protocol

// Reserved3 of a record the user chose to fetch again: its assembly may replace the file it
// made before, where any other download takes a numbered name instead.
constexpr std::int16_t ReplacesEarlierFile = 1;

constexpr std::int16_t FlagTrue = -1;
constexpr std::int16_t FlagFalse = 0;
