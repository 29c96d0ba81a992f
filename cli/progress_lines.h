#pragma once

#include <QString>
#include <QStringList>

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
