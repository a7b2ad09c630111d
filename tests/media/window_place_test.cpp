// SPDX-License-Identifier: GPL-3.0-or-later
// The lyrics and pictures windows' places: the screen check, and the
// settings each window reads and writes.
#include "media/window_place.h"

#include <gtest/gtest.h>

#include <QScreen>
#include <map>

#include "media/lyrics_window.h"
#include "media/pictures_window.h"
#include "media/test_host.h"

namespace {

TEST(WindowPlace, StoredValuesOffTheScreenFallBack) {
    const QSize screen(1000, 700);
    const QSize fallback(170, 481);
    struct Case {
        QRect stored;
        QRect expected;
    };
    const Case cases[] = {
        {{10, 20, 300, 400}, {10, 20, 300, 400}},          // fits: kept
        {{-5, -1, 300, 400}, {0, 0, 300, 400}},            // negative corner
        {{1001, 701, 300, 400}, {0, 0, 300, 400}},         // corner beyond the screen
        {{1000, 700, 1000, 700}, {1000, 700, 1000, 700}},  // the screen's own size is allowed
        {{0, 0, -1, -1}, {0, 0, 170, 481}},                // negative size
        {{0, 0, 1001, 701}, {0, 0, 170, 481}},             // larger than the screen
    };
    for (const Case& c : cases)
        EXPECT_EQ(CheckedPlace(c.stored, screen, fallback), c.expected) << c.stored.x();
}

// A host that keeps settings in a map.
struct SettingsHost : sondrel::test::TestHost {
    std::map<QString, QString> values;
    QString ReadSetting(const QString& name, const QString& def) const override {
        const auto it = values.find(name);
        return it == values.end() ? def : it->second;
    }
    void WriteSetting(const QString& name, const QString& value) override { values[name] = value; }
};

TEST(WindowPlace, EachWindowTakesItsStoredPlaceAndKeepsWhereItWas) {
    struct Case {
        const char* prefix;
        QRect defaults;
    };
    for (const Case c :
         {Case{"fmText", QRect(0, 11, 170, 545)}, Case{"fmImage", QRect(601, 313, 158, 264)}}) {
        const bool lyrics = std::string(c.prefix) == "fmText";
        auto make = [&](SettingsHost& host) -> std::unique_ptr<QWidget> {
            if (lyrics)
                return std::make_unique<LyricsWindow>(&host, nullptr);
            return std::make_unique<PicturesWindow>(&host, nullptr);
        };
        const QString p = QString::fromLatin1(c.prefix);
        {
            // Nothing stored yet: the defaults (where the screen has room for them).
            SettingsHost host;
            auto window = make(host);
            window->show();
            const QSize screen = window->screen()->availableGeometry().size();
            EXPECT_EQ(window->pos(), CheckedPlace(c.defaults, screen, {}).topLeft()) << c.prefix;
            window->close();
        }
        SettingsHost host;
        host.values[p + "Left"] = "40";
        host.values[p + "Top"] = "30";
        host.values[p + "Width"] = "210";
        host.values[p + "Height"] = "260";
        host.values[p + "Open"] = "/music/texts";
        {
            auto window = make(host);
            window->show();
            EXPECT_EQ(window->pos(), QPoint(40, 30)) << c.prefix;
            EXPECT_EQ(window->size(), QSize(210, 260)) << c.prefix;
            window->move(50, 60);
            window->resize(230, 280);
            window->close();
        }
        // Written back on closing and at the end: the new place, the folders kept.
        EXPECT_EQ(host.values[p + "Left"], "50") << c.prefix;
        EXPECT_EQ(host.values[p + "Top"], "60") << c.prefix;
        EXPECT_EQ(host.values[p + "Width"], "230") << c.prefix;
        EXPECT_EQ(host.values[p + "Height"], "280") << c.prefix;
        if (lyrics) {
            EXPECT_EQ(host.values[p + "Open"], "/music/texts");
        }
    }
}

TEST(WindowPlace, ALyricsWindowNeverShownKeepsTheStoredPlace) {
    SettingsHost host;
    host.values["fmTextLeft"] = "40";
    { LyricsWindow window(&host, nullptr); }
    EXPECT_EQ(host.values["fmTextLeft"], "40");
    EXPECT_EQ(host.values.count("fmTextWidth"), 0u);
}

}  // namespace
