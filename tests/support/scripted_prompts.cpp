#include "tests/support/scripted_prompts.h"

#include <QTimer>

void ScriptedSessionPrompts::showMessage(const QString& text, Icon) {
    messages << text;
}

void ScriptedSessionPrompts::askYesNo(const QString& text, std::function<void(bool)> answer,
                                      Preferred preferred) {
    questions << text;
    preferredAnswers.push_back(preferred);
    const bool yes = NextAnswer(yesNo, "question", text);
    QTimer::singleShot(0, [answer, yes] { answer(yes); });
}

void ScriptedSessionPrompts::askCredentials(const QString& caption, const QString& url,
                                            const QString&, const QString&,
                                            std::function<void(const Credentials&)> answer) {
    credentialCaptions << caption;
    credentialUrls << url;
    const Credentials given = NextAnswer(credentials, "credentials prompt", caption);
    QTimer::singleShot(0, [answer, given] { answer(given); });
}

void ScriptedAddPrompts::showError(const QString& text) {
    errors << text;
}

std::optional<QString> ScriptedAddPrompts::askSavePath(const QString& title,
                                                       const QString& proposedName,
                                                       const QString& filter) {
    saveTitles << title;
    proposedNames << proposedName;
    filters << filter;
    return NextAnswer(savePaths, "save dialog", title);
}

bool ScriptedAddPrompts::askYesNo(const QString& text) {
    questions << text;
    return NextAnswer(answers, "question", text);
}
