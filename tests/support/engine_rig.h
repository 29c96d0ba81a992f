#pragma once

// A whole engine for a test, wired as the programs wire it: list, settings, English texts,
// sockets and part files over a folder with "downloads/" and "temp/", questions answered from
// a script, completion actions recorded. A second rig on the same folder is the program
// started again.

#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>

#include "core/download_list/download_list.h"
#include "core/settings/settings.h"
#include "core/settings/settings_store.h"
#include "core/text/text_table.h"
#include "engine/engine_context.h"
#include "engine/files/segment_files.h"
#include "net/socket_module.h"
#include "tests/support/recording_actions.h"
#include "tests/support/sandbox.h"
#include "tests/support/scripted_prompts.h"

// The bytes segment j's part file holds for it, as far as its record counts them (fewer when
// the file is shorter): its range's first bytes, wherever the layout puts them.
QByteArray StoredPart(const DownloadRecord& r, int j);

struct EngineRigOptions {
    // The sockets pumped every 500 ms, as the program's tick does; off where the window under
    // test keeps time itself.
    bool pumpSockets = true;
};

class EngineRig {
public:
    // In a sandbox of its own.
    explicit EngineRig(EngineRigOptions options = {});
    // In `root`, which outlives the rig.
    explicit EngineRig(const QString& root, EngineRigOptions options = {});
    EngineRig(const EngineRig&) = delete;
    EngineRig& operator=(const EngineRig&) = delete;
    ~EngineRig();

    QString root() const { return root_; }
    QString file(const QString& name) const { return root_ + u'/' + name; }
    QString downloads() const { return file(QStringLiteral("downloads/")); }
    QString temp() const { return file(QStringLiteral("temp/")); }
    QString listPath() const { return ctx.listPath; }
    DownloadRecord& record(int slot) { return list.DownloadList[slot]; }
    // The part files the entry's segments name, in order.
    QStringList partFiles(int slot);

private:
    EngineRig(std::unique_ptr<Sandbox> box, const QString& root, EngineRigOptions options);

    // First, so that the folder is there before anything is made in it.
    std::unique_ptr<Sandbox> box_;
    QString root_;

public:
    DownloadListState list;
    SettingsStore store;  // "Velmora.ini" in the folder; what the settings were loaded from
    Settings settings;
    TextTable texts;
    VelmoraSockets sockets;
    SegmentFiles files;
    ScriptedSessionPrompts prompts;
    RecordingActions actions;  // ending the program is recorded there too, as "endProgram"
    QStringList opened;        // what the engine asked the desktop to open
    EngineContext ctx;

private:
    QTimer pump_;
};
