#pragma once

#include <QString>
#include <cstdint>
#include <optional>

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
// The server's file is another version than the one whose bytes the download holds.
inline constexpr char FileChanged[] = "the file on the server changed since the download began";
// A web page came where the file's bytes were due (an expired link, a login page).
inline constexpr char NowWebPage[] = "the address now gives a web page";
// The plain HTTP proxy answered 407: no login is set for it, or it refused the one sent.
inline constexpr char ProxyNeedsLogin[] =
    "the proxy asks for a login: give its user and password in the Proxy options";
inline constexpr char ProxyRefusedLogin[] = "the proxy refused the login";
}  // namespace SessionReason

// Why a download failed, as its entry keeps it in the list file (MarkFailed): a number, so that
// the language files word it, after a restart and after a change of language alike.
namespace FailureCode {
inline constexpr std::int16_t None = 0;
// 100 to 599: the HTTP status the server answered, as it is.
// 1000 + the FTP server's reply code (1530, 1550).
inline constexpr std::int16_t FtpReplyBase = 1000;
// The engine's own reasons.
inline constexpr std::int16_t HostNotFound = 2001;
inline constexpr std::int16_t ConnectionRefused = 2002;
inline constexpr std::int16_t NoAnswer = 2003;
inline constexpr std::int16_t HostUnreachable = 2004;
inline constexpr std::int16_t NoConnection = 2005;
inline constexpr std::int16_t ClosedWithoutAnswer = 2006;
inline constexpr std::int16_t NotHttp = 2007;
inline constexpr std::int16_t NeedsLogin = 2008;
inline constexpr std::int16_t WebPage = 2009;
inline constexpr std::int16_t TooManyRedirects = 2010;
inline constexpr std::int16_t StoppedAnswering = 2011;  // the watchdog's tries ran out
inline constexpr std::int16_t FileChanged = 2012;
inline constexpr std::int16_t NowWebPage = 2013;
inline constexpr std::int16_t ProxyNeedsLogin = 2014;
inline constexpr std::int16_t ProxyRefusedLogin = 2015;
}  // namespace FailureCode

std::int16_t HttpFailureCode(int status);
std::int16_t FtpFailureCode(int reply);
// The code of a reason the session ended with (an engine reason above, a socket error), or
// None for one the table does not know (it is then shown only until the program ends).
std::int16_t FailureCodeFor(const QString& why);
// The words of a stored code in the language of `texts` (English where it lacks them): "the
// server answered 404 Not Found". Empty for None or a code no version of the program stores.
QString FailureWords(std::int16_t code, const TextTable& texts);
// The same in the engine's English, for the log and brenloft-get.
QString FailureWords(std::int16_t code);

// The socket error number a reason names ("connection refused (10061)"), if it is one.
std::optional<std::int32_t> SocketErrorIn(const QString& why);

// What a session's end tells the user, in the language of `texts`: the socket errors (their
// words, then their number), the engine's own reasons above and those that carry a path, a
// host or a count (a full disk, a join that failed, the proxy's refusal) are worded anew; any
// other reason (a certificate, a server's message) is shown as it came. Empty for a plain
// close.
QString FailureReason(const QString& why, const TextTable& texts);

// What a download says while the watchdog reconnects to a server that sends nothing: the
// attempt (1 for the first) and why, "Reconnecting (attempt 3): the server does not answer".
QString ReconnectingWords(int attempt, const TextTable& texts);

// Interface text `number`, or the engine's English words where a language file lacks it.
QString Worded(const TextTable& texts, int number, const QString& english);

// The reason an answer's body is not taken as the file's bytes because it comes in an encoding
// the program did not ask for (anything but none or "identity"); empty when it is plain.
QString UnaskedEncoding(const ResponseHead& head);
