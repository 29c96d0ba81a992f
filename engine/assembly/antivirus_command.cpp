#include "engine/assembly/antivirus_command.h"

#include <QFileInfo>
#include <QProcess>

#include "core/download_list/records.h"
#include "core/settings/settings.h"
#include "engine/completion/completion_actions.h"

namespace {
const QString Placeholder = QStringLiteral("%F");
}

QStringList AntivirusArguments(const QString& command, const QString& target) {
    QStringList words = QProcess::splitCommand(command);
    if (words.isEmpty()) {
        return words;
    }
    // The program itself is left alone: a "%F" there would run the downloaded file.
    bool placed = false;
    for (qsizetype i = 1; i < words.size(); ++i) {
        if (words[i].contains(Placeholder)) {
            words[i].replace(Placeholder, target);
            placed = true;
        }
    }
    if (!placed) {
        words.append(target);
    }
    return words;
}

QString CommandWord(const QString& word) {
    const bool plain =
        !word.isEmpty() && !word.contains(u' ') && !word.contains(u'\t') && !word.contains(u'"');
    if (plain) {
        return word;
    }
    // Inside quotes, splitCommand reads three quotes in a row as one literal quote.
    QString quoted = word;
    quoted.replace(u'"', QStringLiteral("\"\"\""));
    return u'"' + quoted + u'"';
}

void RunAntivirus(const Settings& settings, CompletionActions& actions, const QString& target) {
    if (settings.UseAntiVirus != FlagTrue) {
        return;
    }
    // An absolute path can never be mistaken for one of the scanner's options.
    QStringList words =
        AntivirusArguments(settings.AntiVirusCommand, QFileInfo(target).absoluteFilePath());
    if (words.isEmpty()) {
        return;
    }
    const QString program = words.takeFirst();
    actions.startDetached(program, words);
}
