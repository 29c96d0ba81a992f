#pragma once

#include <QString>
#include <optional>

#include "core/download_list/download_list.h"

// The stored form of a login password: for the byte c at 1-based position i, c - 32 + i as
// two upper-case hexadecimal digits. Nothing when a value falls outside 00..FF.
std::optional<QString> ScramblePassword(const QString& password);
QString UnscramblePassword(const QString& scrambled);

enum class SaveLoginResult { Saved, PasswordNotStorable, SaveFailed };

// Remembers user and password for `site` (exact, case-sensitive match, else a new slot) and
// saves the list. A password that cannot be scrambled is refused and nothing changes.
SaveLoginResult SaveSiteLogin(DownloadListState& list, const QString& listPath, const QString& site,
                              const QString& user, const QString& password);

// Puts the first login whose site matches the record's host (any letter case) into the
// record's UserName and Password. Returns whether one was found.
bool ApplySiteLogin(DownloadListState& list, int slot);
