#pragma once

#include <QString>

class TextTable;
struct ResponseHead;

// The reasons a session gives for ending that are not socket errors, as the engine logs them.
// The words are fixed: FailureReason finds them to show them in the user's language.
namespace SessionReason {
inline constexpr char NoConnection[] = "no connection";
inline constexpr char ClosedWithoutAnswer[] = "the server closed the connection without an answer";
inline constexpr char NotHttp[] = "the server's answer is not HTTP";
inline constexpr char NeedsLogin[] = "the server asks for a user name and password";
inline constexpr char WebPage[] = "the address is a web page (text/html), not a file";
inline constexpr char TooManyRedirects[] = "too many redirects (more than %1)";
inline constexpr char BadHeaderLine[] =
    "the server's answer has a header line with a blank before its colon";
inline constexpr char Compressed[] = "the server sent the file compressed (%1) though not asked to";
// The watchdog reconnected as often as the settings allow and nothing came.
inline constexpr char NoAnswer[] = "the server does not answer";
}  // namespace SessionReason

// What a session's end tells the user: the socket errors the engine reports by number and the
// engine's own reasons above get the language's words (an unknown host, a refusal, no answer);
// any other reason (a certificate, a full disk, a server's message) is shown as it came. Empty
// for a plain close.
QString FailureReason(const QString& why, const TextTable& texts);

// What a download says while the watchdog reconnects to a server that sends nothing: the
// attempt (1 for the first) and why, "Reconnecting (attempt 3): the server does not answer".
QString ReconnectingWords(int attempt, const TextTable& texts);

// Interface text `number`, or the engine's English words where a language file lacks it.
QString Worded(const TextTable& texts, int number, const QString& english);

// The reason an answer's body is not taken as the file's bytes because it comes in an encoding
// the program did not ask for (anything but none or "identity"); empty when it is plain.
QString UnaskedEncoding(const ResponseHead& head);
