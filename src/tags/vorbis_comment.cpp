// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/vorbis_comment.h"

#include <algorithm>
#include <array>

#include "util/unicode.h"

namespace sondrel::vorbis {

namespace {

// The keys of each field: the key a save writes, in the order a saved
// comment list gives new fields, and the other spellings a read also takes.
struct VorbisKey {
    Field field;
    std::string_view key;
    std::array<std::string_view, 1> alsoRead;
};
constexpr std::array<VorbisKey, kFieldCount> kKeys{{
    {Field::Title, "TITLE", {}},
    {Field::Artist, "ARTIST", {}},
    {Field::Album, "ALBUM", {}},
    {Field::Genre, "GENRE", {}},
    {Field::Year, "DATE", {}},
    {Field::Track, "TRACKNUMBER", {}},
    {Field::Comment, "COMMENT", {"DESCRIPTION"}},
    {Field::Composer, "COMPOSER", {}},
    {Field::OrigArtist, "ORIGINALARTIST", {}},
    {Field::Copyright, "COPYRIGHT", {}},
    {Field::URL, "CONTACT", {"LINK"}},
    {Field::EncodedBy, "ENCODED", {"ENCODEDBY"}},
    {Field::Lyrics, "LYRICS", {}},
}};

constexpr std::array<Field, kFieldCount> MakeOrder() {
    std::array<Field, kFieldCount> order{};
    for (std::size_t i = 0; i < kKeys.size(); ++i)
        order[i] = kKeys[i].field;
    return order;
}
constexpr auto kOrder = MakeOrder();

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void AppendLe32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

std::string_view KeyOf(Field field) {
    for (const auto& k : kKeys)
        if (k.field == field)
            return k.key;
    return {};
}

std::optional<Field> FieldOfKey(std::string_view upperKey) {
    for (const auto& k : kKeys) {
        if (k.key == upperKey)
            return k.field;
        for (std::string_view other : k.alsoRead) {
            if (!other.empty() && other == upperKey)
                return k.field;
        }
    }
    return std::nullopt;
}

std::string AsciiUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

ListFault ParseList(std::span<const std::uint8_t> bytes, CommentList& out) {
    std::size_t pos = 0;
    auto readLength = [&](std::uint32_t& value) {
        if (bytes.size() - pos < 4)
            return ListFault::Damaged;
        value = Le32(bytes.data() + pos);
        pos += 4;
        return ListFault::None;
    };
    auto readString = [&](std::string& s) {
        std::uint32_t length = 0;
        if (const auto e = readLength(length); e != ListFault::None)
            return e;
        if (length > bytes.size() - pos)
            return ListFault::Damaged;
        s.assign(reinterpret_cast<const char*>(bytes.data() + pos), length);
        pos += length;
        return ListFault::None;
    };

    // Bytes that simply end before the count says are a cut list; a length
    // that points past the end is a damaged one.
    if (pos == bytes.size()) {
        out.end = pos;
        return ListFault::Truncated;
    }
    if (const auto e = readString(out.vendor); e != ListFault::None)
        return e;
    std::uint32_t count = 0;
    if (pos == bytes.size()) {
        out.end = pos;
        return ListFault::Truncated;
    }
    if (const auto e = readLength(count); e != ListFault::None)
        return e;
    if (count > kMaxComments)
        return ListFault::Damaged;
    std::uint32_t i = 0;
    for (; i < count && pos < bytes.size(); ++i) {
        std::string s;
        if (const auto e = readString(s); e != ListFault::None)
            return e;
        const auto eq = s.find('=');
        std::string key = eq == std::string::npos ? std::string() : AsciiUpper(s.substr(0, eq));
        out.comments.emplace_back(std::move(s), std::move(key));
    }
    out.end = pos;
    return i < count ? ListFault::Truncated : ListFault::None;
}

Bytes BuildList(std::string_view vendor, const std::vector<std::string>& comments) {
    Bytes p;
    AppendLe32(p, static_cast<std::uint32_t>(vendor.size()));
    p.insert(p.end(), vendor.begin(), vendor.end());
    AppendLe32(p, static_cast<std::uint32_t>(comments.size()));
    for (const auto& c : comments) {
        AppendLe32(p, static_cast<std::uint32_t>(c.size()));
        p.insert(p.end(), c.begin(), c.end());
    }
    return p;
}

ReadFields TakeComments(std::vector<std::pair<std::string, std::string>>& comments,
                        FieldItems<std::string>& items) {
    ReadFields out;
    PerField<std::vector<std::string>> values;
    for (auto& [raw, key] : comments) {
        const auto field = FieldOfKey(key);
        if (field)
            values[*field].push_back(SanitizeUtf8(std::string_view(raw).substr(raw.find('=') + 1)));
        else
            out.others.push_back(raw);
        items.Add(field, std::move(raw));
    }
    for (const auto& k : kKeys) {
        out.values[k.field] = JoinFieldValues(values[k.field]);
        items.SetRead(k.field, out.values[k.field]);
    }
    return out;
}

std::uint8_t GenreIdOfText(std::string_view genre) {
    const std::string upper = AsciiUpper(genre);
    for (std::size_t i = 0; i < GenreTable.size(); ++i) {
        if (AsciiUpper(GenreTable[i]) == upper)
            return static_cast<std::uint8_t>(i);
    }
    return kGenreOther;
}

std::string GenreToSave(const std::string& genre, std::uint8_t id) {
    if (id != kGenreOther && AsciiUpper(genre) != AsciiUpper(GenreNameOf(id)))
        return GenreNameOf(id);
    return genre;
}

std::vector<std::string> PlanComments(
    const FieldItems<std::string>& items, const PerField<std::string>& values,
    std::span<const std::optional<std::vector<std::string>>> replace) {
    auto now = [&](Field f) -> const std::string& {
        const std::string& read = items.Read(f);
        return f == Field::Genre && AsciiUpper(read) == AsciiUpper(values[f]) ? read : values[f];
    };
    std::vector<std::string> comments;
    items.Plan(
        kOrder, now,
        [&](const auto& entry) {
            const auto at = static_cast<std::size_t>(&entry - items.Entries().data());
            if (!entry.field && at < replace.size() && replace[at]) {
                comments.insert(comments.end(), replace[at]->begin(), replace[at]->end());
                return;
            }
            comments.push_back(entry.item);
        },
        [&](Field f, const std::string& value) {
            comments.push_back(std::string(KeyOf(f)) + "=" + SanitizeUtf8(value));
        });
    return comments;
}

namespace {

constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> MakeBase64Values() {
    std::array<std::int8_t, 256> values{};
    for (auto& v : values)
        v = -1;
    for (int i = 0; i < 64; ++i)
        values[static_cast<unsigned char>(kBase64Digits[i])] = static_cast<std::int8_t>(i);
    return values;
}
constexpr auto kBase64Values = MakeBase64Values();

}  // namespace

std::string Base64Encode(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; bytes.size() - i >= 3; i += 3) {
        const std::uint32_t v =
            (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        out += {kBase64Digits[v >> 18], kBase64Digits[(v >> 12) & 63], kBase64Digits[(v >> 6) & 63],
                kBase64Digits[v & 63]};
    }
    if (bytes.size() - i == 1) {
        const std::uint32_t v = std::uint32_t{bytes[i]} << 16;
        out += {kBase64Digits[v >> 18], kBase64Digits[(v >> 12) & 63], '=', '='};
    } else if (bytes.size() - i == 2) {
        const std::uint32_t v =
            (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8);
        out += {kBase64Digits[v >> 18], kBase64Digits[(v >> 12) & 63], kBase64Digits[(v >> 6) & 63],
                '='};
    }
    return out;
}

std::optional<Bytes> Base64Decode(std::string_view text) {
    if (text.size() % 4 == 0 && !text.empty() && text.back() == '=') {
        text.remove_suffix(1);
        if (text.back() == '=')
            text.remove_suffix(1);
    }
    if (text.size() % 4 == 1)
        return std::nullopt;
    Bytes out;
    out.reserve(text.size() / 4 * 3 + 2);
    std::uint32_t bits = 0;
    int have = 0;
    for (const char c : text) {
        const std::int8_t v = kBase64Values[static_cast<unsigned char>(c)];
        if (v < 0)
            return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        have += 6;
        if (have >= 8) {
            have -= 8;
            out.push_back(static_cast<std::uint8_t>(bits >> have));
        }
    }
    return out;
}

void PutSyncedLyrics(std::vector<std::string>& comments, const std::string& lrc) {
    const std::string text = std::string(kSyncedLyricsKey) + "=" + lrc;
    const auto isSynced = [](const std::string& c) {
        const auto eq = c.find('=');
        return eq != std::string::npos && AsciiUpper(c.substr(0, eq)) == kSyncedLyricsKey;
    };
    const auto first = std::find_if(comments.begin(), comments.end(), isSynced);
    if (first == comments.end()) {
        comments.push_back(text);
        return;
    }
    *first = text;
    comments.erase(std::remove_if(std::next(first), comments.end(), isSynced), comments.end());
}

}  // namespace sondrel::vorbis
