#include "core/download_list/list_file_format.h"

#include <QStringList>

#include <QStringEncoder>
#include <algorithm>
#include <cstring>
#include <limits>

#include "core/download_list/plan_damage.h"

namespace {

// Smallest encodings, to reject counts that the remaining bytes cannot hold.
constexpr qsizetype kMinRecordBytes = 112;
constexpr qsizetype kMinSegmentBytes = 58;
constexpr qsizetype kMinLoginBytes = 14;

// Writes into one buffer that grows by doubling: a full list is some 20 MiB of fields a few
// bytes each, and an append or a QByteArray per field would cost more than the bytes.
class Writer {
public:
    explicit Writer(qsizetype expected) { out_.resize(std::max<qsizetype>(expected, 256)); }

    template <typename T>
    void put(T value) {
        // The file is little-endian, as this machine is.
        std::memcpy(room(sizeof(T)), &value, sizeof(T));
    }
    void put(Currency value) { put<std::int64_t>(value.raw()); }
    void put(OleDate value) { put<double>(value.days()); }
    void put(const QString& text) {
        const qsizetype most = encoder_.requiredSpace(text.size());
        if (most > std::numeric_limits<std::uint16_t>::max()) {
            putLong(text);
            return;
        }
        // Encoded in place behind its length field; what the text did not need is given back.
        char* const length = room(2 + most);
        char* const end = encoder_.appendToBuffer(length + 2, text);
        const auto used = static_cast<std::uint16_t>(end - (length + 2));
        std::memcpy(length, &used, sizeof(used));
        size_ -= most - used;
    }
    template <typename T, typename PutElement>
    void putArray(const StoredArray<T>& array, PutElement putElement) {
        if (!array.dimensioned) {
            put<std::int16_t>(0);
            return;
        }
        put<std::int16_t>(1);
        put<std::int32_t>(static_cast<std::int32_t>(array.items.size()));
        put<std::int32_t>(array.lowerBound);
        for (const T& item : array.items) {
            putElement(*this, item);
        }
    }
    QByteArray take() {
        out_.truncate(size_);
        return std::move(out_);
    }

private:
    char* room(qsizetype bytes) {
        if (size_ + bytes > out_.size()) {
            out_.resize(std::max(out_.size() * 2, size_ + bytes));
        }
        char* const at = out_.data() + size_;
        size_ += bytes;
        return at;
    }
    void putLong(const QString& text) {
        QByteArray bytes = text.toLocal8Bit();
        if (bytes.size() > std::numeric_limits<std::uint16_t>::max()) {
            // The length field is 16-bit; cut at a character boundary.
            qsizetype cut = std::numeric_limits<std::uint16_t>::max();
            while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) {
                --cut;
            }
            bytes.truncate(cut);
        }
        put<std::uint16_t>(static_cast<std::uint16_t>(bytes.size()));
        std::memcpy(room(bytes.size()), bytes.constData(), size_t(bytes.size()));
    }

    QByteArray out_;
    qsizetype size_ = 0;
    // The locale's encoding, as toLocal8Bit; stateless, so no text carries into the next.
    QStringEncoder encoder_{QStringConverter::System, QStringConverter::Flag::Stateless};
};

class Reader {
public:
    explicit Reader(const QByteArray& bytes) : bytes_(bytes) {}

    bool ok() const { return ok_; }
    qsizetype remaining() const { return bytes_.size() - pos_; }
    void fail() { ok_ = false; }

    template <typename T>
    void get(T& value) {
        if (!ok_ || remaining() < qsizetype(sizeof(T))) {
            ok_ = false;
            value = T{};
            return;
        }
        std::memcpy(&value, bytes_.constData() + pos_, sizeof(T));
        pos_ += sizeof(T);
    }
    void get(Currency& value) {
        std::int64_t raw = 0;
        get(raw);
        value = Currency::fromRaw(raw);
    }
    void get(OleDate& value) {
        double days = 0;
        get(days);
        value = OleDate(days);
    }
    void get(QString& text) {
        std::uint16_t length = 0;
        get(length);
        if (!ok_ || remaining() < length) {
            ok_ = false;
            text.clear();
            return;
        }
        text = QString::fromLocal8Bit(bytes_.constData() + pos_, length);
        pos_ += length;
    }
    template <typename T, typename GetElement>
    void getArray(StoredArray<T>& array, qsizetype minElementBytes, GetElement getElement) {
        array.erase();
        std::int16_t dimensions = 0;
        get(dimensions);
        if (!ok_ || dimensions == 0) {
            return;
        }
        std::int32_t count = 0;
        std::int32_t lowerBound = 0;
        get(count);
        get(lowerBound);
        // Only one-dimensional arrays are ever written; anything else is damage.
        if (!ok_ || dimensions != 1 || count < 0 || count > remaining() / minElementBytes) {
            ok_ = false;
            return;
        }
        array.dimensioned = true;
        array.lowerBound = lowerBound;
        array.items.resize(count);
        for (T& item : array.items) {
            getElement(*this, item);
        }
    }

private:
    const QByteArray& bytes_;
    qsizetype pos_ = 0;
    bool ok_ = true;
};

// One function per record kind serves both directions, so the field order exists once.
template <typename Io, typename Segment>
void Fields(Io& io, Segment& s) {
    io(s.StartPos);
    io(s.EndPos);
    io(s.Received);
    io(s.Done);
    io(s.Length);
    io(s.InPlan);
    io(s.Watched);
    io(s.SegFlagB);
    io(s.PartFile);
    io(s.State);
    io(s.SegTick);
    io(s.SegExtra);
}

template <typename Io, typename Login>
void LoginFields(Io& io, Login& l) {
    io(l.Site);
    io(l.LoginReserved);
    io(l.LoginUser);
    io(l.LoginPassword);
    io(l.LoginFlag);
}

template <typename Io, typename Record>
void RecordFields(Io& io, Record& r) {
    io(r.IsUpdate);
    io.segments(r.Segments);
    io(r.SegmentCount);
    io.logins(r.SiteLogins);
    io(r.Reserved1);
    io(r.FileName);
    io(r.UrlPath);
    io(r.HostName);
    io(r.Port);
    io(r.UserName);
    io(r.Password);
    io(r.Reserved2);
    io(r.Reserved3);
    io(r.SavePath);
    io(r.HasSavePath);
    io(r.Reserved4);  // the failure code of a failed entry
    io(r.RangesSupported);
    io(r.Failed);
    io(r.RetryCount);
    io(r.Reserved5);
    io(r.Referer);
    io(r.Queued);
    io(r.Scheduled);
    io(r.Paused);
    io(r.Resuming);
    io(r.Priority);
    io(r.LastTick);
    io(r.FileSize);
    io(r.BytesDone);
    io(r.ElapsedSeconds);
    io(r.RemainingSeconds);
    io(r.Active);
    io(r.Transferring);
    io(r.Completed);
    io(r.Removed);
    io(r.Running);
    io(r.Percent);
    io(r.Url);
    io(r.Protocol);
    io(r.DateAdded);
}

struct Put {
    Writer& w;
    template <typename T>
    void operator()(const T& value) {
        w.put(value);
    }
    void segments(const StoredArray<SegmentRecord>& a) {
        w.putArray(a, [](Writer& w, const SegmentRecord& s) {
            Put io{w};
            Fields(io, s);
        });
    }
    void logins(const StoredArray<SiteLogin>& a) {
        w.putArray(a, [](Writer& w, const SiteLogin& l) {
            Put io{w};
            LoginFields(io, l);
        });
    }
};

struct Get {
    Reader& r;
    template <typename T>
    void operator()(T& value) {
        r.get(value);
    }
    void segments(StoredArray<SegmentRecord>& a) {
        r.getArray(a, kMinSegmentBytes, [](Reader& r, SegmentRecord& s) {
            Get io{r};
            Fields(io, s);
        });
    }
    void logins(StoredArray<SiteLogin>& a) {
        r.getArray(a, kMinLoginBytes, [](Reader& r, SiteLogin& l) {
            Get io{r};
            LoginFields(io, l);
        });
    }
};

// An entry whose segment plan would take a resume outside its table or its ranges is dropped
// (its slot left free, as a removed entry's): the rest of the list is still good.
void DropIfDamaged(DownloadRecord& record, qsizetype slot, QStringList& dropped) {
    if (slot == 0 || record.Active == 0) {
        return;
    }
    const QString why = PlanDamage(record);
    if (why.isEmpty()) {
        return;
    }
    dropped << QStringLiteral("entry %1 (%2) of the list file is damaged and was dropped: %3")
                   .arg(slot)
                   .arg(record.FileName.left(80), why);
    record = DownloadRecord{};
}

void AddError(ListLoadResult& result, const QString& error) {
    result.error = result.error.isEmpty() ? error : result.error + QStringLiteral("; ") + error;
}

}  // namespace

QByteArray EncodeListFile(const DownloadListState& list) {
    // About what an entry in use takes, so a full list grows the buffer only a few times.
    Writer w(qsizetype(list.DownloadCount + 1) * 512);
    Put io{w};
    w.put<std::int32_t>(ListFileMagic);
    w.put<std::int16_t>(list.DownloadCount);
    for (int slot = 0; slot <= list.DownloadCount && slot < list.DownloadList.size(); ++slot) {
        RecordFields(io, list.DownloadList[slot]);
    }
    w.put<std::int32_t>(list.SiteLoginCount);
    for (int slot = 0; slot <= list.SiteLoginCount && slot < list.SiteLoginList.size(); ++slot) {
        LoginFields(io, list.SiteLoginList[slot]);
    }
    return w.take();
}

ListLoadResult DecodeListFile(const QByteArray& bytes, DownloadListState& list) {
    list = DownloadListState{};
    ListLoadResult result;
    Reader r(bytes);
    Get io{r};
    std::int32_t magic = 0;
    r.get(magic);
    if (!r.ok() || magic != ListFileMagic) {
        return result;
    }
    result.recognised = true;

    std::int16_t count = 0;
    r.get(count);
    if (!r.ok() || count < 0) {
        result.error = QStringLiteral("the list file is damaged (bad entry count)");
        return result;
    }
    const qsizetype announced = qsizetype(count) + 1;
    list.DownloadList.clear();
    list.DownloadList.reserve(std::min(announced, r.remaining() / kMinRecordBytes + 1));
    QStringList dropped;
    for (qsizetype slot = 0; slot < announced; ++slot) {
        DownloadRecord record;
        RecordFields(io, record);
        if (!r.ok()) {
            break;
        }
        DropIfDamaged(record, slot, dropped);
        list.DownloadList.append(std::move(record));
    }
    result.error = dropped.join(QStringLiteral("; "));
    if (list.DownloadList.isEmpty()) {
        list.DownloadList.append(DownloadRecord{});
    }
    list.DownloadCount = static_cast<std::int16_t>(list.DownloadList.size() - 1);
    if (!r.ok()) {
        AddError(result, QStringLiteral("the list file is cut off or damaged after entry %1 of %2")
                             .arg(list.DownloadCount)
                             .arg(count));
        return result;
    }

    std::int32_t logins = 0;
    r.get(logins);
    if (!r.ok() || logins < 0 || logins > r.remaining() / kMinLoginBytes) {
        AddError(result, QStringLiteral("the list file is damaged (bad login count)"));
        return result;
    }
    list.SiteLoginList.clear();
    for (std::int32_t slot = 0; slot <= logins; ++slot) {
        SiteLogin login;
        LoginFields(io, login);
        if (!r.ok()) {
            break;
        }
        list.SiteLoginList.append(std::move(login));
    }
    if (list.SiteLoginList.isEmpty()) {
        list.SiteLoginList.append(SiteLogin{});
    }
    list.SiteLoginCount = static_cast<std::int32_t>(list.SiteLoginList.size() - 1);
    if (!r.ok()) {
        AddError(result, QStringLiteral("the list file's logins are cut off"));
        return result;
    }
    result.complete = true;
    return result;
}
