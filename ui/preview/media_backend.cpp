#include "ui/preview/media_backend.h"

#include <QByteArray>
#include <QtGlobal>

void UseGStreamerMedia() {
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND")) {
        qputenv("QT_MEDIA_BACKEND", QByteArrayLiteral("gstreamer"));
    }
}
