#include "ui/download_window/window_texts.h"

#include <algorithm>
#include <cmath>

#include "core/download_list/records.h"
#include "core/text/format.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"

QString DurationText(float seconds, const TextTable& texts) {
    if (!(seconds >= 0)) {
        return {};
    }
    // Beyond any real download; keeps the conversion defined for an absurd estimate.
    constexpr double Longest = 9.0e15;
    const auto s = static_cast<std::int64_t>(std::floor(std::min<double>(seconds, Longest)));
    const std::int64_t h = s / 3600;
    const std::int64_t m = (s / 60) % 60;
    const std::int64_t sec = s % 60;
    const QString tail = QString::number(sec) + u' ' + texts.text(6);
    if (h == 0 && m == 0) {
        return tail;
    }
    const QString minutes = QString::number(m) + u' ' + texts.text(5) + u' ' + tail;
    if (h == 0) {
        return minutes;
    }
    return QString::number(h) + u' ' + texts.text(4) + u' ' + minutes;
}

QString CaptionText(float percent, const QString& fileName, const TextTable& texts) {
    return FormatPercent(percent, texts) + QStringLiteral("% ") + texts.text(675) + u' ' +
           DecodeUrl(fileName + u' ' + texts.text(676));
}

QString SegmentStateText(std::int16_t state, const TextTable& texts) {
    switch (state) {
        case SegmentState::Idle:
            return texts.text(525);
        case SegmentState::Connecting:
            return texts.text(524);
        case SegmentState::Receiving:
            return texts.text(526);
        case SegmentState::Complete:
            return texts.text(527);
        case SegmentState::Paused:
            return texts.text(528);
        case SegmentState::FtpLoggedIn:
            return texts.text(672);
        case SegmentState::FtpTransferRequested:
            return texts.text(673);
        case SegmentState::FtpWaiting:
            return texts.text(674);
        default:
            return {};
    }
}
