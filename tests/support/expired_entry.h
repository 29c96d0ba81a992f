#pragma once

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "tests/support/http_fault_server.h"
#include "tests/support/test_files.h"

// As the list holds a download of the fault server's `expire-...` address `url` whose link ran
// out after `received` of `size` bytes: one segment, its part file holding those bytes, failed
// with the server's 403.
inline DownloadRecord ExpiredSignedEntry(const QString& url, qsizetype size, qsizetype received,
                                         const QString& partFile) {
    DownloadRecord r;
    r.FileName = url.mid(url.lastIndexOf(u'/') + 1);
    r.Url = url;
    r.HostName = QStringLiteral("127.0.0.1");
    r.Port = url.section(u':', 2).section(u'/', 0, 0).toInt();
    r.UrlPath = url.mid(url.indexOf(u'/', 8));
    r.Active = FlagTrue;
    r.DateAdded = OleDate::today();
    r.FileSize = Currency::fromBytes(size);
    r.BytesDone = Currency::fromBytes(received);
    r.Percent = float(received * 100 / size);
    r.RangesSupported = FlagTrue;
    r.SegmentCount = 1;
    r.Segments.redim(1);
    SegmentRecord& s = *r.Segments.at(1);
    s.PartFile = partFile;
    s.Length = r.FileSize;
    s.EndPos = Currency::fromBytes(size - 1);
    s.Received = r.BytesDone;
    s.InPlan = FlagTrue;
    WriteFile(partFile, HttpFaultServer::Body(QStringLiteral("signed"), size).left(received));
    MarkFailed(r, 403);  // the failure code of an HTTP status is the status
    return r;
}
