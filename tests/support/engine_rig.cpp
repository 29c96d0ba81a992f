#include "tests/support/engine_rig.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "core/download_list/part_layout.h"

EngineRig::EngineRig(EngineRigOptions options)
    : EngineRig(std::make_unique<Sandbox>(), QString(), options) {}

EngineRig::EngineRig(const QString& root, EngineRigOptions options)
    : EngineRig(nullptr, root, options) {}

EngineRig::EngineRig(std::unique_ptr<Sandbox> box, const QString& root, EngineRigOptions options)
    : box_(std::move(box)),
      root_(box_ ? box_->path() : root),
      store(file(QStringLiteral("Velmora.ini"))),
      ctx{list,
          file(QStringLiteral("Brenloft.dat")),
          settings,
          texts,
          sockets,
          files,
          prompts,
          actions,
          [this](const QString& url) { opened << url; },
          [this] { actions.calls << QStringLiteral("endProgram"); },
          0} {
    EXPECT_TRUE(QDir().mkpath(downloads()) && QDir().mkpath(temp())) << root_.toStdString();
    LoadSettings(settings, store, root_);
    settings.DownloadFolder = downloads();
    settings.TempFolder = temp();
    settings.AutoPreviewZIP = FlagFalse;
    EXPECT_TRUE(
        LoadLanguage(texts, QStringLiteral("english"), {SourcePath(QStringLiteral("data/lang"))}));
    sockets.StartSockets();
    if (options.pumpSockets) {
        QObject::connect(&pump_, &QTimer::timeout, [this] { sockets.PumpSockets(); });
        pump_.start(500);
    }
}

EngineRig::~EngineRig() {
    pump_.stop();
    sockets.StopSockets();
    files.VelmoraCloseAll();
}

QStringList EngineRig::partFiles(int slot) {
    QStringList paths;
    for (int i = 1; i <= record(slot).SegmentCount; ++i) {
        paths << record(slot).Segments.at(i)->PartFile;
    }
    return paths;
}

QByteArray StoredPart(const DownloadRecord& r, int j) {
    const SegmentRecord& s = *r.Segments.at(j);
    QFile file(s.PartFile);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(RangeOffsetInFile(r, s))) {
        return {};
    }
    return file.read(StoredBytes(s));
}
