#pragma once

#include <QSettings>
#include <QString>
#include <memory>
#include <optional>

// The per-user key-value store: sections "Options" and "Windows", every value a text.
// An INI file, by default $XDG_CONFIG_HOME/Velmora/Velmora.ini.
class SettingsStore {
public:
    SettingsStore();                              // the user's store
    explicit SettingsStore(const QString& path);  // a store of its own (tests, tools)

    std::optional<QString> read(const QString& section, const QString& key) const;
    void write(const QString& section, const QString& key, const QString& value);
    // Writes pending changes to disk; false when the file could not be written.
    bool sync();
    QString path() const { return settings_->fileName(); }

private:
    std::unique_ptr<QSettings> settings_;
};
