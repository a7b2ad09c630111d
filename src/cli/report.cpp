// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/report.h"

#include "editor/format_registry.h"
#include "util/unicode.h"

#include <algorithm>
#include <iomanip>
#include <string_view>
#include <vector>

namespace sondrel::cli {

namespace {

// Valid means the file was recognised as its format and read, for every
// format alike (an MP3 without tags is valid); the error is empty then. A
// missing tag kind shows in the tag kinds, not as an error.
// The format's own reason (a damaged atom, a cut header) follows the plain
// words, so a user learns what is wrong with the file.
// A file damaged outside its tags is valid, its tags shown, and its error
// says what is damaged and that it is not saved.
void ValidityOf(FileReport& r, const TagBridge& bridge) {
    r.valid = r.stream.valid;
    const FormatHandler* h = HandlerOf(r.format);
    if (r.valid && h) {
        if (const std::string damage = h->Damage(bridge); !damage.empty())
            r.error = "the file is damaged (" + damage + "); its tags are shown read-only";
        return;
    }
    r.error = r.valid ? std::string() : NotValidMessage(bridge, r.format);
}

// The tags object lists its keys in byte order, as a JSON object sorts them.
std::vector<const FieldInfo*> JsonOrder() {
    std::vector<const FieldInfo*> order;
    for (const auto& entry : kFieldTable)
        order.push_back(&entry);
    std::sort(order.begin(), order.end(),
              [](const FieldInfo* a, const FieldInfo* b) { return a->key < b->key; });
    return order;
}

void Row(std::ostream& out, const std::string& label, const std::string& value) {
    out << "  " << std::left << std::setw(14) << (label + ":") << value << "\n";
}

// Multi-line values continue under the value column.
std::string Indented(const std::string& value) {
    std::string out;
    for (char c : value) {
        out += c;
        if (c == '\n')
            out += std::string(17, ' ');
    }
    return out;
}

}  // namespace

std::string NotValidMessage(const TagBridge& bridge, TagFormat format) {
    std::string message = NotRecognisedMessage(format);
    if (const FormatHandler* h = HandlerOf(format)) {
        if (const std::string reason = h->Error(bridge); !reason.empty())
            message += " (" + reason + ")";
    }
    return message;
}

int GenreNumberOf(const std::string& genre) {
    constexpr int kNoGenre = 255;  // as an ID3v1 tag stores "no genre"
    return genre.empty() ? kNoGenre : GenreIdOf(genre);
}

FileReport Gather(TagBridge& bridge, const std::string& path) {
    FileReport r;
    r.file = path;
    r.format = bridge.Read(path);
    r.hub = bridge.Hub();
    r.genre = bridge.DisplayedGenre(r.format);
    if (r.format == TagFormat::None) {
        ValidityOf(r, bridge);
        return r;
    }
    r.pictures = PicturesOf(bridge, r.format);
    r.stream = StreamFactsOf(bridge, r.format, path);
    ValidityOf(r, bridge);
    r.kinds = TagKindsOf(bridge, r.format, path);
    r.other = OtherItemsOf(bridge, r.format);
    return r;
}

FileReport Gather(TagBridge& bridge, const FileSnapshot& file) {
    FileReport r;
    r.file = file.Path();
    r.format = bridge.Read(file);
    r.hub = bridge.Hub();
    r.genre = bridge.DisplayedGenre(r.format);
    if (r.format == TagFormat::None) {
        ValidityOf(r, bridge);
        return r;
    }
    r.pictures = PicturesOf(bridge, r.format);
    r.stream = StreamFactsOf(bridge, r.format, file);
    ValidityOf(r, bridge);
    r.kinds = TagKindsOf(bridge, r.format, file);
    r.other = OtherItemsOf(bridge, r.format);
    return r;
}

namespace {

std::string Base64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], kDigits[v & 63]};
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8);
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], '='};
    }
    return out;
}

}  // namespace

void WriteJson(JsonWriter& w, const FileReport& r) {
    // Keys in byte order, as a json object sorts them.
    w.BeginObject();
    w.Key("error");
    w.String(r.error);
    w.Key("file");
    w.String(r.file);
    // JSON text cannot carry a name that is not UTF-8 (it would print with
    // U+FFFD and find nothing): its bytes then come along in base64.
    w.Key("fileBytes");
    w.String(IsValidUtf8(r.file) ? std::string() : Base64(r.file));
    w.Key("format");
    w.String(FormatName(r.format));
    // Beside the tag kinds, so that every kind is a boolean; empty without
    // an ID3v2 tag.
    w.Key("id3v2Version");
    w.String(r.kinds.id3v2.value_or(""));
    w.Key("other");
    w.BeginArray();
    for (const auto& o : r.other)
        w.String(o);
    w.EndArray();
    w.Key("pictures");
    w.BeginArray();
    for (const auto& p : r.pictures) {
        w.BeginObject();
        w.Key("description");
        w.String(p.description);
        w.Key("mime");
        w.String(p.mime);
        w.Key("size");
        w.Int(p.size);
        w.Key("type");
        w.Int(p.type);
        w.EndObject();
    }
    w.EndArray();
    const StreamFacts& s = r.stream;
    w.Key("stream");
    w.BeginObject();
    w.Key("bitrate");
    w.Int(s.bitrate);
    w.Key("channels");
    w.String(s.channels);
    w.Key("encoder");
    w.String(s.encoder);
    w.Key("format");
    w.String(s.format);
    w.Key("frames");
    w.Int(s.frames);
    w.Key("length");
    w.String(s.length);
    w.Key("md5");
    w.String(s.md5);
    w.Key("sampleRate");
    w.Int(s.sampleRate);
    w.Key("seconds");
    w.Double(s.seconds);
    w.Key("vbr");
    w.Bool(s.vbr);
    w.EndObject();
    w.Key("tagKinds");
    w.BeginObject();
    w.Key("ape");
    w.Bool(r.kinds.ape);
    w.Key("id3v1");
    w.Bool(r.kinds.id3v1);
    w.Key("id3v2");
    w.Bool(r.kinds.id3v2.has_value());
    w.Key("lyrics3");
    w.Bool(r.kinds.lyrics3);
    w.EndObject();
    w.Key("tags");
    w.BeginObject();
    static const std::vector<const FieldInfo*> kJsonOrder = JsonOrder();
    for (const FieldInfo* entry : kJsonOrder) {
        w.Key(entry->key);
        if (entry->field != Field::Genre) {
            w.String(r.hub[entry->field]);
            continue;
        }
        // The genre shown, then its number ("genre" < "genreId").
        w.String(r.genre);
        w.Key("genreId");
        w.Int(GenreNumberOf(r.genre));
    }
    w.EndObject();
    w.Key("valid");
    w.Bool(r.valid);
    w.EndObject();
}

void PrintText(std::ostream& out, const FileReport& r) {
    out << r.file << "\n";
    Row(out, "Format", r.format == TagFormat::None ? "-" : std::string(FormatName(r.format)));
    Row(out, "Valid", r.valid ? "yes" : "no");
    if (!r.error.empty())
        Row(out, "Error", r.error);
    for (const auto& entry : kFieldTable) {
        if (entry.field == Field::Genre)
            Row(out, std::string(entry.label),
                r.genre.empty() ? std::string()
                                : r.genre + " (" + std::to_string(GenreNumberOf(r.genre)) + ")");
        else
            Row(out, std::string(entry.label), Indented(r.hub[entry.field]));
    }
    for (std::size_t i = 0; i < r.pictures.size(); ++i) {
        const auto& p = r.pictures[i];
        Row(out, "Picture " + std::to_string(i),
            p.mime + ", type " + std::to_string(p.type) + ", " + std::to_string(p.size) + " bytes" +
                (p.description.empty() ? "" : ", \"" + p.description + "\""));
    }
    const StreamFacts& s = r.stream;
    if (s.valid) {
        Row(out, "Stream", s.format);
        Row(out, "Length", s.length);
        if (s.bitrate > 0)
            Row(out, "Bit rate", std::to_string(s.bitrate) + " kbps" + (s.vbr ? " (VBR)" : ""));
        Row(out, "Sample rate", std::to_string(s.sampleRate) + " Hz");
        Row(out, "Channels", s.channels);
        if (s.frames > 0)
            Row(out, "Frames", std::to_string(s.frames));
        if (!s.encoder.empty())
            Row(out, "Encoder", s.encoder);
        if (!s.md5.empty())
            Row(out, "MD5", s.md5);
    }
    std::string kinds;
    auto add = [&kinds](const std::string& k) { kinds += (kinds.empty() ? "" : ", ") + k; };
    if (r.kinds.id3v1)
        add("ID3v1");
    if (r.kinds.lyrics3)
        add("Lyrics3");
    if (r.kinds.id3v2)
        add("ID3v" + *r.kinds.id3v2);
    if (r.kinds.ape)
        add("APE");
    Row(out, "Tag kinds", kinds.empty() ? "-" : kinds);
    std::string other;
    for (const auto& o : r.other)
        other += (other.empty() ? "" : ", ") + o;
    if (!other.empty())
        Row(out, "Other", other);
}

}  // namespace sondrel::cli
