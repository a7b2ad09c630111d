// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/language_apply.h"

#include "shell/file_list.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QTabWidget>
#include <QTableWidget>
#include <QWidget>

#include "util/codepage.h"

namespace shell {

namespace {

using R = TextRole;

// Ids from 9000 are this program's own controls (see kOwnIdFirst).
const std::vector<TextBinding> kBindings = {
    // Main window: field labels, tag boxes, buttons, menu.
    {99, "fm", "=Track #", R::Caption},
    {9000, "fm", "=Title", R::Caption},
    {101, "fm", "=Artist", R::Caption},
    {102, "fm", "=Album", R::Caption},
    {103, "fm", "=Year", R::Caption},
    {104, "fm", "=Genre", R::Caption},
    {105, "fm", "=Comment", R::Caption},
    {110, "fm", "=Folder", R::Caption},
    {120, "fm", "=Composer", R::Caption},
    {121, "fm", "=Orig. Artist", R::Caption},
    {122, "fm", "=Copyright", R::Caption},
    {124, "fm", "=Encoded By", R::Caption},
    {130, "fm", "=Read Tag", R::Caption},
    {131, "fm", "=Save Tag", R::Caption},
    {9, "fm", "cbReadTag", R::VersionEntries},
    {9, "fm", "cbSaveTag", R::VersionEntries},
    {260, "fm", "cbUseLyrics3", R::Caption},
    {500, "fm", "btnSave", R::Caption},
    {500, "fm", "actSave", R::Caption},
    {530, "fm", "actRename", R::Caption},
    {531, "fm", "actGenerate", R::Caption},
    {532, "fm", "actPlaylists", R::Caption},
    {9018, "fm", "=Rename files", R::Caption},
    {630, "fm", "=Rename files", R::Hint},
    {9019, "fm", "=Generate tags", R::Caption},
    {631, "fm", "=Generate tags", R::Hint},
    {9020, "fm", "=Create playlists", R::Caption},
    {632, "fm", "=Create playlists", R::Hint},
    {3023, "fm", "=Capitalization", R::Caption},
    {3024, "fm", "cbCapitalization", R::Item, 0},
    {3025, "fm", "cbCapitalization", R::Item, 1},
    {3026, "fm", "cbCapitalization", R::Item, 2},
    {3027, "fm", "cbCapitalization", R::Item, 3},
    {3033, "fm", "cbCapitalization", R::Item, 4},
    {608, "fm", "btnSelectAll", R::Hint},
    {9016, "fm", "btnSelectAll", R::Caption},
    {620, "fm", "btnMenu", R::Hint},
    {9012, "fm", "btnMenu", R::Caption},
    {9013, "fm", "btnHelp", R::Hint},
    {9014, "fm", "btnHelp", R::Status},
    {640, "fm", "btnSubFolders", R::Hint},
    {9015, "fm", "btnSubFolders", R::Caption},
    {702, "fm", "labSelectedFiles", R::Hint},
    {8, "fm", "lbFile", R::Hint},
    {800, "fm", "actAbout", R::Caption},
    {900, "fm", "actAbout", R::Hint},
    {802, "fm", "actShowDirs", R::Caption},
    {803, "fm", "=Show &files", R::Caption},
    {805, "fm", "actShowLyrics", R::Caption},
    {806, "fm", "=&Go to bookmark", R::Caption},
    {807, "fm", "=Set &bookmark", R::Caption},
    {808, "fm", "actShowInfo", R::Caption},
    {809, "fm", "actOptions", R::Caption},
    {909, "fm", "actOptions", R::Hint},
    {810, "fm", "actShowPictures", R::Caption},
    {852, "fm", "pmnRename", R::Caption},
    {853, "fm", "actHelp", R::Caption},
    {854, "fm", "actRefresh", R::Caption},
    {855, "fm", "actSelectAll", R::Caption},
    {856, "fm", "pmnDelete", R::Caption},
    {857, "fm", "mnDeleteTags", R::Caption},
    {858, "fm", "actClearHistory", R::Caption},
    {859, "fm", "mnCopyTo", R::Caption},
    {860, "fm", "mnMoveTo", R::Caption},
    {9001, "fm", "actLyricsDownload", R::Caption},
    {9002, "fm", "actAddToPlaylist", R::Caption},
    {9003, "fm", "actFreeDB", R::Caption},
    {9004, "fm", "actAmazon", R::Caption},
    {9005, "fm", "actFocusList", R::Caption},
    {9006, "fm", "actReadTag", R::Caption},
    {9007, "fm", "actDeleteTag1", R::Caption},
    {9008, "fm", "actDeleteTag2", R::Caption},
    {9009, "fm", "actDeleteAllTags", R::Caption},
    {9010, "fm", "actDeteteOgg", R::Caption},
    {9011, "fm", "mnLanguage", R::Caption},
    {9017, "fm", "actPlayerStop", R::Caption},
    {9140, "fm", "flFLAC", R::Caption},
    {9142, "fm", "flOGG", R::Caption},

    // Options window.
    {9030, "fmOptions", "", R::Title},
    {5040, "fmOptions", "pcOptions", R::Tab, 0},
    {5042, "fmOptions", "pcOptions", R::Tab, 4},
    {9035, "fmOptions", "pcOptions", R::Tab, 3},
    {5073, "fmOptions", "=Skin", R::Caption},
    {5074, "fmOptions", "=Color scheme", R::Caption},
    {5072, "fmOptions", "btnSaveScheme", R::Hint},
    {5022, "fmOptions", "labColor1", R::Caption},
    {5023, "fmOptions", "labColor2", R::Caption},
    {5024, "fmOptions", "labColor3", R::Caption},
    {5080, "fmOptions", "labColor4", R::Caption},
    {5081, "fmOptions", "labColor5", R::Caption},
    {5082, "fmOptions", "labColor6", R::Caption},
    {5083, "fmOptions", "labColor7", R::Caption},
    {5084, "fmOptions", "labColor8", R::Caption},
    {5090, "fmOptions", "pcOptions", R::Tab, 1},
    {5041, "fmOptions", "pcOptions", R::Tab, 2},
    {5000, "fmOptions", "cbShowError", R::Caption},
    {5003, "fmOptions", "cbAutoSave", R::Caption},
    {5004, "fmOptions", "cbShowHint", R::Caption},
    {5005, "fmOptions", "cbTopText", R::Caption},
    {5006, "fmOptions", "cbTopInfo", R::Caption},
    {5007, "fmOptions", "cbTopPictures", R::Caption},
    {5008, "fmOptions", "cbPopupHint", R::Caption},
    {5009, "fmOptions", "cbMoveWindows", R::Caption},
    {5020, "fmOptions", "=Format of track #", R::Caption},
    {5025, "fmOptions", "=Path to WinAmp", R::Caption},
    {5026, "fmOptions", "cbAssociateFolders", R::Caption},
    {5028, "fmOptions", "cbUseTrayIcon", R::Caption},
    {5029, "fmOptions", "cbSaveHistory", R::Caption},
    {5031, "fmOptions", "btnClose", R::Hint},
    {5050, "fmOptions", "cbStretchPicture", R::Caption},
    {5051, "fmOptions", "cbRecycleBin", R::Caption},
    {5062, "fmOptions", "rgPlayFiles", R::Caption},
    {5064, "fmOptions", "rbPlay0", R::Caption},
    {5065, "fmOptions", "rbPlay1", R::Caption},
    {5066, "fmOptions", "rbPlay2", R::Caption},
    {5067, "fmOptions", "cbShowSelectedSubfolders", R::Caption},
    {5075, "fmOptions", "cbSnapWindows", R::Caption},
    {5091, "fmOptions", "=After saving tags set focus at:", R::Caption},
    {5093, "fmOptions", "cbFocus", R::Item, 0},
    // The focus list names the main window's field labels.
    {99, "fmOptions", "cbFocus", R::Item, 1},
    {9000, "fmOptions", "cbFocus", R::Item, 2},
    {101, "fmOptions", "cbFocus", R::Item, 3},
    {102, "fmOptions", "cbFocus", R::Item, 4},
    {103, "fmOptions", "cbFocus", R::Item, 5},
    {104, "fmOptions", "cbFocus", R::Item, 6},
    {105, "fmOptions", "cbFocus", R::Item, 7},
    {5094, "fmOptions", "cbAssociateFilesMP3", R::Caption},
    {5096, "fmOptions", "cbSelectFile", R::Caption},
    {5098, "fmOptions", "cbUsePatterns", R::Caption},
    {5100, "fmOptions", "cbUseProxy", R::Caption},
    {5102, "fmOptions", "=Server", R::Caption},
    {5104, "fmOptions", "=Port", R::Caption},
    {5106, "fmOptions", "=User", R::Caption},
    {5108, "fmOptions", "=Password", R::Caption},
    {5110, "fmOptions", "cbAproximateSearch", R::Caption},
    {5112, "fmOptions", "=FreeDB server", R::Caption},
    {9031, "fmOptions", "cbAskUnsaved", R::Caption},
    {9032, "fmOptions", "=Code page of ID3v1 and other 8-bit texts", R::Caption},
    {9033, "fmOptions", "btnOK", R::Caption},
    {9034, "fmOptions", "btnClose", R::Caption},

    // About, progress and information windows.
    {9040, "fmAbout", "", R::Title},
    {9041, "fmAbout", "labLink", R::Caption},
    {9042, "fmAbout", "=&OK", R::Caption},
    {8000, "fmWait", "", R::Title},
    {8001, "fmWait", "btnStop", R::Caption},
    {8002, "fmWait", "btnBackground", R::Caption},
    {7000, "fmmp3Info", "", R::Title},
    // The grid's row labels: 7001 to 7016 in this row order, row 9 the lyrics.
    {7001, "fmmp3Info", "sgInfo", R::RowLabel, 0},
    {7002, "fmmp3Info", "sgInfo", R::RowLabel, 1},
    {7003, "fmmp3Info", "sgInfo", R::RowLabel, 2},
    {7004, "fmmp3Info", "sgInfo", R::RowLabel, 3},
    {7005, "fmmp3Info", "sgInfo", R::RowLabel, 4},
    {7006, "fmmp3Info", "sgInfo", R::RowLabel, 5},
    {7007, "fmmp3Info", "sgInfo", R::RowLabel, 11},
    {7008, "fmmp3Info", "sgInfo", R::RowLabel, 6},
    {7009, "fmmp3Info", "sgInfo", R::RowLabel, 7},
    {7010, "fmmp3Info", "sgInfo", R::RowLabel, 8},
    {7011, "fmmp3Info", "sgInfo", R::RowLabel, 10},
    {7012, "fmmp3Info", "sgInfo", R::RowLabel, 12},
    {7013, "fmmp3Info", "sgInfo", R::RowLabel, 13},
    {7014, "fmmp3Info", "sgInfo", R::RowLabel, 14},
    {7015, "fmmp3Info", "sgInfo", R::RowLabel, 15},
    {7016, "fmmp3Info", "sgInfo", R::RowLabel, 16},
    {4000, "fmmp3Info", "sgInfo", R::RowLabel, 9},
    {9141, "fmmp3Info", "sgInfo", R::RowLabel, 17},

    // Lyrics window.
    {4000, "fmText", "", R::Title},
    {4005, "fmText", "actCut", R::Caption},
    {4006, "fmText", "actCopy", R::Caption},
    {4007, "fmText", "actPaste", R::Caption},
    {4008, "fmText", "actSelectAll", R::Caption},
    {9050, "fmText", "btnOpen", R::Caption},
    {9051, "fmText", "btnSave", R::Caption},
    {9052, "fmText", "btnDownload", R::Caption},
    {9053, "fmText", "actUndo", R::Caption},

    // Pictures window.
    {9070, "fmImage", "", R::Title},
    {6000, "fmImage", "btnNew", R::Hint},
    {6001, "fmImage", "btnDelete", R::Hint},
    {6002, "fmImage", "btnSave", R::Hint},
    {6003, "fmImage", "btnPrev", R::Hint},
    {6004, "fmImage", "btnNext", R::Hint},
    {6005, "fmImage", "edDescription", R::Hint},

    // Batch window.
    {9060, "fmRename", "", R::Title},
    {3034, "fmRename", "pcRename", R::Tab, 0},
    {3035, "fmRename", "pcRename", R::Tab, 1},
    {3059, "fmRename", "pcRename", R::Tab, 2},
    {3073, "fmRename", "pcRename", R::Tab, 3},
    {3066, "fmRename", "pcRename", R::Tab, 4},
    {3000, "fmRename", "=Format", R::Caption},
    {3018, "fmRename", "btnPlus", R::Hint},
    {3019, "fmRename", "btnMinus", R::Hint},
    {3023, "fmRename", "=Capitalization", R::Caption},
    {3024, "fmRename", "cbCapitalization", R::Item, 0},
    {3025, "fmRename", "cbCapitalization", R::Item, 1},
    {3026, "fmRename", "cbCapitalization", R::Item, 2},
    {3027, "fmRename", "cbCapitalization", R::Item, 3},
    {3033, "fmRename", "cbCapitalization", R::Item, 4},
    {3005, "fmRename", "cbAutoPreview", R::Caption},
    {3044, "fmRename", "=Export to", R::Caption},
    {3046, "fmRename", "cbExport", R::Item, 0},
    {3047, "fmRename", "cbExport", R::Item, 1},
    {3048, "fmRename", "cbExport", R::Item, 2},
    {3049, "fmRename", "cbExport", R::Item, 3},
    {3050, "fmRename", "cbExport", R::Item, 4},
    {9061, "fmRename", "cbTrack", R::Caption},
    {9062, "fmRename", "cbTitle", R::Caption},
    {101, "fmRename", "cbArtist", R::Caption},
    {102, "fmRename", "cbAlbum", R::Caption},
    {103, "fmRename", "cbYear", R::Caption},
    {105, "fmRename", "cbComment", R::Caption},
    {9063, "fmRename", "=Fields from Sondrel", R::Caption},
    {3040, "fmRename", "cbMode", R::Item, 0},
    {3041, "fmRename", "cbMode", R::Item, 1},
    {3042, "fmRename", "cbMode", R::Item, 2},
    {9064, "fmRename", "btnAutoNumbering", R::Caption},
    {3029, "fmRename", "=Replacing letters", R::Caption},
    {3001, "fmRename", "cbReplace", R::Item, 0},
    {3002, "fmRename", "cbReplace", R::Item, 1},
    {3003, "fmRename", "cbReplace", R::Item, 2},
    {3055, "fmRename", "cbReplace", R::Item, 3},
    {3004, "fmRename", "cbBad", R::Caption},
    {3082, "fmRename", "cbRemoveExtraSpaces", R::Caption},
    {9065, "fmRename", "btnSelectAll", R::Caption},
    {9066, "fmRename", "btnCheck", R::Caption},
    {9067, "fmRename", "btnUnCheck", R::Caption},
    {9068, "fmRename", "btnReverse", R::Caption},
    {3008, "fmRename", "btnRescan", R::Caption},
    {3007, "fmRename", "btnRename", R::Caption},
    {3017, "fmRename", "btnRename", R::Hint},
    {856, "fmRename", "btnDelete", R::Caption},

    // Batch window: the MusicBrainz page.
    {9100, "fmRename", "pcRename", R::Tab, 5},
    {9101, "fmRename", "btnMbSearch", R::Caption},
    {9102, "fmRename", "btnMbSearch", R::Hint},
    {9103, "fmRename", "btnMbToc", R::Caption},
    {9104, "fmRename", "btnMbToc", R::Hint},
    {9105, "fmRename", "cbMbCover", R::Caption},
    {9106, "fmRename", "cbMbCover", R::Hint},
    {9107, "fmRename", "=Release", R::Caption},
    {9108, "fmRename", "btnStopMb", R::Caption},

    // The open services in the pictures, lyrics and options windows.
    {9110, "fmImage", "cbCoverSource", R::Item, 0},
    {9111, "fmImage", "cbCoverSource", R::Item, 1},
    {9112, "fmImage", "cbCoverSource", R::Hint},
    {9113, "fmText", "cbLyricsSource", R::Item, 0},
    {9114, "fmText", "cbLyricsSource", R::Item, 1},
    {9115, "fmText", "cbLyricsSource", R::Hint},
    {9116, "fmOptions", "=MusicBrainz host", R::Caption},
    {9117, "fmOptions", "=Cover Art Archive host", R::Caption},
    {9118, "fmOptions", "=LRCLIB host", R::Caption},
    {9119, "fmOptions", "edMusicBrainzHost", R::Hint},
    {9120, "fmOptions", "edCoverArtHost", R::Hint},
    {9121, "fmOptions", "edLrclibHost", R::Hint},
    // The table's columns: flag, before, after, then the main window's field
    // labels and the information window's rows 3, 4, 2 and 0.
    {33, "fmRename", "sgRename", R::Header, 0},
    {10, "fmRename", "sgRename", R::Header, 1},
    {11, "fmRename", "sgRename", R::Header, 2},
    {99, "fmRename", "sgRename", R::Header, 3},
    {9000, "fmRename", "sgRename", R::Header, 4},
    {101, "fmRename", "sgRename", R::Header, 5},
    {102, "fmRename", "sgRename", R::Header, 6},
    {103, "fmRename", "sgRename", R::Header, 7},
    {104, "fmRename", "sgRename", R::Header, 8},
    {105, "fmRename", "sgRename", R::Header, 9},
    {7004, "fmRename", "sgRename", R::Header, 10},
    {7005, "fmRename", "sgRename", R::Header, 11},
    {7003, "fmRename", "sgRename", R::Header, 12},
    {7001, "fmRename", "sgRename", R::Header, 13},
};

// The window an object is shown in: menus are windows of their own but
// belong to the window that opened them.
QWidget* OwnerWindow(QObject* object) {
    for (QObject* o = object; o; o = o->parent()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (w && w->isWindow() && !qobject_cast<QMenu*>(w))
            return w;
    }
    return nullptr;
}

QString CaptionOf(QObject* o) {
    if (auto* b = qobject_cast<QAbstractButton*>(o))
        return b->text();
    if (auto* l = qobject_cast<QLabel*>(o))
        return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(o))
        return g->title();
    if (auto* m = qobject_cast<QMenu*>(o))
        return m->title();
    if (auto* a = qobject_cast<QAction*>(o))
        return a->text();
    return {};
}

QObject* FindBound(QWidget* window, const TextBinding& b) {
    if (!*b.object)
        return window;
    const QString key = QString::fromUtf8(b.object);
    const bool byCaption = key.startsWith(QLatin1Char('='));
    const QString wanted = byCaption ? key.mid(1) : key;
    // Menus before their own menu actions, so a menu's title is what changes.
    QList<QObject*> candidates;
    for (QObject* o : window->findChildren<QMenu*>())
        candidates << o;
    candidates << window->findChildren<QObject*>();
    for (QObject* o : candidates) {
        if (OwnerWindow(o) != window)
            continue;
        if (byCaption ? CaptionOf(o) == wanted : o->objectName() == wanted) {
            // Only controls that carry the role's text.
            if (b.role == R::Tab && !qobject_cast<QTabWidget*>(o))
                continue;
            if ((b.role == R::Item || b.role == R::VersionEntries) && !qobject_cast<QComboBox*>(o))
                continue;
            if (b.role == R::Header && !qobject_cast<QAbstractItemView*>(o))
                continue;
            if (b.role == R::RowLabel && !qobject_cast<QTableWidget*>(o))
                continue;
            if (b.role == R::Caption && !qobject_cast<QAction*>(o) && CaptionOf(o).isNull() &&
                !qobject_cast<QAbstractButton*>(o) && !qobject_cast<QLabel*>(o) &&
                !qobject_cast<QGroupBox*>(o) && !qobject_cast<QMenu*>(o))
                continue;
            return o;
        }
    }
    return nullptr;
}

const char* const kVersionSuffixes[3] = {" 1", " 2", " 1&2"};

}  // namespace

const std::vector<TextBinding>& TextBindings() {
    return kBindings;
}

QStringList LanguageNames(const QStringList& folders) {
    QStringList names;
    for (const QString& folder : folders) {
        const QStringList files = QDir(folder).entryList(
            {QStringLiteral("*.lng")}, QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
        for (const QString& file : files) {
            if (file.startsWith(QLatin1Char('.')))
                continue;
            const QString name = file.section(QLatin1Char('.'), 0, 0);
            if (!names.contains(name, Qt::CaseInsensitive) && names.size() < 30)
                names << name;
        }
    }
    return names;
}

QByteArray LanguageFileBytes(const QString& language, const std::map<int, QString>& texts,
                             const std::map<std::string, QString>& named) {
    QByteArray out;
    const QString header[12] = {
        QStringLiteral("// Sondrel language file: %1").arg(language),
        QStringLiteral(
            "// UTF-8 text, one id=text a line; lines holding two slashes are comments."),
        QStringLiteral("// Nothing around the \"=\" is trimmed: a space is part of the text."),
        QStringLiteral("// Ids 0 to 98 are messages and count only from line 13 on."),
        QStringLiteral("// A missing id keeps the built-in English text."),
        QStringLiteral("//"),
        QStringLiteral("// Copy this file under a new name (the name is what the Language"),
        QStringLiteral("// menu shows) into the program's folder or into your own data folder,"),
        QStringLiteral("// translate the texts after the \"=\" and choose it in the menu."),
        QStringLiteral("// An \"&\" marks the key letter of a caption; \"&&\" shows one \"&\"."),
        QStringLiteral("//"),
        QStringLiteral("//"),
    };
    for (const QString& line : header)
        out += line.toUtf8() + "\r\n";
    for (const auto& [id, text] : texts)
        out += QByteArray::number(id) + '=' + text.toUtf8() + "\r\n";
    for (const auto& [key, text] : named)
        out += QByteArray::fromStdString(key) + '=' + text.toUtf8() + "\r\n";
    return out;
}

std::map<std::string, QString> BuiltInNamedTexts() {
    return {{"varRename", QObject::tr("New name:")},
            {"varRenameTitle", QObject::tr("Rename")},
            {"varSelected", QObject::tr("Selected: ")}};
}

namespace {

// The named texts the last applied language gave.
std::map<std::string, QString>& AppliedNamedTexts() {
    static std::map<std::string, QString> texts;
    return texts;
}

}  // namespace

QString NamedText(const std::string& key) {
    const auto& applied = AppliedNamedTexts();
    if (const auto it = applied.find(key); it != applied.end())
        return it->second;
    const auto builtIn = BuiltInNamedTexts();
    const auto it = builtIn.find(key);
    return it != builtIn.end() ? it->second : QString();
}

sondrel::MessageTable& Messages() {
    return sondrel::ProgramMessages();
}

QString Message(int id) {
    return QString::fromStdString(Messages().Shown(id));
}

LanguageApplier::LanguageApplier(QStringList folders, QObject* parent)
    : QObject(parent), folders_(std::move(folders)) {}

LanguageApplier::~LanguageApplier() {
    if (watching_)
        qApp->removeEventFilter(this);
}

void LanguageApplier::Attach(QWidget* window) {
    if (!window)
        return;
    for (const auto& w : attached_)
        if (w == window)
            return;
    attached_.emplace_back(window);
    const std::size_t first = targets_.size();
    for (const TextBinding& b : kBindings) {
        if (window->objectName() != QLatin1String(b.window))
            continue;
        if (QObject* o = FindBound(window, b))
            targets_.push_back({&b, o});
        else
            unresolved_ << QStringLiteral("%1 %2").arg(QLatin1String(b.window)).arg(b.id);
    }
    for (std::size_t i = first; i < targets_.size(); ++i) {
        const auto it = applied_.find(std::to_string(targets_[i].binding->id));
        if (it != applied_.end())
            SetText(targets_[i], QString::fromStdString(it->second));
    }
}

void LanguageApplier::AttachWindowsAsShown() {
    if (!watching_)
        qApp->installEventFilter(this);
    watching_ = true;
}

bool LanguageApplier::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->isWindow() && !w->objectName().isEmpty())
            Attach(w);
    }
    return QObject::eventFilter(watched, event);
}

bool LanguageApplier::SetLanguage(const QString& name, QString* error) {
    QString bare = name;
    bare.remove(bare.indexOf(QLatin1Char('&')), bare.contains(QLatin1Char('&')) ? 1 : 0);
    // A name is a file of one of our folders, never a path.
    const bool plain = !bare.isEmpty() && !bare.contains(QLatin1Char('/')) &&
                       !bare.contains(QLatin1Char('\\')) && !bare.startsWith(QLatin1Char('.'));
    QString path;
    for (const QString& folder : folders_) {
        const QString candidate = QDir(folder).filePath(bare + QStringLiteral(".lng"));
        if (plain && QFileInfo::exists(candidate)) {
            path = candidate;
            break;
        }
    }
    if (path.isEmpty()) {
        Messages().ResetBuiltIns();
        if (error)
            *error = tr("There is no language file %1.lng in %2.")
                         .arg(bare, folders_.join(QStringLiteral(", ")));
        return false;
    }
    std::string why;
    // Files made for the original 8-bit program are in the Windows Western
    // code page unless they are valid UTF-8.
    const auto texts = sondrel::LoadLanguageFile(QFile::encodeName(path).toStdString(),
                                                 "windows-1252", Messages(), why);
    if (!texts) {
        if (error)
            *error = QString::fromStdString(why);
        return false;
    }
    Apply(*texts);
    return true;
}

void LanguageApplier::Apply(const sondrel::AppliedLanguage& texts) {
    for (const auto& [key, value] : texts.texts)
        applied_[key] = value;
    for (const Target& t : targets_) {
        const auto it = texts.texts.find(std::to_string(t.binding->id));
        if (it != texts.texts.end())
            SetText(t, QString::fromStdString(it->second));
    }
    // Named texts stand in front of numbers and in dialogs: the selection
    // counter shows the new one at once, the rename dialog when next asked.
    bool named = false;
    for (const auto& [key, builtIn] : BuiltInNamedTexts()) {
        if (const auto it = texts.texts.find(key); it != texts.texts.end()) {
            AppliedNamedTexts()[key] = QString::fromStdString(it->second);
            named = true;
        }
    }
    if (!named)
        return;
    for (const QPointer<QWidget>& w : attached_) {
        if (!w)
            continue;
        for (FileList* list : w->findChildren<FileList*>())
            list->RetellSelected();
    }
}

void LanguageApplier::SetText(const Target& t, const QString& text) const {
    QObject* o = t.object;
    if (!o)
        return;
    switch (t.binding->role) {
        case R::Caption:
            if (auto* b = qobject_cast<QAbstractButton*>(o))
                b->setText(text);
            else if (auto* l = qobject_cast<QLabel*>(o))
                l->setText(text);
            else if (auto* g = qobject_cast<QGroupBox*>(o))
                g->setTitle(text);
            else if (auto* m = qobject_cast<QMenu*>(o))
                m->setTitle(text);
            else if (auto* a = qobject_cast<QAction*>(o))
                a->setText(text);
            break;
        case R::Hint:
            if (auto* w = qobject_cast<QWidget*>(o))
                w->setToolTip(text);
            else if (auto* a = qobject_cast<QAction*>(o))
                a->setToolTip(text);
            break;
        case R::Status:
            if (auto* w = qobject_cast<QWidget*>(o))
                w->setStatusTip(text);
            else if (auto* a = qobject_cast<QAction*>(o))
                a->setStatusTip(text);
            break;
        case R::Title:
            if (auto* w = qobject_cast<QWidget*>(o))
                w->setWindowTitle(text);
            break;
        case R::Tab:
            if (auto* tabs = qobject_cast<QTabWidget*>(o); tabs && t.binding->index < tabs->count())
                tabs->setTabText(t.binding->index, text);
            break;
        case R::Item:
            if (auto* c = qobject_cast<QComboBox*>(o); c && t.binding->index < c->count())
                c->setItemText(t.binding->index, text);
            break;
        case R::VersionEntries:
            if (auto* c = qobject_cast<QComboBox*>(o))
                for (int i = 0; i < 3 && i < c->count(); ++i)
                    c->setItemText(i, text + QLatin1String(kVersionSuffixes[i]));
            break;
        case R::Header:
            if (auto* v = qobject_cast<QAbstractItemView*>(o); v && v->model())
                v->model()->setHeaderData(t.binding->index, Qt::Horizontal, text);
            break;
        case R::RowLabel:
            if (auto* g = qobject_cast<QTableWidget*>(o))
                if (QTableWidgetItem* item = g->item(t.binding->index, 0))
                    item->setText(text);
            break;
    }
}

QString LanguageApplier::TextOf(const Target& t) const {
    QObject* o = t.object;
    if (!o)
        return {};
    switch (t.binding->role) {
        case R::Caption:
            return CaptionOf(o);
        case R::Hint:
            if (auto* w = qobject_cast<QWidget*>(o))
                return w->toolTip();
            if (auto* a = qobject_cast<QAction*>(o))
                return a->toolTip();
            return {};
        case R::Status:
            if (auto* w = qobject_cast<QWidget*>(o))
                return w->statusTip();
            if (auto* a = qobject_cast<QAction*>(o))
                return a->statusTip();
            return {};
        case R::Title:
            if (auto* w = qobject_cast<QWidget*>(o))
                return w->windowTitle();
            return {};
        case R::Tab:
            if (auto* tabs = qobject_cast<QTabWidget*>(o))
                return tabs->tabText(t.binding->index);
            return {};
        case R::Item:
            if (auto* c = qobject_cast<QComboBox*>(o))
                return c->itemText(t.binding->index);
            return {};
        case R::VersionEntries:
            // The value is what the first entry holds before its " 1".
            if (auto* c = qobject_cast<QComboBox*>(o); c && c->count() > 0) {
                QString first = c->itemText(0);
                if (first.endsWith(QLatin1String(kVersionSuffixes[0])))
                    first.chop(2);
                return first;
            }
            return {};
        case R::Header:
            if (auto* v = qobject_cast<QAbstractItemView*>(o); v && v->model())
                return v->model()->headerData(t.binding->index, Qt::Horizontal).toString();
            return {};
        case R::RowLabel:
            if (auto* g = qobject_cast<QTableWidget*>(o))
                if (const QTableWidgetItem* item = g->item(t.binding->index, 0))
                    return item->text();
            return {};
    }
    return {};
}

std::map<int, QString> LanguageApplier::CurrentTexts() const {
    std::map<int, QString> texts;
    for (const Target& t : targets_)
        texts.emplace(t.binding->id, TextOf(t));
    return texts;
}

void LanguageApplier::FillMenu(QMenu* menu, const QStringList& names, const QString& current,
                               const std::function<QString(const QString&)>& onChoose) {
    menu->clear();
    auto* group = new QActionGroup(menu);
    group->setExclusive(true);
    for (const QString& name : names) {
        QAction* a = menu->addAction(name);
        a->setCheckable(true);
        a->setChecked(name.compare(current, Qt::CaseInsensitive) == 0);
        a->setObjectName(QStringLiteral("mnLang_") + name);
        group->addAction(a);
        QObject::connect(a, &QAction::triggered, menu, [menu, onChoose, name] {
            // A language that failed to load leaves the check where it was.
            const QString now = onChoose(name);
            for (QAction* item : menu->actions())
                item->setChecked(item->text().compare(now, Qt::CaseInsensitive) == 0);
        });
    }
}

}  // namespace shell
