#include "core/settings/settings_store.h"

SettingsStore::SettingsStore()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                            QStringLiteral("Velmora"), QStringLiteral("Velmora"))) {
}

SettingsStore::SettingsStore(const QString& path)
    : settings_(std::make_unique<QSettings>(path, QSettings::IniFormat)) {}

std::optional<QString> SettingsStore::read(const QString& section, const QString& key) const {
    const QVariant value = settings_->value(section + u'/' + key);
    if (!value.isValid()) {
        return std::nullopt;
    }
    // An unquoted value with commas, as a hand-edited file may hold, reads back as a list.
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(u',');
    }
    return value.toString();
}

void SettingsStore::write(const QString& section, const QString& key, const QString& value) {
    settings_->setValue(section + u'/' + key, value);
}

bool SettingsStore::sync() {
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}
