#include "engine/queue/add_download.h"

#include "core/download_list/checksum_note.h"
#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/download_list/file_identity.h"
#include "core/download_list/list_additions.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"
#include "core/urls/other_program_link.h"
#include "core/urls/parse_url.h"
#include "engine/engine_context.h"
#include "engine/http/browser_handover.h"
#include "engine/queue/download_queue.h"
#include "engine/queue/queue_log.h"
#include "engine/session/failure_words.h"

namespace {

const QString ListFullMessage =
    QStringLiteral("The download list is full (32767 entries); remove finished entries first.");
constexpr int ListFullText = 1042;

// A login typed beside the address. An FTP address carries its own login (or "anonymous"), so
// there only a typed user name replaces it.
void ApplyTypedLogin(DownloadRecord& r, const AddRequest& request) {
    const bool typed = !request.user.isEmpty() || !request.password.isEmpty();
    if (typed && (r.Protocol != Protocol::Ftp || !request.user.isEmpty())) {
        r.UserName = request.user;
        r.Password = request.password;
    }
}

// The page and the cookies a browser handed over, for an entry new or going on: fresher ones
// replace what an earlier hand-over left.
void ApplyBrowserContext(DownloadRecord& r, const AddRequest& request) {
    if (const QString referer = HandedReferer(request.referer); !referer.isEmpty()) {
        r.Referer = referer;
    }
    if (const QString cookie = KeptCookie(request.url, request.cookie); !cookie.isEmpty()) {
        r.Reserved5 = cookie;
    }
}

// A checksum the user gave replaces whatever the entry knew: the file is checked against it.
void ApplyGivenChecksum(DownloadRecord& r, const AddRequest& request) {
    if (request.checksum.valid()) {
        ChecksumNote note;
        note.expected = request.checksum;
        note.source = ChecksumNote::Given;
        KeepChecksumNote(r, note);
    }
}

// The save dialog's title: text 401 and the file name. Language texts cannot end in a blank,
// so the name gets its own.
QString SaveTitle(const TextTable& texts, const QString& name) {
    QString title = texts.text(401);
    if (!title.isEmpty() && !title.back().isSpace()) {
        title += u' ';
    }
    return title + name;
}

}  // namespace

int AddDownload(EngineContext& ctx, DownloadQueue& queue, AddPrompts& prompts,
                AddRequest& request) {
    const TextTable& texts = ctx.texts;
    DownloadListState& list = ctx.list;

    if (const QString link = request.url.trimmed(); ctx.handOverLink && HandedOverAsGiven(link)) {
        ctx.handOverLink(link);
        return 0;
    }
    request.url = EncodeUrl(request.url);
    const ParsedUrl parsed = ParseUrl(request.url);
    if (parsed.status != UrlValid) {
        qCInfo(lcQueue, "refused an address that cannot be used: %s",
               qUtf8Printable(UrlForDisplay(DecodeUrl(request.url))));
        prompts.showError(texts.text(400));
        return 0;
    }

    QString chosenPath;
    if (ctx.settings.SaveAs == FlagTrue) {
        const QString name = DecodeUrl(parsed.fileName);
        const std::optional<QString> path = prompts.askSavePath(
            SaveTitle(texts, name), name, texts.text(402) + QStringLiteral(" (*.*)|*.*"));
        if (!path || path->isEmpty()) {
            return 0;
        }
        chosenPath = *path;
    }

    int slot = FindActiveDuplicate(list, request.url);
    if (slot > 0) {
        const DownloadRecord& found = list.DownloadList.at(slot);
        if (StateOf(found) == ListEntryState::Running) {
            queue.ShowSession(slot);
            return 0;
        }
        if (StateOf(found) != ListEntryState::Finished) {
            // Waiting, paused or failed: the entry itself goes on.
            ApplyBrowserContext(list.DownloadList[slot], request);
            queue.Restart(slot);
            return 0;
        }
        if (!prompts.askYesNo(texts.text(403))) {
            return 0;
        }
        // Fetched again on purpose: its new file may replace the one it made before.
        MarkFetchAgain(list.DownloadList[slot]);
    } else {
        slot = ChooseFreeSlot(list);
        if (slot == 0) {
            prompts.showError(Worded(texts, ListFullText, ListFullMessage));
            return 0;
        }
    }

    // A session left on the slot belongs to what the slot held before.
    if (queue.hasSession(slot)) {
        queue.CloseSession(slot);
    }
    DownloadRecord& r = list.DownloadList[slot];
    FillNewRecord(r, parsed, request.url, request.updateFlag, chosenPath);
    // Nothing of what the slot fetched before: the probe notes the new file's version.
    FileIdentity identity;
    identity.noRestart = request.noRestart;
    KeepIdentity(r, identity);
    ApplyTypedLogin(r, request);
    ApplyBrowserContext(r, request);
    ApplyGivenChecksum(r, request);

    if (queue.runningCount() >= ctx.settings.MaxSimulDownlads) {
        qCInfo(lcQueue, "slot %d: queue new %s (%d running)", slot,
               qUtf8Printable(LoggedAddress(r)), queue.runningCount());
        MarkQueued(r);
        request.deferFlag = -1;
    }
    if (request.deferFlag == 0) {
        queue.StartNew(slot);
    }
    queue.NotifyListChanged();
    return slot;
}

int AddOrContinue(EngineContext& ctx, DownloadQueue& queue, AddRequest& request, QString& why) {
    DownloadListState& list = ctx.list;
    request.url = EncodeUrl(request.url);
    const ParsedUrl parsed = ParseUrl(request.url);
    if (parsed.status != UrlValid) {
        why = QStringLiteral("not an http://, https:// or ftp:// address");
        return 0;
    }
    int slot = FindActiveDuplicate(list, request.url);
    if (slot > 0 && queue.hasSession(slot)) {
        return slot;
    }
    if (slot > 0 && StateOf(list.DownloadList.at(slot)) != ListEntryState::Finished) {
        qCInfo(lcQueue, "slot %d: continue %s", slot,
               qUtf8Printable(LoggedAddress(list.DownloadList.at(slot))));
    } else {
        // An entry an earlier run finished is asked of the server anew, on its own slot: the
        // session then finds that file whole if it still is (EngineContext::finishedFiles).
        slot = slot > 0 ? slot : ChooseFreeSlot(list);
        if (slot == 0) {
            why = QStringLiteral("the download list is full");
            return 0;
        }
        FillNewRecord(list.DownloadList[slot], parsed, request.url, request.updateFlag,
                      request.savePath);
    }
    ApplyTypedLogin(list.DownloadList[slot], request);
    ApplyBrowserContext(list.DownloadList[slot], request);
    ApplyGivenChecksum(list.DownloadList[slot], request);
    if (request.deferFlag != 0) {
        queue.NotifyListChanged();
        return slot;
    }
    queue.Restart(slot);
    const DownloadRecord* r = list.record(slot);
    request.deferFlag = r != nullptr && InQueue(*r) ? -1 : 0;
    return slot;
}
