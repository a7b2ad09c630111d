// SPDX-License-Identifier: GPL-3.0-or-later
// Language files applied to the windows: each id of a language file names a
// caption, hint, list entry or window title; this module finds those controls
// in the windows that exist and sets their texts, and keeps the message table.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <vector>

#include "appearance/language_file.h"

class QMenu;
class QWidget;

namespace shell {

enum class TextRole {
    Caption,         // a button's, label's, check box's, action's or menu's text
    Hint,            // tooltip
    Status,          // status-line text
    Title,           // the window's own title
    Tab,             // a tab's text (`index`)
    Item,            // a combo box entry (`index`)
    VersionEntries,  // the three "Read Tag"/"Save Tag" entries: value + " 1", " 2", " 1&2"
    Header,          // a table view's column caption (`index`)
    RowLabel         // the first cell of row `index` of a grid
};

// One id of a language file bound to one text of a window. `object` is the
// control's object name, or "=" and its built-in caption for a control that
// has no name; empty for the window itself.
struct TextBinding {
    int id;
    const char* window;
    const char* object;
    TextRole role;
    int index = 0;
};

// Every text the language files reach, window by window.
const std::vector<TextBinding>& TextBindings();

// Language names (file names up to their first ".") of the ".lng" files in
// `folders`: names beginning with "." are skipped, a name found in an earlier
// folder is not listed again, at most 30.
QStringList LanguageNames(const QStringList& folders);

// A language file's bytes for `texts` (id and text, in id order) under a
// twelve-line comment header, so the general messages start on line 13.
QByteArray LanguageFileBytes(const QString& language, const std::map<int, QString>& texts,
                             const std::map<std::string, QString>& named = {});

// The named texts ("varSelected", "varRename", "varRenameTitle"): the
// language in force gives them, the built-in English until one does.
std::map<std::string, QString> BuiltInNamedTexts();
QString NamedText(const std::string& key);

// The message table of the running program (built-in texts until a language
// sets them), and the text a window shows for a message id.
sondrel::MessageTable& Messages();
QString Message(int id);

class LanguageApplier : public QObject {
    Q_OBJECT
public:
    // `folders`: where ".lng" files are looked for, first match wins (the
    // program's data folder, then the user's).
    explicit LanguageApplier(QStringList folders, QObject* parent = nullptr);
    ~LanguageApplier() override;

    // Finds the bound controls of `window` (by its object name) while it still
    // shows its built-in texts, then gives it the texts applied so far.
    void Attach(QWidget* window);
    // Attaches each window of the program the first time it is shown, so a
    // window made later (the batch window) gets the language too.
    void AttachWindowsAsShown();

    // Applies `name`.lng; false with `error` (the file and the reason) when it
    // cannot be read. The built-in messages are in force then and nothing else
    // changed.
    bool SetLanguage(const QString& name, QString* error);
    // Applies already-read texts (the ones SetLanguage reads).
    void Apply(const sondrel::AppliedLanguage& texts);

    // The text each bound id shows now, by id (the first control of an id
    // gives it); what English.lng is made from.
    std::map<int, QString> CurrentTexts() const;
    // Bindings of attached windows whose control was not found ("window id").
    QStringList Unresolved() const { return unresolved_; }
    const QStringList& folders() const { return folders_; }

    // Fills the "&Language" menu: one checkable entry per language name,
    // `current` checked; choosing one calls `onChoose` with the name, which
    // answers the language in force afterwards (the old one on a failure).
    static void FillMenu(QMenu* menu, const QStringList& names, const QString& current,
                         const std::function<QString(const QString&)>& onChoose);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Target {
        const TextBinding* binding;
        QPointer<QObject> object;
    };
    void SetText(const Target& target, const QString& text) const;
    QString TextOf(const Target& target) const;

    QStringList folders_;
    std::vector<Target> targets_;
    std::vector<QPointer<QWidget>> attached_;
    QStringList unresolved_;
    // Every text applied so far: a window attached later gets them too.
    std::map<std::string, std::string> applied_;
    bool watching_ = false;
};

}  // namespace shell
