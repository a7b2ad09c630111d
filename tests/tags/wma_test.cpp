// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and saving ASF headers built byte by byte in the test, for what
// peer tools cannot show: validity ranges, descriptor order and counts, the
// "ID3" descriptor layout, kept objects, and the failure paths.
#include "tags/wma.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/test_support.h"
#include "tags/file_io.h"

namespace sondrel {
namespace {

using test::Bytes;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

using Guid = std::array<std::uint8_t, 16>;

Guid MakeGuid(std::uint32_t d1, std::uint16_t d2, std::uint16_t d3,
              std::array<std::uint8_t, 8> d4) {
    Guid g{};
    for (int i = 0; i < 4; ++i)
        g[i] = static_cast<std::uint8_t>(d1 >> (8 * i));
    for (int i = 0; i < 2; ++i) {
        g[4 + i] = static_cast<std::uint8_t>(d2 >> (8 * i));
        g[6 + i] = static_cast<std::uint8_t>(d3 >> (8 * i));
    }
    std::copy(d4.begin(), d4.end(), g.begin() + 8);
    return g;
}

const Guid kHeader =
    MakeGuid(0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
const Guid kFileProps =
    MakeGuid(0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
const Guid kStreamProps =
    MakeGuid(0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
const Guid kContent =
    MakeGuid(0x75B22633, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
const Guid kExtended =
    MakeGuid(0xD2D0A440, 0xE307, 0x11D2, {0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50});
const Guid kAudio =
    MakeGuid(0xF8699E40, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B});
const Guid kVideo =
    MakeGuid(0xBC19EFC0, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B});
const Guid kData =
    MakeGuid(0x75B22636, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
const Guid kHeaderExt =
    MakeGuid(0x5FBF03B5, 0xA92E, 0x11CF, {0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
const Guid kLibrary =
    MakeGuid(0x44231C94, 0x9498, 0x49D1, {0xA1, 0x41, 0x1D, 0x13, 0x4E, 0x45, 0x70, 0x54});
const Guid kMetadata =
    MakeGuid(0xC5F8CBEA, 0x5BAF, 0x4877, {0x84, 0x67, 0xAA, 0x8C, 0x44, 0xFA, 0x4C, 0xCA});
const Guid kUnknown = MakeGuid(0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8});

void Put(Bytes& b, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
std::uint64_t Get(const Bytes& b, std::size_t at, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v |= static_cast<std::uint64_t>(b[at + i]) << (8 * i);
    return v;
}
void Cat(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}
Bytes Str(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
// UTF-16LE with a terminating zero.
Bytes W(const std::u16string& s, bool terminate = true) {
    Bytes b;
    for (char16_t c : s)
        Put(b, c, 2);
    if (terminate)
        Put(b, 0, 2);
    return b;
}

Bytes Object(const Guid& g, const Bytes& body) {
    Bytes b(g.begin(), g.end());
    Put(b, body.size() + 24, 8);
    Cat(b, body);
    return b;
}

struct Desc {
    std::u16string name;
    std::uint16_t type;
    Bytes value;
};
Desc Text(std::u16string name, std::u16string value) {
    return {std::move(name), 0, W(value)};
}
Desc Dword(std::u16string name, std::uint32_t v) {
    Bytes b;
    Put(b, v, 4);
    return {std::move(name), 3, b};
}
Bytes DescBytes(const Desc& d) {
    Bytes b;
    const Bytes n = W(d.name);
    Put(b, n.size(), 2);
    Cat(b, n);
    Put(b, d.type, 2);
    Put(b, d.value.size(), 2);
    Cat(b, d.value);
    return b;
}

// A small ASF file: the fields of the header, then a data object.
struct Asf {
    std::uint32_t maxBitrate = 128000;
    std::uint16_t channels = 2;
    std::uint32_t sampleRate = 44100;
    std::uint32_t avgBytes = 16000;
    std::uint64_t playDuration = 10'000'000;  // 100-ns units
    std::uint64_t preroll = 3000;             // milliseconds
    std::uint32_t flags = 2;                  // seekable, not broadcast
    bool content = true;
    std::u16string title = u"Title", author = u"Author", copyright = u"", description = u"",
                   rating = u"R";
    std::vector<Desc> descriptors;
    std::vector<Bytes> before;  // objects placed before the file properties
    std::vector<Bytes> after;   // objects placed after the extended content description
    Bytes data = Bytes(300, 0x5A);

    Bytes FileProps(std::uint64_t fileSize) const {
        Bytes b;
        for (int i = 0; i < 16; ++i)
            b.push_back(static_cast<std::uint8_t>(0xF0 + i));  // file ID
        Put(b, fileSize, 8);
        Put(b, 0x0102030405060708ull, 8);  // creation date
        Put(b, 7, 8);                      // packets
        Put(b, playDuration, 8);
        Put(b, 9'000'000, 8);  // send duration
        Put(b, preroll, 8);
        Put(b, flags, 4);
        Put(b, 1000, 4);
        Put(b, 1000, 4);
        Put(b, maxBitrate, 4);
        return Object(kFileProps, b);
    }
    Bytes Stream(const Guid& type, std::uint16_t ch) const {
        Bytes b(type.begin(), type.end());
        b.insert(b.end(), 16, 0x11);  // error correction type
        Put(b, 0, 8);
        Put(b, 18, 4);
        Put(b, 0, 4);
        Put(b, 1, 2);  // stream number
        Put(b, 0, 4);
        Put(b, 0x0161, 2);
        Put(b, ch, 2);
        Put(b, sampleRate, 4);
        Put(b, avgBytes, 4);
        Put(b, 4096, 2);
        Put(b, 16, 2);
        Put(b, 0, 2);
        return Object(kStreamProps, b);
    }
    Bytes Header(std::uint64_t fileSize) const {
        std::vector<Bytes> objs = before;
        objs.push_back(FileProps(fileSize));
        objs.push_back(Stream(kAudio, channels));
        if (content) {
            Bytes b;
            for (const auto* s : {&title, &author, &copyright, &description, &rating})
                Put(b, s->empty() ? 0 : W(*s).size(), 2);
            for (const auto* s : {&title, &author, &copyright, &description, &rating}) {
                if (!s->empty())
                    Cat(b, W(*s));
            }
            objs.push_back(Object(kContent, b));
        }
        Bytes e;
        Put(e, descriptors.size(), 2);
        for (const Desc& d : descriptors)
            Cat(e, DescBytes(d));
        objs.push_back(Object(kExtended, e));
        objs.insert(objs.end(), after.begin(), after.end());
        Bytes body;
        Put(body, objs.size(), 4);
        body.push_back(1);
        body.push_back(2);
        for (const Bytes& o : objs)
            Cat(body, o);
        return Object(kHeader, body);
    }
    Bytes File() const {
        const std::size_t headerSize = Header(0).size();
        Bytes dataObj(kData.begin(), kData.end());
        Put(dataObj, data.size() + 24, 8);
        Cat(dataObj, data);
        Bytes f = Header(headerSize + dataObj.size());
        Cat(f, dataObj);
        return f;
    }
};

struct Obj {
    Guid guid;
    Bytes bytes;
};
// The header objects of a file, in order.
std::vector<Obj> Objects(const Bytes& file) {
    std::vector<Obj> out;
    const std::uint64_t count = Get(file, 24, 4);
    std::size_t pos = 30;
    for (std::uint64_t i = 0; i < count; ++i) {
        Obj o;
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(pos), 16, o.guid.begin());
        const auto size = static_cast<std::size_t>(Get(file, pos + 16, 8));
        o.bytes.assign(file.begin() + static_cast<std::ptrdiff_t>(pos),
                       file.begin() + static_cast<std::ptrdiff_t>(pos + size));
        out.push_back(std::move(o));
        pos += size;
    }
    return out;
}
Bytes Find(const Bytes& file, const Guid& g) {
    for (const Obj& o : Objects(file)) {
        if (o.guid == g)
            return o.bytes;
    }
    return {};
}
std::string AsciiOf(const Bytes& utf16) {
    std::string s;
    for (std::size_t i = 0; i + 1 < utf16.size() && utf16[i] != 0; i += 2)
        s += static_cast<char>(utf16[i]);
    return s;
}
struct SavedDesc {
    std::string name;
    std::uint16_t type;
    Bytes value;
    Bytes raw;
};
std::vector<SavedDesc> Descriptors(const Bytes& file) {
    const Bytes e = Find(file, kExtended);
    std::vector<SavedDesc> out;
    const std::size_t count = Get(e, 24, 2);
    std::size_t pos = 26;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t start = pos;
        SavedDesc d;
        const auto nl = static_cast<std::size_t>(Get(e, pos, 2));
        d.name = AsciiOf(Bytes(e.begin() + static_cast<std::ptrdiff_t>(pos + 2),
                               e.begin() + static_cast<std::ptrdiff_t>(pos + 2 + nl)));
        pos += 2 + nl;
        d.type = static_cast<std::uint16_t>(Get(e, pos, 2));
        const auto vl = static_cast<std::size_t>(Get(e, pos + 2, 2));
        pos += 4;
        d.value.assign(e.begin() + static_cast<std::ptrdiff_t>(pos),
                       e.begin() + static_cast<std::ptrdiff_t>(pos + vl));
        pos += vl;
        d.raw.assign(e.begin() + static_cast<std::ptrdiff_t>(start),
                     e.begin() + static_cast<std::ptrdiff_t>(pos));
        out.push_back(std::move(d));
    }
    EXPECT_EQ(pos, e.size()) << "descriptor count does not match the object's content";
    return out;
}
// The bytes after the header: the data object and anything behind it.
Bytes AfterHeader(const Bytes& file) {
    return Bytes(file.begin() + static_cast<std::ptrdiff_t>(Get(file, 16, 8)), file.end());
}

// An ID3v2.3 tag holding the given frames.
Bytes Id3Tag(const std::vector<Bytes>& frames) {
    Bytes body;
    for (const Bytes& f : frames)
        Cat(body, f);
    Bytes t = Str("ID3");
    t.insert(t.end(), {3, 0, 0});
    for (int shift = 21; shift >= 0; shift -= 7)
        t.push_back(static_cast<std::uint8_t>((body.size() >> shift) & 0x7F));
    Cat(t, body);
    return t;
}
Bytes Frame(const std::string& id, const Bytes& body) {
    Bytes f = Str(id);
    for (int shift = 24; shift >= 0; shift -= 8)
        f.push_back(static_cast<std::uint8_t>(body.size() >> shift));
    f.insert(f.end(), {0, 0});
    Cat(f, body);
    return f;
}
Bytes Apic(const std::string& mime, std::uint8_t type, const std::string& desc, const Bytes& data) {
    Bytes b{0};
    Cat(b, Str(mime));
    b.push_back(0);
    b.push_back(type);
    Cat(b, Str(desc));
    b.push_back(0);
    Cat(b, data);
    return Frame("APIC", b);
}
// An ID3v2 tag of the given version and flags around a body given as stored.
Bytes Id3TagOf(std::uint8_t major, std::uint8_t flags, const Bytes& body) {
    Bytes t = Str("ID3");
    t.insert(t.end(), {major, 0, flags});
    for (int shift = 21; shift >= 0; shift -= 7)
        t.push_back(static_cast<std::uint8_t>((body.size() >> shift) & 0x7F));
    Cat(t, body);
    return t;
}
// A frame in the 2.4 layout: synchsafe size, then the format flags given.
Bytes Frame24(const std::string& id, const Bytes& body, std::uint8_t formatFlags = 0) {
    Bytes f = Str(id);
    for (int shift = 21; shift >= 0; shift -= 7)
        f.push_back(static_cast<std::uint8_t>((body.size() >> shift) & 0x7F));
    f.insert(f.end(), {0, formatFlags});
    Cat(f, body);
    return f;
}
// A frame in the 2.2 layout: three-character identifier, 24-bit size.
Bytes Frame22(const std::string& id, const Bytes& body) {
    Bytes f = Str(id);
    for (int shift = 16; shift >= 0; shift -= 8)
        f.push_back(static_cast<std::uint8_t>(body.size() >> shift));
    Cat(f, body);
    return f;
}
// A picture frame's body as this component writes it: Latin-1 description,
// or UTF-16 with a byte-order mark when a character is beyond Latin-1.
Bytes ApicBody(const std::string& mime, std::uint8_t type, const std::u16string& desc,
               const Bytes& data) {
    const bool latin = std::all_of(desc.begin(), desc.end(), [](char16_t c) { return c < 0x100; });
    Bytes b{static_cast<std::uint8_t>(latin ? 0 : 1)};
    Cat(b, Str(mime));
    b.push_back(0);
    b.push_back(type);
    if (latin) {
        for (char16_t c : desc)
            b.push_back(static_cast<std::uint8_t>(c));
        b.push_back(0);
    } else {
        b.insert(b.end(), {0xFF, 0xFE});
        Cat(b, W(desc));
    }
    Cat(b, data);
    return b;
}
// ID3v2 unsynchronisation: a zero after every 0xFF that a zero, a false
// sync (0xE0 and up) or the end follows.
Bytes Unsync(const Bytes& in) {
    Bytes out;
    for (std::size_t i = 0; i < in.size(); ++i) {
        out.push_back(in[i]);
        if (in[i] == 0xFF && (i + 1 == in.size() || in[i + 1] == 0 || in[i + 1] >= 0xE0))
            out.push_back(0);
    }
    return out;
}
Desc WmPicture(const std::u16string& mime, std::uint8_t type, const std::u16string& desc,
               const Bytes& data) {
    Bytes v{type};
    Put(v, data.size(), 4);
    Cat(v, W(mime));
    Cat(v, W(desc));
    Cat(v, data);
    return {u"WM/Picture", 1, v};
}

// A metadata-library record and the header extension that holds such objects.
Bytes Record(const Desc& d, std::uint16_t stream = 0, std::uint16_t language = 0) {
    Bytes b;
    const Bytes n = W(d.name);
    Put(b, language, 2);
    Put(b, stream, 2);
    Put(b, n.size(), 2);
    Put(b, d.type, 2);
    Put(b, d.value.size(), 4);
    Cat(b, n);
    Cat(b, d.value);
    return b;
}
Bytes Library(const std::vector<Bytes>& records, const Guid& kind = kLibrary) {
    Bytes body;
    Put(body, records.size(), 2);
    for (const Bytes& r : records)
        Cat(body, r);
    return Object(kind, body);
}
Bytes Metadata(const std::vector<Bytes>& records) {
    return Library(records, kMetadata);
}
Bytes HeaderExtension(const std::vector<Bytes>& objects) {
    Bytes data;
    for (const Bytes& o : objects)
        Cat(data, o);
    Bytes body(16, 0x22);  // reserved GUID
    Put(body, 6, 2);
    Put(body, data.size(), 4);
    Cat(body, data);
    return Object(kHeaderExt, body);
}

// A file of these descriptors, with a header extension of these objects when
// there are any.
Asf WithExtension(const std::vector<Desc>& descriptors, const std::vector<Bytes>& extension) {
    Asf asf;
    asf.descriptors = descriptors;
    if (!extension.empty())
        asf.before = {HeaderExtension(extension)};
    return asf;
}

// The records of every metadata object inside the header extensions of a
// file, in file order, with the object that holds each.
struct SavedRecord {
    Guid object;
    std::string name;
    std::uint16_t type;
    Bytes value;
};
std::vector<SavedRecord> Records(const Bytes& file) {
    std::vector<SavedRecord> out;
    for (const Obj& ext : Objects(file)) {
        if (ext.guid != kHeaderExt)
            continue;
        const Bytes& e = ext.bytes;
        std::size_t pos = 46;
        while (pos + 24 <= e.size()) {
            Guid g;
            std::copy_n(e.begin() + static_cast<std::ptrdiff_t>(pos), 16, g.begin());
            const auto size = static_cast<std::size_t>(Get(e, pos + 16, 8));
            if (g == kMetadata || g == kLibrary) {
                std::size_t r = pos + 26;
                for (std::uint64_t i = 0, n = Get(e, pos + 24, 2); i < n; ++i) {
                    const auto nl = static_cast<std::size_t>(Get(e, r + 4, 2));
                    const auto dl = static_cast<std::size_t>(Get(e, r + 8, 4));
                    const auto at = e.begin() + static_cast<std::ptrdiff_t>(r + 12);
                    out.push_back({g, AsciiOf(Bytes(at, at + static_cast<std::ptrdiff_t>(nl))),
                                   static_cast<std::uint16_t>(Get(e, r + 6, 2)),
                                   Bytes(at + static_cast<std::ptrdiff_t>(nl),
                                         at + static_cast<std::ptrdiff_t>(nl + dl))});
                    r += 12 + nl + dl;
                }
                EXPECT_EQ(r, pos + size) << "record count does not match the object's content";
            }
            pos += size;
        }
        EXPECT_EQ(pos, e.size());
        EXPECT_EQ(Get(e, 42, 4), e.size() - 46);
    }
    return out;
}
class WmaTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("a.wma");
    int errors = 0;

    void Load(WmaTag& tag, const Asf& asf) {
        WriteAll(path, asf.File());
        tag.onError = [this](TagComponent&, const std::string&) { ++errors; };
        tag.setFileName(path);
    }
    // Reads a file of these descriptors and header extension objects; true
    // when the read succeeded.
    bool LoadWith(WmaTag& tag, const std::vector<Desc>& descriptors,
                  const std::vector<Bytes>& extension) {
        Load(tag, WithExtension(descriptors, extension));
        return tag.Valid();
    }
};

// --- reading ---------------------------------------------------------------

TEST_F(WmaTest, DescriptorsFillFields) {
    struct Case {
        const char* what;
        std::vector<Desc> descriptors;
        std::string WmaTag::*field;
        std::string expected;
    };
    const Case cases[] = {
        {"numeric track number", {Dword(u"WM/TrackNumber", 5)}, &WmaTag::Track, "5"},
        {"empty WM/TrackNumber: WM/Track counts from zero",
         {Text(u"WM/Track", u"7"), Text(u"WM/TrackNumber", u"")},
         &WmaTag::Track,
         "8"},
        {"zero-based WM/Track alone", {Text(u"WM/Track", u"5")}, &WmaTag::Track, "6"},
        {"numeric zero-based WM/Track", {Dword(u"WM/Track", 0)}, &WmaTag::Track, "1"},
        {"WM/TrackNumber wins over WM/Track",
         {Text(u"WM/Track", u"7"), Text(u"WM/TrackNumber", u"3")},
         &WmaTag::Track,
         "3"},
        {"names compare case-insensitively",
         {Text(u"wm/albumtitle", u"Alb")},
         &WmaTag::Album,
         "Alb"},
        {"every URL name's value shown",
         {Text(u"WM/UserWebURL", u"http://a"), Text(u"WM/PromotionURL", u"http://b")},
         &WmaTag::URL,
         "http://a / http://b"},
        {"duplicate descriptors show both values",
         {Text(u"WM/Genre", u"Rock"), Text(u"WM/Genre", u"Pop")},
         &WmaTag::Genre,
         "Rock / Pop"},
        {"WM/CodedBy", {Text(u"WM/CodedBy", u"enc")}, &WmaTag::EncodedBy, "enc"},
        {"non-text year adds no value",
         {Text(u"WM/Year", u"1999"), Dword(u"WM/Year", 2001)},
         &WmaTag::Year,
         "1999"},
        {"lyrics", {Text(u"WM/Lyrics", u"la\r\nla")}, &WmaTag::Lyrics, "la\r\nla"},
        {"original artist", {Text(u"WM/OriginalArtist", u"O")}, &WmaTag::OrigArtist, "O"},
        {"composer", {Text(u"WM/Composer", u"C")}, &WmaTag::Composer, "C"},
        {"genre", {Text(u"WM/Genre", u"Rock")}, &WmaTag::Genre, "Rock"},
        {"surrogate pair",
         {Text(u"WM/AlbumTitle", u"A\U0001F3B5B")},
         &WmaTag::Album,
         "A\xF0\x9F\x8E\xB5"
         "B"},
        {"lone surrogate",
         {Text(u"WM/AlbumTitle", std::u16string(u"x") + char16_t(0xD800))},
         &WmaTag::Album,
         "x\xEF\xBF\xBD"},
        {"unknown name ignored", {Text(u"WM/AlbumArtist", u"AA")}, &WmaTag::Album, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Asf asf;
        asf.descriptors = c.descriptors;
        WmaTag tag;
        Load(tag, asf);
        ASSERT_TRUE(tag.Valid()) << tag.Error();
        EXPECT_EQ(tag.*c.field, c.expected);
    }
}

TEST_F(WmaTest, ContentDescriptionAndStreamValues) {
    Asf asf;
    asf.title = u"\u041F\u0435\u0441\u043D\u044F \U0001F3B5";  // Cyrillic and an emoji
    asf.author = u"Author";
    asf.copyright = u"(c)";
    asf.description = u"Note";
    asf.channels = 1;
    asf.maxBitrate = 8;  // one byte after the header is one second
    asf.avgBytes = 20000;
    asf.data = Bytes(3725 - 24, 0);
    asf.descriptors = {Text(u"WM/Genre", u"Rock")};
    WmaTag tag;
    Load(tag, asf);
    ASSERT_TRUE(tag.Valid()) << tag.Error();
    EXPECT_EQ(tag.Title, "\xD0\x9F\xD0\xB5\xD1\x81\xD0\xBD\xD1\x8F \xF0\x9F\x8E\xB5");
    EXPECT_EQ(tag.Artist, "Author");
    EXPECT_EQ(tag.Copyright, "(c)");
    EXPECT_EQ(tag.Comment, "Note");
    EXPECT_EQ(tag.GenreID, kGenreOther);  // never taken from the genre text
    EXPECT_EQ(tag.ChannelMode(), "Mono");
    EXPECT_EQ(tag.Frequency(), 44100);
    EXPECT_EQ(tag.Bitrate(), 160);
    EXPECT_DOUBLE_EQ(tag.DurationInSeconds(), 3725.0);
    EXPECT_EQ(tag.Duration(), "01:02:05");
    EXPECT_EQ(tag.FileLength(), static_cast<std::int64_t>(asf.File().size()));
    EXPECT_EQ(errors, 0);
}

TEST_F(WmaTest, ValidityRanges) {
    struct Case {
        std::uint32_t maxBitrate;
        std::uint16_t channels;
        std::uint32_t rate;
        std::uint32_t avg;
        bool valid;
    };
    const Case cases[] = {
        {1, 1, 8000, 1, true},
        {319999, 2, 96000, 39999, true},
        {0, 2, 44100, 16000, false},
        // 320 kbit/s stereo, 5.1 and 7.1 at 96 kHz, lossless 24-bit at 192 kHz
        {320000, 2, 44100, 40000, true},
        {768000, 6, 96000, 96000, true},
        {0xFFFFFFFF, 8, 96000, 2'304'000, true},
        {4'700'000, 2, 192000, 1'152'000, true},
        {128000, 8, 192000, 6'144'000, true},
        {128000, 0, 44100, 16000, false},
        {128000, 9, 44100, 16000, false},
        {128000, 2, 7999, 16000, false},
        {128000, 2, 192001, 16000, false},
        {128000, 2, 44100, 0, false},
        {128000, 2, 44100, 6'144'001, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.maxBitrate << " " << c.channels << " " << c.rate << " " << c.avg);
        Asf asf;
        asf.maxBitrate = c.maxBitrate;
        asf.channels = c.channels;
        asf.sampleRate = c.rate;
        asf.avgBytes = c.avg;
        WmaTag tag;
        Load(tag, asf);
        EXPECT_EQ(tag.Valid(), c.valid);
        EXPECT_EQ(tag.Title, c.valid ? "Title" : "");
        EXPECT_EQ(tag.Error(), "");  // out of range is not an error
    }
    EXPECT_EQ(errors, 0);
}

TEST_F(WmaTest, AudioStreamGivesTheSoundValues) {
    Asf asf;
    asf.channels = 1;
    // A later non-audio stream must not overwrite the audio values.
    asf.after = {asf.Stream(kVideo, 6)};
    WmaTag tag;
    Load(tag, asf);
    ASSERT_TRUE(tag.Valid()) << tag.Error();
    EXPECT_EQ(tag.Channels(), 1);
}

TEST_F(WmaTest, MissingOrForeignFilesGiveNoMessage) {
    int named = 0;
    for (const Bytes& content : {Bytes{}, test::ToBytes("not an asf file at all, just text")}) {
        WriteAll(path, content);
        WmaTag tag;
        tag.onError = [this](TagComponent&, const std::string&) { ++errors; };
        tag.onFileNameChange = [&](TagComponent&) { ++named; };
        tag.setFileName(path);
        EXPECT_FALSE(tag.Valid());
        EXPECT_EQ(tag.Error(), "");
    }
    WmaTag tag;
    tag.setFileName(dir.file("missing.wma"));
    EXPECT_FALSE(tag.Valid());
    EXPECT_EQ(tag.Error(), "");
    EXPECT_EQ(tag.GenreID, kGenreOther);
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(named, 2);
}

TEST_F(WmaTest, DamagedHeadersFailWithMessage) {
    const Bytes good = Asf{}.File();
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
    };
    const Case cases[] = {
        {"header size beyond the file", [](Bytes& f) { f[16 + 5] = 0x10; }},
        {"object count too high", [](Bytes& f) { f[24] = 40; }},
        {"zero object size",
         [](Bytes& f) { std::fill_n(f.begin() + 30 + 16, 8, std::uint8_t{0}); }},
        {"object size beyond the header", [](Bytes& f) { f[30 + 16 + 3] = 0x7F; }},
        {"descriptor count too high",
         [](Bytes& f) {
             const Bytes e = Find(f, kExtended);
             auto at = std::search(f.begin(), f.end(), e.begin(), e.end()) - f.begin();
             f[static_cast<std::size_t>(at) + 24] = 9;
         }},
        {"content lengths beyond the object",
         [](Bytes& f) {
             const Bytes c = Find(f, kContent);
             auto at = std::search(f.begin(), f.end(), c.begin(), c.end()) - f.begin();
             f[static_cast<std::size_t>(at) + 25] = 0x40;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes f = good;
        c.damage(f);
        WriteAll(path, f);
        WmaTag tag;
        errors = 0;
        tag.onError = [this](TagComponent&, const std::string&) { ++errors; };
        tag.setFileName(path);
        EXPECT_FALSE(tag.Valid());
        EXPECT_NE(tag.Error().find("Damaged ASF header"), std::string::npos) << tag.Error();
        EXPECT_EQ(tag.Title, "");
        EXPECT_EQ(errors, 1);
    }
}

// A header without any stream properties object, as other readers take it:
// the tags are shown, the damage named, and every save and picture change
// refused with it, the file untouched.
TEST_F(WmaTest, AHeaderWithoutStreamPropertiesShowsItsTagsReadOnly) {
    if (!test::HaveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is missing";
    const std::string made = dir.file("made.wma");
    test::RunCommand(
        "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=0.2 -c:a wmav2 "
        "-metadata title=Kept -metadata artist=Whole " +
        test::ShellQuote(made) + " </dev/null >/dev/null 2>&1");
    Bytes file = ReadAll(made);
    ASSERT_FALSE(file.empty());
    // Every stream properties object cut out of the header, its size and count made to match.
    std::size_t removed = 0;
    for (const Obj& o : Objects(file)) {
        if (o.guid != kStreamProps)
            continue;
        const auto at = std::search(file.begin(), file.end(), o.bytes.begin(), o.bytes.end());
        file.erase(at, at + static_cast<std::ptrdiff_t>(o.bytes.size()));
        const std::uint64_t header = Get(file, 16, 8) - o.bytes.size();
        const std::uint64_t count = Get(file, 24, 4) - 1;
        for (int i = 0; i < 8; ++i)
            file[16 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(header >> (8 * i));
        for (int i = 0; i < 4; ++i)
            file[24 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(count >> (8 * i));
        ++removed;
    }
    ASSERT_EQ(removed, 1u);
    WriteAll(path, file);
    WriteAll(dir.file("front.png"), Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0});

    WmaTag tag;
    tag.setFileName(path);
    ASSERT_TRUE(tag.Valid()) << tag.Error();
    EXPECT_EQ(tag.Title, "Kept");
    EXPECT_EQ(tag.Artist, "Whole");
    const std::string damage =
        "Damaged ASF header: no stream properties object describes the audio";
    EXPECT_EQ(tag.Damage(), damage);
    EXPECT_EQ(tag.Channels(), 0);
    const std::string refusal =
        "The file is damaged (" + damage + "); its tags are shown read-only and not saved";
    tag.Title = "New";
    EXPECT_FALSE(tag.WriteTag());
    EXPECT_EQ(tag.Error(), refusal);
    EXPECT_FALSE(tag.AddImage(0, dir.file("front.png"), ""));
    EXPECT_EQ(tag.Error(), refusal);
    EXPECT_EQ(ReadAll(path), file);

    const std::string tool = test::CliTool();
    if (tool.empty())
        return;
    const std::string quoted = test::ShellQuote(path);
    const auto shown = test::RunCommand(test::ShellQuote(tool) + " show --json " + quoted);
    const auto report = nlohmann::json::parse(shown.output, nullptr, false);
    ASSERT_TRUE(report.is_array() && report.size() == 1) << shown.output;
    EXPECT_EQ(report[0]["tags"]["title"], "Kept");
    EXPECT_EQ(report[0]["error"],
              "the file is damaged (" + damage + "); its tags are shown read-only");
    const auto set =
        test::RunCommand(test::ShellQuote(tool) + " set --title New " + quoted + " 2>&1");
    EXPECT_NE(set.exitCode, 0);
    EXPECT_NE(set.output.find(path), std::string::npos) << set.output;
    EXPECT_NE(set.output.find(refusal), std::string::npos) << set.output;
    EXPECT_EQ(ReadAll(path), file);
}

TEST_F(WmaTest, EveryTruncationIsHandled) {
    Asf asf;
    asf.before = {HeaderExtension({Library({Record(WmPicture(u"image/png", 3, u"p", {1}))})})};
    asf.descriptors = {{u"ID3", 1, Id3Tag({Apic("image/png", 3, "a", {1, 2})})},
                       WmPicture(u"image/png", 3, u"b", {3}),
                       Text(u"WM/Year", u"1")};
    const Bytes whole = asf.File();
    const std::size_t headerSize = Get(whole, 16, 8);
    for (std::size_t n = 0; n < whole.size(); ++n) {
        WriteAll(path, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)));
        WmaTag tag;
        tag.setFileName(path);
        SCOPED_TRACE(n);
        // A cut header is damaged (or, below 30 bytes, not recognised); a cut
        // data object still leaves a whole, valid header.
        EXPECT_EQ(tag.Valid(), n >= headerSize);
        EXPECT_EQ(tag.Error().empty(), n < 30 || n >= headerSize) << tag.Error();
        EXPECT_EQ(tag.ImagesCount(), n >= headerSize ? 3 : 0);
    }
}

// --- saving ----------------------------------------------------------------

TEST_F(WmaTest, SaveWritesDescriptorsInOrderAndKeepsTheRest) {
    Asf asf;
    const Bytes unknownObj = Object(kUnknown, Bytes(50, 0x33));
    const Bytes videoStream = asf.Stream(kVideo, 0);
    asf.before = {unknownObj};
    asf.after = {videoStream, Object(kUnknown, Bytes{9, 8, 7})};
    const Desc guidDesc{u"WM/MediaClassPrimaryID", 6, Bytes(16, 0x44)};
    asf.descriptors = {
        Text(u"WM/AlbumArtist", u"Various"),
        Dword(u"WM/TrackNumber", 5),
        Text(u"WM/AlbumTitle", u"Old album"),
        Text(u"WM/EncodingSettings", u"Lavf"),
        Dword(u"WM/Custom", 42),
        guidDesc,
        Text(u"WM/UserWebURL", u"http://x"),
    };
    asf.rating = u"Good";
    WmaTag tag;
    Load(tag, asf);
    ASSERT_TRUE(tag.Valid()) << tag.Error();
    const Bytes before = ReadAll(path);
    tag.Album = "";  // an emptied field loses its descriptor
    tag.Genre = "Jazz";
    tag.Year = "2001";
    tag.Composer = "Comp";
    tag.OrigArtist = "Orig";
    tag.EncodedBy = "Enc";
    tag.Lyrics = "Words";
    ASSERT_TRUE(tag.WriteTag()) << tag.Error();
    EXPECT_EQ(tag.Error(), "");
    const Bytes after = ReadAll(path);

    std::vector<std::string> names;
    for (const SavedDesc& d : Descriptors(after))
        names.push_back(d.name);
    // Unchanged descriptors stay in place, as they were; changed fields follow
    // under their standard names; no empty "ID3" descriptor.
    const std::vector<std::string> expected = {"WM/AlbumArtist",
                                               "WM/TrackNumber",
                                               "WM/EncodingSettings",
                                               "WM/Custom",
                                               "WM/MediaClassPrimaryID",
                                               "WM/UserWebURL",
                                               "WM/Genre",
                                               "WM/Composer",
                                               "WM/Year",
                                               "WM/OriginalArtist",
                                               "WM/EncodedBy",
                                               "WM/Lyrics"};
    EXPECT_EQ(names, expected);
    const auto saved = Descriptors(after);
    ASSERT_EQ(saved.size(), expected.size());
    EXPECT_EQ(saved[1].raw, DescBytes(Dword(u"WM/TrackNumber", 5)));  // still a DWORD
    EXPECT_EQ(saved[3].raw, DescBytes(Dword(u"WM/Custom", 42)));
    EXPECT_EQ(saved[4].raw, DescBytes(guidDesc));  // kept byte for byte
    EXPECT_EQ(saved[5].value, W(u"http://x"));
    EXPECT_EQ(saved[6].value, W(u"Jazz"));

    // Object order: the others as read, then the four rewritten kinds.
    const auto objs = Objects(after);
    ASSERT_EQ(objs.size(), 7u);
    EXPECT_EQ(Get(after, 24, 4), 7u);
    EXPECT_EQ(objs[0].bytes, unknownObj);
    EXPECT_EQ(objs[1].bytes, Object(kUnknown, Bytes{9, 8, 7}));
    EXPECT_EQ(objs[2].guid, kFileProps);
    EXPECT_EQ(objs[3].guid, kContent);
    EXPECT_EQ(objs[4].bytes, Find(before, kStreamProps));
    EXPECT_EQ(objs[5].bytes, videoStream);  // every stream is kept
    EXPECT_EQ(objs[6].guid, kExtended);
    EXPECT_EQ(after[28], 1);
    EXPECT_EQ(after[29], 2);

    // Content description: four texts and the kept rating.
    const Bytes& cd = objs[3].bytes;
    Bytes cdBody;
    // Empty texts take no bytes, not even a terminator.
    for (const auto& s : {u"Title", u"Author"})
        Put(cdBody, W(s).size(), 2);
    Put(cdBody, 0, 2);
    Put(cdBody, 0, 2);
    Put(cdBody, W(u"Good").size(), 2);
    for (const auto& s : {u"Title", u"Author", u"Good"})
        Cat(cdBody, W(s));
    EXPECT_EQ(cd, Object(kContent, cdBody));

    // File properties: only the file-size field changes, to the new size.
    Bytes fp = objs[2].bytes;
    EXPECT_EQ(Get(fp, 40, 8), after.size());
    Bytes oldFp = Find(before, kFileProps);
    std::copy_n(oldFp.begin() + 40, 8, fp.begin() + 40);
    EXPECT_EQ(fp, oldFp);

    EXPECT_EQ(Get(after, 16, 8), after.size() - asf.data.size() - 24);
    EXPECT_EQ(AfterHeader(after), AfterHeader(before));

    WmaTag again;
    again.setFileName(path);
    ASSERT_TRUE(again.Valid()) << again.Error();
    EXPECT_EQ(again.Track, "5");
    EXPECT_EQ(again.Album, "");
    EXPECT_EQ(again.Lyrics, "Words");
    EXPECT_EQ(again.URL, "http://x");
}

// A damaged file with a second file-properties object behind the first: the
// save keeps it byte for byte, but behind the one that was read, so the file
// still reads back with the first one's values and its new size.
TEST_F(WmaTest, SecondFilePropertiesObjectStaysBehindTheFirst) {
    Asf other;
    other.maxBitrate = 64000;
    const Bytes duplicates[] = {
        Object(kFileProps, Bytes(22, 0x77)),  // too short to be read
        other.FileProps(1),                   // complete, with other values
    };
    for (const Bytes& duplicate : duplicates) {
        SCOPED_TRACE(duplicate.size());
        Asf asf;
        const Bytes unknownObj = Object(kUnknown, Bytes(50, 0x33));
        asf.before = {unknownObj};
        asf.after = {duplicate};
        WmaTag tag;
        Load(tag, asf);
        ASSERT_TRUE(tag.Valid()) << tag.Error();
        const Bytes before = ReadAll(path);
        tag.Title = "Saved";
        ASSERT_TRUE(tag.WriteTag()) << tag.Error();
        const Bytes after = ReadAll(path);
        EXPECT_EQ(AfterHeader(after), AfterHeader(before));

        const auto objs = Objects(after);
        ASSERT_GE(objs.size(), 3u);
        EXPECT_EQ(objs[0].guid, kFileProps);
        EXPECT_EQ(Get(objs[0].bytes, 40, 8), after.size());
        EXPECT_EQ(objs[1].bytes, unknownObj);
        EXPECT_EQ(objs[2].bytes, duplicate);

        WmaTag again;
        again.setFileName(path);
        ASSERT_TRUE(again.Valid()) << again.Error();
        EXPECT_EQ(again.Title, "Saved");
        EXPECT_EQ(again.MaxBitrate(), 128000u);
    }
}

TEST_F(WmaTest, UnicodeTextsRoundTrip) {
    WmaTag tag;
    Load(tag, Asf{});
    ASSERT_TRUE(tag.Valid());
    const std::string texts[] = {"\xD0\x9F\xD0\xB5\xD1\x81\xD0\xBD\xD1\x8F",  // Cyrillic
                                 "\xE6\x97\xA5\xE6\x9C\xAC",                  // CJK
                                 "\xF0\x9F\x8E\xB5 note"};                    // astral plane
    tag.Title = texts[0];
    tag.Artist = texts[1];
    tag.Album = texts[2];
    tag.Comment = texts[2];
    ASSERT_TRUE(tag.WriteTag()) << tag.Error();
    WmaTag again;
    again.setFileName(path);
    EXPECT_EQ(again.Title, texts[0]);
    EXPECT_EQ(again.Artist, texts[1]);
    EXPECT_EQ(again.Album, texts[2]);
    EXPECT_EQ(again.Comment, texts[2]);
}

TEST_F(WmaTest, HeaderBeyond64KiBReadsAndSaves) {
    Asf asf;
    Bytes big(300 * 1024);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 7);
    asf.before = {Object(kUnknown, big)};
    asf.descriptors = {Text(u"WM/AlbumTitle", u"Big")};
    WmaTag tag;
    Load(tag, asf);
    ASSERT_TRUE(tag.Valid()) << tag.Error();
    EXPECT_GT(tag.HeaderSize(), 300u * 1024);
    EXPECT_EQ(tag.Album, "Big");
    const Bytes before = ReadAll(path);
    tag.Title = "New";
    ASSERT_TRUE(tag.WriteTag()) << tag.Error();
    const Bytes after = ReadAll(path);
    EXPECT_EQ(Objects(after)[0].bytes, Object(kUnknown, big));
    EXPECT_EQ(AfterHeader(after), AfterHeader(before));
    WmaTag again;
    again.setFileName(path);
    ASSERT_TRUE(again.Valid()) << again.Error();
    EXPECT_EQ(again.Title, "New");
    EXPECT_EQ(again.Album, "Big");
    EXPECT_EQ(again.HeaderSize(), Get(after, 16, 8));
}

TEST_F(WmaTest, SaveFailuresLeaveTheFileUntouched) {
    struct Case {
        const char* what;
        std::function<void(WmaTag&, const std::string&)> prepare;
        const char* message;  // part of the expected Error
    };
    const Case cases[] = {
        {"disk full",
         [](WmaTag& t, const std::string&) {
             t.Title = "x";
             t.SetIoFaults({[](std::size_t) { return false; }, {}});
         },
         "write failed"},
        {"file changed since it was read",
         [](WmaTag& t, const std::string& p) {
             Bytes f = ReadAll(p);
             f[f.size() - 1] ^= 1;  // outside the header: still the same header
             f[60] ^= 1;            // inside the header
             WriteAll(p, f);
             t.Title = "x";
         },
         "changed since it was read"},
        {"text too long for a 16-bit length",
         [](WmaTag& t, const std::string&) { t.Lyrics = std::string(40000, 'a'); }, "WM/Lyrics"},
        {"title too long", [](WmaTag& t, const std::string&) { t.Title = std::string(40000, 'a'); },
         "Title"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WmaTag tag;
        errors = 0;
        Load(tag, Asf{});
        ASSERT_TRUE(tag.Valid());
        c.prepare(tag, path);
        const Bytes before = ReadAll(path);
        EXPECT_FALSE(tag.WriteTag());
        EXPECT_NE(tag.Error().find(c.message), std::string::npos) << tag.Error();
        EXPECT_EQ(errors, 1);
        EXPECT_EQ(ReadAll(path), before);
        // No temporary file is left beside it.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    }
}

TEST_F(WmaTest, ForeignFileIsNeverWritten) {
    const Bytes junk = test::ToBytes(std::string(200, 'j'));
    WriteAll(path, junk);
    WmaTag tag;
    tag.setFileName(path);
    tag.Title = "x";
    EXPECT_FALSE(tag.WriteTag());
    EXPECT_NE(tag.Error(), "");
    EXPECT_EQ(ReadAll(path), junk);
}

TEST_F(WmaTest, SavingTwiceWithoutRereading) {
    WmaTag tag;
    Load(tag, Asf{});
    const Bytes data = AfterHeader(ReadAll(path));
    tag.Title = "One";
    ASSERT_TRUE(tag.WriteTag()) << tag.Error();
    tag.Title = "A much longer second title";
    ASSERT_TRUE(tag.WriteTag()) << tag.Error();
    EXPECT_EQ(AfterHeader(ReadAll(path)), data);
    WmaTag again;
    again.setFileName(path);
    EXPECT_EQ(again.Title, "A much longer second title");
}

// --- pictures --------------------------------------------------------------

TEST_F(WmaTest, PicturesFromId3AndWmPictureDescriptors) {
    const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F', 0, 1};
    Asf asf;
    const Bytes tit2 = Frame("TIT2", Bytes{0, 'h', 'i'});
    const Desc wmPic = WmPicture(u"image/png", 4, u"back", Bytes{1, 2, 3});
    asf.descriptors = {
        wmPic,
        {u"ID3", 1,
         Id3Tag({Apic("image/gif", 3, "front", jpeg), tit2, Apic("image/png", 5, "", {9})})},
        Text(u"WM/AlbumArtist", u"AA"),
    };
    WmaTag tag;
    Load(tag, asf);
    ASSERT_TRUE(tag.Valid()) << tag.Error();
    ASSERT_EQ(tag.ImagesCount(), 3);
    EXPECT_EQ(tag.GetMIME(0), "image/jpg");  // the bytes say JPEG
    EXPECT_EQ(tag.GetDescription(0), "front");
    EXPECT_EQ(tag.Pictures()[0].Data, jpeg);
    EXPECT_EQ(tag.GetMIME(1), "image/png");
    EXPECT_EQ(tag.Pictures()[1].PictureType, 5);
    EXPECT_EQ(tag.GetMIME(2), "image/png");
    EXPECT_EQ(tag.GetDescription(2), "back");
    EXPECT_EQ(tag.Pictures()[2].PictureType, 4);
    EXPECT_EQ(tag.Pictures()[2].Data, (Bytes{1, 2, 3}));
    for (int bad : {-1, 3}) {
        EXPECT_EQ(tag.GetMIME(bad), "");
        EXPECT_EQ(tag.GetDescription(bad), "");
    }

    // Deleting the standard picture removes its descriptor only.
    ASSERT_EQ(tag.DeleteImage(2), 0);
    EXPECT_EQ(tag.Error(), "");
    auto saved = Descriptors(ReadAll(path));
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0].name, "ID3");
    EXPECT_EQ(saved[1].name, "WM/AlbumArtist");
    WmaTag again;
    again.setFileName(path);
    EXPECT_EQ(again.ImagesCount(), 2);

    // Deleting an ID3 picture keeps the other frames and the WM/Picture.
    WriteAll(path, asf.File());
    tag.setFileName(path);
    ASSERT_EQ(tag.DeleteImage(0), 0);
    saved = Descriptors(ReadAll(path));
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[0].value, Id3Tag({Apic("image/png", 5, "", {9}), tit2}));
    EXPECT_EQ(saved[1].raw, DescBytes(wmPic));  // kept in file order
    again.setFileName(path);
    ASSERT_EQ(again.ImagesCount(), 2);
    EXPECT_EQ(again.GetDescription(1), "back");
}

// The "ID3" descriptor may hold any ID3v2 version: 2.4 frame sizes are
// synchsafe, and unsynchronisation (of the whole 2.3 tag, or of one 2.4
// frame) must be undone before a picture's bytes are taken. A save that
// changes only the title writes the pictures first and every other frame
// back as it was.
TEST_F(WmaTest, PicturesFromEveryId3Layout) {
    // Bytes that unsynchronisation changes, and enough of them that a
    // frame's size needs more than seven bits.
    Bytes image = {0xFF, 0xE0, 0xFF, 0x00, 0xFF, 0xFF, 0xFB};
    for (int i = 0; i < 200; ++i)
        image.push_back(static_cast<std::uint8_t>(i * 37 + 11));
    image.push_back(0xFF);
    const Bytes small = {0xFF, 0xD9, 1, 0xFF};
    auto pic = [](std::string mime, std::uint8_t type, std::string desc, Bytes data) {
        Picture p;
        p.MimeType = std::move(mime);
        p.PictureType = type;
        p.Description = std::move(desc);
        p.Data = std::move(data);
        return p;
    };
    const std::u16string cyrillic = u"\u041E\u0431\u043B\u043E\u0436\u043A\u0430";
    const std::string cyrillicUtf8 = "\xD0\x9E\xD0\xB1\xD0\xBB\xD0\xBE\xD0\xB6\xD0\xBA\xD0\xB0";
    Bytes privBody = Str("owner");
    privBody.push_back(0);
    privBody.insert(privBody.end(), 300, 0x42);
    // 2.4 frames the component does not interpret: UTF-8 text (no 2.3
    // encoding) and a private frame larger than 127 bytes.
    const Bytes tit2v4 = Frame24("TIT2", Bytes{3, 'h', 'i'});
    const Bytes privV4 = Frame24("PRIV", privBody);
    const Bytes apicV4 = Frame24("APIC", ApicBody("image/png", 3, cyrillic, image));
    const Bytes tit2v3 = Frame("TIT2", Bytes{0, 'h', 'i'});
    const Bytes privV3 = Frame("PRIV", Bytes{'o', 0, 0xFF, 0xE1, 0xFF, 0x00, 7, 0xFF});
    const Bytes back = Frame("APIC", ApicBody("image/jpeg", 4, u"back", image));
    const Bytes front = Frame("APIC", ApicBody("image/gif", 3, u"front", small));
    Bytes pic22Body = {0, 'P', 'N', 'G', 3};
    Cat(pic22Body, Str("front"));
    pic22Body.push_back(0);
    Cat(pic22Body, small);
    const Bytes pic22 = Frame22("PIC", pic22Body);
    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& p : parts)
            Cat(out, p);
        return out;
    };

    struct Case {
        const char* what;
        Bytes stored;  // the "ID3" descriptor's value in the file
        std::vector<Picture> pictures;
        Bytes saved;  // the value after a save that changes the title
    };
    const Case cases[] = {
        {"ID3v2.4 with synchsafe frame sizes",
         Id3TagOf(4, 0, cat({tit2v4, apicV4, privV4})),
         {pic("image/png", 3, cyrillicUtf8, image)},
         Id3TagOf(4, 0, cat({apicV4, tit2v4, privV4}))},
        {"ID3v2.4 with one frame unsynchronised",
         Id3TagOf(
             4, 0,
             cat({tit2v4, Frame24("APIC", Unsync(ApicBody("image/png", 3, cyrillic, image)), 2),
                  privV4})),
         {pic("image/png", 3, cyrillicUtf8, image)},
         Id3TagOf(4, 0, cat({apicV4, tit2v4, privV4}))},
        // 2.2 has no layout of its own to write: pictures and other frames
        // go into 2.3 under their 2.3 names.
        {"ID3v2.2",
         Id3TagOf(2, 0, cat({Frame22("TT2", Bytes{0, 'h', 'i'}), pic22})),
         {pic("image/png", 3, "front", small)},
         Id3TagOf(3, 0, cat({Frame("APIC", ApicBody("image/png", 3, u"front", small)), tit2v3}))},
        {"unsynchronised ID3v2.3",
         Id3TagOf(3, 0x80, Unsync(cat({front, tit2v3, back, privV3}))),
         {pic("image/gif", 3, "front", small), pic("image/jpeg", 4, "back", image)},
         Id3TagOf(3, 0, cat({front, back, tit2v3, privV3}))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Asf asf;
        asf.descriptors = {{u"ID3", 1, c.stored}, Text(u"WM/AlbumArtist", u"AA")};
        WmaTag tag;
        Load(tag, asf);
        ASSERT_TRUE(tag.Valid()) << tag.Error();
        EXPECT_EQ(tag.Pictures(), c.pictures);

        tag.Title = "Changed";
        ASSERT_TRUE(tag.WriteTag()) << tag.Error();
        const auto saved = Descriptors(ReadAll(path));
        ASSERT_EQ(saved.size(), 2u);
        EXPECT_EQ(saved[0].name, "ID3");
        EXPECT_EQ(saved[0].value, c.saved);
        EXPECT_EQ(saved[1].raw, DescBytes(Text(u"WM/AlbumArtist", u"AA")));
        WmaTag again;
        again.setFileName(path);
        ASSERT_TRUE(again.Valid()) << again.Error();
        EXPECT_EQ(again.Title, "Changed");
        EXPECT_EQ(again.Pictures(), c.pictures);
    }
    EXPECT_EQ(errors, 0);
}

TEST_F(WmaTest, PicturesFromTheMetadataLibrary) {
    // Values above 64 KiB only fit the library's 32-bit lengths.
    Bytes big(70000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i);
    const Bytes before = Record(Text(u"WM/Mood", u"calm"), 1);
    const Bytes picture = Record(WmPicture(u"image/jpeg", 3, u"big", big));
    const Bytes after = Record(Dword(u"WM/SharedUserRating", 50));
    const Bytes other = Object(kUnknown, Bytes{1, 2, 3});
    Asf asf;
    asf.before = {HeaderExtension({other, Library({before, picture, after})})};
    asf.descriptors = {WmPicture(u"image/png", 3, u"small", Bytes{1})};
    WmaTag tag;
    Load(tag, asf);
    ASSERT_TRUE(tag.Valid()) << tag.Error();
    ASSERT_EQ(tag.ImagesCount(), 2);
    EXPECT_EQ(tag.GetDescription(0), "small");
    EXPECT_EQ(tag.GetDescription(1), "big");
    EXPECT_EQ(tag.GetMIME(1), "image/jpeg");
    EXPECT_EQ(tag.Pictures()[1].Data, big);

    // Deleting it removes the record; sizes and counts around it shrink.
    ASSERT_EQ(tag.DeleteImage(1), 0);
    ASSERT_EQ(tag.Error(), "");
    EXPECT_EQ(Objects(ReadAll(path))[0].bytes, HeaderExtension({other, Library({before, after})}));
    WmaTag again;
    again.setFileName(path);
    ASSERT_TRUE(again.Valid()) << again.Error();
    ASSERT_EQ(again.ImagesCount(), 1);
    EXPECT_EQ(again.GetDescription(0), "small");
}

TEST_F(WmaTest, AddImageWritesTheId3Layout) {
    WmaTag tag;
    Load(tag, Asf{});
    const std::string png = dir.file("cover.PNG");
    const Bytes pngData = {0x89, 'P', 'N', 'G', 1, 2, 3};
    WriteAll(png, pngData);
    ASSERT_TRUE(tag.AddImage(0, png, "front"));
    EXPECT_EQ(tag.Error(), "");
    EXPECT_EQ(tag.ImagesCount(), 1);
    EXPECT_EQ(tag.GetMIME(0), "image/png");
    EXPECT_EQ(tag.Pictures()[0].PictureType, 3);

    // Saved at once: "APIC", size = MIME + description + data + 4.
    Bytes frame = Str("APIC");
    frame.insert(frame.end(), {0, 0, 0, 9 + 5 + 7 + 4, 0, 0, 0});
    Cat(frame, Str("image/png"));
    frame.push_back(0);
    frame.push_back(3);
    Cat(frame, Str("front"));
    frame.push_back(0);
    Cat(frame, pngData);
    Bytes expected = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(frame.size())};
    Cat(expected, frame);
    EXPECT_EQ(Descriptors(ReadAll(path))[0].value, expected);

    // Appending at the count, and a JPEG under a .gif name.
    const std::string gif = dir.file("x.gif");
    WriteAll(gif, Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F', 0});
    ASSERT_TRUE(tag.AddImage(1, gif, "\xD0\xAF"));  // non-Latin description
    WmaTag again;
    again.setFileName(path);
    ASSERT_EQ(again.ImagesCount(), 2);
    EXPECT_EQ(again.Pictures()[1].MimeType, "image/jpg");
    EXPECT_EQ(again.GetDescription(1), "\xD0\xAF");
    EXPECT_EQ(again.GetDescription(0), "front");
}

TEST_F(WmaTest, BadPictureIndexesChangeNothing) {
    Asf asf;
    asf.descriptors = {{u"ID3", 1, Id3Tag({Apic("image/png", 3, "a", {1})})}};
    WmaTag tag;
    Load(tag, asf);
    ASSERT_EQ(tag.ImagesCount(), 1);
    const std::string png = dir.file("p.png");
    WriteAll(png, Bytes{1, 2});
    const Bytes before = ReadAll(path);
    for (int index : {-1, 2}) {
        EXPECT_FALSE(tag.AddImage(index, png, "d"));
        EXPECT_EQ(tag.Error(), "Error adding image");
    }
    for (int index : {-1, 1}) {
        EXPECT_EQ(tag.DeleteImage(index), -1);
        EXPECT_EQ(tag.Error(), "Delete image");
    }
    EXPECT_FALSE(tag.AddImage(0, dir.file("missing.png"), "d"));
    EXPECT_NE(tag.Error().find("Cannot read the picture file"), std::string::npos);
    EXPECT_EQ(tag.ImagesCount(), 1);
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(errors, 0);
}

TEST_F(WmaTest, PicturesTooLargeForTheId3DescriptorGoToTheLibrary) {
    Bytes big(70000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 3);
    const std::string bigFile = dir.file("big.jpg");
    const std::string smallFile = dir.file("small.png");
    WriteAll(bigFile, big);
    WriteAll(smallFile, Bytes{1, 2, 3});
    const Bytes other = Object(kUnknown, Bytes{4, 5});
    const Bytes kept = Record(Text(u"WM/Mood", u"calm"));
    const Bytes record = Record(WmPicture(u"image/jpg", 3, u"big", big));
    Bytes made(16, 0x22);  // a new extension: its fixed reserved GUID, then a library
    const Guid reserved =
        MakeGuid(0xABD3D211, 0xA9BA, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
    std::copy(reserved.begin(), reserved.end(), made.begin());
    Put(made, 6, 2);
    const Bytes lib = Library({record});
    Put(made, lib.size(), 4);
    Cat(made, lib);
    struct Case {
        const char* what;
        std::vector<Bytes> before;  // header objects of the file
        Bytes extension;            // the header extension after the save
    };
    const Case cases[] = {
        {"no header extension", {}, Object(kHeaderExt, made)},
        {"extension without a library",
         {HeaderExtension({other})},
         HeaderExtension({other, Library({record})})},
        {"extension with a library",
         {HeaderExtension({Library({kept})})},
         HeaderExtension({Library({kept, record})})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Asf asf;
        asf.before = c.before;
        WmaTag tag;
        Load(tag, asf);
        const Bytes data = AfterHeader(ReadAll(path));
        ASSERT_TRUE(tag.AddImage(0, bigFile, "big"));
        ASSERT_EQ(tag.Error(), "");
        ASSERT_TRUE(tag.AddImage(1, smallFile, "small"));
        ASSERT_EQ(tag.Error(), "");
        const Bytes file = ReadAll(path);
        EXPECT_EQ(AfterHeader(file), data);
        EXPECT_EQ(Objects(file)[0].bytes, c.extension);

        WmaTag again;
        again.setFileName(path);
        ASSERT_TRUE(again.Valid()) << again.Error();
        ASSERT_EQ(again.ImagesCount(), 2);
        EXPECT_EQ(again.GetDescription(0), "small");  // the "ID3" descriptor comes first
        EXPECT_EQ(again.GetDescription(1), "big");
        EXPECT_EQ(again.Pictures()[1].Data, big);
        EXPECT_EQ(again.GetMIME(1), "image/jpg");
    }
    EXPECT_EQ(errors, 0);
}

TEST_F(WmaTest, SaveImageToFile) {
    Asf asf;
    asf.descriptors = {{u"ID3", 1, Id3Tag({Apic("image/png", 3, "a", {7, 8, 9})})}};
    WmaTag tag;
    Load(tag, asf);
    const std::string out = dir.file("out.png");
    EXPECT_EQ(tag.SaveImageToFile(0, out), 0);
    EXPECT_EQ(ReadAll(out), (Bytes{7, 8, 9}));
    EXPECT_EQ(tag.SaveImageToFile(5, out), 0);  // a bad index leaves an empty file
    EXPECT_TRUE(ReadAll(out).empty());
    EXPECT_EQ(tag.SaveImageToFile(0, dir.file("no/such/folder.png")), ENOENT);
    EXPECT_EQ(tag.Error(), std::strerror(ENOENT));
}

// --- the header extension's values and the fidelity of saves ----------------

TEST_F(WmaTest, DurationIsPlayDurationLessPreroll) {
    struct Case {
        const char* what;
        std::uint64_t play;
        std::uint64_t preroll;
        std::uint32_t flags;
        double seconds;
    };
    // With maxBitrate 8, the estimate from the data is one second per byte:
    // 976 bytes of data and the data object's 24-byte header.
    const Case cases[] = {
        {"ffmpeg's 10.03 s file", 108'000'000, 770, 2, 10.03},
        {"no preroll", 10'000'000, 0, 2, 1.0},
        {"broadcast: no durations", 108'000'000, 770, 3, 1000.0},
        {"play duration within the preroll", 10'000'000, 1'000, 2, 1000.0},
        {"preroll beyond any play duration", 10'000'000, ~0ull / 100, 2, 1000.0},
        {"no durations at all", 0, 0, 2, 1000.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Asf asf;
        asf.maxBitrate = 8;
        asf.data = Bytes(976, 0);
        asf.playDuration = c.play;
        asf.preroll = c.preroll;
        asf.flags = c.flags;
        WmaTag tag;
        Load(tag, asf);
        ASSERT_TRUE(tag.Valid()) << tag.Error();
        EXPECT_NEAR(tag.DurationInSeconds(), c.seconds, 1e-9);
    }
}

TEST_F(WmaTest, MetadataObjectValuesFillFields) {
    struct Case {
        const char* what;
        std::vector<Desc> descriptors;
        std::vector<Bytes> extension;  // objects of the header extension
        std::string WmaTag::*field;
        std::string expected;
    };
    const Case cases[] = {
        {"second genre in the library",
         {Text(u"WM/Genre", u"Rock")},
         {Library({Record(Text(u"WM/Genre", u"Pop"))})},
         &WmaTag::Genre,
         "Rock / Pop"},
        {"value only in the metadata object, name in other case",
         {},
         {Metadata({Record(Text(u"wm/composer", u"C"), 1)})},
         &WmaTag::Composer,
         "C"},
        {"long lyrics in the library",
         {},
         {Library({Record(Text(u"WM/Lyrics", std::u16string(40000, u'l')))})},
         &WmaTag::Lyrics,
         std::string(40000, 'l')},
        {"second title after the content description's",
         {},
         {Library({Record(Text(u"Title", u"Other"))})},
         &WmaTag::Title,
         "Title / Other"},
        {"numeric track number in a record",
         {},
         {Metadata({Record(Dword(u"WM/TrackNumber", 12))})},
         &WmaTag::Track,
         "12"},
        {"zero-based WM/Track in a record",
         {},
         {Library({Record(Text(u"WM/Track", u"4"))})},
         &WmaTag::Track,
         "5"},
        {"values of both objects in file order",
         {},
         {Metadata({Record(Text(u"WM/Year", u"1999"))}),
          Library({Record(Text(u"WM/YEAR", u"2000"))})},
         &WmaTag::Year,
         "1999 / 2000"},
        {"unknown name ignored",
         {},
         {Library({Record(Text(u"WM/AlbumArtist", u"AA"))})},
         &WmaTag::Album,
         ""},
        {"header extension with bytes no object holds: its values are not taken",
         {Text(u"WM/Genre", u"Rock")},
         {Library({Record(Text(u"WM/Genre", u"Pop"))}), Bytes(10, 0)},
         &WmaTag::Genre,
         "Rock"},
        {"a record count beyond the records: those that are there count",
         {},
         {[] {
             Bytes lib = Library({Record(Text(u"WM/Genre", u"Pop"))});
             lib[24] = 2;
             return lib;
         }()},
         &WmaTag::Genre,
         "Pop"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WmaTag tag;
        ASSERT_TRUE(LoadWith(tag, c.descriptors, c.extension)) << tag.Error();
        EXPECT_EQ(tag.*c.field, c.expected);
    }
    EXPECT_EQ(errors, 0);
}

// A saved attribute as a short text: its name and its value, text as it is,
// a DWORD as "#n".
std::string Shown(const std::string& name, std::uint16_t type, const Bytes& value) {
    if (type == 3)
        return name + "=#" + std::to_string(Get(value, 0, 4));
    if (type == 0)
        return name + "=" + AsciiOf(value);
    return name + " (type " + std::to_string(type) + ")";
}

// Every extended content descriptor of a saved file, shown.
std::vector<std::string> ShownDescriptors(const Bytes& file) {
    std::vector<std::string> shown;
    for (const SavedDesc& d : Descriptors(file))
        shown.push_back(Shown(d.name, d.type, d.value));
    return shown;
}

TEST_F(WmaTest, SaveReplacesEveryItemOfAChangedFieldOnly) {
    struct Case {
        const char* what;
        std::vector<Desc> descriptors;
        std::vector<Bytes> extension;
        std::function<void(WmaTag&)> edit;
        std::vector<std::string> descriptorsAfter;
        std::vector<std::string> recordsAfter;
        const char* genreReadBack = nullptr;  // when not the genre edited
    };
    const Case cases[] = {
        {"untouched: spellings, duplicates, records and types kept",
         {Text(u"WM/LYRICS", u"la"), Text(u"wm/originalartist", u"O"), Text(u"WM/Genre", u"Rock"),
          Text(u"WM/Genre", u"Pop"), Dword(u"WM/Year", 1999), Text(u"WM/CodedBy", u"enc")},
         {Metadata({Record(Text(u"WM/Genre", u"Jazz"), 1)}),
          Library({Record(Text(u"WM/USERWEBURL", u"http://a"))})},
         [](WmaTag& t) { t.Title = "New"; },
         {"WM/LYRICS=la", "wm/originalartist=O", "WM/Genre=Rock", "WM/Genre=Pop", "WM/Year=#1999",
          "WM/CodedBy=enc"},
         {"WM/Genre=Jazz", "WM/USERWEBURL=http://a"}},
        {"a genre changed: its descriptors and records give way to one",
         {Text(u"WM/Genre", u"Rock"), Text(u"WM/Composer", u"C"), Text(u"wm/GENRE", u"Pop")},
         {Metadata({Record(Text(u"WM/Genre", u"Jazz"), 1), Record(Text(u"WM/Mood", u"M"))}),
          Library({Record(Text(u"WM/GENRE", u"Folk"))})},
         [](WmaTag& t) { t.Genre = "Blues"; },
         {"WM/Genre=Blues", "WM/Composer=C"},
         {"WM/Mood=M"}},
        {"standard spellings replace the others",
         {Text(u"WM/LYRICS", u"la"), Text(u"WM/ORIGINALARTIST", u"O"), Text(u"WM/ENCODEDBY", u"e"),
          Text(u"WM/CodedBy", u"e2"), Text(u"WM/USERWEBURL", u"http://a"),
          Text(u"WM/PromotionURL", u"http://b"), Text(u"WM/URL", u"http://c")},
         {},
         [](WmaTag& t) {
             t.Lyrics = "words";
             t.OrigArtist = "Orig";
             t.EncodedBy = "me";
             t.URL = "http://x";
         },
         {"WM/Lyrics=words", "WM/OriginalArtist=Orig", "WM/EncodedBy=me", "WM/UserWebURL=http://x"},
         {}},
        {"a long value in the library replaced by a short one",
         {},
         {Library({Record(Text(u"WM/Lyrics", std::u16string(40000, u'l'))),
                   Record(Text(u"WM/Lyrics", u"second"))})},
         [](WmaTag& t) { t.Lyrics = "short"; },
         {"WM/Lyrics=short"},
         {}},
        {"an emptied field leaves no item anywhere",
         {Text(u"WM/Composer", u"C")},
         {Library({Record(Text(u"WM/Composer", u"D"))})},
         [](WmaTag& t) { t.Composer = ""; },
         {},
         {}},
        {"a changed title takes the place of its other values",
         {Text(u"title", u"Title")},
         {Library({Record(Text(u"Title", u"Second")), Record(Text(u"Author", u"Second"))})},
         [](WmaTag& t) { t.Title = "New"; },
         {},
         {"Author=Second"}},
        {"a genre changed only in case is the one read",
         {Text(u"WM/Genre", u"rock")},
         {},
         [](WmaTag& t) { t.Genre = "Rock"; },
         {"WM/Genre=rock"},
         {},
         "rock"},
        {"an empty \"ID3\" descriptor is dropped",
         {{u"ID3", 1, Id3Tag({})}, Text(u"WM/Year", u"2000")},
         {},
         [](WmaTag& t) { t.Title = "New"; },
         {"WM/Year=2000"},
         {}},
        {"an \"ID3\" descriptor with a picture is kept",
         {{u"ID3", 1, Id3Tag({Apic("image/png", 3, "a", {1, 2})})}},
         {},
         [](WmaTag& t) { t.Title = "New"; },
         {"ID3 (type 1)"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WmaTag tag;
        ASSERT_TRUE(LoadWith(tag, c.descriptors, c.extension)) << tag.Error();
        c.edit(tag);
        ASSERT_TRUE(tag.WriteTag()) << tag.Error();
        const Bytes after = ReadAll(path);
        EXPECT_EQ(ShownDescriptors(after), c.descriptorsAfter);
        std::vector<std::string> records;
        for (const SavedRecord& r : Records(after))
            records.push_back(Shown(r.name, r.type, r.value));
        EXPECT_EQ(records, c.recordsAfter);

        // Read again, every field shows what was saved: the edit, and the
        // other fields as they were read.
        WmaTag again;
        again.setFileName(path);
        ASSERT_TRUE(again.Valid()) << again.Error();
        for (const auto& entry : kFieldTable) {
            SCOPED_TRACE(entry.key);
            const std::string want = entry.field == Field::Genre && c.genreReadBack
                                         ? c.genreReadBack
                                         : tag.Value(entry.field);
            EXPECT_EQ(again.Value(entry.field), want);
        }
    }
}

// Content description texts stay as stored while unchanged, even when
// further values of theirs make the shown text longer.
TEST_F(WmaTest, UnchangedContentTextsStayAsStored) {
    Asf asf;
    asf.before = {HeaderExtension({Library({Record(Text(u"Title", u"Second"))})})};
    WmaTag tag;
    Load(tag, asf);
    ASSERT_EQ(tag.Title, "Title / Second");
    const Bytes content = Find(ReadAll(path), kContent);
    tag.Artist = "Someone else";
    ASSERT_TRUE(tag.WriteTag()) << tag.Error();
    const Bytes after = ReadAll(path);
    const Bytes saved = Find(after, kContent);
    // The title's length and text come first, as before.
    EXPECT_EQ(Get(saved, 24, 2), Get(content, 24, 2));
    EXPECT_EQ(Bytes(saved.begin() + 34, saved.begin() + 34 + 12), W(u"Title"));
    ASSERT_EQ(Records(after).size(), 1u);
    EXPECT_EQ(Records(after)[0].name, "Title");
}

TEST_F(WmaTest, TrackIsWrittenInTheFormatsConvention) {
    struct Case {
        const char* what;
        std::vector<Desc> descriptors;
        std::vector<Bytes> extension;
        std::string readAs;
        std::string track;
        std::vector<std::string> descriptorsAfter;
    };
    const Case cases[] = {
        {"zero-based WM/Track alone: it stays, before WM/TrackNumber",
         {Text(u"WM/Album", u"A"), Text(u"WM/Track", u"5")},
         {},
         "6",
         "9",
         {"WM/Album=A", "WM/Track=8", "WM/TrackNumber=9"}},
        {"a DWORD WM/TrackNumber stays a DWORD",
         {Dword(u"WM/TrackNumber", 5)},
         {},
         "5",
         "7",
         {"WM/TrackNumber=#7"}},
        {"a DWORD WM/Track stays a DWORD",
         {Dword(u"WM/Track", 0), Text(u"WM/TrackNumber", u"1")},
         {},
         "1",
         "3",
         {"WM/Track=#2", "WM/TrackNumber=3"}},
        {"no track before: WM/TrackNumber only", {}, {}, "", "4", {"WM/TrackNumber=4"}},
        {"a text track: no WM/Track, as it has no number",
         {Text(u"WM/Track", u"0"), Text(u"WM/TrackNumber", u"1")},
         {},
         "1",
         "A1",
         {"WM/TrackNumber=A1"}},
        {"a DWORD track number in the library: a DWORD descriptor",
         {},
         {Library({Record(Dword(u"WM/TrackNumber", 2))})},
         "2",
         "11",
         {"WM/TrackNumber=#11"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WmaTag tag;
        ASSERT_TRUE(LoadWith(tag, c.descriptors, c.extension)) << tag.Error();
        EXPECT_EQ(tag.Track, c.readAs);
        tag.Track = c.track;
        ASSERT_TRUE(tag.WriteTag()) << tag.Error();
        const Bytes after = ReadAll(path);
        EXPECT_EQ(ShownDescriptors(after), c.descriptorsAfter);
        EXPECT_TRUE(Records(after).empty());
        WmaTag again;
        again.setFileName(path);
        EXPECT_EQ(again.Track, c.track);
    }
}

// Other taggers may keep synchronised lyrics as a record of the metadata
// objects (with a language or a stream, or because the text is long). Such
// a record is read when no descriptor holds them; new lyrics replace every
// one of them with one descriptor, and every other record stays byte for byte.
TEST_F(WmaTest, SyncedLyricsInTheMetadataObjects) {
    const Bytes other = Object(kUnknown, Bytes{1, 2, 3});
    const Bytes mood = Record(Text(u"WM/Mood", u"calm"), 1);
    const Bytes rating = Record(Dword(u"WM/SharedUserRating", 50), 0, 1);
    const Bytes inLibrary = Record(Text(u"SYNCEDLYRICS", u"[00:01.00]lib"), 0, 1);
    struct Case {
        const char* what;
        std::vector<Desc> descriptors;
        std::vector<Bytes> extension;
        std::string read;
        std::optional<std::string> set;  // nullopt: a save that sets none
        std::vector<std::string> descriptorsAfter;
        std::vector<Bytes> extensionAfter;
    };
    const Case cases[] = {
        {"a library record with a language",
         {Text(u"WM/Year", u"2000")},
         {other, Library({mood, inLibrary, rating})},
         "[00:01.00]lib",
         "[00:02.00]new\n",
         {"WM/Year=2000", "SYNCEDLYRICS=[00:02.00]new\n"},
         {other, Library({mood, rating})}},
        {"a metadata-object record, its name in another case",
         {},
         {Metadata({Record(Text(u"SyncedLyrics", u"[00:01.00]meta"), 1)}), Library({mood})},
         "[00:01.00]meta",
         "[00:02.00]new\n",
         {"SYNCEDLYRICS=[00:02.00]new\n"},
         {Metadata({}), Library({mood})}},
        {"a descriptor is read first and replaced in its place; the records go",
         {Text(u"syncedlyrics", u"[00:00.50]desc"), Text(u"WM/Year", u"2000")},
         {Metadata({Record(Text(u"SYNCEDLYRICS", u"[00:00.70]meta"), 1)}),
          Library({inLibrary, mood})},
         "[00:00.50]desc",
         "[00:02.00]new\n",
         {"SYNCEDLYRICS=[00:02.00]new\n", "WM/Year=2000"},
         {Metadata({}), Library({mood})}},
        {"a record that holds no text is not read, but goes with the others",
         {},
         {Library({Record({u"SYNCEDLYRICS", 1, Bytes{1, 2, 3}}), mood,
                   Record(Text(u"SyncedLyrics", u"[00:01.00]second"), 0, 2)})},
         "[00:01.00]second",
         "",
         {},
         {Library({mood})}},
        {"a save that sets none keeps every record",
         {Text(u"WM/Year", u"2000")},
         {other, Library({mood, inLibrary, rating})},
         "[00:01.00]lib",
         std::nullopt,
         {"WM/Year=2000"},
         {other, Library({mood, inLibrary, rating})}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WmaTag tag;
        ASSERT_TRUE(LoadWith(tag, c.descriptors, c.extension)) << tag.Error();
        EXPECT_EQ(tag.SyncedLyricsRead(), c.read);
        if (c.set)
            tag.setSyncedLyrics(*c.set);
        ASSERT_TRUE(tag.WriteTag()) << tag.Error();

        const Bytes after = ReadAll(path);
        EXPECT_EQ(ShownDescriptors(after), c.descriptorsAfter);
        EXPECT_EQ(Objects(after)[0].bytes, HeaderExtension(c.extensionAfter));
        EXPECT_EQ(AfterHeader(after),
                  AfterHeader(WithExtension(c.descriptors, c.extension).File()));

        WmaTag again;
        again.setFileName(path);
        ASSERT_TRUE(again.Valid()) << again.Error();
        EXPECT_EQ(again.SyncedLyricsRead(), c.set.value_or(c.read));
        EXPECT_EQ(again.Title, "Title");
    }
    EXPECT_EQ(errors, 0);
}
}  // namespace
}  // namespace sondrel
