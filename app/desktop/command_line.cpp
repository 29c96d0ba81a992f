#include "app/desktop/command_line.h"

#include <QFileInfo>
#include <QRegularExpression>

#include "core/urls/other_program_link.h"
#include "core/urls/parse_url.h"

StartCommand ReadStartCommand(const QString& commandLine) {
    StartCommand command;
    QString rest = commandLine;
    for (const char* word : {"/silent", "-silent", " -s ", " /s "}) {
        if (rest.contains(QLatin1String(word))) {
            command.silent = true;
        }
    }
    if (command.silent) {
        rest.remove(QStringLiteral("/silent"));
        rest.remove(QStringLiteral("-silent"));
        rest.replace(QStringLiteral(" -s "), QStringLiteral(" "));
        rest.replace(QStringLiteral(" /s "), QStringLiteral(" "));
    }
    // A word of its own: an address may hold "--add" in its path.
    static const QRegularExpression add(QStringLiteral("(^|\\s)--add(?=\\s|$)"));
    if (rest.contains(add)) {
        command.addAddress = true;
        rest.replace(add, QStringLiteral("\\1"));
    }
    static const QRegularExpression noRestart(QStringLiteral("(^|\\s)--no-restart(?=\\s|$)"));
    if (rest.contains(noRestart)) {
        command.noRestart = true;
        rest.replace(noRestart, QStringLiteral("\\1"));
    }
    rest = rest.trimmed();
    rest.remove(u'"');
    if (HasDownloadScheme(rest) || HandedOverAsGiven(rest)) {
        command.url = rest;
    } else {
        command.unused = rest;
    }
    return command;
}

StartArguments ReadStartArguments(const QStringList& arguments) {
    StartArguments read;
    static const QRegularExpression lineBreak(QStringLiteral("[\\r\\n]"));
    for (const QString& argument : arguments) {
        for (const QString& piece : argument.split(lineBreak, Qt::SkipEmptyParts)) {
            // Alone, the short switch has the blank on each side that the whole line needs;
            // "--silent" would leave a "-" behind.
            const QString word = piece.trimmed();
            if (word == u"-s" || word == u"/s" || word == u"--silent") {
                read.silent = true;
                continue;
            }
            const StartCommand command = ReadStartCommand(piece);
            read.silent = read.silent || command.silent;
            read.addAddress = read.addAddress || command.addAddress;
            read.noRestart = read.noRestart || command.noRestart;
            // A .torrent file named from where the start was made: a running program, started
            // elsewhere, finds it only by its whole path.
            if (const QFileInfo file(command.unused);
                command.unused.endsWith(QLatin1String(".torrent"), Qt::CaseInsensitive) &&
                file.isFile()) {
                read.urls.append(file.absoluteFilePath());
            } else if (!command.url.isEmpty()) {
                read.urls.append(command.url);
            } else if (!command.unused.isEmpty()) {
                read.rejected.append(piece);
            }
        }
    }
    return read;
}

QStringList StartArguments::handOffLines() const {
    QStringList lines;
    if (addAddress) {
        lines.append(QStringLiteral("--add"));
    }
    for (const QString& url : urls) {
        lines.append(noRestart ? QStringLiteral("--no-restart ") + url : url);
    }
    return lines;
}

QString UnknownStartOption(const QStringList& arguments) {
    for (const QString& argument : arguments) {
        const bool known = argument == u"--silent" || argument == u"--verbose" ||
                           argument == u"--add" || argument == u"--no-restart" ||
                           argument == u"--help" || argument == u"--version";
        if (argument.startsWith(QLatin1String("--")) && !known) {
            return argument;
        }
    }
    return {};
}
