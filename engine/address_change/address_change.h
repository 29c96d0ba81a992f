#pragma once

#include <QString>
#include <QStringList>
#include <vector>

struct DownloadListState;
struct DownloadRecord;

// An unfinished download may go on from another address of the same file: a signed link that
// expired, a mirror. Only an address SameFileCheck found the same may be given to it.

// The download stopped because its address no longer gives the file: the server refused it
// (403, 404, 410) or gave a web page (an expired link's page, a login page a redirect led to),
// with bytes received that a new address may continue from.
bool LinkExpired(const DownloadRecord& r);

// Puts `newUrl` in place of the entry's address; the old one joins its earlier addresses
// (oldest first, the last few kept). The file's name, its save path, its bytes and the version
// they are of stay; the Referer and the browser's cookies are those handed over with the new
// address (none: the old ones go, they were the old address's). False, changing nothing, for
// an address that cannot be used. The entry must not be running.
bool ChangeAddress(DownloadRecord& r, const QString& newUrl, const QString& referer = {},
                   const QString& cookie = {});

// The addresses the entry had before, oldest first, as stored (encoded).
QStringList EarlierAddresses(const DownloadRecord& r);

// The unfinished entries, not running, with bytes received, that `newUrl` may be another
// address of: another address whose file name is the entry's, or on the entry's host, or on
// the host of the page it came from (`referer`, when handed over). Best first: a name match
// before a host match, then the most recently added. Empty for an address the list already has.
std::vector<int> ContinuationCandidates(const DownloadListState& list, const QString& newUrl,
                                        const QString& referer = {});
