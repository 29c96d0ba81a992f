#pragma once

#include <QString>
#include <optional>

#include "core/download_list/download_list.h"
#include "core/urls/url_origin.h"

// The stored form of a login password: for the byte c at 1-based position i, c - 32 + i as
// two upper-case hexadecimal digits. Nothing when a value falls outside 00..FF.
std::optional<QString> ScramblePassword(const QString& password);
QString UnscramblePassword(const QString& scrambled);

enum class SaveLoginResult { Saved, PasswordNotStorable, SaveFailed };

// The key a login is remembered under: its origin, "http://h:8080" (see OriginText). Keys of
// older lists are a bare host name, and stand for that host's http:// on port 80; older code
// compares the whole key with a host name, so it never sends a login kept under a new key.
QString SiteLoginKey(const UrlOrigin& origin);

// Remembers user and password for `site` (exact, case-sensitive match, else a new slot) and
// saves the list. A password that cannot be scrambled is refused and nothing changes.
SaveLoginResult SaveSiteLogin(DownloadListState& list, const QString& listPath, const QString& site,
                              const QString& user, const QString& password);

// Puts the login remembered for the record's origin into the record's UserName and Password;
// failing that, one remembered for the same host's http:// on port 80 when the record is its
// https:// on port 443 (never the other way). Returns whether one was found.
bool ApplySiteLogin(DownloadListState& list, int slot);
