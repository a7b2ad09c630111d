// SPDX-License-Identifier: GPL-3.0-or-later
#include "appearance/language_file.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

#include "util/codepage.h"
#include "util/unicode.h"

namespace sondrel {

namespace {

// Inclusive ranges of the numbered ids that act; 3031 is accepted and does
// nothing, so it is not among them.
constexpr std::pair<int, int> kActingIds[] = {
    {3, 23},      {25, 28},     {30, 35},     {39, 41},     {99, 99},
    {101, 105},   {110, 110},   {120, 124},   {130, 131},   {199, 210},
    {260, 260},   {350, 352},   {360, 360},   {500, 500},   {503, 504},
    {530, 532},   {600, 601},   {603, 604},   {608, 608},   {610, 611},
    {620, 620},   {625, 625},   {630, 632},   {640, 640},   {700, 700},
    {702, 704},   {706, 706},   {800, 800},   {802, 803},   {805, 810},
    {851, 860},   {900, 900},   {902, 903},   {905, 910},   {952, 954},
    {956, 960},   {2000, 2000}, {2002, 2002}, {3000, 3010}, {3014, 3021},
    {3023, 3030}, {3032, 3035}, {3038, 3050}, {3052, 3083}, {4000, 4002},
    {4005, 4008}, {4011, 4012}, {4015, 4021}, {5000, 5000}, {5003, 5010},
    {5013, 5026}, {5028, 5032}, {5035, 5036}, {5038, 5042}, {5050, 5051},
    {5060, 5068}, {5070, 5076}, {5080, 5084}, {5090, 5113}, {6000, 6006},
    {6010, 6011}, {6020, 6023}, {7000, 7016}, {8000, 8002}, {kOwnIdFirst, kOwnIdLast},
};

// Ids whose value is a message text on any line of the file.
constexpr std::pair<int, int> kExplicitMessageIds[] = {
    {3, 23},
    {25, 28},
    {30, 35},
    {39, 41},
    {3065, 3065},
    {3067, 3068},
    {3070, 3072},
    {4021, 4021},
    {6022, 6022},
    {msg::kFirst, msg::kLast},
    {msg::kServiceFirst, msg::kServiceLast},
};

constexpr std::array<std::string_view, 3> kNamedKeys = {"varSelected", "varRename",
                                                        "varRenameTitle"};

// The id a key spells in plain decimal ("5000", never "05000" or "5000 ").
std::optional<int> DecimalId(std::string_view key) {
    if (key.empty() || key.size() > 6 || (key.size() > 1 && key.front() == '0'))
        return std::nullopt;
    int value = 0;
    for (char c : key) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

template <std::size_t N>
bool InRanges(int id, const std::pair<int, int> (&ranges)[N]) {
    for (const auto& [from, to] : ranges)
        if (id >= from && id <= to)
            return true;
    return false;
}

}  // namespace

std::vector<LanguageAssignment> ParseLanguageText(std::string_view bytes,
                                                  std::string_view legacyCodePage) {
    const std::string text =
        IsValidUtf8(bytes) ? std::string(bytes) : CodePageToUtf8(bytes, legacyCodePage);
    std::string_view rest = text;
    // A byte-order mark is not part of the first key.
    if (rest.starts_with("\xEF\xBB\xBF"))
        rest.remove_prefix(3);
    std::vector<LanguageAssignment> out;
    int line = 0;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        std::string_view current = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        ++line;
        if (!current.empty() && current.back() == '\r')
            current.remove_suffix(1);
        if (current.find("//") != std::string_view::npos)
            continue;
        const auto equals = current.find('=');
        if (equals == std::string_view::npos)
            continue;
        out.push_back({line, std::string(current.substr(0, equals)),
                       std::string(current.substr(equals + 1))});
    }
    return out;
}

bool IsActingKey(std::string_view key) {
    for (std::string_view named : kNamedKeys)
        if (key == named)
            return true;
    const auto id = DecimalId(key);
    return id && InRanges(*id, kActingIds);
}

const std::map<int, std::string>& MessageTable::BuiltIns() {
    static const std::map<int, std::string> table = {
        {3, "Copy"},
        {4, "Move"},
        {5, "file(s) to "},
        {6, "Errors: "},
        {7, " exist. Overwrite?"},
        {8, "Select mp3-files"},
        {9, "version"},
        {10, "Before"},
        {11, "After"},
        {12, "File Error"},
        {13, "Can't rename file(s): "},
        {14, "Access denied"},
        {15, "File used by another process"},
        {16, "File already exists"},
        {17, "Can't save tag(s). Show this message in next time?"},
        {18, "Are you sure?"},
        {19, "Bookmark #"},
        {20, "Please wait for end of previous process saving"},
        {21, "Cann't display picture for format "},
        {22, "Picture "},
        {23, "Time left: "},
        {25, "<keep>"},
        {26, "Can't create folder"},
        {27, "Create folder structure"},
        {28, "<New>"},
        {30, "Sondrel minimized to system  tray. Click to icon for restore application."},
        {31, "Filename"},
        {32, "Cann't export data to MS Excel"},
        {33, "Flag"},
        {34, "Are you sure to delete all checked files?"},
        {35, "Can't delete file(s): "},
        {msg::kNoHelpFile, "There is no help file (%1.html or English.html) in %2."},
        {msg::kUnsavedTags, "The tags have unsaved changes."},
        {msg::kUnsavedTagsOf, "The tags of \"%1\" have unsaved changes."},
        {msg::kCannotSetLanguage, "Can't set the language"},
        {msg::kCannotLoadSkin, "Can't load the skin!"},
        {msg::kNoNetworkClient, "Downloads are not available: this build has no network client."},
        {msg::kNoFileSelected, "No file is selected."},
        {msg::kCannotOpen, "Cannot open %1: %2"},
        {msg::kLyricsFileTooLarge, "%1 is too large for lyrics (over 8 MiB)"},
        {msg::kCannotWrite, "Cannot write %1: %2"},
        {msg::kLyricsNotSaved, "Lyrics were not saved for %1 of %2 files:"},
        {msg::kPictureNotAdded, "The picture was not added to %1 files:"},
        {msg::kNotAdded, "Not added:"},
        {msg::kPictureNotDeleted, "The picture was not deleted from %1 files:"},
        {msg::kExistsNotReplaced, "%1 exists already; it was not replaced."},
        {msg::kCannotSavePicture, "Cannot save the picture to %1: %2"},
        {msg::kNoCoverAdded, "No cover was added to %1 files:"},
        {msg::kPictureTooLarge, "The picture is larger than 64 MiB"},
        {msg::kNotAPicture, "The data is not a picture"},
        {msg::kPictureUndecodable, "The picture cannot be decoded: %1"},
        {msg::kPictureNotJpeg, "The picture cannot be stored as JPEG"},
        {msg::kCannotWriteTags, "Can't write tags: %1"},
        {msg::kChooseBeforeWriting,
         "Look the album up and choose one of the results before writing."},
        {msg::kSelectOneAlbum,
         "Please select all tracks from one album only in correct order (1 to %1 files)"},
        {msg::kFreeDbNeedsEmail,
         "FreeDB servers ask for your e-mail address; the look-up was not sent. Enter it in "
         "Options, Look-ups."},
        {msg::kNotAnEmail, "\"%1\" is not an e-mail address; the look-up was not sent."},
        {msg::kReceivingOf, "Receiving %1 of %2"},
        {msg::kReceiving, "Receiving %1"},
        {msg::kNoWorkbookProgram,
         "no program opens .xlsx workbooks here. The workbook was written to %1; the rows are "
         "also on the clipboard."},
        {msg::kTrackInstrumental, "The track is instrumental."},
        {msg::kNoServiceLyrics, "LRCLIB has no lyrics for this track."},
        {msg::kSyncedLinesFetched,
         "%1 timed lines fetched; the next save of the file writes them."},
    };
    return table;
}

const std::map<int, std::string>& MessageTable::Defaults() {
    // The lyrics search's outcome codes -1 to -9, -98/-99 and -100 (42 to 52),
    // a query too short to send (53), and the questions before a download run.
    static const std::map<int, std::string> table = {
        {42, "No pages with these words in their title were found"},
        {43, "The search engine's answer was not a results page (code -2)"},
        {44, "The search engine's answer was not a results page (code -3)"},
        {45, "The search engine's answer was not a results page (code -4)"},
        {46, "The search engine's answer was not a results page (code -5)"},
        {47, "There are no more results"},
        {48, "The result has no web address that may be followed"},
        {49, "The results page lists fewer results than it says"},
        {50, "The page could not be fetched"},
        {51, "The lyrics page answered with an error"},
        {52, "The search engine answered with an error"},
        {53, "Too few letters to search with: give the artist and the title or album."},
        {4021, "Download lyrics for %1 selected files and save them into the files?"},
        {6022, "Download covers for %1 selected files and add them to the files?"},
    };
    return table;
}

const std::string& MessageTable::Shown(int id) const {
    const std::string& text = Text(id);
    if (!text.empty())
        return text;
    const auto it = Defaults().find(id);
    return it == Defaults().end() ? text : it->second;
}

MessageTable& ProgramMessages() {
    static MessageTable table;
    return table;
}

MessageTable::MessageTable() {
    ResetBuiltIns();
}

void MessageTable::ResetBuiltIns() {
    for (const auto& [id, text] : BuiltIns())
        texts_[id] = text;
}

const std::string& MessageTable::Text(int id) const {
    static const std::string empty;
    const auto it = texts_.find(id);
    return it == texts_.end() ? empty : it->second;
}

AppliedLanguage ApplyLanguage(const std::vector<LanguageAssignment>& assignments,
                              MessageTable& messages) {
    messages.ResetBuiltIns();
    AppliedLanguage applied;
    for (const LanguageAssignment& a : assignments) {
        const auto id = DecimalId(a.key);
        if (id && ((a.line > 12 && *id <= 98) || InRanges(*id, kExplicitMessageIds)))
            messages.Set(*id, a.value);
        if (IsActingKey(a.key) && !a.value.empty())
            applied.texts[a.key] = a.value;
    }
    return applied;
}

std::optional<AppliedLanguage> LoadLanguageFile(const std::string& path,
                                                std::string_view legacyCodePage,
                                                MessageTable& messages, std::string& error) {
    messages.ResetBuiltIns();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string bytes;
    bytes.resize(kMaxLanguageFileBytes + 1);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad()) {
        error = path + ": the file could not be read";
        return std::nullopt;
    }
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > kMaxLanguageFileBytes) {
        error = path + ": a language file is never larger than 1 MiB";
        return std::nullopt;
    }
    return ApplyLanguage(ParseLanguageText(bytes, legacyCodePage), messages);
}

}  // namespace sondrel
