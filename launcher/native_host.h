#pragma once

#include <QIODevice>
#include <QJsonObject>
#include <QString>
#include <functional>

#include "launcher/native_message.h"

// Answers the messages of one native-messaging stream, in order, until it ends. `answer`
// turns a request for an address into the answer the browser gets, `choices` answers the question
// for the user's choices (an error answer when there is none). A malformed message gets an
// error answer and the host goes on; a length over the limit or a message cut short at the
// end gets one as well, but ends the host, because the stream cannot be found again after it.
// Returns 0 when the stream ended between messages, 1 when it broke or `out` failed.
int ServeNativeMessages(QIODevice& in, QIODevice& out,
                        const std::function<QJsonObject(const NativeMessage::Request&)>& answer,
                        const std::function<QJsonObject()>& choices = {});
