#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

// The values FTP replies carry and the commands that go back, as bytes on the wire.

// The password sent for the user "anonymous": an address in e-mail form, as servers ask.
inline constexpr char kAnonymousPassword[] = "user@brenloft.example";

struct PassiveAddress {
    QString host;  // the four numbers joined with "."
    int port = 0;
};

// The address of a "227" reply: the numbers between its first "(" and the next ")" (or, for a
// server that leaves out the parentheses, the numbers after the code). Port = (5th mod 256) *
// 256 + (6th mod 256), each rounded down. Nothing when fewer than six numbers or port 0.
std::optional<PassiveAddress> ParsePassiveReply(const QByteArray& line);

// The command that asks for a passive data connection, by the address the control connection
// reached: PASV answers with an IPv4 address, so over IPv6 the server is asked for a port alone.
const char* PassiveCommand(const QString& peerAddress);

// The port of a "229" reply: "(|||6446|)", with any delimiter in place of "|"; the host is
// empty (the data connection goes where the control connection went). Nothing when the text
// between the parentheses is not of that form or the port is not 1 to 65535.
std::optional<PassiveAddress> ParseExtendedPassiveReply(const QByteArray& line);

// The directory of a "257" reply: the text between its first and last double quote, one
// trailing "/" removed; empty when the line quotes nothing.
QByteArray PwdDirectory(const QByteArray& line);

// The size a "213" reply gives: the number after its first blank; 0 when there is none.
std::int64_t SizeReplyValue(const QByteArray& line);

// The size a "150" reply may give: the number after its last "("; 0 when there is none.
std::int64_t OpeningReplySize(const QByteArray& line);

// A path of a download address as the server names it: percent escapes decoded to bytes.
QByteArray FtpPathBytes(const QString& urlPath);

// One command line: the verb, a blank and the argument when there is one, then CR LF. Line
// ends and NUL bytes are removed from the argument, so no value can add a command.
QByteArray FtpCommand(const char* verb, const QByteArray& argument = QByteArray());
