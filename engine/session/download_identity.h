#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

#include "core/download_list/file_identity.h"

struct ResponseHead;

// The version of the file a probe's answer names: its strong ETag, its date, its size (-1
// when not known). `noRestart` is the entry's, never the server's.
FileIdentity IdentityOf(const ResponseHead& head, std::int64_t size);

// What If-Range sends for `identity`: the strong ETag, else the date in HTTP's form ("Sun, 06
// Nov 1994 08:49:37 GMT"); empty when neither is known, and no If-Range then goes.
QByteArray IfRangeValue(const FileIdentity& identity);

// The probe of a resumed download found another version than the one its bytes are of: another
// size, another strong ETag (or none where there was one), or, where neither side has an ETag,
// another date. Nothing known on one side proves nothing.
bool ProbeShowsChange(const FileIdentity& was, const FileIdentity& now);

// The answer is a web page (text/html, with or without a charset).
bool WebPageAnswer(const ResponseHead& head);
// The file being fetched may itself be a web page: its name says so, or its first answer was
// one and was taken as the file. A text/html answer is then no refusal.
bool PageExpected(const FileIdentity& identity, const QString& fileName);

// What a segment's answer (a 200 or a 206) says of the file being fetched.
enum class SegmentVerdict : std::uint8_t {
    Same,     // nothing says it changed
    Changed,  // a 200 to a request with If-Range, or a 206 naming another total size
    WebPage,  // text/html where a file that is no page was being fetched
};
// `recordedSize` is -1 while the size is not known.
SegmentVerdict JudgeSegmentAnswer(const ResponseHead& head, const QByteArray& headBytes,
                                  bool ifRangeSent, std::int64_t recordedSize, bool pageExpected);
