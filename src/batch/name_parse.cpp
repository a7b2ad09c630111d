// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/name_parse.h"

#include "editor/format_registry.h"

#include <algorithm>
#include <charconv>
#include <numeric>

#include "tags/file_io.h"
#include "util/paths.h"
#include "util/text.h"

namespace sondrel {

namespace {

bool IsTemplateSeparator(char c) {
    return c == '\\' || c == kPathSeparator;
}

const std::string kNoCapture;

}  // namespace

int Captures::SlotOf(char c) {
    switch (c) {
        case '#':
        case '0':
            return 0;
        case 'T':
        case 't':
        case '1':
            return 1;
        case 'A':
        case 'a':
        case '2':
            return 2;
        case 'L':
        case 'l':
        case '3':
            return 3;
        case 'Y':
        case 'y':
        case '4':
            return 4;
        case '5':
            return 5;
        case 'C':
        case 'c':
        case '6':
            return 6;
        case 'B':
        case 'b':
        case '7':
            return 7;
        case 'F':
        case 'f':
        case '8':
            return 8;
        case 'D':
        case 'd':
        case '9':
            return 9;
        case 'S':
        case 's':
            return 10;
        default:
            return -1;
    }
}

const std::string& Captures::Get(char c) const {
    const int slot = SlotOf(c);
    return slot < 0 ? kNoCapture : values_[static_cast<std::size_t>(slot)];
}

void Captures::Set(char c, std::string value) {
    const int slot = SlotOf(c);
    if (slot >= 0)
        values_[static_cast<std::size_t>(slot)] = std::move(value);
}

void ParseSegment(std::string_view text, std::string_view pattern, int replaceMode,
                  Captures& captures) {
    std::string t = ApplyReplacing(text, replaceMode);
    std::string pat(pattern);
    for (auto p = pat.find('%'); p != std::string::npos; p = pat.find('%')) {
        if (p + 1 >= pat.size() || pat[p + 1] == '%') {
            pat.erase(p, 1);
            continue;
        }
        const char c = pat[p + 1];
        if (!Captures::IsCapturable(c)) {
            pat.erase(p, 1);  // the character stays as literal text
            continue;
        }
        if (p > 0) {
            const auto at = t.find(std::string_view(pat).substr(0, p));
            if (at == std::string::npos) {
                captures.SetMismatch();
                return;
            }
            t.erase(0, at + p);
        }
        pat.erase(0, p + 2);

        const std::string separator = pat.substr(0, pat.find('%'));
        const auto at = separator.empty() ? std::string::npos : t.find(separator);
        if (at == std::string::npos) {
            // The rest of the name; literal text that is missing ends the reading.
            captures.Set(c, t);
            if (!separator.empty()) {
                captures.SetMismatch();
                return;
            }
            t.clear();
        } else {
            captures.Set(c, t.substr(0, at));
            t.erase(0, at + separator.size());
        }
        pat.erase(0, separator.size());
    }
}

Captures ParseFileName(std::string_view nameTemplate, const std::string& folder,
                       std::string_view nameWithoutExt, int replaceMode) {
    Captures captures;
    const auto last = std::find_if(nameTemplate.rbegin(), nameTemplate.rend(), IsTemplateSeparator);
    std::string_view namePart = nameTemplate;
    if (last != nameTemplate.rend()) {
        const auto cut = static_cast<std::size_t>(nameTemplate.rend() - last) - 1;
        std::string_view folderPart = nameTemplate.substr(0, cut);
        namePart = nameTemplate.substr(cut + 1);
        std::vector<std::string_view> segments;
        for (;;) {
            const auto it = std::find_if(folderPart.begin(), folderPart.end(), IsTemplateSeparator);
            const auto n = static_cast<std::size_t>(it - folderPart.begin());
            segments.push_back(folderPart.substr(0, n));
            if (it == folderPart.end())
                break;
            folderPart.remove_prefix(n + 1);
        }
        std::string folderPath = AddBackslash(folder);
        for (auto seg = segments.rbegin(); seg != segments.rend(); ++seg) {
            ParseSegment(LastFolderName(folderPath), *seg, replaceMode, captures);
            folderPath = AddBackslash(ParentFolder(folderPath));
        }
    }
    ParseSegment(nameWithoutExt, namePart, replaceMode, captures);
    return captures;
}

std::string ExpandField(std::string_view expression, const Captures& captures,
                        std::string_view shownFolderName, const NameOptions& options) {
    std::string result;
    std::string_view rest = expression;
    for (auto p = rest.find('%'); p != std::string_view::npos; p = rest.find('%')) {
        const std::size_t n = std::min(p + 2, rest.size());
        if (p + 1 >= rest.size() || !Captures::IsCapturable(rest[p + 1])) {
            result += rest.substr(0, n);  // "%%", "%G" and a final "%" stay
        } else {
            result += rest.substr(0, p);
            const std::string& value = captures.Get(rest[p + 1]);
            if (rest[p + 1] == '5' && value.empty())
                result += shownFolderName;
            else
                result += value;
        }
        rest.remove_prefix(n);
    }
    result += rest;
    result = FixBadLetters(result, options.deleteBadLetters);
    return ChangeCase(TranslitByMode(result, options.transliteration), options.capitalization);
}

std::string AutoNumberExpression(std::string_view start) {
    return std::string(start) + "-";
}

long long AutoNumberStart(std::string_view trackExpression) {
    if (trackExpression.empty())
        return 1;
    std::string_view digits = trackExpression.substr(0, trackExpression.size() - 1);
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    long long value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size())
        return 1;
    return value;
}

bool FieldTakesPart(const BatchRow& row, const GenerateOptions& options, ParseField field) {
    const BatchData& d = row.data;
    const std::array<const std::string*, kParseFieldCount> current = {
        &d.Track, &d.Title, &d.Artist, &d.Album, &d.Year, &d.Comment};
    const FieldExpression& f = options.fields[field];
    if (field == kFieldTrack && options.autoNumbering)
        return true;
    // "Only empty fields" fills every empty field, ticked or not.
    return (options.mode == kModeOnlyEmpty && current[field]->empty()) ||
           (options.mode == kModeOverwrite && f.enabled && !f.expression.empty());
}

void ComputeNewValues(BatchRow& row, const Captures& captures, const GenerateOptions& options,
                      long long& counter) {
    row.ResetNewValues();
    const BatchData& d = row.data;
    const std::array<std::string*, kParseFieldCount> target = {
        &row.NewTrack, &row.NewTitle, &row.NewArtist, &row.NewAlbum, &row.NewYear, &row.NewComment};
    for (std::size_t i = 0; i < kParseFieldCount; ++i) {
        const FieldExpression& field = options.fields[i];
        if (FieldTakesPart(row, options, static_cast<ParseField>(i)))
            *target[i] =
                ExpandField(field.expression, captures, options.shownFolderName, options.name);
    }
    if (options.autoNumbering) {
        if (row.Checked)
            row.NewTrack = std::to_string(counter++);
        else
            row.NewTrack = d.Track;
    }
    row.NewTrack = NormaliseTrack(row.NewTrack, options.trackStyle);
}

bool ShouldWrite(bool hasOwnTag, const GenerateOptions& options) {
    return !(hasOwnTag && options.mode == kModeLeave && !options.autoNumbering);
}

bool HasOwnTag(const TagBridge& bridge, TagFormat format) {
    const FormatHandler* h = HandlerOf(format);
    return h && h->HasOwnTag(bridge);
}

GenerateResult GenerateTags(std::vector<BatchRow>& rows, const GenerateOptions& options,
                            TagBridge* bridge, const std::function<bool()>& step) {
    GenerateResult result;
    if (rows.empty())
        return result;
    long long counter =
        options.autoNumbering ? AutoNumberStart(options.fields[kFieldTrack].expression) : 1;

    // Numbering follows the main list, not the table's display order.
    std::vector<std::size_t> order(rows.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&rows](std::size_t a, std::size_t b) {
        return rows[a].data.FileIndex < rows[b].data.FileIndex;
    });

    for (const std::size_t index : order) {
        BatchRow& row = rows[index];
        const std::string path = row.data.FullPath();
        const bool exists = FileExists(path);
        const std::string ext = ExtOf(row.data.FileName);
        const std::string_view stem = exists ? std::string_view(row.data.FileName)
                                                   .substr(0, row.data.FileName.size() - ext.size())
                                             : std::string_view();
        const Captures captures =
            ParseFileName(options.nameTemplate, row.data.Folder, stem, options.name.replace);
        std::string problem = !row.data.Valid                 ? row.data.Problem
                              : exists && !captures.Matched() ? std::string(kMsgNameMismatch)
                                                              : std::string();
        if (!problem.empty()) {
            // Left as it is: no values from pieces of the name, no number used.
            row.ResetNewValues();
            row.Problem = problem;
            if (bridge != nullptr) {
                result.skipped.push_back({path, std::move(problem)});
                if (step && !step())
                    break;
            }
            continue;
        }
        row.Problem.clear();
        ComputeNewValues(row, captures, options, counter);
        if (bridge == nullptr)
            continue;

        bool haveRead = false;
        bool write = true;
        if (options.mode == kModeLeave && !options.autoNumbering) {
            write = ShouldWrite(HasOwnTag(*bridge, bridge->Read(path)), options);
            haveRead = true;
        }
        if (write) {
            if (!row.Checked) {
                result.outcomes.push_back({row.Before(), {}, kOutcomeOk});
            } else {
                if (!haveRead)
                    bridge->Read(path);
                TagFields hub = bridge->Hub();
                // The row shows the track normalised ("3/12" as "3"): a
                // track the job does not set keeps its text; a set one is
                // written exactly as the row shows it.
                if (FieldTakesPart(row, options, kFieldTrack))
                    hub.track = row.NewTrack;
                hub.title = row.NewTitle;
                hub.artist = row.NewArtist;
                hub.album = row.NewAlbum;
                // The row holds only the comment's first line: written back
                // unchanged it would cut off the other lines.
                if (row.NewComment != row.data.Comment)
                    hub.comment = row.NewComment;
                hub.year = row.NewYear;
                bridge->setHub(hub);
                const SaveOutcome saved = bridge->Save(path);
                // A failed save stays selected, so the file remains listed.
                if (saved.ok)
                    result.written.push_back(index);
                else
                    result.failures.push_back({path, saved.error});
            }
        }
        if (step && !step())
            break;
    }
    return result;
}

}  // namespace sondrel
