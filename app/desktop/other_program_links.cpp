#include "app/desktop/other_program_links.h"

#include "core/text/text_table.h"
#include "engine/engine_context.h"

namespace {

constexpr int HandedToText = 1501;
constexpr int NoMagnetProgramText = 1502;
constexpr int NoTorrentProgramText = 1503;

}  // namespace

std::unique_ptr<LinkHandover> HandLinksToOtherPrograms(EngineContext& ctx, DownloadQueue& queue,
                                                       std::function<void(const QString&)> status,
                                                       std::function<void(const QString&)> warn) {
    const TextTable& texts = ctx.texts;
    auto links = std::make_unique<LinkHandover>(
        [&texts, status = std::move(status), warn = std::move(warn)](
            const QString&, OtherProgramLink kind, const QString& program) {
            if (!program.isEmpty()) {
                status(texts.text(HandedToText).arg(program));
            } else {
                warn(texts.text(kind == OtherProgramLink::Magnet ? NoMagnetProgramText
                                                                 : NoTorrentProgramText));
            }
        });
    LinkHandover* handover = links.get();
    ctx.handOverLink = [handover](const QString& link) {
        handover->handOver(link, LinkForOtherProgram(link));
    };
    handover->followFinishedTorrents(queue, ctx.list);
    return links;
}
