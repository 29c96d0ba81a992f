#include "launcher/launch_mode.h"

LaunchMode DetectLaunchMode(const QStringList& arguments) {
    if (!arguments.isEmpty() &&
        arguments.first().startsWith(QLatin1String("chrome-extension://"))) {
        return LaunchMode::NativeMessaging;
    }
    if (arguments.size() == 2 && arguments.first().startsWith(QLatin1Char('/')) &&
        arguments.first().endsWith(QLatin1String(".json"))) {
        return LaunchMode::NativeMessaging;
    }
    if (!arguments.isEmpty() && arguments.first().startsWith(QLatin1String("--"))) {
        const QString& option = arguments.first();
        if (option == u"--help") {
            return LaunchMode::Help;
        }
        return option == u"--version" ? LaunchMode::Version : LaunchMode::BadOption;
    }
    return LaunchMode::Url;
}

QString JoinArguments(const QStringList& arguments) {
    return arguments.join(QLatin1Char(' '));
}
