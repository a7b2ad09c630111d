// SPDX-License-Identifier: GPL-3.0-or-later
#include "appearance/language_file.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace sondrel {
namespace {

// `count` filler lines, then `tail`; line numbers matter to the rules.
std::string Lines(int count, const std::string& tail) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "filler\r\n";
    return text + tail;
}

AppliedLanguage Apply(const std::string& text, MessageTable& messages) {
    return ApplyLanguage(ParseLanguageText(text, "windows-1251"), messages);
}

TEST(LanguageFile, LinesOneToTwelveNeverFeedTheGeneralMessages) {
    MessageTable messages;
    Apply(Lines(4, "42=Early\r\n"), messages);
    EXPECT_EQ(messages.Text(42), "");
    Apply(Lines(12, "42=Late\r\n"), messages);
    EXPECT_EQ(messages.Text(42), "Late");
    // An explicit message id acts on any line, and as a hint too.
    const AppliedLanguage applied = Apply(Lines(2, "8=Pick files\r\n"), messages);
    EXPECT_EQ(messages.Text(8), "Pick files");
    EXPECT_EQ(applied.texts.at("8"), "Pick files");
}

TEST(LanguageFile, CommentsSpacesAndUnknownKeys) {
    MessageTable messages;
    const AppliedLanguage applied = Apply(
        "5000 = Show errors\n"          // the key is "5000 ": nothing happens
        "800=See http://example.org\n"  // "//" makes it a comment
        "no assignment here\n"
        "3031=accepted, does nothing\n"
        "99999=unknown\n"
        "05000=not the same text\n"
        "5003=Auto save=yes\n"  // the value keeps later "=" signs
        "varRename=New name:\n"
        "5004=\n",  // empty: the built-in caption stays
        messages);
    EXPECT_EQ(applied.texts.size(), 2u);
    EXPECT_EQ(applied.texts.at("5003"), "Auto save=yes");
    EXPECT_EQ(applied.texts.at("varRename"), "New name:");
}

TEST(LanguageFile, ASecondLanguageKeepsWhatItDoesNotSetExceptBuiltInMessages) {
    MessageTable messages;
    Apply(Lines(12, "40=Forty\r\n18=Sicher?\r\n"), messages);
    EXPECT_EQ(messages.Text(40), "Forty");
    EXPECT_EQ(messages.Text(18), "Sicher?");
    Apply(Lines(12, "3=Kopieren\r\n"), messages);
    EXPECT_EQ(messages.Text(40), "Forty");
    EXPECT_EQ(messages.Text(18), "Are you sure?");
    EXPECT_EQ(messages.Text(3), "Kopieren");
}

TEST(LanguageFile, EightBitFilesAreReadInTheLegacyCodePage) {
    MessageTable messages;
    // "Да" in windows-1251, and the same in UTF-8 with a byte-order mark.
    Apply(Lines(12, "18=\xC4\xE0\r\n"), messages);
    EXPECT_EQ(messages.Text(18), "\xD0\x94\xD0\xB0");
    Apply(
        "\xEF\xBB\xBF"
        "18=\xD0\x94\xD0\xB0\r\n",
        messages);
    EXPECT_EQ(messages.Text(18), "\xD0\x94\xD0\xB0");
}

TEST(LanguageFile, AMissingOrHugeFileIsRefusedWithTheBuiltInsInForce) {
    test::TempDir dir;
    MessageTable messages;
    messages.Set(18, "changed");
    std::string error;
    EXPECT_FALSE(LoadLanguageFile(dir.file("none.lng"), "windows-1252", messages, error));
    EXPECT_NE(error.find("none.lng"), std::string::npos);
    EXPECT_EQ(messages.Text(18), "Are you sure?");

    test::WriteAll(dir.file("huge.lng"), std::string(kMaxLanguageFileBytes + 1, 'x'));
    error.clear();
    EXPECT_FALSE(LoadLanguageFile(dir.file("huge.lng"), "windows-1252", messages, error));
    EXPECT_FALSE(error.empty());

    test::WriteAll(dir.file("ok.lng"), Lines(12, "18=Ja?\n"));
    EXPECT_TRUE(LoadLanguageFile(dir.file("ok.lng"), "windows-1252", messages, error));
    EXPECT_EQ(messages.Text(18), "Ja?");
}

// Which message ids a file sets on an early line, what a later file that
// lacks them leaves, and what the windows show before any file set them.
TEST(LanguageFile, OwnMessagesAndDefaultsAcrossTwoLanguages) {
    struct Case {
        int id;
        std::string shownBefore;  // no language applied yet
        bool setOnLineOne;
        std::string afterSecondFile;  // a second file that lacks the id
    };
    const Case cases[] = {
        // Our own messages act on any line and return to English, as built-ins do.
        {msg::kNoFileSelected, "No file is selected.", true, "No file is selected."},
        {msg::kCannotLoadSkin, "Can't load the skin!", true, "Can't load the skin!"},
        // Classic ids without a built-in text show our English until set, and
        // keep the first file's text.
        {42, "No pages with these words in their title were found", false, "Erstes"},
        {4021, "Download lyrics for %1 selected files and save them into the files?", true,
         "Erstes"},
        // A classic built-in.
        {18, "Are you sure?", true, "Are you sure?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        MessageTable messages;
        EXPECT_EQ(messages.Shown(c.id), c.shownBefore);
        const std::string line = std::to_string(c.id) + "=Erstes\r\n";
        Apply(line, messages);
        EXPECT_EQ(messages.Shown(c.id), c.setOnLineOne ? "Erstes" : c.shownBefore);
        Apply(Lines(12, line), messages);
        EXPECT_EQ(messages.Shown(c.id), "Erstes");
        Apply(Lines(12, "3=Kopieren\r\n"), messages);
        EXPECT_EQ(messages.Shown(c.id), c.afterSecondFile);
    }
    // Every own message has English to show.
    for (int id = msg::kFirst; id <= msg::kLast; ++id)
        EXPECT_FALSE(MessageTable().Shown(id).empty()) << id;
}

TEST(LanguageFile, ActingKeys) {
    for (const char* key :
         {"3", "9", "99", "130", "3065", "5113", "8002", "9000", "9199", "varSelected"})
        EXPECT_TRUE(IsActingKey(key)) << key;
    for (const char* key :
         {"0", "24", "29", "3031", "8003", "8999", "9200", "5000 ", "+5", "", "varselected"})
        EXPECT_FALSE(IsActingKey(key)) << key;
}

}  // namespace
}  // namespace sondrel
