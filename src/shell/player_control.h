// SPDX-License-Identifier: GPL-3.0-or-later
// Playing the selected files: through a media player on the session bus
// (MPRIS: clear its track list, add the files in list order, play), through
// the player program started with the files, or by opening the focused file
// with the desktop's default application for its type.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace shell {

// "Play files with": the two player choices drive an MPRIS player; the third
// opens the file with the desktop's default application.
enum class PlayWith { Player = 0, PlayerVersion3 = 1, InstalledProgram = 2 };

// The option a player program takes to add files to its playlist without
// playing them; "" when the program is not known to have one.
QString EnqueueOptionFor(const QString& program);

class PlayerControl {
public:
    explicit PlayerControl(QDBusConnection bus = QDBusConnection::sessionBus());

    // `playerCommand` is the program (with options) to start when no player
    // is running, e.g. "audacious" or "vlc --one-instance".
    void SetOptions(int playFiles, const QString& playerCommand);
    PlayWith Mode() const { return mode_; }

    // Each returns "" when the player took the command, or what went wrong in
    // words, for the status line. `files` are the selected files in list
    // order; `focused` is the focused row's file ("" for a folder row).
    QString Play(const QStringList& files, const QString& focused);
    QString Stop();
    QString Enqueue(const QStringList& files, const QString& focused);

    // The desktop's "open with the default application" and the detached
    // start of a program; tests replace them.
    std::function<bool(const QUrl&)> openUrl;
    std::function<bool(const QString& program, const QStringList& arguments)> startDetached;

private:
    // The bus name of the running player to drive: the first one with a
    // track list, otherwise the first one at all; "" when none runs.
    QString FindPlayer(bool* hasTrackList) const;
    QString StartPlayer(const QStringList& files, bool enqueue);
    QString FillTrackList(const QString& service, const QStringList& files, bool clearFirst);

    QDBusConnection bus_;
    PlayWith mode_ = PlayWith::InstalledProgram;
    QString playerCommand_;
};

}  // namespace shell
