#pragma once

#include <QString>

// The remote control's secret kept in `path` (in the work folder): the one written there, or a
// new one written the first time, readable by the user alone (0600). Empty with `error` saying
// why when the file can be neither read nor written.
QString KeptRpcSecret(const QString& path, QString& error);
