// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/file_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using sondrel::TagFormat;

// Each switch of the window hides its own format and no other: the menu's
// order must keep matching the formats it names.
TEST(CoreScanOptions, EachFormatSwitchHidesItsOwnFormat) {
    const TagFormat bySwitch[kFormatSwitchCount] = {TagFormat::MP3, TagFormat::Ogg, TagFormat::WMA,
                                                    TagFormat::APE, TagFormat::MP4, TagFormat::MPC,
                                                    TagFormat::FLAC};
    for (int i = 0; i < kFormatSwitchCount; ++i) {
        ScanOptions options;
        options.formats[static_cast<std::size_t>(i)] = false;
        const sondrel::FolderScanOptions out = CoreScanOptions(options);
        EXPECT_EQ(out.hiddenFormats, std::vector<TagFormat>{bySwitch[i]}) << "switch " << i;
    }
}

TEST(CoreScanOptions, AllSwitchesOnHideNothingAndFoldersFollowTheOptions) {
    ScanOptions options;
    options.showDirs = false;
    options.subfolders = true;
    options.onlySelectedSubfolders = true;
    const sondrel::FolderScanOptions out = CoreScanOptions(options);
    EXPECT_TRUE(out.hiddenFormats.empty());
    EXPECT_FALSE(out.showFolders);
    EXPECT_TRUE(out.subfolders);
    EXPECT_TRUE(out.onlySelectedSubfolders);
}

}  // namespace
