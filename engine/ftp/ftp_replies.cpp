#include "engine/ftp/ftp_replies.h"

namespace {

// The code of a line that starts with three digits, else 0.
int LeadingCode(const QByteArray& line) {
    if (line.size() < 3) {
        return 0;
    }
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        const char c = line[i];
        if (c < '0' || c > '9') {
            return 0;
        }
        code = code * 10 + (c - '0');
    }
    return code;
}

}  // namespace

QByteArray FtpReply::firstLine() const {
    const qsizetype end = text.indexOf('\n');
    return end < 0 ? text : text.left(end);
}

void FtpReplyReader::reset() {
    pending_.clear();
    multiText_.clear();
    multiCode_ = 0;
    overflow_ = false;
}

bool FtpReplyReader::feed(const QByteArray& bytes, std::vector<FtpReply>& replies) {
    if (overflow_) {
        return false;
    }
    pending_ += bytes;
    qsizetype from = 0;
    for (;;) {
        // Servers end lines with CR LF; a bare LF is taken as the same end.
        const qsizetype lf = pending_.indexOf('\n', from);
        if (lf < 0) {
            break;
        }
        qsizetype end = lf;
        if (end > from && pending_[end - 1] == '\r') {
            --end;
        }
        const QByteArray line = pending_.mid(from, end - from);
        from = lf + 1;
        const int code = LeadingCode(line);
        if (multiCode_ != 0) {
            multiText_ += '\n';
            multiText_ += line;
            // Only "<same code> " closes a multi-line reply; any other line belongs inside it.
            if (code == multiCode_ && (line.size() == 3 || line[3] == ' ')) {
                replies.push_back(FtpReply{multiCode_, multiText_});
                multiCode_ = 0;
                multiText_.clear();
            }
            if (multiText_.size() > MaxReplyBytes) {
                overflow_ = true;
                return false;
            }
            continue;
        }
        if (code != 0 && line.size() > 3 && line[3] == '-') {
            multiCode_ = code;
            multiText_ = line;
            continue;
        }
        replies.push_back(FtpReply{code, line});
    }
    pending_.remove(0, from);
    if (pending_.size() > MaxReplyBytes) {
        overflow_ = true;
        return false;
    }
    return true;
}
