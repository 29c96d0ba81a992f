#include "integration/browsers/context_menu.h"

#include "core/settings/browser_hook_files.h"

bool SetContextMenu(bool on, const QString& applicationFolder) {
    return WriteContextMenuFile(applicationFolder, on);
}
