// SPDX-License-Identifier: GPL-3.0-or-later
// The per-user settings store: named text values in one key. Integers are
// decimal text, Booleans "1"/"0"; a missing value or a bad integer reads as
// the caller's default.
#pragma once

#include <QSettings>
#include <QString>

#include <memory>

class SettingsStore {
public:
    // The user's own store (organisation "Korvane", application "Sondrel").
    SettingsStore();
    // A store in an INI file of its own (tests, portable use).
    explicit SettingsStore(const QString& iniPath);
    ~SettingsStore();

    int ReadInteger(const QString& name, int def) const;
    bool ReadBool(const QString& name, bool def) const;
    QString ReadString(const QString& name, const QString& def = QString()) const;

    void WriteInteger(const QString& name, int value);
    void WriteBool(const QString& name, bool value);
    void WriteString(const QString& name, const QString& value);

    bool Contains(const QString& name) const;
    // Writes pending values and keeps the file readable by its owner only
    // (it holds the proxy password).
    void Sync();
    QString FileName() const;

private:
    std::unique_ptr<QSettings> settings_;
};
