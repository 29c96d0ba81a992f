#pragma once

#include <QLoggingCategory>

// What a support question needs to follow one download, by layer: connects and look-ups
// (net), requests, status lines, retries, watchdog restarts and joins (engine), starts, queues
// and list commands (queue), what the windows do (ui). Debug and info lines are off unless a
// front end's verbose switch or QT_LOGGING_RULES turns them on; none ever holds a password or
// a cookie (addresses go through UrlForDisplay).
Q_DECLARE_LOGGING_CATEGORY(lcNet)
Q_DECLARE_LOGGING_CATEGORY(lcEngine)
Q_DECLARE_LOGGING_CATEGORY(lcQueue)
Q_DECLARE_LOGGING_CATEGORY(lcUi)

// The front ends' -v / --verbose: every brenloft category on, one timestamped line per event.
// QT_LOGGING_RULES and QT_MESSAGE_PATTERN still take precedence, as Qt has them.
void EnableVerboseLogging();

// Log lines often quote a server (status lines, reasons, file names): every control character
// in them reaches the terminal escaped, so no server can move the cursor or retitle it.
void ShowLogLinesEscaped();
