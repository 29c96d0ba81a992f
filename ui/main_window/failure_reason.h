#pragma once

#include <QString>

class TextTable;

// What a session's end tells the user: the socket errors the engine reports by number get the
// language's words (an unknown host, a refusal, no answer); any other reason (an HTTP status,
// a certificate, a full disk) is shown as the engine wrote it. Empty for a plain close.
QString FailureReason(const QString& why, const TextTable& texts);
