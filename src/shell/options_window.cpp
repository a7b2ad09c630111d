// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/options_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "net/cover_art.h"
#include "net/lrclib.h"
#include "net/musicbrainz.h"
#include "net/store_lookup.h"
#include "shell/settings_store.h"
#include "util/codepage.h"
#include "util/paths.h"

namespace {

QString StoreHostKey(int site) {
    static const char* const keys[] = {"StoreHostUS", "StoreHostUK", "StoreHostDE"};
    return QString::fromLatin1(keys[site]);
}

QString DefaultStoreHost(int site) {
    const std::string_view host =
        sondrel::net::store::kDefaultHosts[static_cast<std::size_t>(site)];
    return QString::fromLatin1(host.data(), static_cast<qsizetype>(host.size()));
}

// The settings the open services' hosts are kept under, with the services'
// own addresses as defaults.
struct ServiceHostSetting {
    const char* key;
    const char* box;
    std::string_view fallback;
};
const ServiceHostSetting kServiceHosts[] = {
    {"MusicBrainzHost", "edMusicBrainzHost", sondrel::net::musicbrainz::kDefaultHost},
    {"CoverArtHost", "edCoverArtHost", sondrel::net::coverart::kDefaultHost},
    {"LrclibHost", "edLrclibHost", sondrel::net::lrclib::kDefaultHost},
};

QString DefaultServiceHost(int service) {
    return QString::fromUtf8(kServiceHosts[service].fallback.data(),
                             static_cast<qsizetype>(kServiceHosts[service].fallback.size()));
}

}  // namespace

const QStringList& OptionsWindow::FreeDbServers() {
    static const QStringList servers = {
        QStringLiteral("freedb.freedb.org"),      QStringLiteral("freedb.musicbrainz.org"),
        QStringLiteral("at.freedb.org"),          QStringLiteral("au.freedb.org"),
        QStringLiteral("ca.freedb.org"),          QStringLiteral("de.freedb.org"),
        QStringLiteral("es.freedb.org"),          QStringLiteral("fi.freedb.org"),
        QStringLiteral("ru.freedb.org"),          QStringLiteral("uk.freedb.org"),
        QStringLiteral("https://gnudb.gnudb.org")};
    return servers;
}

OptionsWindow::OptionsWindow(SettingsStore& store, QWidget* parent)
    : QDialog(parent), store_(store) {
    setObjectName(QStringLiteral("fmOptions"));
    setWindowTitle(tr("Options"));
    setModal(true);
    pages_ = new QTabWidget(this);
    pages_->setObjectName(QStringLiteral("pcOptions"));
    BuildGeneral();
    BuildView();
    BuildWinAmp();
    BuildLookups();

    btnOK_ = new QPushButton(tr("&OK"), this);
    btnOK_->setObjectName(QStringLiteral("btnOK"));
    btnOK_->setDefault(true);
    btnClose_ = new QPushButton(tr("Close"), this);
    btnClose_->setObjectName(QStringLiteral("btnClose"));
    btnClose_->setToolTip(tr("Close window"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK_);
    buttons->addWidget(btnClose_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages_);
    layout->addLayout(buttons);
    // Nothing in it grows: a fixed size, so no maximise button is offered.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);

    connect(btnOK_, &QPushButton::clicked, this, &OptionsWindow::OnOK);
    // Close and Esc leave without saving or applying; the edited states stay live.
    connect(btnClose_, &QPushButton::clicked, this, &QDialog::reject);
}

QCheckBox* OptionsWindow::AddCheck(QWidget* page, const char* objectName, const QString& caption,
                                   const char* setting, bool def) {
    auto* box = new QCheckBox(caption, page);
    box->setObjectName(QString::fromLatin1(objectName));
    box->setChecked(def);
    page->layout()->addWidget(box);
    bools_.push_back({setting, def, box});
    return box;
}

void OptionsWindow::BuildGeneral() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsGeneral"));
    auto* layout = new QVBoxLayout(page);
    cbShowError_ = AddCheck(page, "cbShowError", tr("Show errors"), "flShowError", true);
    cbAutoSave_ = AddCheck(page, "cbAutoSave", tr("Auto save for pressing to keys UP or DOWN"),
                           "flAutoSave", false);

    cbAskUnsaved_ =
        AddCheck(page, "cbAskUnsaved", tr("Ask before discarding changes"), "flAskUnsaved", true);

    auto* trackRow = new QHBoxLayout;
    trackRow->addWidget(new QLabel(tr("Format of track #"), page));
    cbTrackIndex_ = new QComboBox(page);
    cbTrackIndex_->setObjectName(QStringLiteral("cbTrackIndex"));
    cbTrackIndex_->addItems({QStringLiteral("x"), QStringLiteral("0x"), QStringLiteral("00x")});
    cbTrackIndex_->setCurrentIndex(1);
    trackRow->addWidget(cbTrackIndex_);
    trackRow->addStretch();
    layout->addLayout(trackRow);

    auto* codePageRow = new QHBoxLayout;
    auto* codePageLabel = new QLabel(tr("Code page of ID3v1 and other 8-bit texts"), page);
    codePageRow->addWidget(codePageLabel);
    cbCodePage_ = new QComboBox(page);
    cbCodePage_->setObjectName(QStringLiteral("cbCodePage"));
    for (const std::string_view name : sondrel::kLegacyCodePages)
        cbCodePage_->addItem(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
    codePageLabel->setBuddy(cbCodePage_);
    codePageRow->addWidget(cbCodePage_);
    codePageRow->addStretch();
    layout->addLayout(codePageRow);

    cbRecycleBin_ =
        AddCheck(page, "cbRecycleBin", tr("Don't use recycle bin - permanently delete all files"),
                 "RecycleBin", false);
    cbUseTrayIcon_ = AddCheck(page, "cbUseTrayIcon", tr("Use tray icon"), "flUseTrayIcon", false);
    cbSaveHistory_ =
        AddCheck(page, "cbSaveHistory", tr("Save fields history"), "flSaveHistory", false);

    auto* focusRow = new QHBoxLayout;
    focusRow->addWidget(new QLabel(tr("After saving tags set focus at:"), page));
    cbFocus_ = new QComboBox(page);
    cbFocus_->setObjectName(QStringLiteral("cbFocus"));
    cbFocus_->addItems({tr("Don't change focus"), tr("Track #"), tr("Title"), tr("Artist"),
                        tr("Album"), tr("Year"), tr("Genre"), tr("Comment")});
    focusRow->addWidget(cbFocus_);
    focusRow->addStretch();
    layout->addLayout(focusRow);

    cbUsePatterns_ =
        AddCheck(page, "cbUsePatterns", tr("Use lyrics patterns"), "flUsePatterns", true);
    cbUseProxy_ = AddCheck(page, "cbUseProxy", tr("Use proxy"), "flUseProxy", false);
    auto* proxy = new QFormLayout;
    edServer_ = new QLineEdit(QStringLiteral("Server"), page);
    edServer_->setObjectName(QStringLiteral("edServer"));
    edPort_ = new QSpinBox(page);
    edPort_->setObjectName(QStringLiteral("edPort"));
    edPort_->setRange(0, 65536);
    edPort_->setValue(3128);
    edUser_ = new QLineEdit(page);
    edUser_->setObjectName(QStringLiteral("edUser"));
    edPassword_ = new QLineEdit(page);
    edPassword_->setObjectName(QStringLiteral("edPassword"));
    edPassword_->setEchoMode(QLineEdit::Password);
    proxy->addRow(tr("Server"), edServer_);
    proxy->addRow(tr("Port"), edPort_);
    proxy->addRow(tr("User"), edUser_);
    proxy->addRow(tr("Password"), edPassword_);
    layout->addLayout(proxy);

    cbAproximateSearch_ =
        AddCheck(page, "cbAproximateSearch", tr("Aproximate search of images (slow)"),
                 "flAproximateSearch", false);
    auto* freedbRow = new QHBoxLayout;
    freedbRow->addWidget(new QLabel(tr("FreeDB server"), page));
    cbFreeDB_ = new QComboBox(page);
    cbFreeDB_->setObjectName(QStringLiteral("cbFreeDB"));
    cbFreeDB_->addItems(FreeDbServers());
    cbFreeDB_->setEditable(true);
    cbFreeDB_->setInsertPolicy(QComboBox::NoInsert);
    cbFreeDB_->setMinimumContentsLength(24);
    cbFreeDB_->setCurrentIndex(10);
    freedbRow->addWidget(cbFreeDB_);
    freedbRow->addStretch();
    layout->addLayout(freedbRow);
    layout->addStretch();
    pages_->addTab(page, tr("General"));
}

void OptionsWindow::BuildView() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsView"));
    auto* layout = new QVBoxLayout(page);
    cbShowHint_ = AddCheck(page, "cbShowHint", tr("Show hint in status bar"), "flShowHint", true);
    cbStretchPicture_ =
        AddCheck(page, "cbStretchPicture", tr("Stretch picture"), "StretchPicture", false);
    cbTopText_ = AddCheck(page, "cbTopText", tr("Lyrics window on top"), "flTopText", false);
    cbTopInfo_ = AddCheck(page, "cbTopInfo", tr("Music Info on top"), "flTopInfo", false);
    cbPopupHint_ = AddCheck(page, "cbPopupHint", tr("Show popup hint"), "flPopupHint", true);
    cbTopPictures_ =
        AddCheck(page, "cbTopPictures", tr("Pictures window on top"), "flTopPictures", false);
    cbMoveWindows_ =
        AddCheck(page, "cbMoveWindows", tr("Move windows with main"), "flMoveWindows", true);
    cbShowSelectedSubfolders_ =
        AddCheck(page, "cbShowSelectedSubfolders", tr("Show files in only selected subfolders"),
                 "ShowSelectedSubfolders", false);
    cbSnapWindows_ = AddCheck(page, "cbSnapWindows", tr("Snap Windows"), "flSnapWindows", false);
    cbSelectFile_ = AddCheck(page, "cbSelectFile", tr("Select file when calling popup menu"),
                             "flSelectFile", false);
    layout->addStretch();
    pages_->addTab(page, tr("View"));
}

void OptionsWindow::BuildWinAmp() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsWinAmp"));
    auto* layout = new QVBoxLayout(page);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(new QLabel(tr("Path to WinAmp"), page));
    edWinAmp_ = new QLineEdit(page);
    edWinAmp_->setObjectName(QStringLiteral("edWinAmp"));
    auto* browse = new QPushButton(QStringLiteral("..."), page);
    browse->setObjectName(QStringLiteral("btnWinAmp"));
    pathRow->addWidget(edWinAmp_);
    pathRow->addWidget(browse);
    layout->addLayout(pathRow);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString dir =
            QFileDialog::getExistingDirectory(this, tr("Path to WinAmp"), edWinAmp_->text());
        if (!dir.isEmpty())
            edWinAmp_->setText(QString::fromStdString(sondrel::AddBackslash(dir.toStdString())));
    });

    auto* group = new QGroupBox(tr("Play files with"), page);
    group->setObjectName(QStringLiteral("rgPlayFiles"));
    auto* groupLayout = new QVBoxLayout(group);
    const QString captions[3] = {tr("WinAmp 2.x"), tr("WinAmp 3.x*"), tr("Installed program")};
    auto* buttons = new QButtonGroup(group);
    for (int i = 0; i < 3; ++i) {
        rbPlay_[i] = new QRadioButton(captions[i], group);
        rbPlay_[i]->setObjectName(QStringLiteral("rbPlay%1").arg(i));
        buttons->addButton(rbPlay_[i], i);
        groupLayout->addWidget(rbPlay_[i]);
    }
    rbPlay_[2]->setChecked(true);
    layout->addWidget(group);

    auto* link = new QLabel(QStringLiteral("<a href=\"#\">%1</a>")
                                .arg(tr("* Require Winamp 2.x Plugin Manager for Winamp 3")),
                            page);
    link->setObjectName(QStringLiteral("labPluginLink"));
    connect(link, &QLabel::linkActivated, this,
            [] { QDesktopServices::openUrl(QUrl(QStringLiteral("https://www.winamp.com/"))); });
    layout->addWidget(link);

    cbAssociateFolders_ = AddCheck(page, "cbAssociateFolders", tr("Associate Sondrel with folders"),
                                   "AssociateFolders", true);
    cbAssociateFilesMP3_ =
        AddCheck(page, "cbAssociateFilesMP3", tr("Associate Sondrel with mp3-files"),
                 "AssociateFilesMP3", true);
    layout->addStretch();
    pages_->addTab(page, tr("WinAmp and association"));
}

void OptionsWindow::BuildLookups() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsLookups"));
    auto* form = new QFormLayout(page);
    edFreeDbEmail_ = new QLineEdit(page);
    edFreeDbEmail_->setObjectName(QStringLiteral("edFreeDBEmail"));
    edFreeDbEmail_->setPlaceholderText(tr("you@example.org"));
    edFreeDbEmail_->setToolTip(
        tr("FreeDB servers ask every user for a real address and may refuse made-up ones"));
    form->addRow(tr("E-mail for FreeDB"), edFreeDbEmail_);
    const QString sites[] = {tr("Store host (US)"), tr("Store host (UK)"),
                             tr("Store host (Germany)")};
    for (int site = 0; site < 3; ++site) {
        edStoreHost_[site] = new QLineEdit(DefaultStoreHost(site), page);
        edStoreHost_[site]->setObjectName(QStringLiteral("edStoreHost%1").arg(site));
        form->addRow(sites[site], edStoreHost_[site]);
    }
    const QString services[] = {tr("MusicBrainz host"), tr("Cover Art Archive host"),
                                tr("LRCLIB host")};
    for (int service = 0; service < 3; ++service) {
        edServiceHost_[service] = new QLineEdit(DefaultServiceHost(service), page);
        edServiceHost_[service]->setObjectName(QString::fromLatin1(kServiceHosts[service].box));
        edServiceHost_[service]->setToolTip(
            tr("Only https; plain http only for a server on this machine"));
        form->addRow(services[service], edServiceHost_[service]);
    }
    pages_->addTab(page, tr("Look-ups"));
}

void OptionsWindow::showEvent(QShowEvent* event) {
    // A look-up may have asked for the address since the window was loaded.
    if (edFreeDbEmail_->text().trimmed().isEmpty())
        edFreeDbEmail_->setText(store_.ReadString(QStringLiteral("FreeDBEmail")));
    QDialog::showEvent(event);
}

void OptionsWindow::LoadSettings() {
    for (const BoolOption& o : bools_) {
        o.box->setChecked(store_.ReadBool(QString::fromLatin1(o.name), o.def));
    }
    cbTrackIndex_->setCurrentIndex(
        std::clamp(store_.ReadInteger(QStringLiteral("TrackIndex"), 1), 0, 2));
    cbFocus_->setCurrentIndex(std::clamp(store_.ReadInteger(QStringLiteral("focus"), 0), 0, 7));
    edServer_->setText(store_.ReadString(QStringLiteral("Server"), QStringLiteral("Server")));
    bool ok = false;
    const int port = store_.ReadString(QStringLiteral("Port"), QStringLiteral("3128")).toInt(&ok);
    edPort_->setValue(ok ? port : 3128);
    edUser_->setText(store_.ReadString(QStringLiteral("User")));
    edPassword_->setText(store_.ReadString(QStringLiteral("Password")));
    cbFreeDB_->setCurrentIndex(
        std::clamp(store_.ReadInteger(QStringLiteral("FreeDBIndex"), 10), 0, 10));
    // A server typed into the box is kept by its text.
    if (const QString server = store_.ReadString(QStringLiteral("FreeDBServer"));
        !server.trimmed().isEmpty())
        cbFreeDB_->setCurrentText(server.trimmed());
    edFreeDbEmail_->setText(store_.ReadString(QStringLiteral("FreeDBEmail")));
    for (int site = 0; site < 3; ++site)
        edStoreHost_[site]->setText(
            store_.ReadString(StoreHostKey(site), DefaultStoreHost(site)).trimmed());
    for (int service = 0; service < 3; ++service)
        edServiceHost_[service]->setText(
            store_
                .ReadString(QString::fromLatin1(kServiceHosts[service].key),
                            DefaultServiceHost(service))
                .trimmed());
    const QString winamp = store_.ReadString(QStringLiteral("WinAmp"),
                                             QString::fromStdString(sondrel::WinampFolder()));
    edWinAmp_->setText(winamp);
    const int play = store_.ReadInteger(QStringLiteral("PlayFiles"), winamp.isEmpty() ? 2 : 0);
    rbPlay_[std::clamp(play, 0, 2)]->setChecked(true);
    // A page the core does not offer (an old or hand-edited value) reads as the default.
    const int codePage = cbCodePage_->findText(
        store_.ReadString(QStringLiteral("CodePage"), cbCodePage_->itemText(0)),
        Qt::MatchFixedString);
    cbCodePage_->setCurrentIndex(std::max(codePage, 0));
}

void OptionsWindow::SaveSettings() {
    for (const BoolOption& o : bools_) {
        store_.WriteBool(QString::fromLatin1(o.name), o.box->isChecked());
    }
    store_.WriteInteger(QStringLiteral("TrackIndex"), cbTrackIndex_->currentIndex());
    store_.WriteInteger(QStringLiteral("focus"), cbFocus_->currentIndex());
    store_.WriteString(QStringLiteral("Server"), edServer_->text());
    store_.WriteString(QStringLiteral("Port"), QString::number(edPort_->value()));
    store_.WriteString(QStringLiteral("User"), edUser_->text());
    store_.WriteString(QStringLiteral("Password"), edPassword_->text());
    store_.WriteInteger(QStringLiteral("FreeDBIndex"), cbFreeDB_->currentIndex());
    store_.WriteString(QStringLiteral("FreeDBServer"), FreeDbServer());
    store_.WriteString(QStringLiteral("FreeDBEmail"), FreeDbEmail());
    for (int site = 0; site < 3; ++site)
        store_.WriteString(StoreHostKey(site), StoreHost(site));
    for (int service = 0; service < 3; ++service)
        store_.WriteString(QString::fromLatin1(kServiceHosts[service].key), ServiceHost(service));
    store_.WriteString(QStringLiteral("WinAmp"), edWinAmp_->text());
    store_.WriteInteger(QStringLiteral("PlayFiles"), PlayFiles());
    store_.WriteString(QStringLiteral("CodePage"), CodePage());
    store_.Sync();
}

void OptionsWindow::OnOK() {
    SaveSettings();
    if (processSettings)
        processSettings();
    accept();
}

bool OptionsWindow::ShowErrors() const {
    return cbShowError_->isChecked();
}
bool OptionsWindow::AutoSave() const {
    return cbAutoSave_->isChecked();
}
int OptionsWindow::TrackIndex() const {
    return cbTrackIndex_->currentIndex();
}
bool OptionsWindow::PermanentDelete() const {
    return cbRecycleBin_->isChecked();
}
bool OptionsWindow::UseTrayIcon() const {
    return cbUseTrayIcon_->isChecked();
}
bool OptionsWindow::SaveHistory() const {
    return cbSaveHistory_->isChecked();
}
int OptionsWindow::FocusAfterSave() const {
    return cbFocus_->currentIndex();
}
bool OptionsWindow::UsePatterns() const {
    return cbUsePatterns_->isChecked();
}
bool OptionsWindow::UseProxy() const {
    return cbUseProxy_->isChecked();
}
QString OptionsWindow::ProxyServer() const {
    return edServer_->text();
}
QString OptionsWindow::ProxyPort() const {
    return QString::number(edPort_->value());
}
QString OptionsWindow::ProxyUser() const {
    return edUser_->text();
}
QString OptionsWindow::ProxyPassword() const {
    return edPassword_->text();
}
bool OptionsWindow::ApproximateImageSearch() const {
    return cbAproximateSearch_->isChecked();
}
QString OptionsWindow::FreeDbServer() const {
    return cbFreeDB_->currentText().trimmed();
}
QString OptionsWindow::FreeDbEmail() const {
    return edFreeDbEmail_->text().trimmed();
}
QString OptionsWindow::StoreHost(int site) const {
    if (site < 0 || site > 2)
        return {};
    const QString host = edStoreHost_[site]->text().trimmed();
    return host.isEmpty() ? DefaultStoreHost(site) : host;
}
QString OptionsWindow::ServiceHost(int service) const {
    if (service < 0 || service > 2)
        return {};
    const QString host = edServiceHost_[service]->text().trimmed();
    return host.isEmpty() ? DefaultServiceHost(service) : host;
}
bool OptionsWindow::ShowHint() const {
    return cbShowHint_->isChecked();
}
bool OptionsWindow::StretchPicture() const {
    return cbStretchPicture_->isChecked();
}
bool OptionsWindow::TopText() const {
    return cbTopText_->isChecked();
}
bool OptionsWindow::TopInfo() const {
    return cbTopInfo_->isChecked();
}
bool OptionsWindow::PopupHint() const {
    return cbPopupHint_->isChecked();
}
bool OptionsWindow::TopPictures() const {
    return cbTopPictures_->isChecked();
}
bool OptionsWindow::MoveWindows() const {
    return cbMoveWindows_->isChecked();
}
bool OptionsWindow::ShowSelectedSubfolders() const {
    return cbShowSelectedSubfolders_->isChecked();
}
bool OptionsWindow::SnapWindows() const {
    return cbSnapWindows_->isChecked();
}
bool OptionsWindow::SelectFileOnPopup() const {
    return cbSelectFile_->isChecked();
}
QString OptionsWindow::WinAmpPath() const {
    return edWinAmp_->text();
}
int OptionsWindow::PlayFiles() const {
    for (int i = 0; i < 3; ++i) {
        if (rbPlay_[i]->isChecked())
            return i;
    }
    return 2;
}
bool OptionsWindow::AssociateFolders() const {
    return cbAssociateFolders_->isChecked();
}
bool OptionsWindow::AssociateFilesMP3() const {
    return cbAssociateFilesMP3_->isChecked();
}
bool OptionsWindow::AskBeforeDiscard() const {
    return cbAskUnsaved_->isChecked();
}
QString OptionsWindow::CodePage() const {
    return cbCodePage_->currentText();
}
