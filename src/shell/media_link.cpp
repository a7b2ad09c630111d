// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/media_link.h"

#include <QItemSelectionModel>
#include <QListView>

#include "shell/file_list.h"
#include "shell/progress.h"
#include "shell/settings_store.h"
#include "shell/tag_editor.h"

sondrel::TagBridge& MediaLink::Bridge() {
    return editor_->Bridge();
}

int MediaLink::RowOf(const std::string& path) const {
    const FileTableModel& model = list_->FileTable();
    for (int row = 0; row < model.rowCount(); ++row) {
        const FileEntry entry = model.at(row);
        if (entry.IsFile() && entry.Path().toStdString() == path)
            return row;
    }
    return -1;
}

std::string MediaLink::CurrentFile() const {
    const int row = list_->FocusedRow();
    if (row < 0 || row >= list_->FileTable().rowCount())
        return {};
    const FileEntry entry = list_->FileTable().at(row);
    return entry.IsFile() ? entry.Path().toStdString() : std::string();
}

std::vector<std::string> MediaLink::SelectedFiles() const {
    std::vector<std::string> files;
    for (int row : list_->SelectedFileRows())
        files.push_back(list_->FileTable().at(row).Path().toStdString());
    return files;
}

void MediaLink::ShowFile(const std::string& path) {
    const int row = RowOf(path);
    if (row >= 0 && row != list_->FocusedRow())
        list_->lbFile()->selectionModel()->setCurrentIndex(list_->FileTable().index(row),
                                                           QItemSelectionModel::Select);
    editor_->ShowCurrentFile();
}

void MediaLink::Deselect(const std::string& path) {
    const int row = RowOf(path);
    if (row >= 0)
        list_->lbFile()->selectionModel()->select(list_->FileTable().index(row),
                                                  QItemSelectionModel::Deselect);
}

QString MediaLink::Lyrics() const {
    return editor_->LyricsText();
}

void MediaLink::SetLyrics(const QString& text) {
    editor_->setLyricsText(text);
}

bool MediaLink::ReadsVersion1Only() const {
    return editor_->ReadTagChoice() == sondrel::kVersion1;
}

void MediaLink::StartProgress(int max) {
    if (progress_)
        progress_->Start(max);
}

void MediaLink::StepProgress() {
    if (progress_)
        progress_->Step();
}

void MediaLink::FinishProgress() {
    if (progress_) {
        progress_->Finish();
        progress_->RestoreMain(false);
    }
}

bool MediaLink::ProgressRunning() const {
    return !progress_ || progress_->Running();
}

QString MediaLink::ReadSetting(const QString& name, const QString& def) const {
    return store_ ? store_->ReadString(name, def) : def;
}

void MediaLink::WriteSetting(const QString& name, const QString& value) {
    if (store_)
        store_->WriteString(name, value);
}
