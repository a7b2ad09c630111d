// SPDX-License-Identifier: GPL-3.0-or-later
// A MediaHost over its own TagBridge: the current file, the selection, the
// lyrics buffer and a progress count, as the main window would keep them.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "media/media_host.h"

namespace sondrel::test {

class TestHost : public MediaHost {
public:
    TagBridge bridge;
    std::string current;
    std::vector<std::string> selected;
    QString lyrics;
    int lyricsSets = 0;
    int progressMax = -1;
    int steps = 0;
    bool finished = false;
    bool running = true;
    int stopAfterSteps = -1;  // the user presses Stop after this many steps
    bool version1Only = false;
    std::map<QString, QString> settings;  // what ReadSetting and WriteSetting reach

    TagBridge& Bridge() override { return bridge; }
    std::string CurrentFile() const override { return current; }
    std::vector<std::string> SelectedFiles() const override { return selected; }
    void ShowFile(const std::string& path) override {
        current = path;
        bridge.Read(path);
        lyrics = QString::fromStdString(bridge.Hub().text);
    }
    void Deselect(const std::string& path) override {
        selected.erase(std::remove(selected.begin(), selected.end(), path), selected.end());
    }
    QString Lyrics() const override { return lyrics; }
    void SetLyrics(const QString& text) override {
        lyrics = text;
        ++lyricsSets;
    }
    bool ReadsVersion1Only() const override { return version1Only; }
    QString ReadSetting(const QString& name, const QString& def) const override {
        const auto it = settings.find(name);
        return it == settings.end() ? def : it->second;
    }
    void WriteSetting(const QString& name, const QString& value) override {
        settings[name] = value;
    }
    void StartProgress(int max) override {
        progressMax = max;
        steps = 0;
        finished = false;
        running = true;
    }
    void StepProgress() override {
        ++steps;
        if (steps == stopAfterSteps)
            running = false;
    }
    void FinishProgress() override { finished = true; }
    bool ProgressRunning() const override { return running; }
};

}  // namespace sondrel::test
