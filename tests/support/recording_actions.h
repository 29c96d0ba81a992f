#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "engine/completion/completion_actions.h"

// What a finished download did outside the program, recorded in order ("start", "hangUp",
// "powerOff"): nothing is started, hung up or powered off for real.
class RecordingActions : public CompletionActions {
public:
    QStringList calls;
    std::vector<QStringList> started;  // each program started, followed by its arguments

    bool startDetached(const QString& program, const QStringList& arguments) override {
        calls << QStringLiteral("start");
        started.push_back(QStringList{program} + arguments);
        return true;
    }
    void hangUpDialUp() override { calls << QStringLiteral("hangUp"); }
    void powerOff() override { calls << QStringLiteral("powerOff"); }
};
