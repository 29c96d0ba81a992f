#pragma once

#include <QString>

// What became of one IEURL call to Brenloft's VelmoraProject.Velmora service.
struct IeUrlCall {
    enum class Outcome {
        Answered,   // `result` is the service's answer
        NoBus,      // no session bus to call on
        NoService,  // the bus knows no one to serve the name and could not start anyone
        Failed,     // the service was there but the call failed (timed out, refused, ...)
    };
    Outcome outcome = Outcome::Failed;
    int result = 0;
    QString error;
};

// Calls IEURL(url) on the session bus, letting the bus start Brenloft through its activation
// file when it is not running. Blocks until the answer comes or the call times out.
IeUrlCall CallIeUrl(const QString& url);
