// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's side of the lyrics and pictures windows: the tag
// editor's components and lyrics buffer, the file list's rows and the
// progress window, as MediaHost offers them.
#pragma once

#include "media/media_host.h"

class FileList;
class ProgressSink;
class SettingsStore;
class TagEditor;

class MediaLink : public MediaHost {
public:
    MediaLink(FileList* list, TagEditor* editor, ProgressSink* progress,
              SettingsStore* store = nullptr)
        : list_(list), editor_(editor), progress_(progress), store_(store) {}

    sondrel::TagBridge& Bridge() override;
    std::string CurrentFile() const override;
    std::vector<std::string> SelectedFiles() const override;
    void ShowFile(const std::string& path) override;
    void Deselect(const std::string& path) override;
    QString Lyrics() const override;
    void SetLyrics(const QString& text) override;
    bool ReadsVersion1Only() const override;
    QString ReadSetting(const QString& name, const QString& def) const override;
    void WriteSetting(const QString& name, const QString& value) override;
    void StartProgress(int max) override;
    void StepProgress() override;
    void FinishProgress() override;
    bool ProgressRunning() const override;

private:
    int RowOf(const std::string& path) const;

    FileList* list_;
    TagEditor* editor_;
    ProgressSink* progress_;
    SettingsStore* store_;
};
