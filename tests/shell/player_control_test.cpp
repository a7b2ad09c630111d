// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/player_control.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include "support/test_support.h"

namespace {

// A player on the bus that records what it is asked and keeps a track list.
class FakePlayer : public QDBusVirtualObject {
public:
    explicit FakePlayer(bool hasTrackList) : hasTrackList_(hasTrackList) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        QMutexLocker lock(&mutex_);
        const QString member = message.member();
        const QVariantList args = message.arguments();
        QVariantList reply;
        if (member == QLatin1String("Get")) {
            const QString name = args.value(1).toString();
            QVariant value;
            if (name == QLatin1String("HasTrackList")) {
                value = hasTrackList_;
            } else if (name == QLatin1String("Tracks")) {
                QList<QDBusObjectPath> paths;
                for (int id : trackIds_)
                    paths.append(QDBusObjectPath(QStringLiteral("/fake/track/%1").arg(id)));
                value = QVariant::fromValue(paths);
            }
            reply.append(QVariant::fromValue(QDBusVariant(value)));
        } else {
            calls_.append(member);
            if (member == QLatin1String("AddTrack")) {
                const QString after = qvariant_cast<QDBusObjectPath>(args.value(1)).path();
                const int at = after.endsWith(QLatin1String("NoTrack"))
                                   ? 0
                                   : int(trackIds_.indexOf(after.section('/', -1).toInt())) + 1;
                trackIds_.insert(at, nextId_);
                uris_.insert(at, args.value(0).toString());
                ++nextId_;
                if (args.value(2).toBool())
                    current_ = args.value(0).toString();
            } else if (member == QLatin1String("RemoveTrack")) {
                const int id =
                    qvariant_cast<QDBusObjectPath>(args.value(0)).path().section('/', -1).toInt();
                const auto at = trackIds_.indexOf(id);
                if (at >= 0) {
                    trackIds_.removeAt(at);
                    uris_.removeAt(at);
                }
            } else if (member == QLatin1String("OpenUri")) {
                current_ = args.value(0).toString();
            }
        }
        connection.send(message.createReply(reply));
        return true;
    }

    QStringList Calls() {
        QMutexLocker lock(&mutex_);
        return calls_;
    }
    QStringList Uris() {
        QMutexLocker lock(&mutex_);
        return uris_;
    }
    QString Current() {
        QMutexLocker lock(&mutex_);
        return current_;
    }
    void Preload(const QStringList& uris) {
        QMutexLocker lock(&mutex_);
        for (const QString& uri : uris) {
            trackIds_.append(nextId_++);
            uris_.append(uri);
        }
    }

private:
    QMutex mutex_;
    bool hasTrackList_;
    QList<int> trackIds_;
    QStringList uris_;
    QStringList calls_;
    QString current_;
    int nextId_ = 1;
};

// A private session bus for one test, so no real player is ever touched.
class PrivateBus {
public:
    PrivateBus() {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            return;
        daemon_.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                               QStringLiteral("--print-address"),
                               QStringLiteral("--address=unix:dir=") + dir_.path()});
        if (!daemon_.waitForStarted() || !daemon_.waitForReadyRead(5000))
            return;
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus() {
        daemon_.kill();
        daemon_.waitForFinished();
    }
    const QString& address() const { return address_; }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
};

// The fake player answers from a thread of its own, as a real player would
// from its own process, so the control's blocking calls get their replies.
class PlayerControlOnBus : public ::testing::Test {
protected:
    void SetUp() override {
        qDBusRegisterMetaType<QList<QDBusObjectPath>>();
        if (bus_.address().isEmpty())
            GTEST_SKIP() << "dbus-daemon is not available";
        client_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(bus_.address(), QStringLiteral("client")));
        ASSERT_TRUE(client_->isConnected());
        thread_.start();
    }
    void TearDown() override {
        for (const QString& name : names_)
            QDBusConnection::disconnectFromBus(name);
        if (client_)
            QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        thread_.quit();
        thread_.wait();
    }

    FakePlayer* AddPlayer(const QString& name, bool hasTrackList) {
        players_.push_back(std::make_unique<FakePlayer>(hasTrackList));
        FakePlayer* player = players_.back().get();
        player->moveToThread(&thread_);
        QDBusConnection connection = QDBusConnection::connectToBus(bus_.address(), name);
        names_.append(name);
        EXPECT_TRUE(
            connection.registerVirtualObject(QStringLiteral("/org/mpris/MediaPlayer2"), player));
        EXPECT_TRUE(connection.registerService(QStringLiteral("org.mpris.MediaPlayer2.") + name));
        return player;
    }

    shell::PlayerControl Control(int playFiles, const QString& command = {}) {
        shell::PlayerControl control(*client_);
        control.SetOptions(playFiles, command);
        control.startDetached = [this](const QString& program, const QStringList& args) {
            started_.append(QStringList{program} + args);
            return true;
        };
        control.openUrl = [this](const QUrl& url) {
            opened_.append(url);
            return true;
        };
        return control;
    }

    PrivateBus bus_;
    QThread thread_;
    std::unique_ptr<QDBusConnection> client_;
    std::vector<std::unique_ptr<FakePlayer>> players_;
    QStringList names_;
    QList<QStringList> started_;
    QList<QUrl> opened_;
};

QString Uri(const QString& path) {
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

TEST_F(PlayerControlOnBus, PlayReplacesTheTrackListInListOrderThenPlays) {
    FakePlayer* player = AddPlayer(QStringLiteral("fake"), true);
    player->Preload({QStringLiteral("file:///old.mp3")});
    const QStringList files = {QStringLiteral("/m/b c.mp3"), QStringLiteral("/m/a.mp3"),
                               QStringLiteral("/m/ü.ogg")};
    shell::PlayerControl control = Control(0);
    EXPECT_EQ(control.Play(files, files[1]), QString());
    EXPECT_EQ(player->Uris(), (QStringList{Uri(files[0]), Uri(files[1]), Uri(files[2])}));
    EXPECT_EQ(player->Current(), Uri(files[0]));
    EXPECT_EQ(player->Calls().last(), QStringLiteral("Play"));
    EXPECT_TRUE(player->Calls().contains(QStringLiteral("RemoveTrack")));
    EXPECT_TRUE(opened_.isEmpty());
}

TEST_F(PlayerControlOnBus, AddToPlaylistAppendsWithoutClearingOrPlaying) {
    FakePlayer* player = AddPlayer(QStringLiteral("fake"), true);
    player->Preload({QStringLiteral("file:///old.mp3")});
    shell::PlayerControl control = Control(1);
    EXPECT_EQ(control.Enqueue({QStringLiteral("/m/1.mp3"), QStringLiteral("/m/2.mp3")},
                              QStringLiteral("/m/1.mp3")),
              QString());
    EXPECT_EQ(player->Uris(),
              (QStringList{QStringLiteral("file:///old.mp3"), Uri(QStringLiteral("/m/1.mp3")),
                           Uri(QStringLiteral("/m/2.mp3"))}));
    EXPECT_FALSE(player->Calls().contains(QStringLiteral("Play")));
    EXPECT_FALSE(player->Calls().contains(QStringLiteral("RemoveTrack")));
    EXPECT_EQ(control.Stop(), QString());
    EXPECT_EQ(player->Calls().last(), QStringLiteral("Stop"));
}

TEST_F(PlayerControlOnBus, APlayerWithATrackListIsPreferred) {
    FakePlayer* plain = AddPlayer(QStringLiteral("aaa"), false);
    FakePlayer* listed = AddPlayer(QStringLiteral("zzz"), true);
    shell::PlayerControl control = Control(0);
    EXPECT_EQ(control.Play({QStringLiteral("/m/1.mp3")}, QStringLiteral("/m/1.mp3")), QString());
    EXPECT_TRUE(plain->Calls().isEmpty());
    EXPECT_EQ(listed->Calls().last(), QStringLiteral("Play"));
}

TEST_F(PlayerControlOnBus, WithoutATrackListThePlayerProgramGetsTheFiles) {
    FakePlayer* plain = AddPlayer(QStringLiteral("plain"), false);
    const QStringList files = {QStringLiteral("/m/1.mp3"), QStringLiteral("/m/2.mp3")};
    shell::PlayerControl withProgram = Control(0, QStringLiteral("audacious --quiet"));
    EXPECT_EQ(withProgram.Play(files, files[0]), QString());
    EXPECT_EQ(withProgram.Enqueue(files, files[0]), QString());
    ASSERT_EQ(started_.size(), 2);
    EXPECT_EQ(started_[0],
              (QStringList{QStringLiteral("audacious"), QStringLiteral("--quiet")} + files));
    EXPECT_EQ(started_[1], (QStringList{QStringLiteral("audacious"), QStringLiteral("--quiet"),
                                        QStringLiteral("--enqueue")} +
                            files));
    // No program set: the running player still opens the focused file.
    shell::PlayerControl withoutProgram = Control(0);
    EXPECT_EQ(withoutProgram.Play(files, files[1]), QString());
    EXPECT_EQ(plain->Current(), Uri(files[1]));
}

TEST_F(PlayerControlOnBus, NoPlayerRunningStartsTheProgramOrSaysWhy) {
    shell::PlayerControl control = Control(0, QStringLiteral("vlc"));
    EXPECT_EQ(control.Stop(), QString());
    ASSERT_EQ(started_.size(), 1);
    EXPECT_EQ(started_[0], QStringList{QStringLiteral("vlc")});

    shell::PlayerControl unset = Control(0);
    EXPECT_FALSE(unset.Play({QStringLiteral("/m/1.mp3")}, QStringLiteral("/m/1.mp3")).isEmpty());
    shell::PlayerControl unknown = Control(0, QStringLiteral("/opt/myplayer"));
    EXPECT_FALSE(
        unknown.Enqueue({QStringLiteral("/m/1.mp3")}, QStringLiteral("/m/1.mp3")).isEmpty());
    EXPECT_EQ(started_.size(), 1);
}

TEST_F(PlayerControlOnBus, TheInstalledProgramOpensOnlyTheFocusedFile) {
    FakePlayer* player = AddPlayer(QStringLiteral("fake"), true);
    shell::PlayerControl control = Control(2);
    const QStringList files = {QStringLiteral("/m/1.mp3"), QStringLiteral("/m/2.mp3"),
                               QStringLiteral("/m/3.mp3")};
    EXPECT_EQ(control.Play(files, files[1]), QString());
    ASSERT_EQ(opened_.size(), 1);
    EXPECT_EQ(opened_[0], QUrl::fromLocalFile(files[1]));
    EXPECT_EQ(control.Enqueue(files, files[1]), QString());
    EXPECT_TRUE(player->Calls().isEmpty());
    // A folder row focused: nothing happens, whatever is selected.
    EXPECT_EQ(control.Play(files, QString()), QString());
    EXPECT_EQ(opened_.size(), 1);
}

TEST(EnqueueOptionFor, KnownPlayersByProgramName) {
    EXPECT_EQ(shell::EnqueueOptionFor(QStringLiteral("/usr/bin/audacious")),
              QStringLiteral("--enqueue"));
    EXPECT_EQ(shell::EnqueueOptionFor(QStringLiteral("vlc")), QStringLiteral("--playlist-enqueue"));
    EXPECT_EQ(shell::EnqueueOptionFor(QStringLiteral("mpv")), QString());
}

}  // namespace
