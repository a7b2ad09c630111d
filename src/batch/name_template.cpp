// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/name_template.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "batch/file_ops.h"
#include "util/paths.h"
#include "util/text.h"

namespace sondrel {

namespace {

// Template segments are separated by "\" everywhere (stored templates use
// it) and also by the platform's own separator.
bool IsTemplateSeparator(char c) {
    return c == '\\' || c == kPathSeparator;
}

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string AsciiUpperText(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), AsciiUpper);
    return out;
}

// True when `name` already ends in the extension (compared upper-cased).
bool EndsInExt(std::string_view name, const std::string& ext) {
    if (name.size() < ext.size())
        return false;
    return AsciiUpperText(name.substr(name.size() - ext.size())) == ext;
}

std::string TransformCase(std::string_view s, const NameOptions& options) {
    return ChangeCase(TranslitByMode(s, options.transliteration), options.capitalization);
}

// Bytes of the UTF-8 character starting at `at`: the lead byte and the
// continuation bytes after it (at most three).
std::size_t CharBytes(std::string_view s, std::size_t at) {
    std::size_t n = 1;
    while (n < 4 && at + n < s.size() && (static_cast<unsigned char>(s[at + n]) & 0xC0) == 0x80)
        ++n;
    return n;
}

std::string CaptionWithoutExt(const BatchData& data) {
    const std::string ext = ExtOf(data.FileName);
    return data.FileName.substr(0, data.FileName.size() - ext.size());
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (!name.empty() && name.front() == kPathSeparator)
        return name;
    return AddBackslash(folder) + name;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

const std::vector<std::string>& DefaultTemplates() {
    static const std::vector<std::string> list = {
        "%A - %T", "%# - %T", "%T", "%A\\%L\\%T", "%A - %L\\%# - %T", "\\%A - %T", "%O",
    };
    return list;
}

bool IsBadLetter(char c) {
    switch (c) {
        case '"':
        case '*':
        case '/':
        case ':':
        case '<':
        case '>':
        case '?':
        case '\\':
        case '|':
        case '\0':  // would cut the path the system sees
            return true;
        default:
            return false;
    }
}

std::string FixBadLetters(std::string_view s, bool deleteThem) {
    std::string out;
    out.reserve(s.size());
    for (const char c : s) {
        if (!IsBadLetter(c))
            out += c;
        else if (!deleteThem)
            out += ' ';
    }
    return out;
}

std::string ApplyReplacing(std::string_view s, int mode) {
    switch (mode) {
        case kReplaceSpaces:
            return ReplaceAll(s, " ", "_");
        case kReplaceUnderscores:
            return ReplaceAll(s, "_", " ");
        case kDeleteSpaces:
            return ReplaceAll(s, " ", "");
        default:
            return std::string(s);
    }
}

std::string PlaceholderValue(const BatchData& data, char c) {
    switch (AsciiUpper(c)) {
        case '#':
        case '0':
            // A track of only zeros is no track.
            if (data.Track == "0" || data.Track == "00" || data.Track == "000")
                return {};
            return data.Track;
        case 'T':
        case '1':
            return data.Title;
        case 'A':
        case '2':
            return data.Artist;
        case 'L':
        case '3':
            return data.Album;
        case 'Y':
        case '4':
            return data.Year;
        case '5':
            return data.FolderName;
        case 'G':
            return data.Genre;
        case 'C':
        case '6':
            return data.Comment.substr(0, data.Comment.find_first_of("\r\n"));
        case 'B':
        case '7':
            return data.Bitrate;
        case 'F':
        case '8':
            return data.Freq;
        case 'D':
        case '9':
            return SecondsToTime(data.Duration);
        case 'S':
            return data.SizeText;
        case 'O':
            return CaptionWithoutExt(data);
        default:
            return {};
    }
}

namespace {

// One segment composed; `anyValue` tells whether a placeholder gave text, or
// whether the segment holds no placeholder at all.
std::string ComposeSegmentOf(std::string_view segment, const BatchData& data,
                             const NameOptions& options, bool& anyValue) {
    std::string result;
    std::string values;  // the placeholder values, joined
    bool placeholders = false;
    std::string_view rest = segment;
    for (auto p = rest.find('%'); p != std::string_view::npos; p = rest.find('%')) {
        if (p + 1 >= rest.size() || rest[p + 1] == '%') {
            const std::size_t n = std::min(p + 2, rest.size());
            result += rest.substr(0, n);
            rest.remove_prefix(n);
            continue;
        }
        result += rest.substr(0, p);
        std::string value = PlaceholderValue(data, rest[p + 1]);
        if (options.removeExtraSpaces)
            value = TrimSpaces(value);
        result += value;
        values += value;
        placeholders = true;
        // An unknown character is dropped whole, not just its first byte.
        rest.remove_prefix(p + 1 + CharBytes(rest, p + 1));
    }
    result += rest;
    anyValue = !placeholders || !values.empty();
    if (!data.Path.empty() && values == data.Path) {
        // The values spell the file's own path: it is kept as it is, but a
        // value still never makes folders.
        return TransformCase(FixBadLetters(values, options.deleteBadLetters), options);
    }
    result = FixBadLetters(result, options.deleteBadLetters);
    result = ApplyReplacing(result, options.replace);
    return TransformCase(result, options);
}

}  // namespace

std::string ComposeSegment(std::string_view segment, const BatchData& data,
                           const NameOptions& options) {
    bool anyValue = false;
    return ComposeSegmentOf(segment, data, options, anyValue);
}

std::string ComposeName(std::string_view nameTemplate, const BatchData& data,
                        const NameOptions& options) {
    std::string name;
    std::string_view rest = nameTemplate;
    for (;;) {
        const auto it = std::find_if(rest.begin(), rest.end(), IsTemplateSeparator);
        if (it == rest.end())
            break;
        const auto cut = static_cast<std::size_t>(it - rest.begin());
        // A segment whose placeholders are all empty is no name: only its
        // separators (" - ") would be left.
        bool anyValue = false;
        std::string segment = ComposeSegmentOf(rest.substr(0, cut), data, options, anyValue);
        if (anyValue)
            name += segment;
        name += kPathSeparator;
        rest.remove_prefix(cut + 1);
    }
    bool anyValue = false;
    std::string last = ComposeSegmentOf(rest, data, options, anyValue);
    if (anyValue)
        name += last;

    // Empty segments vanish; only a leading separator survives.
    std::string collapsed;
    collapsed.reserve(name.size());
    for (const char c : name) {
        if (c == kPathSeparator && !collapsed.empty() && collapsed.back() == kPathSeparator)
            continue;
        collapsed += c;
    }
    if (options.removeExtraSpaces)
        collapsed = TrimSpaces(collapsed);

    const std::string ext = data.Ext();
    if (!EndsInExt(collapsed, ext)) {
        std::string lower = ext;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        });
        collapsed += lower;
    }
    return collapsed;
}

void PreviewNames(std::vector<BatchRow>& rows, std::string_view nameTemplate,
                  const NameOptions& options) {
    for (BatchRow& row : rows)
        row.After = ComposeName(nameTemplate, row.data, options);
}

int OutcomeCodeOfErrno(int error) {
    // The system's numbers overlap the outcome codes (EIO is 5, ETXTBSY 26),
    // so every number is mapped, never passed through.
    switch (error) {
        case 0:
            return kOutcomeOk;
        case EACCES:
        case EPERM:
        case EROFS:
            return kOutcomeAccessDenied;
        case EBUSY:
        case ETXTBSY:
            return kOutcomeFileBusy;
        case EEXIST:
        case ENOTEMPTY:
            return kOutcomeAlreadyExists;
        case ENOENT:
            return 2;  // file not found
        case ENOTDIR:
            return 3;  // path not found
        case EXDEV:
            return 17;  // not the same device
        case ENOSPC:
            return 112;  // disk full
        case ENAMETOOLONG:
            return 206;  // name too long
        case EINVAL:
        case EISDIR:
            return 87;  // invalid parameter
        default:
            return kOutcomeFileError;
    }
}

std::string OutcomeText(const RenameOutcome& outcome) {
    switch (outcome.Code) {
        case kOutcomeOk:
            return outcome.NewName;
        case kOutcomeFileError:
            return "File Error";
        case kOutcomeAccessDenied:
            return "Access denied";
        case kOutcomeCantCreateFolder:
            return "Can't create folder";
        case kOutcomeFileBusy:
            return "File used by another process";
        case kOutcomeAlreadyExists:
            return "File already exists";
        default:
            return "File Error " + std::to_string(outcome.Code);
    }
}

std::string RenameFailureMessage(int errors) {
    return "Can't rename file(s): " + std::to_string(errors);
}

namespace {

// The words of a rename failure from the system's error number.
std::string ReasonOfErrno(int error) {
    switch (error) {
        case EEXIST:
        case ENOTEMPTY:
            return "File already exists";
        case EACCES:
        case EPERM:
            return "permission denied";
        case EROFS:
            return "the file system is read-only";
        case ENOENT:
            return "the file or its folder no longer exists";
        case ENOTDIR:
            return "a part of the new path is a file, not a folder";
        case EXDEV:
            return "the new name is on another file system";
        case ENOSPC:
            return "the disk is full";
        case ENAMETOOLONG:
            return "the new name is too long";
        case EBUSY:
        case ETXTBSY:
            return "the file is in use";
        default:
            return std::string("the system refused the rename: ") + std::strerror(error);
    }
}

// Longest name of one file or folder that common file systems take.
constexpr std::size_t kMaxNameBytes = 255;

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Exists for many names in few folders: each folder is opened once and the
// names are looked up in it, instead of the whole path being walked again
// for every row of a preview.
class FolderLookups {
public:
    FolderLookups() = default;
    FolderLookups(const FolderLookups&) = delete;
    FolderLookups& operator=(const FolderLookups&) = delete;
    ~FolderLookups() {
        for (const auto& [folder, fd] : folders_) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    bool Has(const std::string& path) {
        const auto cut = path.rfind(kPathSeparator);
        if (cut == std::string::npos || cut + 1 == path.size())
            return Exists(path);
        const std::string folder = cut == 0 ? std::string(1, kPathSeparator) : path.substr(0, cut);
        auto it = folders_.find(folder);
        if (it == folders_.end()) {
            int entry = kAskByPath;
            if (folders_.size() < kMaxOpenFolders) {
                entry = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
                // No such folder (the usual case for folders a template
                // would make): nothing in it exists. Other failures (no
                // permission, no descriptors left) ask by the whole path.
                if (entry < 0)
                    entry = errno == ENOENT || errno == ENOTDIR ? kAbsent : kAskByPath;
            }
            it = folders_.emplace(folder, entry).first;
        }
        if (it->second == kAbsent)
            return false;
        if (it->second == kAskByPath)
            return Exists(path);
        struct stat st {};
        return ::fstatat(it->second, path.c_str() + cut + 1, &st, AT_SYMLINK_NOFOLLOW) == 0;
    }

private:
    static constexpr int kAbsent = -1;
    static constexpr int kAskByPath = -2;
    static constexpr std::size_t kMaxOpenFolders = 256;
    std::unordered_map<std::string, int> folders_;
};

}  // namespace

RenameResult RunRename(const std::vector<BatchRow>& rows, const RenameContext& context) {
    RenameResult result;
    auto fail = [&result](const std::string& path, int code, std::string reason) {
        result.outcomes.push_back({path, {}, code});
        result.reasons.push_back(std::move(reason));
        ++result.errors;
    };
    // Targets taken, and sources freed, by earlier rows of a dry run; sets,
    // so a preview of many rows stays linear.
    std::unordered_set<std::string> planned;
    std::unordered_set<std::string> freed;
    // A dry run asks about the same folders for row after row: each once.
    std::unordered_map<std::string, bool> fileInTheWay;
    FolderLookups lookups;
    auto blocksFolder = [&fileInTheWay](const std::string& full) {
        const auto [it, added] = fileInTheWay.try_emplace(full, false);
        if (added)
            it->second = Exists(full) && !IsDirectory(full);
        return it->second;
    };
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const BatchRow& row = rows[index];
        const std::string& before = row.Before();
        const std::string& after = row.After;
        const std::string ext = row.data.Ext();
        if (before.empty())
            continue;
        if (!row.data.Valid) {
            fail(before, kOutcomeFileError,
                 row.data.Problem.empty() ? "not a valid audio file" : row.data.Problem);
            continue;
        }
        if (!EndsInExt(after, ext))
            continue;
        // Only the extension left: no name at all, or inside a folder a
        // hidden file the user would not find.
        const auto lastSeparator = after.find_last_of(kPathSeparator);
        const std::string_view filePart = lastSeparator == std::string::npos
                                              ? std::string_view(after)
                                              : std::string_view(after).substr(lastSeparator + 1);
        if ((!row.Checked && !(context.dryRun && context.asIfTicked)) ||
            filePart.size() <= std::max<std::size_t>(ext.size(), 4)) {
            result.outcomes.push_back({before, after, kOutcomeOk});
            result.reasons.emplace_back();
            continue;
        }
        const std::string base = context.fromFileFolder ? row.data.Folder : context.shownFolder;

        // Folders, left to right, each relative to the base folder.
        std::string folder;
        std::string_view text = after;
        if (text.size() > 1 && text.front() == kPathSeparator &&
            (context.fromFileFolder || text.find(kPathSeparator, 1) != std::string_view::npos))
            text.remove_prefix(1);
        std::string folderError;
        std::vector<std::string> made;  // folders this row created, outermost first
        for (auto sep = text.find(kPathSeparator); sep != std::string_view::npos;
             sep = text.find(kPathSeparator)) {
            const std::string_view part = text.substr(0, sep);
            folder += part;
            // A tag value of ".." must not lead out of the base folder.
            if (part == ".." || part == ".") {
                folderError = "the folder name \"" + std::string(part) +
                              "\" is refused: the file would leave its folder";
                break;
            }
            if (part.size() > kMaxNameBytes) {
                folderError = "the folder name is too long";
                break;
            }
            if (!folder.empty()) {
                const std::string full = JoinPath(base, folder);
                if (context.dryRun) {
                    if (blocksFolder(full)) {
                        folderError = "cannot create folder " + full + ": a file has that name";
                        break;
                    }
                } else if (!IsDirectory(full)) {
                    if (::mkdir(full.c_str(), 0777) != 0) {
                        folderError = "cannot create folder " + full + ": " +
                                      (errno == EEXIST ? std::string("a file has that name")
                                                       : ReasonOfErrno(errno));
                        break;
                    }
                    made.push_back(full);
                }
            }
            folder += kPathSeparator;
            text.remove_prefix(sep + 1);
        }
        // Folders made for a rename that then fails go again (when empty).
        auto unmake = [&made] {
            for (auto it = made.rbegin(); it != made.rend(); ++it)
                ::rmdir(it->c_str());
        };
        if (!folderError.empty()) {
            unmake();
            fail(before, kOutcomeCantCreateFolder, folderError);
            continue;
        }

        std::string target;
        if (context.subfolderMode && folder.empty()) {
            target = row.data.Folder + std::string(text);
        } else {
            target = folder + std::string(text);
            if (!target.empty() && target.front() == kPathSeparator)
                target.erase(0, 1);
            target = JoinPath(base, target);
        }
        const std::string source = JoinPath(context.shownFolder, before);
        if (context.dryRun) {
            // Taken on disk (unless an earlier row moves it away) or by an
            // earlier row; never by the file itself under another spelling.
            // The two-path check runs only when the target is on disk.
            auto targetTaken = [&](const std::string& from, const std::string& to) {
                const bool onDisk = lookups.Has(to);
                if (!(onDisk && !freed.contains(to)) && !planned.contains(to))
                    return false;
                return !(onDisk && SameFile(from, to));
            };
            int error = 0;
            if (text.size() > kMaxNameBytes)
                error = ENAMETOOLONG;
            else if (source != target && targetTaken(source, target))
                error = EEXIST;
            else if (!lookups.Has(source))
                error = ENOENT;
            if (error != 0) {
                fail(before, OutcomeCodeOfErrno(error), ReasonOfErrno(error));
            } else {
                planned.insert(target);
                freed.insert(source);
                result.renamed.push_back(index);
                result.targets.push_back(target);
            }
            continue;
        }
        const int error = RenameNoReplace(source, target);
        if (error != 0) {
            unmake();
            fail(before, OutcomeCodeOfErrno(error), ReasonOfErrno(error));
        } else {
            result.renamed.push_back(index);
            result.targets.push_back(target);
        }
    }
    return result;
}

void ShowOutcomes(std::vector<BatchRow>& rows, const std::vector<RenameOutcome>& outcomes) {
    const std::size_t n = std::min(rows.size(), outcomes.size());
    for (std::size_t k = 0; k < n; ++k) {
        if (rows[k].Before() == outcomes[k].Path)
            rows[k].After = OutcomeText(outcomes[k]);
    }
}

}  // namespace sondrel
