// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/player_control.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>

namespace shell {

namespace {

const QString kMprisPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kMprisPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kTrackList = QStringLiteral("org.mpris.MediaPlayer2.TrackList");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
// A player that does not answer within this time is treated as gone; the
// window must not hang on it.
constexpr int kCallTimeoutMs = 3000;

QDBusMessage Call(const QDBusConnection& bus, const QString& service, const QString& interface,
                  const QString& member, const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, kMprisPath, interface, member);
    message.setArguments(arguments);
    return bus.call(message, QDBus::Block, kCallTimeoutMs);
}

QVariant Property(const QDBusConnection& bus, const QString& service, const QString& interface,
                  const QString& name) {
    const QDBusMessage reply = Call(bus, service, QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("Get"), {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return qvariant_cast<QDBusVariant>(reply.arguments().first()).variant();
}

QString Failure(const QDBusMessage& reply) {
    if (reply.type() == QDBusMessage::ErrorMessage)
        return reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
    return {};
}

QList<QDBusObjectPath> Tracks(const QDBusConnection& bus, const QString& service) {
    const QVariant value = Property(bus, service, kTrackList, QStringLiteral("Tracks"));
    return qdbus_cast<QList<QDBusObjectPath>>(value);
}

QString PlayerName(const QString& service) {
    return service.mid(kMprisPrefix.size());
}

}  // namespace

QString EnqueueOptionFor(const QString& program) {
    const QString name = QFileInfo(program).fileName().toLower();
    static const struct {
        const char* program;
        const char* option;
    } kKnown[] = {
        {"audacious", "--enqueue"},     {"vlc", "--playlist-enqueue"},
        {"cvlc", "--playlist-enqueue"}, {"qmmp", "--enqueue"},
        {"clementine", "--append"},     {"strawberry", "--append"},
        {"deadbeef", "--queue"},        {"rhythmbox-client", "--enqueue"},
    };
    for (const auto& known : kKnown)
        if (name == QLatin1String(known.program))
            return QLatin1String(known.option);
    return {};
}

PlayerControl::PlayerControl(QDBusConnection bus) : bus_(std::move(bus)) {
    openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    startDetached = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
}

void PlayerControl::SetOptions(int playFiles, const QString& playerCommand) {
    mode_ = playFiles == 0   ? PlayWith::Player
            : playFiles == 1 ? PlayWith::PlayerVersion3
                             : PlayWith::InstalledProgram;
    playerCommand_ = playerCommand.trimmed();
}

QString PlayerControl::FindPlayer(bool* hasTrackList) const {
    *hasTrackList = false;
    if (!bus_.isConnected() || !bus_.interface())
        return {};
    QStringList players;
    for (const QString& name : bus_.interface()->registeredServiceNames().value())
        if (name.startsWith(kMprisPrefix))
            players.append(name);
    players.sort();
    for (const QString& service : players) {
        if (Property(bus_, service, kRoot, QStringLiteral("HasTrackList")).toBool()) {
            *hasTrackList = true;
            return service;
        }
    }
    return players.isEmpty() ? QString() : players.first();
}

QString PlayerControl::StartPlayer(const QStringList& files, bool enqueue) {
    QStringList arguments = QProcess::splitCommand(playerCommand_);
    if (arguments.isEmpty())
        return QStringLiteral(
            "No media player is running, and no player program is set in the options");
    const QString program = arguments.takeFirst();
    if (enqueue && !files.isEmpty()) {
        const QString option = EnqueueOptionFor(program);
        if (option.isEmpty())
            return QStringLiteral("%1 has no known option to add files without playing them")
                .arg(program);
        arguments.append(option);
    }
    arguments.append(files);
    if (!startDetached(program, arguments))
        return QStringLiteral("The player could not be started: %1").arg(program);
    return {};
}

QString PlayerControl::FillTrackList(const QString& service, const QStringList& files,
                                     bool clearFirst) {
    if (clearFirst) {
        for (const QDBusObjectPath& track : Tracks(bus_, service)) {
            const QString failed =
                Failure(Call(bus_, service, kTrackList, QStringLiteral("RemoveTrack"),
                             {QVariant::fromValue(track)}));
            if (!failed.isEmpty())
                return QStringLiteral("%1 did not clear its playlist: %2")
                    .arg(PlayerName(service), failed);
        }
    }
    bool first = clearFirst;
    for (const QString& file : files) {
        const QList<QDBusObjectPath> tracks = Tracks(bus_, service);
        const QDBusObjectPath after(tracks.isEmpty() ? kNoTrack : tracks.last().path());
        const QDBusMessage reply = Call(bus_, service, kTrackList, QStringLiteral("AddTrack"),
                                        {QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded),
                                         QVariant::fromValue(after), first});
        const QString failed = Failure(reply);
        if (!failed.isEmpty())
            return QStringLiteral("%1 did not take %2: %3").arg(PlayerName(service), file, failed);
        first = false;
    }
    return {};
}

QString PlayerControl::Play(const QStringList& files, const QString& focused) {
    if (focused.isEmpty())
        return {};
    if (mode_ == PlayWith::InstalledProgram) {
        // Only the focused file: the default application opens one document.
        if (!openUrl(QUrl::fromLocalFile(focused)))
            return QStringLiteral("No program could open %1").arg(focused);
        return {};
    }
    bool hasTrackList = false;
    const QString service = FindPlayer(&hasTrackList);
    if (service.isEmpty() || !hasTrackList) {
        if (!service.isEmpty() && playerCommand_.isEmpty()) {
            // No track list and no program to hand the list to: the player
            // can still open the focused file.
            const QString failed =
                Failure(Call(bus_, service, kPlayer, QStringLiteral("OpenUri"),
                             {QUrl::fromLocalFile(focused).toString(QUrl::FullyEncoded)}));
            return failed.isEmpty()
                       ? QString()
                       : QStringLiteral("%1 did not play: %2").arg(PlayerName(service), failed);
        }
        return StartPlayer(files, false);
    }
    QString failed = FillTrackList(service, files, true);
    if (failed.isEmpty())
        failed = Failure(Call(bus_, service, kPlayer, QStringLiteral("Play")));
    return failed.isEmpty() ? QString() : failed;
}

QString PlayerControl::Enqueue(const QStringList& files, const QString& focused) {
    if (focused.isEmpty() || mode_ == PlayWith::InstalledProgram)
        return {};
    bool hasTrackList = false;
    const QString service = FindPlayer(&hasTrackList);
    if (service.isEmpty() || !hasTrackList)
        return StartPlayer(files, true);
    return FillTrackList(service, files, false);
}

QString PlayerControl::Stop() {
    if (mode_ == PlayWith::InstalledProgram)
        return {};
    bool hasTrackList = false;
    const QString service = FindPlayer(&hasTrackList);
    if (service.isEmpty())
        return StartPlayer({}, false);
    const QString failed = Failure(Call(bus_, service, kPlayer, QStringLiteral("Stop")));
    return failed.isEmpty()
               ? QString()
               : QStringLiteral("%1 did not stop: %2").arg(PlayerName(service), failed);
}

}  // namespace shell
