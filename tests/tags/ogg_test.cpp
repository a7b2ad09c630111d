// SPDX-License-Identifier: GPL-3.0-or-later
// OggVorbisTag on Ogg Vorbis streams built byte by byte here, so each layout quirk
// (pages, lacing, granules, damaged packets) is exactly the one under test.
#include "tags/ogg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tags/file_io.h"
#include "tags/vorbis_comment.h"

namespace {

using sondrel::OggVorbisTag;
using sondrel::test::Bytes;
using sondrel::test::ReadAll;
using sondrel::test::TempDir;
using sondrel::test::WriteAll;

constexpr std::uint32_t kSerial = 0x5EED1234;

// Bitwise Ogg CRC, deliberately not table-driven like the one under test.
std::uint32_t Crc(const Bytes& d) {
    std::uint32_t crc = 0;
    for (const auto byte : d) {
        crc ^= static_cast<std::uint32_t>(byte) << 24;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
std::uint32_t Get32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void Append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

struct Page {
    std::uint8_t flags = 0;
    std::uint64_t granule = 0;
    std::uint32_t serial = kSerial;
    std::uint32_t seq = 0;
    Bytes lacing;
    Bytes body;
    std::size_t offset = 0;  // where it was found (parsed pages)
    bool crcOk = true;       // parsed pages
};

// Puts whole packets on a page, then optionally the first part of a packet
// that continues on the next page (a multiple of 255 bytes).
Page MakePage(std::uint32_t seq, std::uint64_t granule, std::uint8_t flags,
              const std::vector<Bytes>& packets, const Bytes& fragment = {}) {
    Page p;
    p.seq = seq;
    p.granule = granule;
    p.flags = flags;
    for (const auto& pk : packets) {
        p.lacing.insert(p.lacing.end(), pk.size() / 255, 255);
        p.lacing.push_back(static_cast<std::uint8_t>(pk.size() % 255));
        Append(p.body, pk);
    }
    p.lacing.insert(p.lacing.end(), fragment.size() / 255, 255);
    Append(p.body, fragment);
    return p;
}

Bytes Serialize(const Page& p) {
    Bytes b = {'O', 'g', 'g', 'S', 0, p.flags};
    for (int i = 0; i < 8; ++i)
        b.push_back(static_cast<std::uint8_t>(p.granule >> (8 * i)));
    Put32(b, p.serial);
    Put32(b, p.seq);
    Put32(b, 0);
    b.push_back(static_cast<std::uint8_t>(p.lacing.size()));
    Append(b, p.lacing);
    Append(b, p.body);
    const std::uint32_t crc = Crc(b);
    for (int i = 0; i < 4; ++i)
        b[22 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
    return b;
}

Bytes Serialize(const std::vector<Page>& pages) {
    Bytes out;
    for (const auto& p : pages)
        Append(out, Serialize(p));
    return out;
}

// Pages from `start` to the first byte that does not begin a page.
std::vector<Page> ParsePages(const Bytes& f, std::size_t start = 0) {
    std::vector<Page> pages;
    std::size_t pos = start;
    while (pos + 27 <= f.size() && std::memcmp(&f[pos], "OggS", 4) == 0) {
        Page p;
        p.offset = pos;
        p.flags = f[pos + 5];
        p.granule = Get32(&f[pos + 6]) | (static_cast<std::uint64_t>(Get32(&f[pos + 10])) << 32);
        p.serial = Get32(&f[pos + 14]);
        p.seq = Get32(&f[pos + 18]);
        const std::size_t n = f[pos + 26];
        p.lacing.assign(f.begin() + pos + 27, f.begin() + pos + 27 + n);
        std::size_t size = 0;
        for (auto v : p.lacing)
            size += v;
        p.body.assign(f.begin() + pos + 27 + n, f.begin() + pos + 27 + n + size);
        Bytes copy(f.begin() + pos, f.begin() + pos + 27 + n + size);
        const std::uint32_t stored = Get32(&copy[22]);
        std::memset(&copy[22], 0, 4);
        p.crcOk = Crc(copy) == stored;
        pages.push_back(p);
        pos += copy.size();
    }
    return pages;
}

struct Packet {
    Bytes data;
    std::size_t lastPage;  // index of the page on which it ends
};

std::vector<Packet> Packets(const std::vector<Page>& pages) {
    std::vector<Packet> out;
    Bytes cur;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        std::size_t at = 0;
        for (auto v : pages[i].lacing) {
            cur.insert(cur.end(), pages[i].body.begin() + at, pages[i].body.begin() + at + v);
            at += v;
            if (v < 255) {
                out.push_back({cur, i});
                cur.clear();
            }
        }
    }
    return out;
}

// The checks an Ogg validator makes on one logical stream.
void ExpectWellFormed(const std::vector<Page>& pages) {
    ASSERT_FALSE(pages.empty());
    EXPECT_TRUE(pages.front().flags & 0x02) << "first page lacks BOS";
    for (std::size_t i = 0; i < pages.size(); ++i) {
        EXPECT_TRUE(pages[i].crcOk) << "page " << i;
        EXPECT_EQ(pages[i].seq, pages.front().seq + i) << "page " << i;
        EXPECT_EQ(pages[i].serial, pages.front().serial);
        const bool continued = i > 0 && pages[i - 1].lacing.back() == 255;
        EXPECT_EQ((pages[i].flags & 0x01) != 0, continued) << "continuation flag, page " << i;
    }
}

Bytes Ident(std::uint8_t channels = 2, std::uint32_t rate = 44100, std::uint32_t nominal = 128000) {
    Bytes b = {1, 'v', 'o', 'r', 'b', 'i', 's'};
    Put32(b, 0);
    b.push_back(channels);
    Put32(b, rate);
    Put32(b, 0);
    Put32(b, nominal);
    Put32(b, 0);
    b.push_back(0xB8);
    b.push_back(1);
    return b;
}

Bytes CommentPacket(const std::string& vendor, const std::vector<std::string>& comments,
                    std::uint8_t framing = 1) {
    Bytes b = {3, 'v', 'o', 'r', 'b', 'i', 's'};
    Put32(b, static_cast<std::uint32_t>(vendor.size()));
    b.insert(b.end(), vendor.begin(), vendor.end());
    Put32(b, static_cast<std::uint32_t>(comments.size()));
    for (const auto& c : comments) {
        Put32(b, static_cast<std::uint32_t>(c.size()));
        b.insert(b.end(), c.begin(), c.end());
    }
    b.push_back(framing);
    return b;
}

struct CommentView {
    std::string vendor;
    std::vector<std::string> comments;
};
CommentView ReadComments(const Bytes& p) {
    CommentView v;
    std::size_t pos = 7;
    auto str = [&] {
        const std::uint32_t n = Get32(&p[pos]);
        std::string s(p.begin() + pos + 4, p.begin() + pos + 4 + n);
        pos += 4 + n;
        return s;
    };
    v.vendor = str();
    const std::uint32_t count = Get32(&p[pos]);
    pos += 4;
    for (std::uint32_t i = 0; i < count; ++i)
        v.comments.push_back(str());
    EXPECT_EQ(p.at(pos), 1) << "framing byte";
    return v;
}

Bytes SetupPacket() {
    Bytes b = {5, 'v', 'o', 'r', 'b', 'i', 's'};
    for (int i = 0; i < 300; ++i)
        b.push_back(static_cast<std::uint8_t>(i * 7));
    return b;
}

Bytes Audio(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(seed + i * 13);
    return b;
}

// The layout encoders produce: identification alone on page 0, comment and
// setup on page 1, then audio pages, the last one carrying `lastGranule`.
std::vector<Page> StandardPages(const std::vector<std::string>& comments,
                                std::uint64_t lastGranule = 441000, const Bytes& ident = Ident()) {
    std::vector<Page> pages;
    pages.push_back(MakePage(0, 0, 0x02, {ident}));
    pages.push_back(MakePage(1, 0, 0, {CommentPacket("test vendor", comments), SetupPacket()}));
    pages.push_back(MakePage(2, 4096, 0, {Audio(1000, 1), Audio(1000, 2), Audio(600, 3)}));
    pages.push_back(MakePage(3, 8192, 0, {Audio(900, 4), Audio(800, 5)}));
    pages.push_back(MakePage(4, lastGranule, 0x04, {Audio(700, 6)}));
    return pages;
}

std::vector<Bytes> AudioPackets(const std::vector<Page>& pages) {
    std::vector<Bytes> out;
    const auto all = Packets(pages);
    for (std::size_t i = 3; i < all.size(); ++i)
        out.push_back(all[i].data);
    return out;
}

// Granule of the page each packet after the headers ends on.
std::vector<std::uint64_t> AudioGranules(const std::vector<Page>& pages) {
    std::vector<std::uint64_t> out;
    const auto all = Packets(pages);
    for (std::size_t i = 3; i < all.size(); ++i)
        out.push_back(pages[all[i].lastPage].granule);
    return out;
}

class OggTest : public ::testing::Test {
protected:
    std::string Make(const Bytes& content, const std::string& name = "a.ogg") {
        const std::string path = dir.file(name);
        WriteAll(path, content);
        return path;
    }
    TempDir dir;
};

TEST_F(OggTest, ReadsFieldsByKeyTable) {
    const std::string path = Make(Serialize(StandardPages({
        "title=lower-case key",
        "ARTIST=first",
        "ARTIST=second",
        "ALBUM=Album",
        "DATE=1999",
        "GENRE=rock",
        "TRACKNUMBER=3/12",
        "DESCRIPTION=from description",
        "COMPOSER=Composer",
        "LYRICS=line 1\nline 2",
        "ORIGINALARTIST=Orig",
        "COPYRIGHT=(c)",
        "LINK=http://example.org",
        "ENCODEDBY=someone",
        "REPLAYGAIN_TRACK_GAIN=-6.0 dB",
        "no equals sign",
        "DISCNUMBER=2",
    })));
    OggVorbisTag ogg;
    ogg.setFileName(path);
    ASSERT_TRUE(ogg.Valid()) << ogg.Error();
    EXPECT_EQ(ogg.Error(), "");
    EXPECT_EQ(ogg.title(), "lower-case key");
    EXPECT_EQ(ogg.artist(), "first / second");  // every value shown
    EXPECT_EQ(ogg.album(), "Album");
    EXPECT_EQ(ogg.year(), "1999");
    EXPECT_EQ(ogg.Genre(), "rock");
    EXPECT_EQ(ogg.GenreID(), 17);  // genre names match in any case
    EXPECT_EQ(ogg.track(), "3/12");
    EXPECT_EQ(ogg.comment(), "from description");
    EXPECT_EQ(ogg.composer(), "Composer");
    EXPECT_EQ(ogg.lyrics(), "line 1\nline 2");
    EXPECT_EQ(ogg.OrigArtist(), "Orig");
    EXPECT_EQ(ogg.copyright(), "(c)");
    EXPECT_EQ(ogg.URL(), "http://example.org");
    EXPECT_EQ(ogg.EncodedBy(), "someone");
    EXPECT_EQ(ogg.Vendor(), "test vendor");
    EXPECT_EQ(ogg.OtherComments(), (std::vector<std::string>{"REPLAYGAIN_TRACK_GAIN=-6.0 dB",
                                                             "no equals sign", "DISCNUMBER=2"}));
    const auto packets = Packets(ParsePages(ReadAll(path)));
    EXPECT_EQ(ogg.ogg().CommentSize, static_cast<std::int32_t>(packets[1].data.size() - 7));
}

TEST_F(OggTest, DecodesUtf8KeepingTextAroundInvalidBytes) {
    struct Case {
        std::string stored;
        std::string read;
    } cases[] = {
        {"\xD0\x9F\xD1\x80\xD0\xB8", "\xD0\x9F\xD1\x80\xD0\xB8"},  // Cyrillic
        {"a\xF0\x9F\x8E\xB5z", "a\xF0\x9F\x8E\xB5z"},              // four bytes
        {"ab\xC3(cd", "ab\xEF\xBF\xBD(cd"},                        // bad continuation
        {"ab\xFF"
         "cd",
         "ab\xEF\xBF\xBD"
         "cd"},                                                    // never valid
        {"x\xE2\x82", "x\xEF\xBF\xBD\xEF\xBF\xBD"},                // cut off at the end
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
    };
    for (const auto& c : cases) {
        OggVorbisTag ogg;
        ogg.setFileName(Make(Serialize(StandardPages({"TITLE=" + c.stored}))));
        ASSERT_TRUE(ogg.Valid());
        EXPECT_EQ(ogg.title(), c.read) << c.stored;
    }
}

TEST_F(OggTest, StreamInformation) {
    struct Case {
        std::uint8_t channels;
        std::uint32_t rate;
        std::uint32_t nominal;
        std::uint64_t granule;
        std::string mode;
        std::uint32_t frequency;
        std::uint32_t kbps;
        std::int64_t seconds;
        std::string duration;
    } cases[] = {
        {2, 44100, 128000, 13230000, "Stereo", 44100, 128, 300, "00:05:00"},
        {1, 22050, 64000, 22050 * 3725, "Mono", 22050, 64, 3725, "01:02:05"},
        {6, 48000, 320000, 48000 * 10, "unknown", 48000, 320, 10, "00:00:10"},
        // Hi-res rates and bit rates up to 1000 kbit/s are reported.
        {2, 96000, 500000, 96000 * 60, "Stereo", 96000, 500, 60, "00:01:00"},
        {2, 192000, 1000000, 192000 * 5, "Stereo", 192000, 1000, 5, "00:00:05"},
        {2, 192001, 1001000, 192001 * 5, "Stereo", 0, 0, 0, "00:00:00"},
        {2, 7999, 15999, 7999 * 5, "Stereo", 0, 0, 0, "00:00:00"},
        // The granule is 64 bits wide; hours are not limited to two digits.
        {2, 48000, 128000, 48000ull * 400000, "Stereo", 48000, 128, 400000, "111:06:40"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.duration + " " + std::to_string(c.rate));
        OggVorbisTag ogg;
        const auto path =
            Make(Serialize(StandardPages({}, c.granule, Ident(c.channels, c.rate, c.nominal))));
        ogg.setFileName(path);
        ASSERT_TRUE(ogg.Valid());
        EXPECT_EQ(ogg.ChannelMode(), c.mode);
        EXPECT_EQ(ogg.frequency(), c.frequency);
        EXPECT_EQ(ogg.BitrateNominal(), c.kbps);
        EXPECT_EQ(ogg.DurationInSeconds(), c.seconds);
        EXPECT_EQ(ogg.Duration(), c.duration);
        EXPECT_EQ(ogg.FileLength(), static_cast<std::int64_t>(ReadAll(path).size()));
    }
}

// The granule is taken from the first page header found in the last
// 12,010 bytes, scanning back in 240-byte steps; without one the playing time
// is estimated from the nominal bit rate.
TEST_F(OggTest, GranuleSearchWindow) {
    // 64 kbit/s: 8000 bytes per second for stereo; mono counts double.
    struct Case {
        std::size_t tailAfterLastHeader;  // bytes from the last page header to the end
        std::uint8_t channels;
        std::int64_t seconds;
    } cases[] = {
        {250, 2, 10},    // in the first window
        {12010, 2, 10},  // at the start of the last window
        {12011, 2, -1},  // just outside: estimate
        {12011, 1, -1}, {20000, 2, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.tailAfterLastHeader));
        auto pages = StandardPages({}, 44100 * 10, Ident(c.channels, 44100, 64000));
        Bytes file = Serialize(pages);
        // Zero padding after the last page moves its header away from the end.
        const std::size_t lastHeader = ParsePages(file).back().offset;
        file.resize(lastHeader + c.tailAfterLastHeader, 0);
        OggVorbisTag ogg;
        ogg.setFileName(Make(file));
        ASSERT_TRUE(ogg.Valid());
        std::int64_t expected = c.seconds;
        if (expected < 0) {
            const double bytesPerSecond = 64000 / 8.0;
            expected = static_cast<std::int64_t>(
                std::nearbyint(file.size() / bytesPerSecond * 2 / c.channels));
        }
        EXPECT_EQ(ogg.DurationInSeconds(), expected);
    }
}

TEST_F(OggTest, BitRateEstimateIgnoresId3v2AndRoundsHalfToEven) {
    // A file with no page header near its end: the estimate counts the bytes
    // after the ID3v2 tag. 16 kbit/s stereo is 2000 bytes a second.
    for (const auto& [audioBytes, seconds] :
         std::vector<std::pair<std::size_t, std::int64_t>>{{25000, 12}, {27000, 14}, {23000, 12}}) {
        Bytes id3 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 90};
        id3.resize(100, 0);
        Bytes file = id3;
        Append(file, Serialize(StandardPages({}, 0, Ident(2, 44100, 16000))));
        file.resize(id3.size() + audioBytes, 0);
        OggVorbisTag ogg;
        ogg.setFileName(Make(file));
        ASSERT_TRUE(ogg.Valid()) << ogg.Error();
        EXPECT_EQ(ogg.DurationInSeconds(), seconds) << audioBytes;
    }
}

TEST_F(OggTest, FailedReadsReportTheirMessage) {
    const Bytes good = Serialize(StandardPages({"TITLE=x"}));
    auto withPage1 = [](const Bytes& comment) {
        std::vector<Page> pages = StandardPages({});
        pages[1] = MakePage(1, 0, 0, {comment, SetupPacket()});
        return Serialize(pages);
    };
    Bytes badLength = CommentPacket("v", {"TITLE=kept", "ARTIST=y"});
    badLength[7 + 4 + 1 + 4 + 4 + 10] = 0xFF;  // the ARTIST length byte runs far past the end
    Bytes noFraming = CommentPacket("v", {"TITLE=x"});
    noFraming.pop_back();
    Bytes noIdentPage = good;
    noIdentPage[28] = 2;  // first packet type
    struct Case {
        std::string name;
        Bytes content;
        std::string error;
        std::string title;  // what survives a damaged packet
    } cases[] = {
        {"empty", {}, "File does not contain a Ogg or wrong file format!", ""},
        {"not ogg", Bytes(400, 'x'), "File does not contain a Ogg or wrong file format!", ""},
        {"no identification", noIdentPage, "File does not contain a OGG or wrong file format!", ""},
        {"cut in page 0", Bytes(good.begin(), good.begin() + 40),
         "File does not contain a OGG or wrong file format!", ""},
        {"no comment page", Bytes(good.begin(), good.begin() + 58),
         "File does not contain a Ogg or wrong file format!", ""},
        {"comment signature", withPage1(SetupPacket()),
         "File does not contain a Ogg or wrong file format!", ""},
        {"framing byte 0", withPage1(CommentPacket("v", {"TITLE=x"}, 0)),
         "File does not contain a Ogg or wrong file format!", ""},
        {"no framing byte", withPage1(noFraming),
         "File does not contain a Ogg or wrong file format!", ""},
        {"length past the end", withPage1(badLength), "File error!", "kept"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OggVorbisTag ogg;
        int errors = 0;
        int renamed = 0;
        std::string reported;
        ogg.onError = [&](sondrel::TagComponent&, const std::string& e) {
            ++errors;
            reported = e;
        };
        ogg.onFileNameChange = [&](sondrel::TagComponent&) { ++renamed; };
        ogg.setFileName(Make(c.content, c.name + ".ogg"));
        EXPECT_FALSE(ogg.Valid());
        EXPECT_EQ(ogg.Error(), c.error);
        EXPECT_EQ(reported, c.error);
        EXPECT_EQ(errors, 1);
        EXPECT_EQ(renamed, 1);
        EXPECT_EQ(ogg.title(), c.title);
        EXPECT_EQ(ogg.GenreID(), 12);
    }
}

TEST_F(OggTest, MissingFile) {
    OggVorbisTag ogg;
    ogg.setFileName(Make(Serialize(StandardPages({"TITLE=old", "GENRE=Jazz"}))));
    ASSERT_TRUE(ogg.Valid());
    ogg.setFileName(dir.file("missing.ogg"));
    EXPECT_FALSE(ogg.Valid());
    EXPECT_EQ(ogg.Error(), "File does not exist!");
    EXPECT_EQ(ogg.title(), "");
    EXPECT_EQ(ogg.GenreID(), 12);
    EXPECT_EQ(ogg.frequency(), 0u);  // nothing of the previous file lingers
    EXPECT_FALSE(ogg.WriteTag());
    EXPECT_EQ(ogg.Error(), "File does not exist!");
    EXPECT_FALSE(ogg.RemoveTag());
    EXPECT_EQ(ogg.Error(), "File does not exist!");
}

TEST_F(OggTest, SettersFireOnChangeAndClampGenre) {
    OggVorbisTag ogg;
    int changes = 0;
    ogg.onChange = [&](sondrel::TagComponent&) { ++changes; };
    ogg.settitle("t");
    ogg.setGenreID(200);
    EXPECT_EQ(ogg.GenreID(), 12);
    sondrel::VorbisStreamInfo rec;
    rec.artist = "a";
    rec.GenreID = 250;
    ogg.setogg(rec);
    EXPECT_EQ(ogg.artist(), "a");
    EXPECT_EQ(ogg.GenreID(), 12);
    EXPECT_EQ(changes, 3);
}

struct Saved {
    std::vector<Page> pages;
    CommentView comments;
};

Saved Inspect(const Bytes& file, std::size_t start = 0) {
    Saved s;
    s.pages = ParsePages(file, start);
    const auto packets = Packets(s.pages);
    if (packets.size() > 1)
        s.comments = ReadComments(packets[1].data);
    return s;
}

// Only the changed fields are rewritten, in the place of their first comment;
// fields the read did not find follow; nothing is written for empty ones.
TEST_F(OggTest, SaveRewritesOnlyChangedFieldsAndKeepsTheRestInPlace) {
    const auto original = StandardPages(
        {"TITLE=old", "REPLAYGAIN_TRACK_GAIN=-3 dB", "DESCRIPTION=d", "METADATA_BLOCK_PICTURE=AAAA",
         "ENCODEDBY=e", "LINK=l", "ARTIST=a1", "ARTIST=a2", "DISCNUMBER=1"});
    const std::string path = Make(Serialize(original));
    OggVorbisTag ogg;
    int errors = 0;
    ogg.onError = [&](sondrel::TagComponent&, const std::string&) { ++errors; };
    ogg.setFileName(path);
    ASSERT_TRUE(ogg.Valid());
    ogg.settitle("New \xD0\x9D");
    ogg.setGenreID(8);
    ogg.setlyrics("bad \xFF byte");
    ASSERT_TRUE(ogg.WriteTag()) << ogg.Error();
    EXPECT_EQ(ogg.Error(), "");
    EXPECT_EQ(errors, 0);

    const Bytes saved = ReadAll(path);
    const Saved s = Inspect(saved);
    ExpectWellFormed(s.pages);
    EXPECT_EQ(s.comments.vendor, "test vendor");
    EXPECT_EQ(s.comments.comments,
              (std::vector<std::string>{
                  "TITLE=New \xD0\x9D", "REPLAYGAIN_TRACK_GAIN=-3 dB", "DESCRIPTION=d",
                  "METADATA_BLOCK_PICTURE=AAAA", "ENCODEDBY=e", "LINK=l", "ARTIST=a1", "ARTIST=a2",
                  "DISCNUMBER=1", "GENRE=Jazz", "LYRICS=bad \xEF\xBF\xBD byte"}));
    // The audio pages are copied byte for byte when the header page count holds.
    EXPECT_EQ(s.pages.size(), original.size());
    const Bytes before = Serialize(original);
    const std::size_t audioAt = ParsePages(before)[2].offset;
    EXPECT_TRUE(std::equal(before.begin() + audioAt, before.end(),
                           saved.end() - (before.size() - audioAt), saved.end()));

    // Saving twice without a read in between works on the current file.
    ogg.setalbum("Second");
    ASSERT_TRUE(ogg.WriteTag());
    ogg.setFileName(path);
    EXPECT_EQ(ogg.album(), "Second");
    EXPECT_EQ(ogg.Genre(), "Jazz");
    EXPECT_EQ(ogg.OtherComments().size(), 3u);
}

// Comment packets are laced in 255-byte segments; a size that is an exact
// multiple of 255 needs a closing 0.
TEST_F(OggTest, LacingAtMultiplesOf255) {
    const std::size_t fixed = CommentPacket("test vendor", {"TITLE="}).size();
    for (const std::size_t target : {255u * 2 - 1, 255u * 2, 255u * 2 + 1, 255u * 3}) {
        SCOPED_TRACE(target);
        const std::string path = Make(Serialize(StandardPages({"TITLE=short"})));
        OggVorbisTag ogg;
        ogg.setFileName(path);
        ogg.settitle(std::string(target - fixed, 'x'));
        ASSERT_TRUE(ogg.WriteTag());
        const auto pages = ParsePages(ReadAll(path));
        ExpectWellFormed(pages);
        Bytes expected(target / 255, 255);
        expected.push_back(static_cast<std::uint8_t>(target % 255));
        expected.push_back(255);  // the 307-byte setup packet
        expected.push_back(52);
        EXPECT_EQ(pages[1].lacing, expected);
        EXPECT_EQ(Packets(pages)[1].data.size(), target);
    }
}

// Long lyrics and pictures spread the comment packet over several pages; the
// later pages are renumbered and keep their packets and granules.
TEST_F(OggTest, GrowingAndShrinkingHeaderPagesRenumbersTheRest) {
    const auto original = StandardPages({"TITLE=t", "COVERART=keep me"});
    const std::string path = Make(Serialize(original));
    OggVorbisTag ogg;
    ogg.setFileName(path);
    std::string lyrics;
    for (int i = 0; lyrics.size() < 200000; ++i)
        lyrics += "line " + std::to_string(i) + " \xD0\x96\n";
    ogg.setlyrics(lyrics);
    ASSERT_TRUE(ogg.WriteTag()) << ogg.Error();
    auto pages = ParsePages(ReadAll(path));
    ExpectWellFormed(pages);
    EXPECT_GE(pages.size(), original.size() + 3);
    EXPECT_EQ(AudioPackets(pages), AudioPackets(original));
    EXPECT_EQ(AudioGranules(pages), AudioGranules(original));
    EXPECT_TRUE(pages.back().flags & 0x04);
    // Header pages on which no packet ends carry granule -1.
    EXPECT_EQ(pages[1].granule, ~0ull);

    ogg.setFileName(path);
    ASSERT_TRUE(ogg.Valid()) << ogg.Error();
    EXPECT_EQ(ogg.lyrics(), lyrics);
    EXPECT_EQ(ogg.OtherComments(), std::vector<std::string>{"COVERART=keep me"});
    EXPECT_EQ(ogg.DurationInSeconds(), 10);

    ogg.setlyrics("short");
    ASSERT_TRUE(ogg.WriteTag());
    pages = ParsePages(ReadAll(path));
    ExpectWellFormed(pages);
    EXPECT_EQ(pages.size(), original.size());
    EXPECT_EQ(AudioPackets(pages), AudioPackets(original));
    EXPECT_EQ(AudioGranules(pages), AudioGranules(original));
}

TEST_F(OggTest, UncommonHeaderLayoutsAreSavedToo) {
    const Bytes ident = Ident();
    const Bytes comment = CommentPacket("v", {"TITLE=old", "X=1"});
    const Bytes setup = SetupPacket();
    const Bytes a1 = Audio(500, 1), a2 = Audio(600, 2), a3 = Audio(510, 3);
    const Bytes longComment = CommentPacket("v", {"TITLE=old", "X=" + std::string(70000, 'x')});
    struct Case {
        std::string name;
        std::vector<Page> pages;
    } cases[] = {
        {"all headers on page 0",
         {MakePage(0, 0, 0x02, {ident, comment, setup}), MakePage(1, 2000, 0, {a1, a2}),
          MakePage(2, 3000, 0x04, {a3})}},
        {"comment packet over two pages",
         {MakePage(0, 0, 0x02, {ident}),
          MakePage(1, ~0ull, 0, {}, Bytes(longComment.begin(), longComment.begin() + 255 * 255)),
          [&] {
              Page p = MakePage(2, 0, 0x01,
                                {Bytes(longComment.begin() + 255 * 255, longComment.end()), setup});
              return p;
          }(),
          MakePage(3, 2000, 0, {a1, a2}), MakePage(4, 3000, 0x04, {a3})}},
        {"audio shares the setup page and continues on the next",
         {MakePage(0, 0, 0x02, {ident}),
          MakePage(1, 1000, 0, {comment, setup, a1}, Bytes(a3.begin(), a3.begin() + 510)),
          MakePage(2, 3000, 0x05, {a2})}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Make(Serialize(c.pages), c.name + ".ogg");
        OggVorbisTag ogg;
        ogg.setFileName(path);
        ASSERT_TRUE(ogg.Valid()) << ogg.Error();
        EXPECT_EQ(ogg.title(), "old");
        ogg.settitle("new");
        ASSERT_TRUE(ogg.WriteTag()) << ogg.Error();
        const auto pages = ParsePages(ReadAll(path));
        ExpectWellFormed(pages);
        // Identification alone on the first page, setup ending a header page.
        EXPECT_EQ(Packets(pages)[0].lastPage, 0u);
        EXPECT_EQ(pages[0].lacing.size(), 1u);
        EXPECT_EQ(AudioPackets(pages), AudioPackets(c.pages));
        EXPECT_EQ(AudioGranules(pages), AudioGranules(c.pages));
        ogg.setFileName(path);
        ASSERT_TRUE(ogg.Valid());
        EXPECT_EQ(ogg.title(), "new");
        EXPECT_EQ(ogg.OtherComments().back().size(),
                  c.name == "comment packet over two pages" ? 70002u : 3u);
    }
}

TEST_F(OggTest, Id3v2InFrontIsReadAndKept) {
    Bytes id3 = {'I', 'D', '3', 3, 0, 0, 0, 0, 1, 0};  // 128-byte body
    for (int i = 0; i < 128; ++i)
        id3.push_back(static_cast<std::uint8_t>(i));
    Bytes file = id3;
    Append(file, Serialize(StandardPages({"TITLE=behind id3"})));
    const std::string path = Make(file);
    OggVorbisTag ogg;
    ogg.setFileName(path);
    ASSERT_TRUE(ogg.Valid()) << ogg.Error();
    EXPECT_EQ(ogg.title(), "behind id3");
    ogg.setartist("x");
    ASSERT_TRUE(ogg.WriteTag());
    const Bytes saved = ReadAll(path);
    EXPECT_TRUE(std::equal(id3.begin(), id3.end(), saved.begin()));
    ExpectWellFormed(ParsePages(saved, id3.size()));
    ogg.setFileName(path);
    EXPECT_EQ(ogg.artist(), "x");
}

// A save changes only what the user changed: each row reads `stored`, makes
// one edit and expects exactly `saved` (vendor first) back.
TEST_F(OggTest, SaveKeepsWhatTheUserDidNotChange) {
    struct Case {
        const char* name;
        std::string vendor;
        std::vector<std::string> stored;
        std::function<void(OggVorbisTag&)> edit;
        std::vector<std::string> saved;
    };
    const std::vector<Case> cases = {
        {"repeated keys of untouched fields stay",
         "enc",
         {"ARTIST=a1", "GENRE=Rock", "ARTIST=a2", "GENRE=Pop", "TITLE=t"},
         [](OggVorbisTag& o) { o.settitle("new"); },
         {"enc", "ARTIST=a1", "GENRE=Rock", "ARTIST=a2", "GENRE=Pop", "TITLE=new"}},
        {"a changed field's values become one comment in the place of the first",
         "enc",
         {"ARTIST=a1", "TITLE=t", "artist=a2"},
         [](OggVorbisTag& o) { o.setartist("b"); },
         {"enc", "ARTIST=b", "TITLE=t"}},
        {"other spellings of untouched fields stay",
         "enc",
         {"DESCRIPTION=d", "LINK=http://l", "ENCODEDBY=e", "Title=t"},
         [](OggVorbisTag& o) { o.settitle("new"); },
         {"enc", "DESCRIPTION=d", "LINK=http://l", "ENCODEDBY=e", "TITLE=new"}},
        {"a changed field replaces its other spellings under the standard key",
         "enc",
         {"DESCRIPTION=d", "COMMENT=c"},
         [](OggVorbisTag& o) { o.setcomment("new"); },
         {"enc", "COMMENT=new"}},
        {"no comment for an empty value",
         "enc",
         {"TITLE=t", "DATE=2001"},
         [](OggVorbisTag& o) {
             o.setyear("");
             o.setalbum("");
         },
         {"enc", "TITLE=t"}},
        {"a field the stream lacked is added behind the rest",
         "enc",
         {"TITLE=t", "MOOD=calm"},
         [](OggVorbisTag& o) { o.setalbum("A"); },
         {"enc", "TITLE=t", "MOOD=calm", "ALBUM=A"}},
        {"a stream without a vendor gets ours",
         "",
         {"TITLE=t"},
         [](OggVorbisTag& o) { o.settitle("new"); },
         {OggVorbisTag::kVendor, "TITLE=new"}},
        {"a genre in another case is the genre read",
         "enc",
         {"GENRE=rock"},
         [](OggVorbisTag& o) {
             o.setGenreID(17);
             o.setGenre("Rock");
         },
         {"enc", "GENRE=rock"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto pages = StandardPages({});
        pages[1] = MakePage(1, 0, 0, {CommentPacket(c.vendor, c.stored), SetupPacket()});
        const std::string path = Make(Serialize(pages));
        OggVorbisTag ogg;
        ogg.setFileName(path);
        ASSERT_TRUE(ogg.Valid()) << ogg.Error();
        c.edit(ogg);
        ASSERT_TRUE(ogg.WriteTag()) << ogg.Error();
        const Saved s = Inspect(ReadAll(path));
        std::vector<std::string> got = {s.comments.vendor};
        got.insert(got.end(), s.comments.comments.begin(), s.comments.comments.end());
        EXPECT_EQ(got, c.saved);
    }
}

TEST_F(OggTest, RemoveTagLeavesTheVendorOnly) {
    const std::string path = Make(Serialize(StandardPages({"TITLE=t", "REPLAYGAIN_X=1"})));
    OggVorbisTag ogg;
    ogg.setFileName(path);
    ASSERT_TRUE(ogg.RemoveTag()) << ogg.Error();
    EXPECT_TRUE(ogg.Valid());
    EXPECT_EQ(ogg.title(), "");
    EXPECT_TRUE(ogg.OtherComments().empty());
    const Saved s = Inspect(ReadAll(path));
    ExpectWellFormed(s.pages);
    EXPECT_EQ(s.comments.vendor, "test vendor");
    EXPECT_TRUE(s.comments.comments.empty());
}

TEST_F(OggTest, RefusedSavesLeaveTheFileAlone) {
    const Bytes notOgg(1000, 'z');
    Bytes noSetup = Serialize(StandardPages({}));
    {
        auto pages = StandardPages({"TITLE=t"});
        pages[1] = MakePage(1, 0, 0, {CommentPacket("v", {"TITLE=t"})});
        pages.resize(2);
        noSetup = Serialize(pages);
    }
    struct Case {
        std::string name;
        Bytes content;
        bool remove;
        std::string error;
    } cases[] = {
        {"save after a failed read", notOgg, false,
         "File does not contain a Ogg or wrong file format!"},
        {"remove from a non-Ogg file", notOgg, true,
         "Removing the Ogg comments: the file does not start an Ogg stream we read"},
        {"save without a setup header", noSetup, false,
         "Saving the Ogg comments: the header pages are damaged or cut short"},
        {"remove without a setup header", noSetup, true,
         "Removing the Ogg comments: the header pages are damaged or cut short"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Make(c.content, c.name + ".ogg");
        OggVorbisTag ogg;
        ogg.setFileName(path);
        int errors = 0;
        ogg.onError = [&](sondrel::TagComponent&, const std::string&) { ++errors; };
        ogg.settitle("new");
        EXPECT_FALSE(c.remove ? ogg.RemoveTag() : ogg.WriteTag());
        EXPECT_EQ(ogg.Error(), c.error);
        EXPECT_EQ(errors, 0);
        EXPECT_EQ(ReadAll(path), c.content);
    }
}

TEST_F(OggTest, FullDiskKeepsTheOriginal) {
    const Bytes content = Serialize(StandardPages({"TITLE=t"}));
    const std::string path = Make(content);
    OggVorbisTag ogg;
    ogg.setFileName(path);
    ogg.setlyrics(std::string(100000, 'l'));
    std::size_t written = 0;
    ogg.SetIoFaults({[&](std::size_t bytes) {
                         written += bytes;
                         return written < 50000;
                     },
                     {}});
    EXPECT_FALSE(ogg.WriteTag());
    EXPECT_EQ(ogg.Error(), "Saving the Ogg comments: No space left on device");
    EXPECT_EQ(ReadAll(path), content);
    std::size_t leftovers = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++leftovers;
    EXPECT_EQ(leftovers, 1u);
}

// Cut and damaged files give a message, never a crash or a broken save.
TEST_F(OggTest, DamagedFilesAreHandled) {
    auto pages = StandardPages({"TITLE=t", "ARTIST=a", "X=" + std::string(600, 'x')});
    const Bytes good = Serialize(pages);
    const std::string path = dir.file("damaged.ogg");
    auto check = [&](const Bytes& content) {
        WriteAll(path, content);
        OggVorbisTag ogg;
        ogg.setFileName(path);
        if (!ogg.Valid()) {
            EXPECT_FALSE(ogg.Error().empty());
            return;
        }
        ogg.settitle("saved");
        if (ogg.WriteTag()) {
            ogg.setFileName(path);
            EXPECT_TRUE(ogg.Valid()) << ogg.Error();
            EXPECT_EQ(ogg.title(), "saved");
        } else {
            EXPECT_EQ(ReadAll(path), content);
        }
    };
    // Finely through the header pages, coarsely through the audio.
    for (std::size_t len = 0; len < good.size(); len += len < 1200 ? 7 : 301)
        check(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(len)));
    std::uint32_t seed = 12345;
    for (int i = 0; i < 200; ++i) {
        Bytes bad = good;
        for (int k = 0; k < 3; ++k) {
            seed = seed * 1103515245u + 12345u;
            // Mostly the header pages, where the structure is.
            bad[(seed >> 8) % 1200] = static_cast<std::uint8_t>(seed >> 24);
        }
        check(bad);
    }
}

// ---- Pictures as METADATA_BLOCK_PICTURE comments ----

// Base64 written bit by bit, apart from the codec under test; `pad` false
// leaves out the '=' some writers drop.
std::string TestBase64(const Bytes& data, bool pad = true) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned acc = 0;
    int bits = 0;
    for (const auto byte : data) {
        for (int k = 7; k >= 0; --k) {
            acc = (acc << 1) | ((byte >> k) & 1u);
            if (++bits == 6) {
                out += digits[acc];
                acc = 0;
                bits = 0;
            }
        }
    }
    if (bits > 0)
        out += digits[acc << (6 - bits)];
    while (pad && out.size() % 4 != 0)
        out += '=';
    return out;
}

void PutBe32(Bytes& b, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        b.push_back(static_cast<std::uint8_t>(v >> shift));
}

struct TestPicture {
    std::uint32_t type = 3;
    std::string mime = "image/jpeg";
    std::string description;
    std::uint32_t width = 0, height = 0, depth = 0, colors = 0;
    Bytes data;
};

// A FLAC PICTURE block laid out field by field.
Bytes PictureBlock(const TestPicture& p) {
    Bytes b;
    PutBe32(b, p.type);
    PutBe32(b, static_cast<std::uint32_t>(p.mime.size()));
    b.insert(b.end(), p.mime.begin(), p.mime.end());
    PutBe32(b, static_cast<std::uint32_t>(p.description.size()));
    b.insert(b.end(), p.description.begin(), p.description.end());
    for (const std::uint32_t v : {p.width, p.height, p.depth, p.colors})
        PutBe32(b, v);
    PutBe32(b, static_cast<std::uint32_t>(p.data.size()));
    Append(b, p.data);
    return b;
}

std::string PictureComment(const TestPicture& p, bool pad = true,
                           const std::string& key = "METADATA_BLOCK_PICTURE") {
    return key + "=" + TestBase64(PictureBlock(p), pad);
}

TEST(OggBase64, KnownVectorsAndRefusals) {
    using sondrel::vorbis::Base64Decode;
    using sondrel::vorbis::Base64Encode;
    // RFC 4648, section 10.
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, coded] : vectors) {
        SCOPED_TRACE(plain);
        const Bytes bytes(plain.begin(), plain.end());
        EXPECT_EQ(Base64Encode(bytes), coded);
        EXPECT_EQ(Base64Decode(coded), bytes);
        // Writers that drop the padding are read too.
        std::string bare = coded;
        while (!bare.empty() && bare.back() == '=')
            bare.pop_back();
        EXPECT_EQ(Base64Decode(bare), bytes);
    }
    Bytes all(256);
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<std::uint8_t>(255 - i);
    EXPECT_EQ(Base64Encode(all), TestBase64(all));
    EXPECT_EQ(Base64Decode(TestBase64(all)), all);
    for (const char* bad : {"Zm9v!", "Zm 9v", "Z", "Zm9vY", "Zg=", "====", "Zg==Zg=="})
        EXPECT_FALSE(Base64Decode(bad)) << bad;
}

class OggPictures : public OggTest {
protected:
    // The comments of the file at `path` and the checks every save must pass:
    // pages well formed, audio packets and granules as they were.
    std::vector<std::string> SavedComments(const std::string& path,
                                           const std::vector<Page>& original) {
        const Saved s = Inspect(ReadAll(path));
        ExpectWellFormed(s.pages);
        EXPECT_EQ(AudioPackets(s.pages), AudioPackets(original));
        EXPECT_EQ(AudioGranules(s.pages), AudioGranules(original));
        EXPECT_EQ(s.comments.vendor, "test vendor");
        return s.comments.comments;
    }
};

TEST_F(OggPictures, ReadsPictureComments) {
    const TestPicture png{6,
                          "image/png",
                          "B\xC3\xA4"
                          "ck",
                          2,
                          3,
                          24,
                          0,
                          {0x89, 'P', 'N', 'G', 1, 2}};
    const TestPicture jpeg{3, "image/jpeg", "", 0, 0, 0, 0, Bytes(700, 0xD8)};
    const Bytes pngBytes{0x89, 'P', 'N', 'G', 13, 10};
    struct Case {
        std::string name;
        std::vector<std::string> comments;
        std::vector<TestPicture> pictures;  // type, mime, description and data compared
        std::vector<std::string> unshown;   // keys of the comments shown as other items
    } cases[] = {
        {"one picture between fields", {"TITLE=t", PictureComment(png), "X=1"}, {png}, {"X"}},
        {"lower-case key, no padding, two pictures",
         {PictureComment(jpeg, false, "metadata_block_picture"), PictureComment(png)},
         {jpeg, png},
         {}},
        {"a block that is cut stays a comment",
         {"METADATA_BLOCK_PICTURE=AAAA", "TITLE=t"},
         {},
         {"METADATA_BLOCK_PICTURE"}},
        {"no base64 stays a comment",
         {"METADATA_BLOCK_PICTURE=@@@@"},
         {},
         {"METADATA_BLOCK_PICTURE"}},
        {"old COVERART with its MIME type",
         {"COVERARTMIME=image/gif", "COVERART=" + TestBase64(Bytes{'G', 'I', 'F', '8'})},
         {{3, "image/gif", "", 0, 0, 0, 0, {'G', 'I', 'F', '8'}}},
         {}},
        {"old COVERART without a MIME type, after the new kind",
         {"COVERART=" + TestBase64(pngBytes), PictureComment(jpeg)},
         {jpeg, {3, "image/png", "", 0, 0, 0, 0, pngBytes}},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OggVorbisTag ogg;
        ogg.setFileName(Make(Serialize(StandardPages(c.comments))));
        ASSERT_TRUE(ogg.Valid()) << ogg.Error();
        ASSERT_EQ(ogg.Pictures().size(), c.pictures.size());
        for (std::size_t i = 0; i < c.pictures.size(); ++i) {
            const auto& got = ogg.Pictures()[i];
            EXPECT_EQ(got.PictureType, c.pictures[i].type) << i;
            EXPECT_EQ(got.MimeType, c.pictures[i].mime) << i;
            EXPECT_EQ(got.Description, c.pictures[i].description) << i;
            EXPECT_EQ(got.Data, c.pictures[i].data) << i;
        }
        std::vector<std::string> keys;
        for (const auto& u : ogg.UnshownComments())
            keys.push_back(u.substr(0, u.find('=')));
        EXPECT_EQ(keys, c.unshown);
        // Every comment no field owns is still there as read.
        std::size_t unowned = 0;
        for (const auto& comment : c.comments)
            unowned += comment.rfind("TITLE=", 0) != 0;
        EXPECT_EQ(ogg.OtherComments().size(), unowned);
    }
}

// Pictures not changed keep their comment's bytes and place; a deleted one
// leaves no gap, a new one goes beside its neighbour in the list, an edited
// description rewrites that picture alone. Fields stay as the file has them.
TEST_F(OggPictures, EditsKeepEverythingElse) {
    const TestPicture a{3, "image/jpeg", "front", 10, 10, 24, 0, Bytes(300, 0xA1)};
    const TestPicture b{4, "image/png", "back", 20, 20, 32, 0, Bytes(5, 0xB2)};
    // Unpadded, so a re-encoding would show.
    const std::string commentA = PictureComment(a, false);
    const std::string commentB = PictureComment(b, false);
    const std::vector<std::string> comments = {"TITLE=t", commentA, "X=1", commentB, "Y=2"};
    sondrel::Picture added;
    added.MimeType = "image/gif";
    added.Description = "new";
    added.PictureType = 8;
    added.Data = {'G', 'I', 'F'};
    const std::string commentNew =
        "METADATA_BLOCK_PICTURE=" +
        TestBase64(PictureBlock({8, "image/gif", "new", 0, 0, 0, 0, {'G', 'I', 'F'}}));
    struct Case {
        std::string name;
        std::function<bool(OggVorbisTag&)> edit;
        std::vector<std::string> expected;
    } cases[] = {
        {"delete the first",
         [](OggVorbisTag& o) { return o.DeleteImage(0); },
         {"TITLE=t", "X=1", commentB, "Y=2"}},
        {"delete the second",
         [](OggVorbisTag& o) { return o.DeleteImage(1); },
         {"TITLE=t", commentA, "X=1", "Y=2"}},
        {"add in front",
         [&](OggVorbisTag& o) { return o.AddPicture(0, added); },
         {"TITLE=t", commentNew, commentA, "X=1", commentB, "Y=2"}},
        {"add between",
         [&](OggVorbisTag& o) { return o.AddPicture(1, added); },
         {"TITLE=t", commentA, commentNew, "X=1", commentB, "Y=2"}},
        {"add at the end",
         [&](OggVorbisTag& o) { return o.AddPicture(2, added); },
         {"TITLE=t", commentA, "X=1", commentB, commentNew, "Y=2"}},
        {"delete both, then add",
         [&](OggVorbisTag& o) {
             return o.DeleteImage(1) && o.DeleteImage(0) && o.AddPicture(0, added);
         },
         {"TITLE=t", "X=1", "Y=2", commentNew}},
        {"describe the second, then save",
         [](OggVorbisTag& o) {
             return o.SetDescription(1,
                                     "r\xC3\xBC"
                                     "ck") &&
                    o.WriteTag();
         },
         {"TITLE=t", commentA, "X=1",
          "METADATA_BLOCK_PICTURE=" + TestBase64(PictureBlock({4, "image/png",
                                                               "r\xC3\xBC"
                                                               "ck",
                                                               20, 20, 32, 0, Bytes(5, 0xB2)})),
          "Y=2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto original = StandardPages(comments);
        const std::string path = Make(Serialize(original));
        OggVorbisTag ogg;
        ogg.setFileName(path);
        ASSERT_EQ(ogg.ImagesCount(), 2);
        // An edit not saved yet is no part of a picture change.
        ogg.settitle("unsaved");
        ASSERT_TRUE(c.edit(ogg)) << ogg.Error();
        if (c.name.rfind("describe", 0) == 0)
            EXPECT_EQ(SavedComments(path, original)[0], "TITLE=unsaved");
        else
            EXPECT_EQ(SavedComments(path, original), c.expected);
        // What the component holds is what the file holds.
        OggVorbisTag again;
        again.setFileName(path);
        ASSERT_EQ(again.Pictures().size(), ogg.Pictures().size());
        for (std::size_t i = 0; i < ogg.Pictures().size(); ++i)
            EXPECT_EQ(again.Pictures()[i], ogg.Pictures()[i]) << i;
        // The unsaved title follows with the next save, pictures as they are.
        ASSERT_TRUE(ogg.WriteTag()) << ogg.Error();
        auto afterSave = c.expected;
        afterSave[0] = "TITLE=unsaved";
        EXPECT_EQ(SavedComments(path, original), afterSave);
    }
}

// Removing the comments keeps the pictures, as every format's removal
// does (new and old kinds, the old one's MIME type with it); deleting a
// picture is what removes one.
TEST_F(OggPictures, RemovalKeepsThePictures) {
    const TestPicture png{3, "image/png", "Vorne", 0, 0, 0, 0, {0x89, 'P', 'N', 'G', 1, 2}};
    const std::string cover = PictureComment(png);
    const std::string oldMime = "COVERARTMIME=image/gif";
    const std::string oldCover = "COVERART=" + TestBase64(Bytes{'G', 'I', 'F', '8'});
    const auto original =
        StandardPages({"TITLE=t", cover, "ARTIST=a", oldMime, "X=1", oldCover, "LYRICS=l"});
    const std::string path = Make(Serialize(original));
    OggVorbisTag ogg;
    ogg.setFileName(path);
    ASSERT_EQ(ogg.ImagesCount(), 2);
    ASSERT_TRUE(ogg.RemoveTag()) << ogg.Error();
    EXPECT_EQ(SavedComments(path, original), (std::vector<std::string>{cover, oldMime, oldCover}));
    EXPECT_EQ(ogg.title(), "");
    ASSERT_EQ(ogg.ImagesCount(), 2);
    EXPECT_EQ(ogg.Pictures()[0].Description, "Vorne");
    EXPECT_EQ(ogg.Pictures()[0].Data, png.data);
    ASSERT_TRUE(ogg.DeleteImage(0)) << ogg.Error();
    EXPECT_EQ(SavedComments(path, original), (std::vector<std::string>{oldMime, oldCover}));
}

TEST_F(OggPictures, ExportWritesThePictureBytes) {
    const TestPicture a{3, "image/jpeg", "", 0, 0, 0, 0, Bytes(1000, 0x5A)};
    OggVorbisTag ogg;
    ogg.setFileName(Make(Serialize(StandardPages({PictureComment(a)}))));
    const std::string out = dir.file("cover.jpg");
    ASSERT_TRUE(ogg.SaveImageToFile(0, out)) << ogg.Error();
    EXPECT_EQ(ReadAll(out), a.data);
    EXPECT_FALSE(ogg.SaveImageToFile(1, out));
    EXPECT_FALSE(ogg.SaveImageToFile(0, dir.file("no/such/folder/x.jpg")));
    EXPECT_NE(ogg.Error().find("Saving the picture"), std::string::npos) << ogg.Error();
}

// Refused picture changes leave the file and the picture list as they were,
// with the reason.
TEST_F(OggPictures, RefusedChangesLeaveTheFileAlone) {
    const TestPicture a{3, "image/jpeg", "a", 0, 0, 0, 0, Bytes(10, 1)};
    const std::vector<std::string> comments = {
        PictureComment(a), "COVERARTMIME=image/png",
        "COVERART=" + TestBase64(Bytes{0x89, 'P', 'N', 'G'})};
    sondrel::Picture huge;
    huge.Data.resize(OggVorbisTag::kMaxPictureBytes + 1);
    sondrel::Picture small;
    small.Data = {1, 2, 3};
    struct Case {
        std::string name;
        std::function<bool(OggVorbisTag&)> edit;
        std::string error;  // a part of it
    } cases[] = {
        {"picture beyond the limit", [&](OggVorbisTag& o) { return o.AddPicture(0, huge); },
         "larger than a picture comment holds"},
        {"position past the end", [&](OggVorbisTag& o) { return o.AddPicture(3, small); },
         "Error adding picture"},
        {"delete past the end", [](OggVorbisTag& o) { return o.DeleteImage(2); },
         "Error deleting picture"},
        {"old COVERART picture", [](OggVorbisTag& o) { return o.DeleteImage(1); }, "only read"},
        {"picture file missing",
         [&](OggVorbisTag& o) { return o.AddImage(0, dir.file("none.jpg"), "", 3); },
         "Cannot read the picture file"},
        {"disk full",
         [&](OggVorbisTag& o) {
             std::size_t written = 0;
             o.SetIoFaults({[&written](std::size_t bytes) {
                                written += bytes;
                                return written < 100;
                            },
                            {}});
             return o.AddPicture(0, small);
         },
         "Changing the Ogg pictures"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes content = Serialize(StandardPages(comments));
        const std::string path = Make(content, "refused.ogg");
        OggVorbisTag ogg;
        ogg.setFileName(path);
        ASSERT_EQ(ogg.ImagesCount(), 2);
        const auto before = ogg.Pictures();
        EXPECT_FALSE(c.edit(ogg));
        EXPECT_NE(ogg.Error().find(c.error), std::string::npos) << ogg.Error();
        EXPECT_EQ(ReadAll(path), content);
        EXPECT_EQ(ogg.Pictures(), before);
    }
    // The old picture's description cannot change either.
    OggVorbisTag ogg;
    ogg.setFileName(Make(Serialize(StandardPages(comments)), "legacy.ogg"));
    EXPECT_FALSE(ogg.SetDescription(1, "x"));
    EXPECT_TRUE(ogg.SetDescription(0, "x"));

    // A file that did not read is never written.
    const Bytes notOgg(500, 'z');
    const std::string bad = Make(notOgg, "bad.ogg");
    ogg.setFileName(bad);
    EXPECT_FALSE(ogg.AddPicture(0, small));
    EXPECT_EQ(ReadAll(bad), notOgg);
}

// ---- Ogg FLAC ----

struct FlacFacts {
    std::uint32_t rate = 44100;
    int channels = 2;
    int bits = 16;
    std::uint16_t moreHeaders = 2;  // comment and padding
};

// "\x7FFLAC" 1.0, the header count, "fLaC" and a STREAMINFO block.
Bytes FlacHead(const FlacFacts& f) {
    Bytes b = {0x7F,
               'F',
               'L',
               'A',
               'C',
               1,
               0,
               static_cast<std::uint8_t>(f.moreHeaders >> 8),
               static_cast<std::uint8_t>(f.moreHeaders),
               'f',
               'L',
               'a',
               'C',
               0,
               0,
               0,
               34};
    Bytes si(34, 0);
    si[0] = 0x10;  // block sizes 4096
    si[2] = 0x10;
    si[10] = static_cast<std::uint8_t>(f.rate >> 12);
    si[11] = static_cast<std::uint8_t>(f.rate >> 4);
    si[12] = static_cast<std::uint8_t>(((f.rate & 0x0F) << 4) | ((f.channels - 1) << 1) |
                                       ((f.bits - 1) >> 4));
    si[13] = static_cast<std::uint8_t>(((f.bits - 1) & 0x0F) << 4);
    Append(b, si);
    return b;
}

// A metadata block as one header packet.
Bytes FlacBlock(std::uint8_t typeAndFlag, const Bytes& body) {
    Bytes b = {typeAndFlag, static_cast<std::uint8_t>(body.size() >> 16),
               static_cast<std::uint8_t>(body.size() >> 8), static_cast<std::uint8_t>(body.size())};
    Append(b, body);
    return b;
}

Bytes CommentList(const std::string& vendor, const std::vector<std::string>& comments) {
    Bytes b;
    Put32(b, static_cast<std::uint32_t>(vendor.size()));
    b.insert(b.end(), vendor.begin(), vendor.end());
    Put32(b, static_cast<std::uint32_t>(comments.size()));
    for (const auto& c : comments) {
        Put32(b, static_cast<std::uint32_t>(c.size()));
        b.insert(b.end(), c.begin(), c.end());
    }
    return b;
}

// The layout `flac --ogg` writes: every header packet on a page of its own,
// audio from a fresh page on; granules count samples.
std::vector<Page> OggFlacPages(const std::vector<std::string>& comments, const FlacFacts& f = {},
                               const Bytes& commentBlock = {}) {
    std::vector<Page> pages;
    pages.push_back(MakePage(0, 0, 0x02, {FlacHead(f)}));
    pages.push_back(
        MakePage(1, 0, 0,
                 {commentBlock.empty() ? FlacBlock(4, CommentList("reference libFLAC", comments))
                                       : commentBlock}));
    pages.push_back(MakePage(2, 0, 0, {FlacBlock(0x81, Bytes(300, 0))}));
    pages.push_back(MakePage(3, 4096, 0, {Audio(1200, 7), Audio(900, 8)}));
    pages.push_back(MakePage(4, f.rate * 3, 0x04, {Audio(800, 9)}));
    return pages;
}

TEST_F(OggTest, OggFlacStreamFacts) {
    const struct Case {
        FlacFacts facts;
        std::string channels;
    } cases[] = {
        {{44100, 2, 16}, "Stereo"},
        {{96000, 1, 24}, "Mono"},
        {{48000, 6, 20}, "unknown"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.facts.rate) + " Hz, " + std::to_string(c.facts.bits) +
                     " bit");
        const Bytes content = Serialize(OggFlacPages({"TITLE=t"}, c.facts));
        OggVorbisTag ogg;
        ogg.setFileName(Make(content, "a.oga"));
        ASSERT_TRUE(ogg.Valid()) << ogg.Error();
        EXPECT_EQ(ogg.Codec(), sondrel::OggCodec::Flac);
        EXPECT_EQ(ogg.title(), "t");
        EXPECT_EQ(ogg.Vendor(), "reference libFLAC");
        EXPECT_EQ(ogg.frequency(), c.facts.rate);
        EXPECT_EQ(ogg.BitsPerSample(), c.facts.bits);
        EXPECT_EQ(ogg.ChannelMode(), c.channels);
        EXPECT_EQ(ogg.DurationInSeconds(), 3);
        // Bits of the whole file over three seconds.
        EXPECT_EQ(ogg.BitrateNominal(),
                  static_cast<std::uint32_t>(std::lround(content.size() * 8 / 3.0 / 1000)));
    }
}

// The comment block is rebuilt with its new length and its last-block flag;
// the other header packets and the audio stay as they were.
TEST_F(OggTest, OggFlacSaveRebuildsTheCommentBlock) {
    const auto original = OggFlacPages({"TITLE=old", "X=keep", "ARTIST=a"});
    const std::string path = Make(Serialize(original), "a.oga");
    OggVorbisTag ogg;
    ogg.setFileName(path);
    ASSERT_TRUE(ogg.Valid()) << ogg.Error();
    for (const std::size_t lyrics : {std::size_t{10}, std::size_t{70000}, std::size_t{0}}) {
        SCOPED_TRACE(lyrics);
        ogg.settitle("new " + std::to_string(lyrics));
        ogg.setlyrics(std::string(lyrics, 'l'));
        ASSERT_TRUE(ogg.WriteTag()) << ogg.Error();
        const auto pages = ParsePages(ReadAll(path));
        ExpectWellFormed(pages);
        const auto packets = Packets(pages);
        const auto before = Packets(original);
        ASSERT_EQ(packets.size(), before.size());
        EXPECT_EQ(packets[0].data, before[0].data);
        EXPECT_EQ(packets[0].lastPage, 0u) << "the first packet has a page of its own";
        std::vector<std::string> comments = {"TITLE=new " + std::to_string(lyrics), "X=keep",
                                             "ARTIST=a"};
        if (lyrics > 0)
            comments.push_back("LYRICS=" + std::string(lyrics, 'l'));
        EXPECT_EQ(packets[1].data, FlacBlock(4, CommentList("reference libFLAC", comments)));
        // The padding block gives or takes what the comments need where
        // they fit it; it stays a padding block of zeros.
        ASSERT_GE(packets[2].data.size(), 4u);
        EXPECT_EQ(packets[2].data[0], before[2].data[0]);
        EXPECT_TRUE(std::all_of(packets[2].data.begin() + 4, packets[2].data.end(),
                                [](std::uint8_t b) { return b == 0; }));
        for (std::size_t i = 3; i < packets.size(); ++i)
            EXPECT_EQ(packets[i].data, before[i].data) << "packet " << i;
        // Audio starts on a fresh page, with the granules it had.
        EXPECT_GT(packets[3].lastPage, packets[2].lastPage);
        EXPECT_EQ(pages[packets.back().lastPage].granule, 44100u * 3);

        OggVorbisTag again;
        again.setFileName(path);
        EXPECT_EQ(again.title(), "new " + std::to_string(lyrics));
        EXPECT_EQ(again.lyrics(), std::string(lyrics, 'l'));
    }
}

TEST_F(OggTest, OggFlacRefusals) {
    Bytes longBlock = FlacBlock(4, CommentList("v", {"TITLE=t"}));
    longBlock[3] += 1;  // says one byte more than the packet holds
    struct Case {
        std::string name;
        Bytes content;
        bool reads;
        std::string error;  // a part of it
    } cases[] = {
        {"header count not given", Serialize(OggFlacPages({"TITLE=t"}, {44100, 2, 16, 0})), true,
         "does not say how many header packets"},
        {"comment block length wrong", Serialize(OggFlacPages({}, {}, longBlock)), false,
         "wrong file format"},
        {"no comment block second", Serialize(OggFlacPages({}, {}, FlacBlock(1, Bytes(8, 0)))),
         false, "wrong file format"},
    };
    // A metadata block packet shorter than its block header says (cut to
    // nothing, or to part of it) is refused on saving, never laid out.
    auto withBlock = [](const Bytes& block) {
        auto pages = OggFlacPages({"TITLE=t"}, {44100, 2, 16, 3});
        pages[2] = MakePage(2, 0, 0, {block, FlacBlock(0x81, Bytes(300, 0))});
        return Serialize(pages);
    };
    Bytes shortSeekTable = FlacBlock(3, Bytes(18, 0));
    shortSeekTable.resize(10);
    const Case damagedBlocks[] = {
        {"empty block packet", withBlock({}), true,
         "header packet 3 is a damaged FLAC metadata block"},
        {"block cut short", withBlock(shortSeekTable), true,
         "header packet 3 is a damaged FLAC metadata block"},
    };
    std::vector<Case> all(std::begin(cases), std::end(cases));
    all.insert(all.end(), std::begin(damagedBlocks), std::end(damagedBlocks));
    for (const auto& c : all) {
        SCOPED_TRACE(c.name);
        const std::string path = Make(c.content, "refused.oga");
        OggVorbisTag ogg;
        ogg.setFileName(path);
        EXPECT_EQ(ogg.Valid(), c.reads) << ogg.Error();
        ogg.settitle("changed");
        EXPECT_FALSE(ogg.WriteTag());
        EXPECT_NE(ogg.Error().find(c.error), std::string::npos) << ogg.Error();
        EXPECT_EQ(ReadAll(path), c.content);
    }
    // Pictures live in header packets of their own there, which a stream
    // that does not count them cannot take: refused, not misplaced.
    const Bytes content = Serialize(OggFlacPages({"TITLE=t"}, {44100, 2, 16, 0}));
    const std::string path = Make(content, "pictures.oga");
    OggVorbisTag ogg;
    ogg.setFileName(path);
    sondrel::Picture p;
    p.Data = {1, 2, 3};
    EXPECT_FALSE(ogg.AddPicture(0, p));
    EXPECT_NE(ogg.Error().find("Ogg FLAC"), std::string::npos) << ogg.Error();
    EXPECT_EQ(ReadAll(path), content);
}

sondrel::Picture AsPicture(const TestPicture& t) {
    sondrel::Picture p;
    p.PictureType = static_cast<std::uint8_t>(t.type);
    p.MimeType = t.mime;
    p.Description = t.description;
    p.Data = t.data;
    return p;
}

// The packets of an Ogg FLAC file after its identification packet, as many
// as that packet counts, and the audio packets after them with the granule
// of the page each ends on.
struct OggFlacLayout {
    Bytes ident;
    std::vector<Bytes> headers;
    std::vector<Bytes> audio;
    std::vector<std::uint64_t> granules;
};
OggFlacLayout LayoutOf(const std::vector<Page>& pages) {
    OggFlacLayout out;
    const auto packets = Packets(pages);
    out.ident = packets.at(0).data;
    const std::size_t count = std::size_t{out.ident.at(7)} << 8 | out.ident.at(8);
    for (std::size_t i = 1; i < packets.size(); ++i) {
        if (i <= count) {
            out.headers.push_back(packets[i].data);
        } else {
            out.audio.push_back(packets[i].data);
            out.granules.push_back(pages[packets[i].lastPage].granule);
        }
    }
    return out;
}

// Ogg FLAC pictures are PICTURE blocks in header packets of their own: a
// picture read stays byte for byte while it is not changed, new ones go
// beside their neighbours (or right after the comments), deleted ones leave
// nothing behind; the identification packet counts the header packets, the
// last-block flag is on the last one, and the audio and its granules stay.
TEST_F(OggTest, OggFlacPicturesAreHeaderPacketsOfTheirOwn) {
    const TestPicture p1{3, "image/png", "Vorne", 2, 3, 24, 0, {0x89, 'P', 'N', 'G', 1, 2}};
    const TestPicture p2{4, "image/jpeg", "", 0, 0, 0, 0, Bytes(600, 0xAB)};
    TestPicture p3{0, "image/gif", "Alt", 0, 0, 0, 0, {'G', 'I', 'F', '8', '9', 'a'}};
    const Bytes comment = FlacBlock(4, CommentList("reference libFLAC", {"TITLE=t"}));
    const Bytes padding = FlacBlock(0x81, Bytes(300, 0));
    const Bytes block1 = FlacBlock(6, PictureBlock(p1));
    std::vector<Page> original;
    original.push_back(MakePage(0, 0, 0x02, {FlacHead({44100, 2, 16, 3})}));
    original.push_back(MakePage(1, 0, 0, {comment}));
    original.push_back(MakePage(2, 0, 0, {block1, padding}));
    original.push_back(MakePage(3, 4096, 0, {Audio(1200, 7), Audio(900, 8)}));
    original.push_back(MakePage(4, 44100 * 3, 0x04, {Audio(800, 9)}));
    const OggFlacLayout before = LayoutOf(original);
    ASSERT_EQ(before.headers.size(), 3u);
    const std::string path = Make(Serialize(original), "pictures.oga");

    OggVorbisTag ogg;
    ogg.setFileName(path);
    ASSERT_TRUE(ogg.Valid()) << ogg.Error();
    ASSERT_EQ(ogg.ImagesCount(), 1);
    EXPECT_EQ(ogg.Pictures()[0], AsPicture(p1));
    EXPECT_TRUE(ogg.UnshownComments().empty());

    struct Step {
        const char* what;
        std::function<bool()> act;
        std::vector<Bytes> headers;  // after the identification packet
        std::vector<TestPicture> pictures;
    };
    const Bytes block2 = FlacBlock(6, PictureBlock(p2));
    const Bytes block3 = FlacBlock(6, PictureBlock(p3));
    TestPicture p3Described = p3;
    p3Described.description = "Neu \xE2\x9C\x93";
    // The description four bytes longer fits the padding: saved in place.
    const Bytes shrunkPadding = FlacBlock(0x81, Bytes(296, 0));
    const Step steps[] = {
        {"add behind the picture read",
         [&] { return ogg.AddPicture(1, AsPicture(p2)); },
         {comment, block1, block2, padding},
         {p1, p2}},
        {"add in front of it",
         [&] { return ogg.AddPicture(0, AsPicture(p3)); },
         {comment, block3, block1, block2, padding},
         {p3, p1, p2}},
        {"delete the picture read",
         [&] { return ogg.DeleteImage(1); },
         {comment, block3, block2, padding},
         {p3, p2}},
        {"a new description goes with the next save",
         [&] {
             ogg.settitle("u");
             return ogg.SetDescription(0, p3Described.description) && ogg.WriteTag();
         },
         {FlacBlock(4, CommentList("reference libFLAC", {"TITLE=u"})),
          FlacBlock(6, PictureBlock(p3Described)), block2, shrunkPadding},
         {p3Described, p2}},
        {"delete the rest",
         [&] {
             // Picture changes keep the fields as read: read the saved title.
             ogg.setFileName(path);
             return ogg.DeleteImage(0) && ogg.DeleteImage(0);
         },
         {FlacBlock(4, CommentList("reference libFLAC", {"TITLE=u"})), shrunkPadding},
         {}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        ASSERT_TRUE(step.act()) << ogg.Error();
        const auto pages = ParsePages(ReadAll(path));
        ExpectWellFormed(pages);
        const OggFlacLayout now = LayoutOf(pages);
        EXPECT_EQ(now.headers, step.headers);
        Bytes ident = before.ident;
        ident[8] = static_cast<std::uint8_t>(step.headers.size());
        EXPECT_EQ(now.ident, ident) << "only the count changes";
        EXPECT_EQ(now.audio, before.audio);
        EXPECT_EQ(now.granules, before.granules);

        OggVorbisTag again;
        again.setFileName(path);
        ASSERT_TRUE(again.Valid()) << again.Error();
        ASSERT_EQ(again.ImagesCount(), static_cast<int>(step.pictures.size()));
        for (std::size_t i = 0; i < step.pictures.size(); ++i)
            EXPECT_EQ(again.Pictures()[i], AsPicture(step.pictures[i])) << i;
        EXPECT_EQ(again.title(), ogg.title());
    }
}

// Where the comment block was the last one, it gives the last-block flag to
// the picture behind it, and takes it back when the picture goes.
TEST_F(OggTest, OggFlacLastBlockFlagMovesWithThePictures) {
    const Bytes lastComment = FlacBlock(0x84, CommentList("v", {"TITLE=t"}));
    std::vector<Page> original;
    original.push_back(MakePage(0, 0, 0x02, {FlacHead({44100, 2, 16, 1})}));
    original.push_back(MakePage(1, 0, 0, {lastComment}));
    original.push_back(MakePage(2, 4096, 0x04, {Audio(1000, 3)}));
    const std::string path = Make(Serialize(original), "last.oga");
    OggVorbisTag ogg;
    ogg.setFileName(path);
    ASSERT_TRUE(ogg.Valid()) << ogg.Error();
    const TestPicture p{3, "image/png", "", 0, 0, 0, 0, {1, 2, 3}};
    ASSERT_TRUE(ogg.AddPicture(0, AsPicture(p))) << ogg.Error();
    Bytes comment = lastComment;
    comment[0] = 4;
    EXPECT_EQ(LayoutOf(ParsePages(ReadAll(path))).headers,
              (std::vector<Bytes>{comment, FlacBlock(0x86, PictureBlock(p))}));
    ASSERT_TRUE(ogg.DeleteImage(0)) << ogg.Error();
    const OggFlacLayout back = LayoutOf(ParsePages(ReadAll(path)));
    EXPECT_EQ(back.headers, std::vector<Bytes>{lastComment});
    EXPECT_EQ(back.ident, LayoutOf(original).ident);
    EXPECT_EQ(back.audio, LayoutOf(original).audio);
}

}  // namespace

namespace {

// A save that fits the padding (zero bytes after a Vorbis comment packet's
// framing byte, an Ogg FLAC PADDING block) changes the header pages in
// place: a hard link keeps seeing the file, the file keeps its size and
// every page behind the headers its bytes. A save past the padding goes
// through a new file, and the other name keeps the old file whole.
TEST_F(OggTest, SavesWithinThePaddingStayInPlace) {
    std::vector<Page> vorbis = StandardPages({"TITLE=t", "X=keep"});
    Bytes padded = CommentPacket("test vendor", {"TITLE=t", "X=keep"});
    padded.resize(padded.size() + 200, 0);
    vorbis[1] = MakePage(1, 0, 0, {padded, SetupPacket()});
    const struct Case {
        const char* name;
        std::vector<Page> pages;
        std::size_t headerPages;
    } cases[] = {
        {"Vorbis, zero bytes after the framing byte", vorbis, 2},
        {"Ogg FLAC, a padding block", OggFlacPages({"TITLE=t", "X=keep"}), 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes original = Serialize(c.pages);
        const std::string path = Make(original, "linked.ogg");
        const std::string other = dir.file("other.ogg");
        std::filesystem::remove(other);
        std::filesystem::create_hard_link(path, other);
        const std::size_t audioAt = ParsePages(original)[c.headerPages].offset;

        OggVorbisTag ogg;
        ogg.setFileName(path);
        ASSERT_TRUE(ogg.Valid()) << ogg.Error();
        ogg.settitle("a title some bytes longer");
        ASSERT_TRUE(ogg.WriteTag()) << ogg.Error();
        const Bytes saved = ReadAll(path);
        EXPECT_EQ(ReadAll(other), saved) << "the link was split";
        ASSERT_EQ(saved.size(), original.size());
        EXPECT_TRUE(std::equal(saved.begin() + static_cast<std::ptrdiff_t>(audioAt), saved.end(),
                               original.begin() + static_cast<std::ptrdiff_t>(audioAt)))
            << "pages behind the headers changed";
        const auto pages = ParsePages(saved);
        ExpectWellFormed(pages);
        EXPECT_EQ(Packets(pages).size(), Packets(c.pages).size());
        OggVorbisTag again;
        again.setFileName(path);
        EXPECT_EQ(again.title(), "a title some bytes longer");
        EXPECT_EQ(again.OtherComments(), std::vector<std::string>{"X=keep"});

        // Far more than the padding holds.
        ogg.setlyrics(std::string(5000, 'l'));
        ASSERT_TRUE(ogg.WriteTag()) << ogg.Error();
        EXPECT_EQ(ReadAll(other), saved) << "the other name lost part of the old file";
        ExpectWellFormed(ParsePages(ReadAll(path)));
        again.setFileName(path);
        EXPECT_EQ(again.lyrics(), std::string(5000, 'l'));
        EXPECT_EQ(again.title(), "a title some bytes longer");
    }
}

}  // namespace
