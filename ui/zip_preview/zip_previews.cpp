#include "ui/zip_preview/zip_previews.h"

#include <QApplication>
#include <QFileInfo>
#include <QTimer>

#include "archive/member_path.h"
#include "archive/remote/preview_failure_text.h"
#include "archive/remote/zip_member_fetch.h"
#include "archive/unzip_archive.h"
#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/text/format.h"
#include "core/text/text_table.h"
#include "engine/session/zip_preview_rule.h"
#include "ui/zip_preview/extract_window.h"
#include "ui/zip_preview/gui_unzip_prompts.h"
#include "ui/zip_preview/zip_preview_window.h"

struct ZipPreviews::Extraction {
    std::unique_ptr<GuiUnzipPrompts> prompts;
    std::unique_ptr<ZipMemberFetch> fetch;
};

ZipPreviews::ZipPreviews(VelmoraSockets& sockets, const Settings& settings, const TextTable& texts,
                         DownloadListState& list, Hooks hooks)
    : sockets_(sockets),
      settings_(settings),
      texts_(texts),
      list_(list),
      hooks_(std::move(hooks)) {}

ZipPreviews::~ZipPreviews() {
    fetches_.clear();
    for (auto& [slot, window] : windows_) {
        delete window.data();
    }
}

Form2* ZipPreviews::window(int slot) const {
    const auto it = windows_.find(slot);
    return it == windows_.end() ? nullptr : it->second.data();
}

QList<QWidget*> ZipPreviews::openWindows() const {
    QList<QWidget*> open;
    for (const auto& [slot, window] : windows_) {
        if (!window.isNull()) {
            open.append(window.data());
        }
    }
    return open;
}

bool ZipPreviews::open(int slot) {
    const DownloadRecord* r = list_.record(slot);
    if (r == nullptr || !CanPreviewZip(*r)) {
        return false;
    }
    if (Form2* open = window(slot)) {
        open->show();
        open->raise();
        open->activateWindow();
        return true;
    }
    auto* form = new Form2(sockets_, settings_, texts_, nullptr, proxyResolver());
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->SetIndex(slot);
    windows_[slot] = form;
    QObject::connect(form, &Form2::downloadClassicChosen, form,
                     [this](int index) { hooks_.continueDownload(index); });
    QObject::connect(form, &Form2::closedWithoutClassic, form,
                     [this](int index) { hooks_.pauseWaiting(index); });
    QObject::connect(form, &Form2::previewFailed, form,
                     [this, form](int index, const QString& why) {
                         // The download goes on as if the preview had never been asked for.
                         hooks_.tell(why, true);
                         hooks_.continueDownload(index);
                         form->close();
                     });
    QObject::connect(
        form, &Form2::extractChosen, form, [this](int index, const QList<ZipEntry>& members) {
            auto* chooser = new Extract(texts_, hooks_.defaultFolder());
            chooser->setAttribute(Qt::WA_DeleteOnClose);
            QObject::connect(chooser, &Extract::answered, chooser, [this, chooser, index, members] {
                if (chooser->Answer == 1) {
                    extract(index, members, chooser->path);
                }
                chooser->deleteLater();
            });
            chooser->show();
        });
    // By the time it is destroyed, the window's guard reads empty.
    QObject::connect(form, &QObject::destroyed, this, [this, slot] {
        const auto it = windows_.find(slot);
        if (it != windows_.end() && it->second.isNull()) {
            windows_.erase(it);
        }
    });
    form->Start(RemoteArchive::fromRecord(*r));
    form->show();
    return true;
}

void ZipPreviews::extract(int slot, const QList<ZipEntry>& members, const QString& folder) {
    const DownloadRecord* r = list_.record(slot);
    if (r == nullptr) {
        return;
    }
    if (StateOf(*r) == ListEntryState::Finished && QFileInfo(r->SavePath).isFile()) {
        unpack(slot, r->SavePath, members, folder);
    } else if (!members.isEmpty()) {
        fetch(slot, members, folder);
    } else {
        // Extract ALL before the archive is here: the segments fetch it, then it is unpacked.
        pendingFolders_[slot] = folder;
        hooks_.tell(texts_.text(845).arg(folder), false);
        hooks_.continueDownload(slot);
        if (Form2* form = window(slot)) {
            form->close();
        }
    }
}

void ZipPreviews::downloadFinished(int slot, const QString& savePath) {
    const auto it = pendingFolders_.find(slot);
    if (it == pendingFolders_.end()) {
        return;
    }
    const QString folder = it->second;
    pendingFolders_.erase(it);
    unpack(slot, savePath, {}, folder);
}

void ZipPreviews::unpack(int slot, const QString& archive, const QList<ZipEntry>& members,
                         const QString& folder) {
    Form2* form = window(slot);
    const QString working = texts_.text(847).arg(folder);
    if (form != nullptr) {
        form->setStatus(working);
    }
    GuiUnzipPrompts prompts(form);
    UnzipResult total;
    // The unpacking holds the program until it ends; the cursor says so.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // Each call takes a bounded list of names: many members go in several calls.
    qsizetype next = 0;
    do {
        UnzipOptions options;
        options.archivePath = archive;
        options.targetFolder = folder;
        options.recreateFolders = 1;
        options.askBeforeOverwriting = 1;  // a file already there is the user's to keep
        for (; next < members.size() && options.includeNames.size() < UnzipOptions::kMaxNames;
             ++next) {
            options.includeNames.append(ExactNamePattern(members[next].name));
        }
        UnzipResult part = UnzipArchive(options, prompts);
        total.code = std::max(total.code, part.code);
        total.messages += part.messages;
        total.members += part.members;
    } while (next < members.size());
    QApplication::restoreOverrideCursor();
    report(slot, total, folder);
}

void ZipPreviews::fetch(int slot, const QList<ZipEntry>& members, const QString& folder) {
    const DownloadRecord* r = list_.record(slot);
    if (r == nullptr || fetches_.contains(slot)) {
        return;
    }
    auto extraction = std::make_unique<Extraction>();
    extraction->prompts = std::make_unique<GuiUnzipPrompts>(window(slot));
    extraction->fetch = std::make_unique<ZipMemberFetch>(sockets_, settings_, *extraction->prompts,
                                                         nullptr, proxyResolver());
    ZipMemberFetch* fetch = extraction->fetch.get();
    QObject::connect(
        fetch, &ZipMemberFetch::progress, fetch, [this, slot](qint64 done, qint64 all) {
            if (Form2* form = window(slot)) {
                form->setStatus(texts_.text(842).arg(FormatSize(Currency::fromBytes(done), texts_),
                                                     FormatSize(Currency::fromBytes(all), texts_)));
            }
        });
    QObject::connect(fetch, &ZipMemberFetch::finished, fetch,
                     [this, slot, folder](const UnzipResult& result) {
                         report(slot, result, folder);
                         dropFetch(slot);
                     });
    QObject::connect(
        fetch, &ZipMemberFetch::failed, fetch, [this, slot](const RemoteArchiveFailure& failure) {
            const QString why = texts_.text(846).arg(RemoteFailureReason(failure, texts_));
            if (Form2* form = window(slot)) {
                form->setStatus(why);
            }
            hooks_.tell(why, true);
            dropFetch(slot);
        });
    fetches_[slot] = std::move(extraction);
    fetch->Start(RemoteArchive::fromRecord(*r), members, folder, true, false);
}

void ZipPreviews::dropFetch(int slot) {
    // Not from inside the fetch's own signal.
    QTimer::singleShot(0, this, [this, slot] { fetches_.erase(slot); });
}

void ZipPreviews::report(int slot, const UnzipResult& result, const QString& folder) {
    QString text = result.code == UnzipCode::kOk
                       ? texts_.text(843).arg(QString::number(result.members.size()), folder)
                       : texts_.text(844).arg(result.code);
    if (Form2* form = window(slot)) {
        form->setStatus(text);
    }
    if (!result.messages.isEmpty()) {
        text += u'\n' + result.messages.join(u'\n');
    }
    hooks_.tell(text, result.code != UnzipCode::kOk);
}

ProxyResolver* ZipPreviews::proxyResolver() const {
    return hooks_.proxyResolver ? hooks_.proxyResolver() : nullptr;
}
