// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/commands.h"

#include "editor/format_registry.h"

#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <system_error>

#include "cli/report.h"
#include "editor/file_facts.h"
#include "editor/tag_jobs.h"
#include "tags/file_io.h"
#include "tags/file_snapshot.h"
#include "util/ordered_work.h"

namespace sondrel::cli {

namespace {

void Report(std::ostream& err, const std::string& file, const std::string& message) {
    err << "sondrel-tag: " << file << ": " << message << "\n";
}

// Several files are saved as one group: flushed together, each file's
// failure reported once the commit that covered it has run. One file keeps
// its own flush. No window waits on the tool, so its groups are large.
class CliGroup {
public:
    CliGroup(TagBridge& bridge, std::size_t files, std::ostream& err, int& status)
        : err_(err), status_(status) {
        if (files > 1) {
            group_.emplace(SaveGroup::LargeRunLimits());
            inGroup_.emplace(bridge, *group_);
        }
    }
    ~CliGroup() { Commit(); }
    // Before the status is final.
    void Commit() {
        if (group_)
            group_->Commit();
    }
    // Before `path` is read: a file named twice is read as the first save left it.
    void BeforeRead(const std::string& path) {
        if (group_)
            group_->CommitIfHolds(path);
    }
    // After a save of `path` that succeeded as far as it went.
    void Saved(const std::string& path) {
        if (!group_)
            return;
        group_->WhenCommitted(path, [this, path](const IoResult& r) {
            if (!r) {
                Report(err_, path, r.error);
                status_ = kExitFailed;
            }
        });
        if (group_->Full())
            group_->Commit();
    }

private:
    std::ostream& err_;
    int& status_;
    std::optional<SaveGroup> group_;
    std::optional<BridgeInGroup> inGroup_;
};

// Why a file cannot be worked on at all, before any component touches it.
std::optional<std::string> Unusable(const std::string& path, bool needFormat) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status))
        return std::string("no such file");
    if (!std::filesystem::is_regular_file(status))
        return std::string("not a regular file");
    if (!File::Open(path, File::Mode::Read))
        return std::string("the file cannot be opened for reading");
    if (needFormat && FormatOfPath(path) == TagFormat::None)
        return NotRecognisedMessage(TagFormat::None);
    return std::nullopt;
}

std::optional<std::string> ReadTextFile(const std::string& path, std::string& error) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        error = "cannot read lyrics file " + path + ": " + ec.message();
        return std::nullopt;
    }
    if (size > kMaxLyricsFileBytes) {
        error = "lyrics file " + path + " is too large";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        error = "cannot read lyrics file " + path;
        return std::nullopt;
    }
    return text;
}

// The hub after the given edits. Genre: an empty text removes the genre, a
// number is the genre table's entry, a table name selects its number; any
// other text is kept as it is, with number 12.
TagFields Edited(TagFields h, const FieldEdits& e, const std::optional<std::string>& lyrics) {
    for (const auto& entry : kFieldTable) {
        // Genre goes through the table below; lyrics may come from a file.
        if (entry.field == Field::Genre || entry.field == Field::Lyrics)
            continue;
        if (const auto& v = e[entry.field])
            h[entry.field] = *v;
    }
    if (lyrics)
        h.text = *lyrics;
    if (const auto& genre = e[Field::Genre]) {
        if (const auto number = GenreNumber(*genre)) {
            h.GenreID = static_cast<std::uint8_t>(*number);
            h.Genre = GenreNameOf(*number);
        } else {
            const std::uint8_t id = GenreIdOf(*genre);
            h.GenreID = id;
            // "Other" chosen by name must not keep an earlier free text, and
            // no text at all is no genre.
            h.Genre = id == kGenreOther ? *genre : GenreNameOf(id);
        }
    } else if (h.GenreID == kGenreOther && h.Genre != "Other") {
        // The editor shows such a genre as text and, on saving, looks that
        // text up in the table: a plain "Rock" becomes number 17.
        h.GenreID = GenreIdOf(h.Genre);
    }
    return h;
}

// Writes picture `position` to a temporary file beside `to` and renames it
// over `to` only once it is whole: a failed write leaves `to` as it was.
std::string ExtractThroughTemporary(const FormatHandler& handler, TagBridge& bridge, int position,
                                    const std::string& to) {
    namespace fs = std::filesystem;
    const fs::path target(to);
    const std::string temporary =
        (target.parent_path() / (".sondrel-" + std::to_string(::getpid()) + ".part")).string();
    std::string failed = handler.ExtractPicture(bridge, position, temporary);
    std::error_code ec;
    if (failed.empty()) {
        fs::rename(temporary, target, ec);
        if (ec)
            failed = ec.message();
    }
    if (!failed.empty())
        fs::remove(temporary, ec);
    return failed;
}

}  // namespace

namespace {

// One file's report for `show`; never throws, so it can run on a worker.
FileReport ReadReport(TagBridge& bridge, const std::string& path) noexcept {
    try {
        // The usual case opens the file once for everything below; the
        // checks of Unusable only run to explain a file that did not open.
        std::optional<FileSnapshot> file;
        // Nothing here is saved: no note for a save's check.
        if (FormatOfPath(path) != TagFormat::None)
            file = FileSnapshot::Open(path, nullptr, FileSnapshot::Purpose::ReadOnly);
        if (file)
            return Gather(bridge, *file);
        if (const auto why = Unusable(path, true)) {
            FileReport r;
            r.file = path;
            r.format = FormatOfPath(path);
            r.error = *why;
            return r;
        }
        return Gather(bridge, path);
    } catch (const std::exception& e) {
        // Out of memory or the like: this file fails, the others go on.
        FileReport r;
        r.file = path;
        r.format = FormatOfPath(path);
        r.error = std::string("the file cannot be read: ") + e.what();
        return r;
    }
}

}  // namespace

int RunShow(const Args& args, std::ostream& out, std::ostream& err) {
    constexpr std::size_t kJsonChunk = 64 * 1024;
    int status = kExitOk;
    std::string json;
    JsonWriter writer(json);
    if (args.json)
        writer.BeginArray();
    // Files are read on one thread per core and printed in the order given.
    ForEachInOrder(
        args.files.size(), ThreadsFor(args.files.size()),
        [&args] { return TagBridge(args.editor); },
        [&args](TagBridge& bridge, std::size_t i) { return ReadReport(bridge, args.files[i]); },
        [&](std::size_t i, const FileReport& r) {
            if (!r.valid) {
                Report(err, args.files[i], r.error);
                status = kExitFailed;
            }
            if (args.json) {
                WriteJson(writer, r);
                // Passed on in pieces: one string for a whole folder would be
                // copied over and over as it grows.
                if (json.size() >= kJsonChunk) {
                    out << json;
                    json.clear();
                }
            } else {
                if (i > 0)
                    out << "\n";
                PrintText(out, r);
            }
        });
    if (args.json) {
        writer.EndArray();
        json += '\n';
        out << json;
    }
    return status;
}

int RunSet(const Args& args, std::ostream& out, std::ostream& err) {
    (void)out;
    std::optional<std::string> lyrics = args.edits[Field::Lyrics];
    if (args.edits.lyricsFile) {
        std::string error;
        lyrics = ReadTextFile(*args.edits.lyricsFile, error);
        if (!lyrics) {
            err << "sondrel-tag: " << error << "\n";
            return kExitFailed;
        }
    }
    TagBridge bridge(args.editor);
    int status = kExitOk;
    CliGroup group(bridge, args.files.size(), err, status);
    for (const auto& path : args.files) {
        group.BeforeRead(path);
        std::optional<FileSnapshot> file;
        // The read notes the file: the save refuses it if another program
        // changed it meanwhile.
        if (FormatOfPath(path) != TagFormat::None)
            file = FileSnapshot::Open(path);
        TagFormat format = TagFormat::None;
        bool recognised = false;
        if (file) {
            format = bridge.Read(*file);
            recognised = StreamFactsOf(bridge, format, *file).valid;
            file.reset();  // closed before the save replaces the file
        } else if (const auto why = Unusable(path, true)) {
            Report(err, path, *why);
            status = kExitFailed;
            continue;
        } else {
            format = bridge.Read(path);
            recognised = StreamFactsOf(bridge, format, path).valid;
        }
        // Tags go only into files that are what their extension says.
        if (!recognised) {
            Report(err, path, NotValidMessage(bridge, format) + "; not changed");
            status = kExitFailed;
            continue;
        }
        TagFields edited = Edited(bridge.Hub(), args.edits, lyrics);
        if (const auto& track = args.edits[Field::Track]; track && HandlerOf(format)) {
            std::string error;
            const auto stored = HandlerOf(format)->TrackToStore(*track, bridge.Hub().track, error);
            if (!stored) {
                Report(err, path, error);
                status = kExitFailed;
                continue;
            }
            edited.track = *stored;
        }
        bridge.setHub(edited);
        const SaveOutcome saved = bridge.Save(path);
        if (!saved.ok) {
            Report(err, path, saved.error);
            status = kExitFailed;
        } else {
            group.Saved(path);
        }
    }
    group.Commit();
    return status;
}

int RunRemove(const Args& args, std::ostream& out, std::ostream& err) {
    (void)out;
    TagBridge bridge(args.editor);
    int status = kExitOk;
    CliGroup group(bridge, args.files.size(), err, status);
    for (const auto& path : args.files) {
        group.BeforeRead(path);
        std::optional<std::string> why = Unusable(path, false);
        // Tags are removed only from files that are what their extension says.
        if (!why) {
            const TagFormat format = bridge.Read(path);
            if (format != TagFormat::None && !StreamFactsOf(bridge, format, path).valid)
                why = NotValidMessage(bridge, format) + "; not changed";
        }
        if (!why) {
            const SaveOutcome removed = bridge.Remove(path, *args.removeKind);
            if (!removed.ok)
                why = removed.error;
            else
                group.Saved(path);
        }
        if (why) {
            Report(err, path, *why);
            status = kExitFailed;
        }
    }
    group.Commit();
    return status;
}

namespace {

// Whether the file starts like a JPEG, PNG, GIF, BMP or WebP image.
bool LooksLikeImage(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::array<unsigned char, 12> b{};
    in.read(reinterpret_cast<char*>(b.data()), b.size());
    const auto n = static_cast<std::size_t>(in.gcount());
    auto starts = [&](std::string_view sig, std::size_t at = 0) {
        if (n < at + sig.size())
            return false;
        for (std::size_t i = 0; i < sig.size(); ++i) {
            if (b[at + i] != static_cast<unsigned char>(sig[i]))
                return false;
        }
        return true;
    };
    return starts("\xFF\xD8\xFF") || starts("\x89PNG\r\n\x1A\n") || starts("GIF87a") ||
           starts("GIF89a") || starts("BM") || (starts("RIFF") && starts("WEBP", 8));
}

void ListPictures(std::ostream& out, const std::vector<PictureFacts>& pictures) {
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const auto& p = pictures[i];
        out << i << ": " << p.mime << ", type " << p.type << ", " << p.size << " bytes";
        if (!p.description.empty())
            out << ", \"" << p.description << "\"";
        out << "\n";
    }
}

}  // namespace

int RunPictures(const Args& args, std::ostream& out, std::ostream& err) {
    const std::string& path = args.files.front();
    if (const auto why = Unusable(path, true)) {
        Report(err, path, *why);
        return kExitFailed;
    }
    TagBridge bridge(args.editor);
    const FormatHandler* target = HandlerOfPath(path);
    // Pictures go only into files that are what their extension says.
    if (const TagFormat format = bridge.Read(path); !StreamFactsOf(bridge, format, path).valid) {
        Report(err, path, NotValidMessage(bridge, format));
        return kExitFailed;
    }
    std::string error = target && target->HoldsPictures() ? target->LoadPictures(bridge, path)
                                                          : "This file type holds no pictures";
    const PictureOps& p = args.pictures;
    if (error.empty()) {
        const int count = target->PictureCount(bridge);
        if (p.add && !std::filesystem::is_regular_file(*p.add)) {
            error = "cannot read the picture " + *p.add + ": no such file";
        } else if (p.add && !LooksLikeImage(*p.add)) {
            error = "cannot add " + *p.add + ": not a JPEG, PNG, GIF, BMP or WebP image";
        } else if (p.add) {
            std::string warning;
            error = target->AddPicture(bridge, p.position.value_or(count), *p.add, p.description,
                                       p.type.value_or(3), warning);
            if (!warning.empty())
                err << "sondrel-tag: " << warning << "\n";
        } else if (p.remove) {
            error = *p.remove < count ? target->DeletePicture(bridge, *p.remove)
                                      : "no picture at position " + std::to_string(*p.remove);
        } else if (p.extract) {
            // Checked here: an out-of-range position would leave an empty file.
            std::error_code ec;
            if (*p.extract >= count)
                error = "no picture at position " + std::to_string(*p.extract);
            else if (std::filesystem::equivalent(p.extractTo, path, ec))
                error = "cannot extract to " + p.extractTo + ": it is the audio file itself";
            else if (KindOfPath(p.extractTo) == PathKind::NotRegular)
                error = "cannot extract to " + p.extractTo + ": not a regular file";
            else if (!p.force && std::filesystem::exists(p.extractTo, ec))
                error = "cannot extract to " + p.extractTo +
                        ": the file exists (give --force to replace it)";
            else if (const std::string failed =
                         ExtractThroughTemporary(*target, bridge, *p.extract, p.extractTo);
                     !failed.empty())
                error = "cannot write the picture to " + p.extractTo + ": " + failed;
        }
    }
    if (error.empty() && p.list) {
        target->LoadPictures(bridge, path);
        ListPictures(out, PicturesOf(bridge, target->Id()));
    }
    if (!error.empty()) {
        Report(err, path, error);
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace sondrel::cli
