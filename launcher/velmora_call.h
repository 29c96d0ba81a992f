#pragma once

#include <QString>

// What became of one call to Brenloft's VelmoraProject.Velmora service.
struct VelmoraCall {
    enum class Outcome {
        Answered,   // `result` is the service's answer (1 for a MenuURL, which has none)
        NoBus,      // no session bus to call on
        NoService,  // the bus knows no one to serve the name and could not start anyone
        Failed,     // the service was there but the call failed (timed out, refused, ...)
    };
    Outcome outcome = Outcome::Failed;
    int result = 0;
    QString error;
};

// Each call lets the bus start Brenloft through its activation file when it is not running,
// and blocks until the answer comes or the call times out.

// IEURL(url): the address alone; Brenloft answers 1 when it took it, 0 when not.
VelmoraCall CallIeUrl(const QString& url);
// MenuURL(url, refURL, cookie): the address with the page it was found on and the browser's
// cookies for it. Brenloft takes any address and reports what it cannot use itself.
VelmoraCall CallMenuUrl(const QString& url, const QString& refURL, const QString& cookie);
