#pragma once

// Answers that tests queue for a program's questions, taken one by one.

#include <gtest/gtest.h>

#include <QString>
#include <deque>
#include <utility>

// The next answer of a script; a question with none queued fails the test and gets
// `otherwise`, the answer that does nothing (no, cancel).
template <typename Answer>
Answer NextAnswer(std::deque<Answer>& script, const char* what, const QString& text,
                  Answer otherwise = Answer{}) {
    if (script.empty()) {
        ADD_FAILURE() << "unexpected " << what << ": " << text.toStdString();
        return otherwise;
    }
    Answer next = std::move(script.front());
    script.pop_front();
    return next;
}
