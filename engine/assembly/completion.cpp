#include "engine/assembly/completion.h"

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/settings/settings.h"
#include "engine/completion/completion_actions.h"
#include "engine/engine_context.h"

namespace {

bool Pending(const DownloadRecord& record) {
    const ListEntryState state = StateOf(record);
    return state == ListEntryState::Running || (Unfinished(record) && InQueue(record));
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
