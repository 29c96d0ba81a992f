#pragma once

// The FTP reply codes a download acts on, by what they mean to it.
namespace FtpCode {
constexpr int OpeningData = 150;       // RETR: the transfer starts, maybe naming its size
constexpr int CommandOk = 200;         // TYPE
constexpr int FileStatus = 213;        // SIZE
constexpr int ServiceReady = 220;      // the greeting
constexpr int TransferComplete = 226;  // the data connection carried the whole transfer
constexpr int EnteringPassive = 227;   // PASV, with the data connection's address
constexpr int ExtendedPassive = 229;   // EPSV, with the data connection's port
constexpr int LoggedIn = 230;          // USER or PASS accepted
constexpr int FileActionOk = 250;      // CWD
constexpr int PathCreated = 257;       // PWD, with the login directory
constexpr int NeedPassword = 331;      // USER accepted, PASS next
constexpr int PendingFurther = 350;    // REST accepted
constexpr int NotAvailable = 421;      // no session to spare
constexpr int SyntaxError = 500;       // unknown command
constexpr int ArgumentError = 501;     // refused argument
constexpr int NotImplemented = 502;    // unknown command
constexpr int ArgumentNotImplemented = 504;
constexpr int NotLoggedIn = 530;      // a refused login, or too many sessions
constexpr int FileUnavailable = 550;  // no such file or folder
}  // namespace FtpCode
