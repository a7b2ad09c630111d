#include "cli/report.h"

#include <iomanip>

namespace sondrel::cli {

namespace {

// The component that read a file decides its validity and error text; for
// MP3 either ID3 tag makes the file valid.
void ValidityOf(const TagBridge& b, FileReport& r) {
    switch (r.format) {
        case TagFormat::MP3:
            r.valid = b.id3v2.Valid() || b.id3v1.Valid();
            if (!b.id3v2.Valid())
                r.error = b.id3v2.Error();
            if (r.error.empty() && !b.id3v1.Valid())
                r.error = b.id3v1.Error();
            break;
        case TagFormat::Ogg:
            r.valid = b.Ogg.Valid();
            r.error = b.Ogg.Error();
            break;
        case TagFormat::WMA:
            r.valid = b.WMATag.Valid();
            r.error = b.WMATag.Error();
            break;
        case TagFormat::APE:
            r.valid = b.APE.Valid();
            r.error = b.APE.error();
            break;
        case TagFormat::MPC:
            r.valid = b.MPCTag.Valid();
            r.error = b.MPCTag.error();
            break;
        case TagFormat::MP4:
            r.valid = b.mp4Tag.Valid();
            r.error = b.mp4Tag.Error();
            break;
        case TagFormat::None:
            r.error = "Unsupported file type";
            break;
    }
}

struct NamedField {
    const char* key;
    const char* label;
    std::string TagFields::*field;
};
constexpr NamedField kFields[] = {
    {"track", "Track", &TagFields::track},
    {"title", "Title", &TagFields::title},
    {"artist", "Artist", &TagFields::artist},
    {"album", "Album", &TagFields::album},
    {"year", "Year", &TagFields::year},
    {"comment", "Comment", &TagFields::comment},
    {"lyrics", "Lyrics", &TagFields::text},
    {"composer", "Composer", &TagFields::composer},
    {"origArtist", "Orig. Artist", &TagFields::OrigArtist},
    {"copyright", "Copyright", &TagFields::copyright},
    {"url", "URL", &TagFields::URL},
    {"encodedBy", "Encoded By", &TagFields::EncodedBy},
};

// The tags object in key order; genre and genreId are not hub texts.
constexpr NamedField kJsonFields[] = {
    {"album", "", &TagFields::album},
    {"artist", "", &TagFields::artist},
    {"comment", "", &TagFields::comment},
    {"composer", "", &TagFields::composer},
    {"copyright", "", &TagFields::copyright},
    {"encodedBy", "", &TagFields::EncodedBy},
    {"genre", "", nullptr},
    {"genreId", "", nullptr},
    {"lyrics", "", &TagFields::text},
    {"origArtist", "", &TagFields::OrigArtist},
    {"title", "", &TagFields::title},
    {"track", "", &TagFields::track},
    {"url", "", &TagFields::URL},
    {"year", "", &TagFields::year},
};

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

FileReport Gather(TagBridge& bridge, const std::string& path) {
    FileReport r;
    r.file = path;
    r.format = bridge.Read(path);
    ValidityOf(bridge, r);
    r.hub = bridge.Hub();
    r.genre = bridge.DisplayedGenre(r.format);
    if (r.format == TagFormat::None)
        return r;
    r.pictures = PicturesOf(bridge, r.format);
    r.stream = StreamFactsOf(bridge, r.format, path);
    r.kinds = TagKindsOf(bridge, r.format, path);
    r.other = OtherItemsOf(bridge, r.format, path);
    return r;
}

FileReport Gather(TagBridge& bridge, const FileSnapshot& file) {
    FileReport r;
    r.file = file.Path();
    r.format = bridge.Read(file);
    ValidityOf(bridge, r);
    r.hub = bridge.Hub();
    r.genre = bridge.DisplayedGenre(r.format);
    if (r.format == TagFormat::None)
        return r;
    r.pictures = PicturesOf(bridge, r.format);
    r.stream = StreamFactsOf(bridge, r.format, file);
    r.kinds = TagKindsOf(bridge, r.format, file);
    r.other = OtherItemsOf(bridge, r.format, file);
    return r;
}

void WriteJson(JsonWriter& w, const FileReport& r) {
    // Keys in byte order, as a json object sorts them.
    w.BeginObject();
    w.Key("error");
    w.String(r.error);
    w.Key("file");
    w.String(r.file);
    w.Key("format");
    w.String(FormatName(r.format));
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
    if (r.kinds.id3v2)
        w.String(*r.kinds.id3v2);
    else
        w.Null();
    w.Key("lyrics3");
    w.Bool(r.kinds.lyrics3);
    w.EndObject();
    w.Key("tags");
    w.BeginObject();
    for (const auto& f : kJsonFields) {
        w.Key(f.key);
        if (f.field)
            w.String(r.hub.*f.field);
        else if (std::string_view(f.key) == "genre")
            w.String(r.genre);
        else
            w.Int(r.hub.GenreID);
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
    for (const auto& f : kFields) {
        if (f.field == &TagFields::comment)
            Row(out, "Genre", r.genre + " (" + std::to_string(r.hub.GenreID) + ")");
        Row(out, f.label, Indented(r.hub.*f.field));
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
