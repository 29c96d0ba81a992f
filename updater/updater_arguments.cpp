#include "updater/updater_arguments.h"

#include <algorithm>
#include <array>

namespace {

bool Known(const QString& name) {
    static constexpr std::array<const char16_t*, 4> kNames = {u"--from", u"--program",
                                                              u"--wait-pid", u"--language"};
    return std::any_of(kNames.begin(), kNames.end(),
                       [&](const char16_t* known) { return name == QStringView(known); });
}

}  // namespace

QStringList UpdaterArguments::toList() const {
    return {QStringLiteral("--from"),     packageFolder,
            QStringLiteral("--program"),  program,
            QStringLiteral("--wait-pid"), QString::number(waitPid),
            QStringLiteral("--language"), language};
}

std::optional<UpdaterArguments> UpdaterArguments::fromList(const QStringList& arguments,
                                                           QString& why) {
    UpdaterArguments parsed;
    bool pidGiven = false;
    for (qsizetype i = 0; i < arguments.size(); i += 2) {
        const QString& name = arguments[i];
        if (!Known(name)) {
            why = QStringLiteral("unknown argument %1").arg(name);
            return std::nullopt;
        }
        if (i + 1 >= arguments.size()) {
            why = QStringLiteral("%1 has no value").arg(name);
            return std::nullopt;
        }
        const QString& value = arguments[i + 1];
        if (name == u"--from") {
            parsed.packageFolder = value;
        } else if (name == u"--program") {
            parsed.program = value;
        } else if (name == u"--wait-pid") {
            bool ok = false;
            parsed.waitPid = value.toLongLong(&ok);
            if (!ok || parsed.waitPid < 0) {
                why = QStringLiteral("--wait-pid takes a process id, not %1").arg(value);
                return std::nullopt;
            }
            pidGiven = true;
        } else {
            parsed.language = value;
        }
    }
    if (parsed.packageFolder.isEmpty() || parsed.program.isEmpty() || !pidGiven) {
        why = QStringLiteral("--from, --program and --wait-pid are needed");
        return std::nullopt;
    }
    return parsed;
}

QString UpdaterArguments::unknownName(const QStringList& arguments) {
    for (qsizetype i = 0; i < arguments.size(); i += 2) {
        if (!Known(arguments[i])) {
            return arguments[i];
        }
    }
    return {};
}
