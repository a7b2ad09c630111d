// SPDX-License-Identifier: GPL-3.0-or-later
// The options window. Its controls are the live settings: the rest of the
// program reads them through the getters when it needs an option.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class SettingsStore;

class OptionsWindow : public QDialog {
    Q_OBJECT
public:
    // The eleven CDDB-over-HTTP servers offered; the last is the default. The
    // box also takes a server typed in: with a scheme it is used as it is, a
    // bare host means http on port 80.
    static const QStringList& FreeDbServers();

    OptionsWindow(SettingsStore& store, QWidget* parent = nullptr);

    void LoadSettings();
    void SaveSettings();
    // Called by "&OK" after SaveSettings (the main window applies the options).
    std::function<void()> processSettings;

    // Live options.
    bool ShowErrors() const;
    bool AutoSave() const;
    int TrackIndex() const;
    bool PermanentDelete() const;
    bool UseTrayIcon() const;
    bool SaveHistory() const;
    int FocusAfterSave() const;
    bool UsePatterns() const;
    bool UseProxy() const;
    QString ProxyServer() const;
    QString ProxyPort() const;
    QString ProxyUser() const;
    QString ProxyPassword() const;
    bool ApproximateImageSearch() const;
    QString FreeDbServer() const;
    // The user's address sent in FreeDB's "hello"; empty until given.
    QString FreeDbEmail() const;
    // The web-services host of store site 0 (US), 1 (UK) or 2 (DE).
    QString StoreHost(int site) const;
    // The open services' hosts: 0 MusicBrainz, 1 the Cover Art Archive,
    // 2 LRCLIB (with their scheme; the service's own when the box is empty).
    QString ServiceHost(int service) const;
    bool ShowHint() const;
    bool StretchPicture() const;
    bool TopText() const;
    bool TopInfo() const;
    bool PopupHint() const;
    bool TopPictures() const;
    bool MoveWindows() const;
    bool ShowSelectedSubfolders() const;
    bool SnapWindows() const;
    bool SelectFileOnPopup() const;
    QString WinAmpPath() const;
    int PlayFiles() const;  // 0 "WinAmp 2.x", 1 "WinAmp 3.x*", 2 "Installed program"
    bool AssociateFolders() const;
    bool AssociateFilesMP3() const;
    bool AskBeforeDiscard() const;
    // The code page of 8-bit tag texts, by the core's name for it.
    QString CodePage() const;

    QTabWidget* pages() const { return pages_; }
    QPushButton* btnOK() const { return btnOK_; }

private:
    struct BoolOption {
        const char* name;
        bool def;
        QCheckBox* box;
    };
    QCheckBox* AddCheck(QWidget* page, const char* objectName, const QString& caption,
                        const char* setting, bool def);
    void BuildGeneral();
    void BuildView();
    void BuildWinAmp();
    void BuildLookups();
    void OnOK();
    void showEvent(QShowEvent* event) override;

    SettingsStore& store_;
    std::vector<BoolOption> bools_;
    QTabWidget* pages_ = nullptr;
    QPushButton* btnOK_ = nullptr;
    QPushButton* btnClose_ = nullptr;

    QCheckBox* cbShowError_ = nullptr;
    QCheckBox* cbAutoSave_ = nullptr;
    QComboBox* cbTrackIndex_ = nullptr;
    QCheckBox* cbRecycleBin_ = nullptr;
    QCheckBox* cbUseTrayIcon_ = nullptr;
    QCheckBox* cbSaveHistory_ = nullptr;
    QComboBox* cbFocus_ = nullptr;
    QCheckBox* cbUsePatterns_ = nullptr;
    QCheckBox* cbUseProxy_ = nullptr;
    QLineEdit* edServer_ = nullptr;
    QSpinBox* edPort_ = nullptr;
    QLineEdit* edUser_ = nullptr;
    QLineEdit* edPassword_ = nullptr;
    QCheckBox* cbAproximateSearch_ = nullptr;
    QComboBox* cbFreeDB_ = nullptr;
    QLineEdit* edFreeDbEmail_ = nullptr;
    QLineEdit* edStoreHost_[3] = {nullptr, nullptr, nullptr};
    QLineEdit* edServiceHost_[3] = {nullptr, nullptr, nullptr};
    QCheckBox* cbShowHint_ = nullptr;
    QCheckBox* cbStretchPicture_ = nullptr;
    QCheckBox* cbTopText_ = nullptr;
    QCheckBox* cbTopInfo_ = nullptr;
    QCheckBox* cbPopupHint_ = nullptr;
    QCheckBox* cbTopPictures_ = nullptr;
    QCheckBox* cbMoveWindows_ = nullptr;
    QCheckBox* cbShowSelectedSubfolders_ = nullptr;
    QCheckBox* cbSnapWindows_ = nullptr;
    QCheckBox* cbSelectFile_ = nullptr;
    QLineEdit* edWinAmp_ = nullptr;
    QRadioButton* rbPlay_[3] = {nullptr, nullptr, nullptr};
    QCheckBox* cbAssociateFolders_ = nullptr;
    QCheckBox* cbAssociateFilesMP3_ = nullptr;
    QCheckBox* cbAskUnsaved_ = nullptr;
    QComboBox* cbCodePage_ = nullptr;
};
