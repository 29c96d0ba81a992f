#include "integration/system/link_handover.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include "core/diagnostics/log_categories.h"
#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/urls/parse_url.h"
#include "engine/queue/download_queue.h"

LinkHandover::LinkHandover(Told told, QObject* parent) : QObject(parent), told_(std::move(told)) {}

void LinkHandover::handOver(const QString& link, OtherProgramLink kind) {
    auto* query = new QProcess(this);
    query->setProgram(QStringLiteral("xdg-mime"));
    query->setArguments({QStringLiteral("query"), QStringLiteral("default"), HandlerTypeOf(kind)});
    query->setStandardInputFile(QProcess::nullDevice());
    connect(query, &QProcess::finished, this,
            [this, query, link, kind](int code, QProcess::ExitStatus status) {
                const QString answer = QString::fromLocal8Bit(query->readAllStandardOutput());
                query->deleteLater();
                const bool named = status == QProcess::NormalExit && code == 0;
                open(link, kind, named ? answer.section(u'\n', 0, 0).trimmed() : QString());
            });
    // A query that cannot start never finishes.
    connect(query, &QProcess::errorOccurred, this,
            [this, query, link, kind](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart) {
                    qCWarning(lcUi) << "xdg-mime:" << query->errorString();
                    query->deleteLater();
                    open(link, kind, {});
                }
            });
    query->start();
}

void LinkHandover::open(const QString& link, OtherProgramLink kind, const QString& desktopId) {
    const QString shown = UrlForDisplay(link);
    if (desktopId.isEmpty()) {
        qCInfo(lcUi) << "no program takes" << HandlerTypeOf(kind) << "for" << shown;
        told_(link, kind, {});
        return;
    }
    if (!QProcess::startDetached(QStringLiteral("xdg-open"), {link})) {
        qCWarning(lcUi) << "xdg-open could not start for" << shown;
        told_(link, kind, {});
        return;
    }
    qCInfo(lcUi) << shown << "handed to" << desktopId;
    told_(link, kind, ProgramName(desktopId));
}

void LinkHandover::followFinishedTorrents(DownloadQueue& queue, DownloadListState& list) {
    connect(&queue, &DownloadQueue::sessionEnded, this, [this, &list](int slot) {
        const DownloadRecord* r = list.record(slot);
        if (r != nullptr && StateOf(*r) == ListEntryState::Finished &&
            LinkForOtherProgram(r->Url) == OtherProgramLink::TorrentAddress) {
            handOver(r->SavePath, OtherProgramLink::TorrentFile);
        }
    });
}

QString LinkHandover::ProgramName(const QString& desktopId) {
    QFile entry(QStandardPaths::locate(QStandardPaths::ApplicationsLocation, desktopId));
    bool inMainGroup = false;
    if (entry.open(QIODevice::ReadOnly | QIODevice::Text)) {
        while (!entry.atEnd()) {
            const QString line = QString::fromUtf8(entry.readLine()).trimmed();
            if (line.startsWith(u'[')) {
                inMainGroup = line == QLatin1String("[Desktop Entry]");
            } else if (inMainGroup && line.startsWith(QLatin1String("Name="))) {
                return line.mid(5).trimmed();
            }
        }
    }
    QString id = desktopId;
    id.chop(id.endsWith(QLatin1String(".desktop")) ? 8 : 0);
    return id;
}
