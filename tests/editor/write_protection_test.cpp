// SPDX-License-Identifier: GPL-3.0-or-later
// A write-protected file keeps its protection through a save: the new content
// replaces it with the old mode, and no name of the file is ever writable in
// between (a kill in that moment would leave it so for good).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "editor/format_bridge.h"
#include "support/test_support.h"

namespace sondrel {
namespace {

using test::TempDir;

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
}

TEST(WriteProtectedFile, IsSavedWithoutEverBecomingWritable) {
    for (const char* sample :
         {"01 - Morning Tune.mp3", "02 - Evening Tune.ogg", "03 - Night Tune.wma",
          "04 - Dawn Tune.m4a", "05 - Noon Tune.mpc", "06 - Dusk Tune.ape"}) {
        SCOPED_TRACE(sample);
        TempDir dir;
        const std::string ext = std::filesystem::path(sample).extension().string();
        const std::string path = dir.file("song" + ext);
        const std::string other = dir.file("other-name" + ext);
        std::filesystem::copy_file(std::string(SONDREL_SOURCE_DIR) + "/samples/" + sample, path);
        ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
        ASSERT_EQ(::chmod(path.c_str(), 0444), 0);

        TagBridge bridge;
        bridge.Read(path);
        TagFields hub = bridge.Hub();
        hub.title = "Protected and changed";
        bridge.setHub(hub);

        // The old file's other name shows any mode change of the old file
        // while the save runs.
        std::atomic<bool> done{false};
        std::atomic<bool> sawWritable{false};
        std::thread watch([&] {
            while (!done.load()) {
                if ((ModeOf(other) & 0222) != 0)
                    sawWritable = true;
            }
        });
        const SaveOutcome out = bridge.Save(path);
        done = true;
        watch.join();

        ASSERT_TRUE(out.ok) << out.error;
        EXPECT_FALSE(sawWritable.load()) << "the file was made writable during the save";
        EXPECT_EQ(ModeOf(path), 0444u);
        EXPECT_EQ(ModeOf(other), 0444u);
        TagBridge reader;
        reader.Read(path);
        EXPECT_EQ(reader.Hub().title, "Protected and changed");
    }
}

}  // namespace
}  // namespace sondrel
