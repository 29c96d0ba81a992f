#pragma once

#include <QString>

#include "core/diagnostics/log_categories.h"
#include "core/download_list/records.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"

// An entry's address as the queue's log lines show it: decoded, a password in it hidden.
inline QString LoggedAddress(const DownloadRecord& record) {
    return UrlForDisplay(DecodeUrl(record.Url));
}
