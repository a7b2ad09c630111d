// SPDX-License-Identifier: GPL-3.0-or-later
// What the lyrics and pictures windows need from the main window: the tag
// editor's components and lyrics buffer, the file list's current file and
// selection, and the progress window. The main window implements it; tests
// give a small one of their own.
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "editor/format_bridge.h"

class MediaHost {
public:
    virtual ~MediaHost() = default;

    // The tag editor's components: picture edits and saves go through them.
    virtual sondrel::TagBridge& Bridge() = 0;
    // The file the main window shows; empty when none.
    virtual std::string CurrentFile() const = 0;
    // Selected files in list order.
    virtual std::vector<std::string> SelectedFiles() const = 0;
    // Makes `path` the current row and reads it into the editor.
    virtual void ShowFile(const std::string& path) = 0;
    virtual void Deselect(const std::string& path) = 0;
    // The tag editor's lyrics buffer, saved with the tag.
    virtual QString Lyrics() const = 0;
    virtual void SetLyrics(const QString& text) = 0;
    // The windows' own settings (place, dialog folders) by name; a host
    // without settings keeps nothing.
    virtual QString ReadSetting(const QString& name, const QString& def) const {
        (void)name;
        return def;
    }
    virtual void WriteSetting(const QString& name, const QString& value) {
        (void)name;
        (void)value;
    }
    // "Read Tag" at version 1: no pictures are shown.
    virtual bool ReadsVersion1Only() const { return false; }

    virtual void StartProgress(int max) = 0;
    virtual void StepProgress() = 0;
    virtual void FinishProgress() = 0;
    // False once the user pressed Stop.
    virtual bool ProgressRunning() const = 0;
};
