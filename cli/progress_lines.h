#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

struct DownloadRecord;
class TextTable;

// One download's line: its name, percentage and bytes of the size; its rate and time left once
// the rate is known (`rate`, nothing before); how many segments receive.
QString ProgressLine(const DownloadRecord& r, std::optional<double> rate, int receiving,
                     const TextTable& texts);
// A finished file being hashed for its check: "big.iso: checking SHA-256 45 %".
QString HashingLine(const DownloadRecord& r, std::int64_t done, std::int64_t total);

// One progress line per download on a terminal, redrawn in place; nothing when the stream is
// not a terminal or the user asked for quiet.
class ProgressLines {
public:
    explicit ProgressLines(bool enabled);
    void draw(const QStringList& lines);
    // Removes the drawn lines, so that ordinary output continues cleanly.
    void clear();

private:
    bool enabled_;
    int drawn_ = 0;
};
