// SPDX-License-Identifier: GPL-3.0-or-later
// Language files: numbered (and a few named) texts that replace the captions,
// hints and messages of the windows at run time. The files are data: reading
// one never runs anything and never reads another file.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sondrel {

// Controls of this program that the classic numbered table has no id for
// (captions of buttons that only had pictures, windows of our own) take ids
// from this range.
inline constexpr int kOwnIdFirst = 9000;
inline constexpr int kOwnIdLast = 9199;

// Messages of this program's own windows that the classic table has no id
// for. They are message texts on any line of a file, like the explicit ids.
namespace msg {
inline constexpr int kNoHelpFile = 9071;
inline constexpr int kUnsavedTags = 9072;
inline constexpr int kUnsavedTagsOf = 9073;
inline constexpr int kCannotSetLanguage = 9074;
inline constexpr int kCannotLoadSkin = 9075;
inline constexpr int kNoNetworkClient = 9076;
inline constexpr int kNoFileSelected = 9077;
inline constexpr int kCannotOpen = 9078;
inline constexpr int kLyricsFileTooLarge = 9079;
inline constexpr int kCannotWrite = 9080;
inline constexpr int kLyricsNotSaved = 9081;
inline constexpr int kPictureNotAdded = 9082;
inline constexpr int kNotAdded = 9083;
inline constexpr int kPictureNotDeleted = 9084;
inline constexpr int kExistsNotReplaced = 9085;
inline constexpr int kCannotSavePicture = 9086;
inline constexpr int kNoCoverAdded = 9087;
inline constexpr int kPictureTooLarge = 9088;
inline constexpr int kNotAPicture = 9089;
inline constexpr int kPictureUndecodable = 9090;
inline constexpr int kPictureNotJpeg = 9091;
inline constexpr int kCannotWriteTags = 9092;
inline constexpr int kChooseBeforeWriting = 9093;
inline constexpr int kSelectOneAlbum = 9094;
inline constexpr int kFreeDbNeedsEmail = 9095;
inline constexpr int kNotAnEmail = 9096;
inline constexpr int kReceivingOf = 9097;
inline constexpr int kReceiving = 9098;
inline constexpr int kNoWorkbookProgram = 9099;
inline constexpr int kFirst = kNoHelpFile;
inline constexpr int kLast = kNoWorkbookProgram;
// The lyrics service's answers, after the look-up captions' ids.
inline constexpr int kTrackInstrumental = 9122;
inline constexpr int kNoServiceLyrics = 9123;
inline constexpr int kSyncedLinesFetched = 9124;
inline constexpr int kServiceFirst = kTrackInstrumental;
inline constexpr int kServiceLast = kSyncedLinesFetched;
}  // namespace msg

// A language file larger than this is refused rather than read.
inline constexpr std::size_t kMaxLanguageFileBytes = 1u << 20;

// One "key=value" line, with its line number counted from 1.
struct LanguageAssignment {
    int line = 0;
    std::string key;
    std::string value;
};

// The assignments of a language file's bytes. Lines holding "//" are comments
// and lines without "=" are skipped; neither key nor value is trimmed (only a
// line break's CR). Text that is valid UTF-8 is taken as it is; anything else
// is read in `legacyCodePage`, as older 8-bit files are.
std::vector<LanguageAssignment> ParseLanguageText(std::string_view bytes,
                                                  std::string_view legacyCodePage);

// True for the keys that act on a control or a message (the numbered ids
// the windows use and the named texts); other keys are ignored.
bool IsActingKey(std::string_view key);

// The message table: texts the program shows in boxes and status lines,
// indexed by id, with the built-in English texts.
class MessageTable {
public:
    MessageTable();
    // The built-in texts again (other ids keep what they have).
    void ResetBuiltIns();
    // The text of `id` ("" when none has been set).
    const std::string& Text(int id) const;
    // What a window shows for `id`: its text, or its default while no
    // language has set one.
    const std::string& Shown(int id) const;
    void Set(int id, std::string text) { texts_[id] = std::move(text); }
    // The texts set again at every application of a language: the classic
    // table's and this program's own messages.
    static const std::map<int, std::string>& BuiltIns();
    // English for the message ids the classic table leaves empty until a
    // language sets them (the lyrics search's outcomes, the look-up
    // questions); unlike the built-ins, a language that lacks one keeps the
    // previous language's text.
    static const std::map<int, std::string>& Defaults();

private:
    std::map<int, std::string> texts_;
};

// What applying a language gives the windows: the message table updated and
// every acting key's value (captions, hints, named texts) by key.
struct AppliedLanguage {
    std::map<std::string, std::string> texts;
};

// Applies `assignments` to `messages`: the built-in messages first, then each
// line in order. Ids 0 to 98 are messages from line 13 on; the explicit
// message ids act on any line. Empty values for captions and hints are left
// out, so a malformed file never leaves a control without text.
AppliedLanguage ApplyLanguage(const std::vector<LanguageAssignment>& assignments,
                              MessageTable& messages);

// The message table of the running program, shared by its windows.
MessageTable& ProgramMessages();

// Reads and applies a language file; nullopt with `error` set to the file and
// the reason when it cannot be read (the built-in messages are in force then;
// the window shows "Can't set the language" with that reason).
std::optional<AppliedLanguage> LoadLanguageFile(const std::string& path,
                                                std::string_view legacyCodePage,
                                                MessageTable& messages, std::string& error);

}  // namespace sondrel
