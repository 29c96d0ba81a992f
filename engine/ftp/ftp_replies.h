#pragma once

#include <QByteArray>
#include <vector>

// One complete server reply: its three-digit code (0 when the text starts with none) and its
// text, the lines of a multi-line reply joined with "\n", line ends removed.
struct FtpReply {
    int code = 0;
    QByteArray text;
    // The reply's first line, where the single-line values (sizes, addresses, paths) stand.
    QByteArray firstLine() const;
};

// Gathers a control connection's bytes into replies. A reply is taken only once its line end
// has arrived, and "123-" ... "123 " counts as one reply, so a reply split over reads or spread
// over lines is acted on once.
class FtpReplyReader {
public:
    // A reply longer than this is no FTP server's: the connection is given up.
    static constexpr qsizetype MaxReplyBytes = 64 * 1024;

    // Appends the bytes and moves every completed reply to `replies`. False when the pending
    // reply outgrew MaxReplyBytes; the reader is then unusable until reset().
    bool feed(const QByteArray& bytes, std::vector<FtpReply>& replies);
    void reset();

private:
    QByteArray pending_;    // bytes after the last line end
    QByteArray multiText_;  // lines of an unfinished multi-line reply
    int multiCode_ = 0;     // its code, 0 when none is open
    bool overflow_ = false;
};
