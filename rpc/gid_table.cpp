#include "rpc/gid_table.h"

#include <QCryptographicHash>
#include <QSet>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "engine/address_change/address_change.h"
#include "rpc/rpc_params.h"

namespace {

constexpr int GidLength = 16;

bool IsHex(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    });
}

}  // namespace

QString EntryGid(const QString& url, double dateAdded, int slot, int attempt) {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(url.toUtf8());
    // The date's bits exactly, as the list file keeps them: a text form could round.
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(&dateAdded), sizeof dateAdded));
    hash.addData(QByteArray::number(slot) + '/' + QByteArray::number(attempt));
    return QString::fromLatin1(hash.result().toHex().left(GidLength));
}

GidTable::GidTable(const DownloadListState& list, const std::function<bool(int slot)>& shown) {
    const int count = UsedSlots(list);
    gids_.resize(std::size_t(count) + 1);
    // Every entry takes part in making GIDs unique, shown or not, so that hiding one never
    // changes another's.
    QSet<QString> taken;
    for (int slot = 1; slot <= count; ++slot) {
        const DownloadRecord& r = list.DownloadList.at(slot);
        if (StateOf(r) == ListEntryState::Free) {
            continue;
        }
        // The address it was added with: a changed address keeps its GID.
        const QStringList earlier = EarlierAddresses(r);
        const QString& url = earlier.isEmpty() ? r.Url : earlier.first();
        QString gid;
        for (int attempt = 0; gid.isEmpty() || taken.contains(gid); ++attempt) {
            gid = EntryGid(url, r.DateAdded.days(), slot, attempt);
        }
        taken.insert(gid);
        if (!shown || shown(slot)) {
            gids_[std::size_t(slot)] = gid;
            slots_.insert(gid, slot);
        }
    }
}

QString GidTable::gidOf(int slot) const {
    return slot >= 1 && std::size_t(slot) < gids_.size() ? gids_[std::size_t(slot)] : QString();
}

int GidTable::find(QStringView gid) const {
    if (gid.isEmpty() || gid.size() > GidLength || !IsHex(gid)) {
        throw RpcFailure{1, QStringLiteral("Invalid GID %1").arg(gid)};
    }
    const QString wanted = gid.toString().toLower();
    if (const auto exact = slots_.constFind(wanted); exact != slots_.constEnd()) {
        return *exact;
    }
    int found = 0;
    for (auto it = slots_.constBegin(); it != slots_.constEnd(); ++it) {
        if (it.key().startsWith(wanted)) {
            if (found != 0) {
                throw RpcFailure{1, QStringLiteral("GID %1 is not unique").arg(gid)};
            }
            found = it.value();
        }
    }
    if (found == 0) {
        throw RpcFailure{1, QStringLiteral("GID %1 is not found").arg(gid)};
    }
    return found;
}
