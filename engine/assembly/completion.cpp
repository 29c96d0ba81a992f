#include "engine/assembly/completion.h"

#include "core/download_list/download_list.h"
#include "core/settings/settings.h"
#include "engine/completion/completion_actions.h"
#include "engine/engine_context.h"

namespace {

bool Pending(const DownloadRecord& record) {
    return record.Completed != FlagTrue && record.Active == FlagTrue &&
           (record.Running != 0 || record.Queued != 0);
}

}  // namespace

void RunCompletionActions(EngineContext& ctx) {
    for (int slot = 1; slot <= ctx.list.DownloadCount; ++slot) {
        const DownloadRecord* record = ctx.list.record(slot);
        if (record != nullptr && Pending(*record)) {
            return;
        }
    }
    // Only a true -1 counts: a stray value in a hand-edited options file must not switch the
    // computer off.
    if (ctx.settings.AutoCloseInternet == FlagTrue) {
        ctx.actions.hangUpDialUp();
    }
    if (ctx.settings.AutoShutDownComputer != FlagTrue) {
        return;
    }
    ctx.actions.powerOff();
    if (ctx.endProgram) {
        ctx.endProgram();
    }
}
