// SPDX-License-Identifier: GPL-3.0-or-later
// Vorbis comments as Ogg Vorbis, Opus and FLAC carry them: the vendor
// string and "KEY=value" texts, the one key table that maps them onto the
// shared fields, and the save plan that keeps what the user did not change.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tags/byte_source.h"
#include "tags/field_items.h"
#include "tags/tag_model.h"

namespace sondrel::vorbis {

// Comments are held one by one; a list claiming more is refused so a
// crafted file cannot fill memory with millions of tiny comments.
inline constexpr std::uint32_t kMaxComments = 65536;

// The key a save writes for `field`; every field has one.
std::string_view KeyOf(Field field);
// The field a key (upper case) stands for, including the other spellings
// a read also takes; nullopt for a key no field owns.
std::optional<Field> FieldOfKey(std::string_view upperKey);
std::string AsciiUpper(std::string_view s);

// The comment list as stored, without any framing of the container.
struct CommentList {
    std::string vendor;
    std::vector<std::pair<std::string, std::string>> comments;  // raw text, upper key
    std::size_t end = 0;                                        // bytes the list took
};

enum class ListFault {
    None,
    Damaged,    // a length points past the end, or the count is beyond kMaxComments
    Truncated,  // the bytes end before the vendor string or before the count is reached
};

// Reads vendor and comments from `bytes`. What was read before a fault stays in `out`.
ListFault ParseList(std::span<const std::uint8_t> bytes, CommentList& out);
// The stored form of a vendor string and comments.
Bytes BuildList(std::string_view vendor, const std::vector<std::string>& comments);

// The fields of a comment list as a read shows them: the values of each
// field joined (JoinFieldValues), the comments no field owns in file order,
// and every comment recorded in `items` for the next save.
struct ReadFields {
    PerField<std::string> values;
    std::vector<std::string> others;
};
ReadFields TakeComments(std::vector<std::pair<std::string, std::string>>& comments,
                        FieldItems<std::string>& items);

// The genre number a genre text names, whatever its case; 12 for none.
std::uint8_t GenreIdOfText(std::string_view genre);
// The genre text a save writes: the table's name of `id` unless the text
// already names that genre in some case.
std::string GenreToSave(const std::string& genre, std::uint8_t id);

// The comments a save writes for `values`: the items of unchanged fields
// and of no field as they were, one "KEY=value" per changed field that has
// a value. A genre differing only in case from the one read is the one read.
// `replace[i]`, where set, goes in place of the i-th comment read when that
// comment belongs to no field (a picture edited or deleted, say).
std::vector<std::string> PlanComments(
    const FieldItems<std::string>& items, const PerField<std::string>& values,
    std::span<const std::optional<std::vector<std::string>>> replace = {});

// Synchronised lyrics, which Vorbis comments have no frame for: LRC text
// under this key. The new text takes the place of the first such comment
// and the others go; with none, it is added at the end.
inline constexpr std::string_view kSyncedLyricsKey = "SYNCEDLYRICS";
void PutSyncedLyrics(std::vector<std::string>& comments, const std::string& lrc);

// Pictures as Ogg streams carry them: a FLAC PICTURE block in base64 under
// kPictureKey, or, written by old tools and only read, the image itself in
// base64 under kCoverArtKey with its type under kCoverArtMimeKey.
inline constexpr std::string_view kPictureKey = "METADATA_BLOCK_PICTURE";
inline constexpr std::string_view kCoverArtKey = "COVERART";
inline constexpr std::string_view kCoverArtMimeKey = "COVERARTMIME";
std::string Base64Encode(std::span<const std::uint8_t> bytes);
// nullopt for a character outside the alphabet or a length no encoder
// writes; the '=' padding may be left out.
std::optional<Bytes> Base64Decode(std::string_view text);

}  // namespace sondrel::vorbis
