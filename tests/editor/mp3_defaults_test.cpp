// SPDX-License-Identifier: GPL-3.0-or-later
// What a default MP3 save writes when the user gave no genre and no lyrics:
// no genre (ID3v1 byte 255, no TCON) and no Lyrics3 block.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "editor/format_bridge.h"
#include "support/test_support.h"
#include "tags/id3v2.h"

namespace sondrel {
namespace {

using test::Bytes;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

bool Contains(const Bytes& haystack, std::string_view needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

// Stand-in audio with no tag at either end.
Bytes Audio() {
    Bytes a(3000);
    for (std::size_t i = 0; i < a.size(); ++i)
        a[i] = static_cast<std::uint8_t>(i % 4 == 0 ? 0xFF : (i * 37 + 11) % 251);
    return a;
}

TEST(Mp3Defaults, ATitleOnlySaveWritesNoGenreAndNoEmptyLyricsBlock) {
    for (const int choice : {kVersion12, kVersion2, kVersion1}) {
        SCOPED_TRACE("save choice " + std::to_string(choice));
        TempDir dir;
        const std::string path = dir.file("plain.mp3");
        WriteAll(path, Audio());
        EditorOptions options;
        options.saveChoice = choice;
        TagBridge b(options);
        b.Read(path);
        EXPECT_EQ(b.DisplayedGenre(TagFormat::MP3), "");
        TagFields hub = b.Hub();
        hub.title = "Only a title";
        b.setHub(hub);
        ASSERT_TRUE(b.Save(path).ok);

        const Bytes disk = ReadAll(path);
        EXPECT_FALSE(Contains(disk, "LYRICSBEGIN"));
        EXPECT_FALSE(Contains(disk, "TCON"));
        if (choice != kVersion2) {
            ASSERT_GE(disk.size(), 128u);
            EXPECT_EQ(disk[disk.size() - 128], 'T');
            EXPECT_EQ(disk.back(), 255) << "the ID3v1 genre byte";
        }
        TagBridge again;
        again.Read(path);
        EXPECT_EQ(again.Hub().title, "Only a title");
        EXPECT_EQ(again.Hub().Genre, "");
        EXPECT_EQ(again.DisplayedGenre(TagFormat::MP3), "");
    }
}

}  // namespace
}  // namespace sondrel
