#include "integration/desktop/download_end.h"

#include <QStringList>
#include <algorithm>

#include "core/text/text_table.h"

namespace {

// A group names this many files; the rest are counted.
constexpr int kNamesShown = 5;

struct KindTexts {
    DownloadEnd::Kind kind;
    int one;   // "1 download finished"
    int many;  // "%1 downloads finished"
};

constexpr KindTexts kKinds[] = {
    {DownloadEnd::Kind::Finished, 1465, 1462},
    {DownloadEnd::Kind::Failed, 1466, 1463},
    {DownloadEnd::Kind::ChecksumFailed, 1467, 1464},
};

QString Plain(const QString& text, bool markup) {
    return markup ? text.toHtmlEscaped() : text;
}

EndsNotice DescribeOne(const DownloadEnd& end, const TextTable& texts, bool markup) {
    switch (end.kind) {
        case DownloadEnd::Kind::Finished:
            return {texts.text(1460), Plain(end.name, markup)};
        case DownloadEnd::Kind::Failed:
            return {texts.text(1461), Plain(end.name + u'\n' + end.reason, markup)};
        case DownloadEnd::Kind::ChecksumFailed:
            return {texts.text(1357), Plain(end.name, markup)};
    }
    return {};
}

}  // namespace

EndsNotice DescribeEnds(const std::vector<DownloadEnd>& ends, const TextTable& texts, bool markup) {
    if (ends.size() == 1) {
        return DescribeOne(ends.front(), texts, markup);
    }
    QStringList counts;
    for (const KindTexts& kind : kKinds) {
        const auto n = std::count_if(ends.begin(), ends.end(),
                                     [&](const DownloadEnd& e) { return e.kind == kind.kind; });
        if (n == 1) {
            counts << texts.text(kind.one);
        } else if (n > 1) {
            counts << texts.text(kind.many).arg(n);
        }
    }
    QStringList names;
    for (const DownloadEnd& end : ends) {
        if (names.size() == kNamesShown) {
            names << texts.text(1471).arg(qsizetype(ends.size()) - kNamesShown);
            break;
        }
        names << end.name;
    }
    return {counts.join(QStringLiteral(", ")), Plain(names.join(u'\n'), markup)};
}
