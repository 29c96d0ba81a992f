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
    return LaunchMode::Url;
}

QString JoinArguments(const QStringList& arguments) {
    return arguments.join(QLatin1Char(' '));
}
