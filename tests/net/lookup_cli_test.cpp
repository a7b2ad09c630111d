// SPDX-License-Identifier: GPL-3.0-or-later
// sondrel-tag lookup freedb against a local CDDB server.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "editor/format_bridge.h"
#include "support/local_server.h"
#include "support/test_support.h"

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using test::RunCommand;
using test::ShellQuote;

class LookupCli : public ::testing::Test {
protected:
    void SetUp() override {
        tool = test::CliTool();
        if (tool.empty())
            GTEST_SKIP() << "sondrel-tag is not built";
        ASSERT_TRUE(server.running());
        const fs::path samples = std::string(SONDREL_SOURCE_DIR) + "/samples";
        for (const char* name :
             {"01 - Morning Tune.mp3", "02 - Evening Tune.ogg", "03 - Night Tune.wma"}) {
            fs::copy_file(samples / name, dir.file(name));
            files.push_back(dir.file(name));
        }
    }
    test::CommandResult Run(const std::string& options) {
        std::string command =
            "env -u SONDREL_FREEDB_EMAIL " + ShellQuote(tool) + " lookup freedb " + options;
        for (const std::string& f : files)
            command += " " + ShellQuote(f);
        return RunCommand(command + " 2>/dev/null");
    }
    std::string Server(const std::string& prefix) {
        return "--email tester@example.org --server " + ShellQuote(server.url(prefix));
    }
    std::vector<test::Bytes> Contents() const {
        std::vector<test::Bytes> all;
        for (const std::string& f : files)
            all.push_back(test::ReadAll(f));
        return all;
    }

    std::string tool;
    test::LocalServer server;
    test::TempDir dir;
    std::vector<std::string> files;
};

TEST_F(LookupCli, ListsTheDiscs) {
    const auto text = Run(Server("/inexact"));
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_EQ(text.output,
              "Disc 1: rock 1a026c03 Artist / Album\nDisc 2: misc 1a026c03 Greatest Hits\n");

    const auto json = Run(Server("/inexact") + " --json");
    ASSERT_EQ(json.exitCode, 0);
    const auto parsed = nlohmann::json::parse(json.output);
    EXPECT_EQ(parsed["discId"].get<std::string>().size(), 8u);
    ASSERT_EQ(parsed["discs"].size(), 2u);
    EXPECT_EQ(parsed["discs"][1]["category"], "misc");
    EXPECT_EQ(parsed["discs"][1]["number"], 2);
    EXPECT_FALSE(parsed.contains("files"));
}

TEST_F(LookupCli, PreviewsThenWritesTheChosenDisc) {
    const auto before = Contents();
    const auto preview = Run(Server("/inexact") + " --disc 1 --json --track-style 1");
    ASSERT_EQ(preview.exitCode, 0);
    const auto shown = nlohmann::json::parse(preview.output);
    ASSERT_EQ(shown["files"].size(), 3u);
    EXPECT_EQ(shown["files"][0]["status"], "would write");
    EXPECT_EQ(shown["files"][0]["tags"]["artist"], "Guest");
    EXPECT_EQ(shown["files"][1]["tags"]["track"], "02");
    EXPECT_EQ(Contents(), before) << "a preview wrote";

    const auto written = Run(Server("/inexact") + " --disc 1 --write --json");
    ASSERT_EQ(written.exitCode, 0) << written.output;
    const auto result = nlohmann::json::parse(written.output);
    TagBridge bridge;
    for (std::size_t k = 0; k < files.size(); ++k) {
        EXPECT_EQ(result["files"][k]["status"], "written");
        bridge.Read(files[k]);
        EXPECT_EQ(bridge.Hub().album, "Album") << files[k];
        EXPECT_EQ(bridge.Hub().track, std::to_string(k + 1)) << files[k];
        EXPECT_EQ(bridge.Hub().title, result["files"][k]["tags"]["title"]) << files[k];
    }
}

TEST_F(LookupCli, FailuresChangeNothing) {
    struct Case {
        const char* what;
        std::string options;
        int exitCode;
    };
    const Case cases[] = {
        {"no e-mail", "--server " + ShellQuote(server.url("/inexact")) + " --disc 1 --write", 2},
        {"write without a disc", Server("/inexact") + " --write", 2},
        {"no such disc", Server("/inexact") + " --disc 3 --write", 1},
        {"no match", Server("/none") + " --disc 1 --write", 1},
        {"server error", Server("/broken") + " --disc 1 --write", 1},
        {"disc not readable", Server("/echo") + " --disc 1 --write", 1},
        {"nobody listening", "--email a@b --server http://127.0.0.1:1 --disc 1 --write", 1},
        {"not http", "--email a@b --server file:///etc --disc 1 --write", 1},
    };
    const auto before = Contents();
    for (const Case& c : cases) {
        const auto r = Run(c.options);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.what;
        EXPECT_EQ(Contents(), before) << c.what;
    }
}

// A server that trickles its answer is given up at the look-up's limit,
// with words that say so; a limit out of range is a usage error.
TEST_F(LookupCli, TricklingServerMeetsTheTimeout) {
    const auto start = std::chrono::steady_clock::now();
    const std::string command = "env -u SONDREL_FREEDB_EMAIL " + ShellQuote(tool) +
                                " lookup freedb --timeout 2 " + Server("/trickle") + " " +
                                ShellQuote(files[0]) + " 2>&1";
    const auto r = RunCommand(command);
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("FreeDB: 127.0.0.1:" + std::to_string(server.port()) +
                            ": the look-up took longer than its limit of 2 s"),
              std::string::npos)
        << r.output;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    for (const char* bad : {"0", "x", "86401"})
        EXPECT_EQ(Run(Server("/inexact") + " --timeout " + bad).exitCode, 2) << bad;
}

// Control characters from the server reach neither the terminal nor the
// tags: ESC and C1 sequences, NEL, the line separators, direction overrides.
TEST_F(LookupCli, ServerControlCharactersAreCleaned) {
    const auto hasControls = [](const std::string& text) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
            const auto third = i + 2 < text.size() ? static_cast<unsigned char>(text[i + 2]) : 0;
            if ((c < 0x20 && c != '\n') || c == 0x7F || (c == 0xC2 && next >= 0x80 && next <= 0x9F))
                return true;
            if (c == 0xE2 && next == 0x80 && third >= 0xA8 && third <= 0xAE)
                return true;
            if (c == 0xE2 && next == 0x81 && third >= 0xA6 && third <= 0xA9)
                return true;
        }
        return false;
    };
    std::string command = "env -u SONDREL_FREEDB_EMAIL " + ShellQuote(tool) + " lookup freedb " +
                          Server("/controls") + " --disc 1 --write";
    for (const std::string& f : files)
        command += " " + ShellQuote(f);
    const auto r = RunCommand(command + " 2>&1");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_FALSE(hasControls(r.output)) << r.output;
    EXPECT_NE(r.output.find("Disc 1: data 1a026c03 Ev]0;titleil Disc\n"), std::string::npos)
        << r.output;
    TagBridge bridge;
    ASSERT_NE(bridge.Read(files[0]), TagFormat::None);
    EXPECT_EQ(bridge.Hub().album, "Album Two");
    EXPECT_EQ(bridge.Hub().artist, "Gu2Jest");
    EXPECT_EQ(bridge.Hub().title, "So ng");
    EXPECT_EQ(bridge.Hub().year, "1999");
    EXPECT_EQ(bridge.Hub().Genre, "Ro ck");
    bridge.Read(files[1]);
    EXPECT_EQ(bridge.Hub().artist, "Ev[31mil");
    EXPECT_EQ(bridge.Hub().title, "Second");

    // Failure messages quote the server's words cleaned as well.
    const auto refused =
        RunCommand("env -u SONDREL_FREEDB_EMAIL " + ShellQuote(tool) + " lookup freedb " +
                   Server("/controls") + " --disc 1 " + ShellQuote(files[0]) + " 2>&1");
    EXPECT_FALSE(hasControls(refused.output)) << refused.output;
}

TEST_F(LookupCli, FailureMessageNamesTheServer) {
    std::string command = "env -u SONDREL_FREEDB_EMAIL " + ShellQuote(tool) + " lookup freedb " +
                          Server("/broken") + " " + ShellQuote(files[0]) + " 2>&1";
    const auto r = RunCommand(command);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("FreeDB: 127.0.0.1:" + std::to_string(server.port()) +
                            ": the server answered with HTTP status 500"),
              std::string::npos)
        << r.output;
}

}  // namespace
}  // namespace sondrel
