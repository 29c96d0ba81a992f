#pragma once

#include <QString>
#include <memory>

class DownloadQueue;
class RemoteControl;
struct EngineContext;
struct GetOptions;

// brenloft-get --enable-rpc's remote control over its queue: with the secret given, or the one
// kept in the work folder (made the first time), listening as the options say. Tells on
// stderr where it listens and which secret clients give. Null with `error` saying why it
// cannot listen (the port taken, a certificate that does not load, the secret file).
std::unique_ptr<RemoteControl> StartRemoteControl(const GetOptions& options,
                                                  const QString& workFolder, EngineContext& context,
                                                  DownloadQueue& queue, QString& error);
