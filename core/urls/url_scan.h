#pragma once

#include <QString>
#include <QStringList>

// Addresses in text dropped on the program (the basket, the download list) or in any other
// text a user hands over without choosing one address.

// Every "http://" address in order of position, then every "https://" one, then every "ftp://"
// one; the schemes are
// matched with exact case. An address runs from its scheme to the first blank after it, or,
// when no blank follows anywhere, to the first CR LF after it, or to the end of the text. The
// search goes on one character after each match, so an address quoted inside another one
// counts again on its own.
QStringList ScanDroppedUrls(const QString& text);

// A text/uri-list: every line but the "#" comments goes through ScanDroppedUrls, in order.
QStringList ScanUriList(const QString& list);
