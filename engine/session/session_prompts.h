#pragma once

#include <QString>
#include <functional>

// Questions and messages a download needs of its user. Answers come back later through the
// continuation, never by spinning an event loop inside a socket handler. The desktop program
// shows real windows; the command-line front end and tests answer from a script.
class SessionPrompts {
public:
    enum class Icon { Information, Warning, Critical, Question };
    struct Credentials {
        bool ok = false;  // "OK"; anything else cancels
        QString user;
        QString password;
        bool keepPassword = false;
    };

    virtual ~SessionPrompts() = default;
    virtual void showMessage(const QString& text, Icon icon) = 0;
    // Which button Enter presses: No where a hasty Enter must not do something unsafe.
    enum class Preferred { Yes, No };
    virtual void askYesNo(const QString& text, std::function<void(bool yes)> answer,
                          Preferred preferred = Preferred::Yes) = 0;
    virtual void askCredentials(const QString& caption, const QString& url, const QString& user,
                                const QString& password,
                                std::function<void(const Credentials&)> answer) = 0;
};
