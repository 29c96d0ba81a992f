#pragma once

#include <QString>

struct DownloadRecord;

// What a browser hands over with an address (MenuURL): the page the link was on and the
// cookies the browser holds for the link. Brenloft sends them as the browser would, so a
// server that checks them gives Brenloft the file it would give the browser.

// The page's address as a Referer carries it: http:// or https:// only, without a fragment or
// a login; empty for anything else (a local file, a browser's own page).
QString HandedReferer(const QString& page);

// The record's stored form of cookies that came with `url` (the record's Reserved5, which
// the list file keeps for its owner only and no window shows): the scheme and host they
// belong to, a line feed, the Cookie header's value. Empty when there are none, when the
// address is not http:// or https://, or when they are longer than any server would take.
QString KeptCookie(const QString& url, const QString& cookie);

// The Cookie header's value for the record's next request, or empty: a cookie goes only to the
// host it came from (a redirect to another host leaves it behind), and one that came from an
// https:// address only over https://.
QString CookieToSend(const DownloadRecord& record);
