// The methods that change the list: adding an address, pausing, resuming and removing
// entries, forgetting finished ones. Each goes through the queue or the add rules, as the
// desktop program's own buttons do.

#include <QDir>
#include <QJsonArray>

#include "core/checksums/checksum.h"
#include "core/download_list/download_list.h"
#include "core/download_list/entry_options.h"
#include "core/settings/settings.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/address_change/address_change.h"
#include "engine/assembly/plain_file_name.h"
#include "engine/engine_context.h"
#include "engine/queue/add_download.h"
#include "engine/queue/download_queue.h"
#include "rpc/aria2_dispatch.h"

namespace {

using enum ListEntryState;

[[noreturn]] void BadOption(const QString& name) {
    throw RpcFailure{
        1,
        QStringLiteral("We encountered a problem while processing the option '--%1'.").arg(name)};
}

// An option's value, which aria2 takes as a string only.
QString OptionText(const QJsonObject& options, const QString& name) {
    const QJsonValue value = options.value(name);
    if (value.isUndefined()) {
        return {};
    }
    if (!value.isString()) {
        BadOption(name);
    }
    return value.toString();
}

// "Name: value" headers: a Cookie and a Referer are what a download carries of its page.
void TakeHeaders(const QJsonObject& options, AddRequest& request) {
    const QJsonValue value = options.value(QStringLiteral("header"));
    const QJsonArray lines = value.isString() ? QJsonArray{value} : value.toArray();
    if (!value.isUndefined() && !value.isString() && !value.isArray()) {
        BadOption(QStringLiteral("header"));
    }
    for (const QJsonValue& line : lines) {
        const QString text = line.toString();
        const qsizetype colon = text.indexOf(u':');
        if (!line.isString() || colon <= 0) {
            BadOption(QStringLiteral("header"));
        }
        const QString name = text.left(colon).trimmed();
        const QString field = text.mid(colon + 1).trimmed();
        if (name.compare(QLatin1String("Cookie"), Qt::CaseInsensitive) == 0) {
            request.cookie = field;
        } else if (name.compare(QLatin1String("Referer"), Qt::CaseInsensitive) == 0) {
            request.referer = field;
        }
    }
}

// `dir` and `out` as one save path: the folder absolute, the name relative and inside it.
QString SavePath(const QJsonObject& options, const QString& url, const QString& downloadFolder) {
    const QString dir = OptionText(options, QStringLiteral("dir"));
    const QString out = OptionText(options, QStringLiteral("out"));
    if (!dir.isEmpty() && !QDir::isAbsolutePath(dir)) {
        BadOption(QStringLiteral("dir"));
    }
    if (options.contains(QStringLiteral("out")) &&
        (out.isEmpty() || QDir::isAbsolutePath(out) ||
         out.split(u'/').contains(QStringLiteral("..")))) {
        BadOption(QStringLiteral("out"));
    }
    if (dir.isEmpty() && out.isEmpty()) {
        return {};
    }
    const QString folder = dir.isEmpty() ? downloadFolder : dir;
    if (folder.isEmpty()) {
        BadOption(QStringLiteral("out"));
    }
    const QString name =
        out.isEmpty() ? PlainFileName(DecodeUrl(ParseUrl(EncodeUrl(url)).fileName)) : out;
    return QDir::cleanPath(folder + u'/' + name);
}

AddRequest RequestFor(const QString& url, const QJsonObject& options,
                      const QString& downloadFolder) {
    AddRequest request;
    request.url = url;
    request.savePath = SavePath(options, url, downloadFolder);
    const QString referer = OptionText(options, QStringLiteral("referer"));
    TakeHeaders(options, request);
    if (!referer.isEmpty()) {
        request.referer = referer == QLatin1String("*") ? url : referer;
    }
    const QString pause = OptionText(options, QStringLiteral("pause"));
    if (!pause.isEmpty() && pause != QLatin1String("true") && pause != QLatin1String("false")) {
        BadOption(QStringLiteral("pause"));
    }
    request.deferFlag = pause == QLatin1String("true") ? -1 : 0;
    if (const QString checksum = OptionText(options, QStringLiteral("checksum"));
        !checksum.isEmpty()) {
        const std::optional<Checksum> parsed = ParseChecksum(checksum);
        if (!parsed) {
            BadOption(QStringLiteral("checksum"));
        }
        request.checksum = *parsed;
    }
    return request;
}

}  // namespace

QJsonValue Aria2Dispatch::addUri(const RpcParams& params) {
    const QJsonArray uris = params.array(0);
    const QJsonObject options = params.object(1);
    const int position = params.integer(2, -1);
    if (uris.isEmpty()) {
        throw RpcFailure{1, QStringLiteral("URI is not provided.")};
    }
    // Further addresses are mirrors of the same file in aria2; a download here has one.
    if (!uris.first().isString()) {
        throw RpcFailure{1, QStringLiteral("The parameter at 0 has wrong type.")};
    }
    AddRequest request = RequestFor(uris.first().toString(), options, ctx_.settings.DownloadFolder);
    if (!request.savePath.isEmpty()) {
        checkInsideRoot(request.savePath, QStringLiteral("dir"));
    }
    entryOptions(options, {});  // refused before anything is added
    QString why;
    const int slot = AddOrContinue(ctx_, queue_, request, why);
    if (slot == 0) {
        throw RpcFailure{1, why};
    }
    // Before its server answers: the plan reads them then.
    DownloadRecord& r = ctx_.list.DownloadList[slot];
    KeepEntryOptions(r, entryOptions(options, ReadEntryOptions(r)));
    if (position >= 0) {
        queue_.PlaceInQueue(slot, position);
    }
    removed_.erase(slot);
    return gids().gidOf(slot);
}

QJsonValue Aria2Dispatch::changePosition(const RpcParams& params) {
    QString gid;
    const int slot = slotAt(params, 0, &gid);
    const int offset = params.integer(1);
    const QString how = params.text(2);
    const std::vector<int> order = queue_.WaitingOrder();
    const auto found = std::find(order.begin(), order.end(), slot);
    if (found == order.end()) {
        throw RpcFailure{1, QStringLiteral("GID#%1 not found in the waiting queue.").arg(gid)};
    }
    int position = 0;
    if (how == QLatin1String("POS_SET")) {
        position = offset;
    } else if (how == QLatin1String("POS_CUR")) {
        position = int(found - order.begin()) + offset;
    } else if (how == QLatin1String("POS_END")) {
        position = int(order.size()) - 1 + offset;
    } else {
        throw RpcFailure{1, QStringLiteral("Illegal argument.")};
    }
    return queue_.PlaceInQueue(slot, std::max(position, 0));
}

QJsonValue Aria2Dispatch::changeUri(const RpcParams& params) {
    QString gid;
    const int slot = slotAt(params, 0, &gid);
    if (params.integer(1) != 1) {
        throw RpcFailure{1, QStringLiteral("fileIndex is out of range")};
    }
    const QStringList gone = params.texts(2);
    const QStringList added = params.texts(3);
    params.integer(4, 0);  // where among its addresses: it has one
    DownloadRecord& r = ctx_.list.DownloadList[slot];
    const QString old = r.Url;
    const int deleted = int(std::count_if(gone.begin(), gone.end(), [&](const QString& u) {
        return u == old || u == DecodeUrl(old);
    }));
    if (gone.size() != deleted || deleted > 1 || added.size() > 1 ||
        (deleted == 1) != (added.size() == 1)) {
        throw RpcFailure{1, QStringLiteral("A download here has one address: give its own in "
                                           "delUris and the new one in addUris.")};
    }
    if (added.isEmpty()) {
        return QJsonArray{0, 0};
    }
    if (!Unfinished(r) || r.BytesDone.bytes() > 0) {
        // Bytes of one file must not be continued from another: the change is checked first.
        throw RpcFailure{1, QStringLiteral("GID#%1 holds bytes from its address: call "
                                           "brenloft.changeAddress, which checks that the new "
                                           "one serves the same file.")
                                .arg(gid)};
    }
    const bool wasRunning = StateOf(r) == Running;
    if (wasRunning) {
        queue_.CloseSession(slot);
    }
    if (!ChangeAddress(r, added.first())) {
        throw RpcFailure{
            1,
            QStringLiteral("%1 is not an http://, https:// or ftp:// address.").arg(added.first())};
    }
    queue_.NotifyListChanged();
    if (wasRunning) {
        queue_.Restart(slot);
    }
    return QJsonArray{1, 1};
}

void Aria2Dispatch::checkInsideRoot(const QString& path, const QString& option) const {
    const QString root = QDir::cleanPath(saveRoot);
    if (!saveRoot.isEmpty() && !QDir::cleanPath(path).startsWith(root + u'/') &&
        QDir::cleanPath(path) != root) {
        throw RpcFailure{1, QStringLiteral("The option '--%1' names a place outside %2, where "
                                           "this server keeps its files.")
                                .arg(option, root)};
    }
}

QJsonValue Aria2Dispatch::addTorrent(const RpcParams&) {
    throw RpcFailure{1, QStringLiteral("Torrents are not supported: Brenloft downloads "
                                       "http://, https:// and ftp:// addresses only.")};
}

QJsonValue Aria2Dispatch::addMetalink(const RpcParams&) {
    throw RpcFailure{1, QStringLiteral("Metalinks are not supported: Brenloft downloads "
                                       "http://, https:// and ftp:// addresses only.")};
}

bool Aria2Dispatch::hold(int slot, bool force) {
    switch (StateOf(ctx_.list.DownloadList.at(slot))) {
        case Running:
            // Forced: the session ends at once, without a word to its servers.
            force ? queue_.CloseSession(slot) : queue_.PauseSlot(slot);
            return true;
        case Queued:
        case Scheduled:
            return queue_.HoldEntry(slot);
        default:
            return false;
    }
}

QJsonValue Aria2Dispatch::pauseOne(const RpcParams& params, bool force) {
    QString gid;
    const int slot = slotAt(params, 0, &gid);
    if (!hold(slot, force)) {
        throw RpcFailure{1, QStringLiteral("GID#%1 cannot be paused now").arg(gid)};
    }
    return gid;
}

QJsonValue Aria2Dispatch::pauseEvery(const RpcParams&, bool force) {
    for (const int slot : slotsIn({Running, Queued, Scheduled})) {
        hold(slot, force);
    }
    return QStringLiteral("OK");
}

QJsonValue Aria2Dispatch::unpause(const RpcParams& params) {
    QString gid;
    const int slot = slotAt(params, 0, &gid);
    const ListEntryState state = StateOf(ctx_.list.DownloadList.at(slot));
    if (state != Waiting && state != Paused) {
        throw RpcFailure{1, QStringLiteral("GID#%1 cannot be unpaused now").arg(gid)};
    }
    queue_.Restart(slot);
    return gid;
}

QJsonValue Aria2Dispatch::unpauseAll(const RpcParams&) {
    for (const int slot : slotsIn({Waiting, Paused})) {
        queue_.Restart(slot);
    }
    return QStringLiteral("OK");
}

QJsonValue Aria2Dispatch::remove(const RpcParams& params) {
    QString gid;
    const int slot = slotAt(params, 0, &gid);
    switch (StateOf(ctx_.list.DownloadList.at(slot))) {
        case Running:
            // A download that ran leaves its result, as in aria2; one that never ran leaves
            // none.
            removed_.insert(slot);
            [[fallthrough]];
        case Queued:
        case Scheduled:
        case Waiting:
        case Paused:
            queue_.DeleteEntry(slot);
            return gid;
        default:
            throw RpcFailure{1, QStringLiteral("Active Download not found for GID#%1").arg(gid)};
    }
}

bool Aria2Dispatch::forget(int slot) {
    switch (StateOf(ctx_.list.DownloadList.at(slot))) {
        case Finished:
            queue_.RemoveEntry(slot);
            return true;
        case Failed:
            // Its part files would be left to nobody.
            queue_.DeleteEntry(slot);
            return true;
        case Removed:
            return removed_.erase(slot) > 0;
        default:
            return false;
    }
}

QJsonValue Aria2Dispatch::removeDownloadResult(const RpcParams& params) {
    QString gid;
    const int slot = slotAt(params, 0, &gid);
    if (!forget(slot)) {
        throw RpcFailure{1, QStringLiteral("Could not remove download result of GID#%1").arg(gid)};
    }
    return QStringLiteral("OK");
}

QJsonValue Aria2Dispatch::purgeDownloadResult(const RpcParams&) {
    for (const int slot : slotsIn({Failed, Finished, Removed})) {
        forget(slot);
    }
    return QStringLiteral("OK");
}

QJsonValue Aria2Dispatch::saveSession(const RpcParams&) {
    // The list is the session: saved as its owner saves it, where it always is.
    const QString why = ctx_.saveList ? ctx_.saveList() : SaveList(ctx_.list, ctx_.listPath);
    if (!why.isEmpty()) {
        throw RpcFailure{1, why};
    }
    return QStringLiteral("OK");
}

QJsonValue Aria2Dispatch::shutdownProgram(bool force) {
    if (!shutdown) {
        throw RpcFailure{1, QStringLiteral("This program cannot be shut down remotely.")};
    }
    shutdown(force);
    return QStringLiteral("OK");
}
