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
    void Set(int id, std::string text) { texts_[id] = std::move(text); }
    static const std::map<int, std::string>& BuiltIns();

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

// Reads and applies a language file; nullopt with `error` set to the file and
// the reason when it cannot be read (the built-in messages are in force then;
// the window shows "Can't set the language" with that reason).
std::optional<AppliedLanguage> LoadLanguageFile(const std::string& path,
                                                std::string_view legacyCodePage,
                                                MessageTable& messages, std::string& error);

}  // namespace sondrel
