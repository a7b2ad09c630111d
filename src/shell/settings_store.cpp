// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/settings_store.h"

#include <QFile>

SettingsStore::SettingsStore()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            QStringLiteral("Korvane"), QStringLiteral("Sondrel"))) {
}

SettingsStore::SettingsStore(const QString& iniPath)
    : settings_(std::make_unique<QSettings>(iniPath, QSettings::IniFormat)) {}

SettingsStore::~SettingsStore() {
    Sync();
}

int SettingsStore::ReadInteger(const QString& name, int def) const {
    const QVariant v = settings_->value(name);
    if (!v.isValid())
        return def;
    bool ok = false;
    const int n = v.toString().trimmed().toInt(&ok, 10);
    return ok ? n : def;
}

bool SettingsStore::ReadBool(const QString& name, bool def) const {
    return ReadInteger(name, def ? 1 : 0) != 0;
}

QString SettingsStore::ReadString(const QString& name, const QString& def) const {
    const QVariant v = settings_->value(name);
    return v.isValid() ? v.toString() : def;
}

void SettingsStore::WriteInteger(const QString& name, int value) {
    settings_->setValue(name, QString::number(value));
}

void SettingsStore::WriteBool(const QString& name, bool value) {
    settings_->setValue(name, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void SettingsStore::WriteString(const QString& name, const QString& value) {
    settings_->setValue(name, value);
}

bool SettingsStore::Contains(const QString& name) const {
    return settings_->contains(name);
}

void SettingsStore::Sync() {
    settings_->sync();
    const QString file = settings_->fileName();
    if (QFile::exists(file)) {
        QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
}

QString SettingsStore::FileName() const {
    return settings_->fileName();
}
