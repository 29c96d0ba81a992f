#include "archive/remote/preview_failure_text.h"

#include "core/text/text_table.h"

namespace {

// A translation may leave the detail out.
QString Fill(const QString& text, const QString& detail) {
    return text.contains(QStringLiteral("%1")) ? text.arg(detail) : text;
}

}  // namespace

QString RemoteFailureReason(const RemoteArchiveFailure& failure, const TextTable& texts) {
    using Reason = RemoteArchiveFailure::Reason;
    int number = 839;
    switch (failure.reason) {
        case Reason::NoRanges:
            number = 835;
            break;
        case Reason::WrongRange:
            number = 836;
            break;
        case Reason::ServerError:
            number = 837;
            break;
        case Reason::NoAnswer:
            number = 838;
            break;
        case Reason::Connection:
            number = 839;
            break;
        case Reason::Damaged:
            number = 840;
            break;
        case Reason::Disk:
            number = 841;
            break;
    }
    return Fill(texts.text(number), failure.detail);
}

QString PreviewFailureText(const RemoteArchiveFailure& failure, const TextTable& texts) {
    return Fill(texts.text(834), RemoteFailureReason(failure, texts));
}
