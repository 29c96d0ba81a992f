#pragma once

#include <QHash>
#include <QString>
#include <QStringView>
#include <functional>
#include <vector>

struct DownloadListState;

// The GIDs of the list's entries: 16 lower-case hexadecimal digits each, derived from what the
// entry keeps (the address it was added with, the day it was added, its slot), so that they
// stay the same across restarts and address changes without a field of their own in the list
// file. Built anew for each request: the list may have changed since the last one.
class GidTable {
public:
    // `shown` says which slots a client may see (every entry that is not free, by default).
    explicit GidTable(const DownloadListState& list,
                      const std::function<bool(int slot)>& shown = {});

    // Empty for a slot that is not shown.
    QString gidOf(int slot) const;

    // The slot a GID, or a prefix of one that no other GID shares, names; else a failure in
    // aria2's words ("Invalid GID", "is not found", "is not unique"), thrown as an RpcFailure.
    int find(QStringView gid) const;

private:
    std::vector<QString> gids_;  // by slot; empty where none is shown
    QHash<QString, int> slots_;
};

// The GID an entry would have, before it is made unique within the list (`attempt` > 0 gives
// another one for the same entry).
QString EntryGid(const QString& url, double dateAdded, int slot, int attempt = 0);
