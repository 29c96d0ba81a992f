#pragma once

// What a benchmark's engine needs answered and does not want done: no question is asked,
// nothing is started, hung up or powered off.

#include <functional>

#include "engine/completion/completion_actions.h"
#include "engine/session/session_prompts.h"

class NoPrompts : public SessionPrompts {
public:
    void showMessage(const QString&, Icon) override {}
    void askYesNo(const QString&, std::function<void(bool)> answer, Preferred) override {
        answer(false);
    }
    void askCredentials(const QString&, const QString&, const QString&, const QString&,
                        std::function<void(const Credentials&)> answer) override {
        answer(Credentials{});
    }
};

class NoActions : public CompletionActions {
public:
    bool startDetached(const QString&, const QStringList&) override { return false; }
    void hangUpDialUp() override {}
    void powerOff() override {}
};
