#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <cstdio>
#include <string>

#include "cli/get_options.h"

namespace {

// The line without its line end ("\n" or "\r\n").
QString WithoutLineEnd(QByteArray line) {
    if (line.endsWith('\n')) {
        line.chop(1);
    }
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    return QString::fromLocal8Bit(line);
}

// One line of standard input; on a terminal the typing is not echoed, and echo comes back
// whatever happens.
bool ReadStandardInputLine(QByteArray& line) {
    termios saved{};
    const bool terminal = ::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        std::fputs("Password: ", stderr);
        std::fflush(stderr);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string read;
    int c = 0;
    while ((c = std::getchar()) != EOF && c != '\n') {
        read.push_back(char(c));
    }
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    line = QByteArray::fromStdString(read);
    return c == '\n' || !read.empty();
}

// The first line of the file given to `option`; false with `error` saying it cannot be read.
bool ReadFirstLine(const QString& option, const QString& path, QByteArray& line, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: cannot read \"%2\"").arg(option, path);
        return false;
    }
    line = file.readLine();
    return true;
}

}  // namespace

bool ReadPassword(GetOptions& options, QString& error) {
    QByteArray line;
    if (!options.proxyPasswordFile.isEmpty()) {
        if (!ReadFirstLine(QStringLiteral("--proxy-password-file"), options.proxyPasswordFile, line,
                           error)) {
            return false;
        }
        options.proxy->password = WithoutLineEnd(line);
    }
    if (!options.passwordFile.isEmpty()) {
        if (!ReadFirstLine(QStringLiteral("--password-file"), options.passwordFile, line, error)) {
            return false;
        }
    } else if (options.askPassword) {
        if (!ReadStandardInputLine(line)) {
            error = QStringLiteral("--ask-password: no line on standard input");
            return false;
        }
    } else {
        return true;
    }
    options.password = WithoutLineEnd(line);
    if (options.password.isEmpty()) {
        error = QStringLiteral("the password given is empty");
        return false;
    }
    return true;
}
