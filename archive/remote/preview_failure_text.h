#pragma once

#include <QString>

#include "archive/remote/remote_archive.h"

class TextTable;

// "Brenloft cannot preview this archive: the server did not answer for 30 seconds".
QString PreviewFailureText(const RemoteArchiveFailure& failure, const TextTable& texts);
// The reason alone, for a member that could not be fetched.
QString RemoteFailureReason(const RemoteArchiveFailure& failure, const TextTable& texts);
