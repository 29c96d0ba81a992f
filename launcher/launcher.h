#pragma once

#include <QString>

#include "launcher/native_message.h"

// What became of handing one address to Brenloft.
struct Delivery {
    enum class Kind {
        Answered,     // IEURL answered `result`
        CallFailed,   // the service was there but the call failed
        Started,      // no bus or no service: Brenloft was started with the address
        Unreachable,  // neither the bus nor a start reached it; `error` says why
    };
    Kind kind = Kind::Unreachable;
    int result = 0;
    QString error;
};

// Calls IEURL over the session bus; where no bus or no service can take the call, starts
// Brenloft with the address as its command line instead.
Delivery Deliver(const QString& url);
// What the extension sent: an address alone goes as Deliver does; one from the link menu goes
// to MenuURL with its page and cookies, and so does a download, unless IEURL would refuse its
// address (answered 0 without a call). A Brenloft started without a bus gets the address
// alone: a command line is no place for cookies.
Delivery Deliver(const NativeMessage::Request& request);

// The launcher's two ways of running; each returns the exit code.
// A browser handed over `commandLine` (never empty): one delivery, whose answer is of no use
// to anyone. Fails only when nothing could reach Brenloft.
int RunUrlMode(const QString& commandLine);
// Serves the Brenloft extension's messages on stdin and stdout.
int RunNativeMessagingHost();
