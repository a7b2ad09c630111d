// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/mpeg_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"
#include "tags/tail_locator.h"

namespace sondrel {
namespace {

using test::Bytes;
using test::TempDir;
using test::ToBytes;
using test::WriteAll;

// Frame header fields; the defaults are MPEG-1 Layer III, 128 kbit/s,
// 44100 Hz, joint stereo, no CRC.
struct Hdr {
    unsigned version = 3;  // 0 = 2.5, 2 = 2, 3 = 1
    unsigned layer = 1;    // 3 = I, 2 = II, 1 = III
    unsigned prot = 1;     // 0 = CRC present
    unsigned bitrate = 9;
    unsigned rate = 0;
    unsigned pad = 0;
    unsigned mode = 1;
    unsigned copyright = 0;
    unsigned original = 0;
    unsigned emphasis = 0;

    std::uint32_t Word() const {
        return 0xFFE00000u | version << 19 | layer << 17 | prot << 16 | bitrate << 12 | rate << 10 |
               pad << 9 | mode << 6 | copyright << 3 | original << 2 | emphasis;
    }
};

int LengthOf(const Hdr& h) {
    const auto d = DecodeMpegHeader(h.Word());
    return d ? d->FrameLength : 0;
}

// One frame: the header, then `fill` (non-zero by default so that the side
// information does not look empty). `length` is for headers that do not decode.
Bytes Frame(const Hdr& h, std::uint8_t fill = 0x55, std::size_t length = 0) {
    Bytes f(length ? length : static_cast<std::size_t>(LengthOf(h)), fill);
    const std::uint32_t w = h.Word();
    f[0] = static_cast<std::uint8_t>(w >> 24);
    f[1] = static_cast<std::uint8_t>(w >> 16);
    f[2] = static_cast<std::uint8_t>(w >> 8);
    f[3] = static_cast<std::uint8_t>(w);
    return f;
}

Bytes Frames(const Hdr& h, int count) {
    Bytes out;
    for (int i = 0; i < count; ++i) {
        const Bytes f = Frame(h);
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

void Append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

void Put(Bytes& to, std::size_t at, const Bytes& what) {
    std::copy(what.begin(), what.end(), to.begin() + static_cast<std::ptrdiff_t>(at));
}

void PutBE32(Bytes& to, std::size_t at, std::uint32_t v) {
    Put(to, at,
        {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
         static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
}

Bytes Id3v2Header(std::uint32_t bodySize, std::uint8_t major = 3) {
    return {'I',
            'D',
            '3',
            major,
            0,
            0,
            static_cast<std::uint8_t>((bodySize >> 21) & 0x7F),
            static_cast<std::uint8_t>((bodySize >> 14) & 0x7F),
            static_cast<std::uint8_t>((bodySize >> 7) & 0x7F),
            static_cast<std::uint8_t>(bodySize & 0x7F)};
}

Bytes Id3v1() {
    Bytes t = ToBytes("TAG");
    t.resize(128, 'x');
    return t;
}

// A Lyrics3 v2 block with its trailer; `size` is what the trailer declares.
Bytes Lyrics3(std::size_t* size = nullptr) {
    const std::string body = "LYRICSBEGININD0000210LYR00011hello world";
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06zu", body.size());
    if (size)
        *size = body.size();
    return ToBytes(body + digits + "LYRICS200");
}

// Writes a Xing header with its LAME-style encoder field at `at`.
void PutXing(Bytes& frame, std::size_t at, std::uint32_t frames, std::uint32_t bytes,
             std::uint8_t quality, const std::string& encoder) {
    Put(frame, at, ToBytes("Xing"));
    PutBE32(frame, at + 4, 0x0F);
    PutBE32(frame, at + 8, frames);
    PutBE32(frame, at + 12, bytes);
    frame[at + 119] = quality;
    Bytes enc = ToBytes(encoder);
    enc.resize(8, 0);
    Put(frame, at + 120, enc);
}

// An APE v2 tag (header and footer) with one binary item of `valueSize`
// bytes, as a cover picture is stored.
Bytes ApeTag(std::size_t valueSize) {
    Bytes item;
    const std::uint32_t len = static_cast<std::uint32_t>(valueSize);
    for (int i = 0; i < 4; ++i)
        item.push_back(static_cast<std::uint8_t>(len >> (8 * i)));
    Append(item, {2, 0, 0, 0});  // binary
    Append(item, ToBytes("Cover Art (Front)"));
    item.push_back(0);
    item.resize(item.size() + valueSize, 0xD8);
    const auto block = [&](std::uint32_t flags) {
        Bytes b = ToBytes("APETAGEX");
        const std::uint32_t words[] = {2000, static_cast<std::uint32_t>(item.size() + 32), 1,
                                       flags | 0x80000000u};
        for (const std::uint32_t w : words)
            for (int i = 0; i < 4; ++i)
                b.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
        b.resize(32, 0);
        return b;
    };
    Bytes out = block(0x20000000u);
    Append(out, item);
    Append(out, block(0));
    return out;
}

// Bytes to analyse without a disk: pieces placed in an otherwise zero-filled
// area of any size; every read is recorded and may be made to fail.
class FakeSource : public ByteSource {
public:
    std::int64_t size = 0;
    std::map<std::int64_t, Bytes> pieces;
    std::function<bool(std::int64_t offset)> failAt;
    mutable std::vector<std::pair<std::int64_t, std::size_t>> reads;

    static FakeSource Of(const Bytes& data) {
        FakeSource s;
        s.size = static_cast<std::int64_t>(data.size());
        s.pieces[0] = data;
        return s;
    }

    std::int64_t Size() const override { return size; }
    const std::string& LastError() const override { return error_; }
    bool ReadInto(std::int64_t offset, std::uint8_t* dst, std::size_t count) const override {
        reads.emplace_back(offset, count);
        if (offset < 0 || (failAt && failAt(offset)) || offset > size ||
            static_cast<std::uint64_t>(count) > static_cast<std::uint64_t>(size - offset)) {
            error_ = "read failed";
            return false;
        }
        std::fill_n(dst, count, std::uint8_t{0});
        for (const auto& [at, piece] : pieces) {
            const std::int64_t from = std::max(at, offset);
            const std::int64_t to = std::min(at + static_cast<std::int64_t>(piece.size()),
                                             offset + static_cast<std::int64_t>(count));
            for (std::int64_t i = from; i < to; ++i)
                dst[static_cast<std::size_t>(i - offset)] = piece[static_cast<std::size_t>(i - at)];
        }
        return true;
    }

private:
    mutable std::string error_;
};

struct Events {
    int fileNameChanges = 0;
    std::vector<std::string> errors;
    void Attach(MpegInfo& info) {
        info.onFileNameChange = [this](TagComponent&) { ++fileNameChanges; };
        info.onError = [this](TagComponent&, const std::string& e) { errors.push_back(e); };
    }
};

// ---------------------------------------------------------------------------
// Header decoding

struct DecodeRow {
    const char* name;
    Hdr hdr;
    int layer, bitrate, sampleRate, coefficient, padding, frameLength;
};

TEST(MpegHeaderDecode, TablesAndFrameLength) {
    const DecodeRow rows[] = {
        {"1 III 128k 44.1k", {}, 3, 128, 44100, 144, 0, 417},
        {"1 III padded", {.pad = 1}, 3, 128, 44100, 144, 1, 418},
        {"1 III 40k", {.bitrate = 2}, 3, 40, 44100, 144, 0, 130},
        {"1 III 320k 48k", {.bitrate = 14, .rate = 1}, 3, 320, 48000, 144, 0, 960},
        {"1 II 48k", {.layer = 2, .bitrate = 2}, 2, 48, 44100, 144, 0, 156},
        {"1 II longest frame",
         {.layer = 2, .bitrate = 14, .rate = 2, .pad = 1},
         2,
         384,
         32000,
         144,
         1,
         1729},
        {"1 I padded adds 4", {.layer = 3, .bitrate = 12, .pad = 1}, 1, 384, 44100, 48, 4, 421},
        {"1 I 448k 32k", {.layer = 3, .bitrate = 14, .rate = 2}, 1, 448, 32000, 48, 0, 672},
        {"2 III 32k 22.05k", {.version = 2, .bitrate = 4}, 3, 32, 22050, 72, 0, 104},
        {"2 II 160k 24k",
         {.version = 2, .layer = 2, .bitrate = 14, .rate = 1},
         2,
         160,
         24000,
         72,
         0,
         480},
        {"2 I 256k 16k",
         {.version = 2, .layer = 3, .bitrate = 14, .rate = 2},
         1,
         256,
         16000,
         24,
         0,
         384},
        {"2 I 144k", {.version = 2, .layer = 3, .bitrate = 9}, 1, 144, 22050, 24, 0, 156},
        {"2.5 III 64k 8k", {.version = 0, .bitrate = 8, .rate = 2}, 3, 64, 8000, 72, 0, 576},
        {"2.5 III 8k 12k", {.version = 0, .bitrate = 1, .rate = 1}, 3, 8, 12000, 72, 0, 48},
        {"2.5 III 11.025k padded",
         {.version = 0, .bitrate = 5, .pad = 1},
         3,
         40,
         11025,
         72,
         1,
         262},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto h = DecodeMpegHeader(row.hdr.Word());
        ASSERT_TRUE(h.has_value());
        EXPECT_EQ(h->Layer, row.layer);
        EXPECT_EQ(h->Bitrate, row.bitrate);
        EXPECT_EQ(h->SampleRate, row.sampleRate);
        EXPECT_EQ(h->Coefficient, row.coefficient);
        EXPECT_EQ(h->Padding, row.padding);
        EXPECT_EQ(h->FrameLength, row.frameLength);
    }
}

TEST(MpegHeaderDecode, RejectsReservedAndFreeFormat) {
    const std::pair<const char*, std::uint32_t> rows[] = {
        {"broken sync", Hdr{}.Word() & ~0x00200000u},
        {"reserved version", Hdr{.version = 1}.Word()},
        {"reserved layer", Hdr{.layer = 0}.Word()},
        {"free format", Hdr{.bitrate = 0}.Word()},
        {"bit-rate index 15", Hdr{.bitrate = 15}.Word()},
        {"reserved sample rate", Hdr{.rate = 3}.Word()},
        {"reserved emphasis", Hdr{.emphasis = 2}.Word()},
        {"all zero", 0},
    };
    for (const auto& [name, word] : rows) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(DecodeMpegHeader(word).has_value());
    }
}

// ---------------------------------------------------------------------------
// Analysis of streams built in memory

TEST(Mp3InfoAnalyse, PlainCbrStream) {
    const std::pair<unsigned, const char*> modes[] = {
        {0, "Stereo"}, {1, "Joint stereo"}, {2, "Dual channel"}, {3, "Mono"}};
    for (const auto& [mode, text] : modes) {
        SCOPED_TRACE(text);
        const Hdr h{.mode = mode, .copyright = 1, .emphasis = 3};
        const FakeSource src = FakeSource::Of(Frames(h, 10));
        MpegInfo info;
        Events ev;
        ev.Attach(info);
        EXPECT_TRUE(info.Analyse(src));
        EXPECT_TRUE(info.Valid());
        EXPECT_TRUE(ev.errors.empty());
        EXPECT_EQ(info.Error(), "");
        EXPECT_EQ(info.GetFileSize(), 4170);
        EXPECT_EQ(info.FirstFramePos(), 0);
        EXPECT_EQ(info.HeaderWord(), h.Word());
        EXPECT_EQ(info.FrameLength(), 417);
        EXPECT_EQ(info.GetVer(), "1 Layer III");
        EXPECT_FLOAT_EQ(info.GetVersion(), 1.0f);
        EXPECT_EQ(info.GetChannelMode(), text);
        EXPECT_EQ(info.Bitrate(), 128);
        EXPECT_EQ(info.SampleRate(), 44100);
        EXPECT_FALSE(info.IsVBR());
        EXPECT_EQ(info.GetNumberOfFrames(), 10);
        EXPECT_FALSE(info.Protected());
        EXPECT_TRUE(info.GetCopyright());
        EXPECT_FALSE(info.Original());
        EXPECT_EQ(info.Emphasis(), "CCIT J.17");
        // (4170 + 1) * 8 / 1000 / 128 = 0.26 s
        EXPECT_EQ(info.GetLengthInSeconds(), 0);
        EXPECT_EQ(info.GetLength(), "00:00:00");
    }
}

TEST(Mp3InfoAnalyse, VersionTextsAndHeaderFlags) {
    struct Row {
        Hdr hdr;
        const char* ver;
        bool isProtected;
        bool original;
        const char* emphasis;
    };
    const Row rows[] = {
        {{.version = 0, .bitrate = 8, .rate = 2}, "2.5 Layer III", false, false, "None"},
        {{.version = 2, .layer = 2, .prot = 0, .bitrate = 8}, "2 Layer II", true, false, "None"},
        {{.layer = 3, .original = 1, .emphasis = 1}, "1 Layer I", false, true, "50/15 ms"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.ver);
        MpegInfo info;
        info.Analyse(FakeSource::Of(Frames(row.hdr, 3)));
        ASSERT_TRUE(info.Valid());
        EXPECT_EQ(info.GetVer(), row.ver);
        EXPECT_EQ(info.Protected(), row.isProtected);
        EXPECT_EQ(info.Original(), row.original);
        EXPECT_EQ(info.Emphasis(), row.emphasis);
    }
}

TEST(Mp3InfoAnalyse, SkipsId3v2AndLeadingBytes) {
    Bytes file = Id3v2Header(1000);
    file.resize(1010, 0);  // tag body
    file.resize(1015, 0);  // zero bytes before the first frame
    Bytes first = Frame(Hdr{});
    PutXing(first, 36, 40, 40 * 417, 50, "LAME3.99");
    Append(file, first);
    Append(file, Frames(Hdr{}, 3));

    MpegInfo info;
    info.Analyse(FakeSource::Of(file));
    ASSERT_TRUE(info.Valid());
    EXPECT_EQ(info.AudioStart(), 1010);
    EXPECT_EQ(info.FirstFramePos(), 1015);
    EXPECT_TRUE(info.IsVBR());
    EXPECT_EQ(info.VBRData().FrameCount, 40u);

    // A header the tag reader would refuse is not skipped: the search starts
    // at 0 and walks through the tag area to the same frame.
    for (const std::size_t badByte : {3, 4, 6, 9}) {
        SCOPED_TRACE(badByte);
        Bytes bad = file;
        bad[badByte] = 0xFF;
        MpegInfo other;
        other.Analyse(FakeSource::Of(bad));
        EXPECT_EQ(other.AudioStart(), 0);
        EXPECT_EQ(other.FirstFramePos(), 1015);
    }
}

TEST(Mp3InfoAnalyse, FrameMustEndInsideTheBytesRead) {
    const Hdr longest{.layer = 2, .bitrate = 14, .rate = 2, .pad = 1};  // 1729 bytes
    struct Row {
        const char* name;
        Bytes file;
        bool valid;
    };
    Bytes late(1500, 0);
    Append(late, Frames(Hdr{}, 3));
    Bytes lone(2000, 0);
    Append(lone, Frame(Hdr{}));
    lone.resize(lone.size() + 1000, 0);
    Bytes otherLayer(2000, 0);
    Append(otherLayer, Frame(Hdr{}));
    Append(otherLayer, Frame(Hdr{.layer = 2}));
    Bytes exact = Frame(Hdr{});
    Bytes oneMore = Frame(Hdr{});
    oneMore.push_back(0);
    Bytes freeFormat;
    for (int i = 0; i < 4; ++i)
        Append(freeFormat, Frame(Hdr{.bitrate = 0}, 0x55, 417));
    const Row rows[] = {
        // Past the first read, a frame counts only with a second one behind it.
        {"frame runs past the 1729 bytes read", Frames(longest, 3), true},
        {"frame starts late in the bytes read", late, true},
        {"a lone header past the first read", lone, false},
        {"followed by a header of another layer", otherLayer, false},
        {"file ends with the frame: a stream of one frame", exact, true},
        {"file ends inside the frame", Bytes(exact.begin(), exact.end() - 1), false},
        {"one byte after the frame", oneMore, true},
        {"free format only", freeFormat, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        MpegInfo info;
        Events ev;
        ev.Attach(info);
        EXPECT_TRUE(info.Analyse(FakeSource::Of(row.file)));
        EXPECT_EQ(info.Valid(), row.valid);
        EXPECT_EQ(info.Error(), "");
        // The caller hears of a missing frame, with an empty text.
        EXPECT_EQ(ev.errors, row.valid ? std::vector<std::string>{} : std::vector<std::string>{""});
    }
}

// A file without a stream says what is missing; a tag is never the reason.
TEST(Mp3InfoAnalyse, StreamProblemSaysWhatIsMissing) {
    const Bytes frame = Frame(Hdr{});
    const Bytes cut(frame.begin(), frame.begin() + 100);
    Bytes tagOnly = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
    tagOnly.resize(30, 0);
    const struct {
        const char* name;
        Bytes file;
        const char* problem;
    } rows[] = {
        {"a stream", Frames(Hdr{}, 3), ""},
        {"an ID3v2 tag alone", tagOnly, "no MPEG audio frames found"},
        {"text", Bytes(500, 'a'), "no MPEG audio frames found"},
        {"the first frame cut short", test::Concat({tagOnly, cut}),
         "the file ends inside its first MPEG audio frame: it is cut short"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        MpegInfo info;
        EXPECT_TRUE(info.Analyse(FakeSource::Of(row.file)));
        EXPECT_EQ(info.StreamProblem(), row.problem);
        EXPECT_EQ(info.Valid(), std::string(row.problem).empty());
    }
    // A read again forgets the last file's problem.
    MpegInfo info;
    info.Analyse(FakeSource::Of(tagOnly));
    info.Analyse(FakeSource::Of(Frames(Hdr{}, 3)));
    EXPECT_EQ(info.StreamProblem(), "");
}

TEST(Mp3InfoAnalyse, VbrHeaderOffsets) {
    struct Row {
        const char* name;
        Hdr hdr;
        std::size_t at;
        bool found;
    };
    const Row rows[] = {
        {"MPEG-1 stereo", {.mode = 0}, 36, true},
        {"MPEG-1 joint stereo", {}, 36, true},
        {"MPEG-1 mono", {.mode = 3}, 21, true},
        {"MPEG-2 stereo", {.version = 2, .bitrate = 14}, 21, true},
        {"MPEG-2 mono", {.version = 2, .bitrate = 14, .mode = 3}, 13, true},
        {"MPEG-2.5 mono", {.version = 0, .bitrate = 14, .mode = 3}, 13, true},
        {"MPEG-1 stereo, mono offset", {}, 21, false},
        {"MPEG-2 mono, stereo offset", {.version = 2, .bitrate = 14, .mode = 3}, 21, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes file = Frame(row.hdr);
        PutXing(file, row.at, 1000, 1000u * static_cast<unsigned>(LengthOf(row.hdr)), 57,
                "LAME3.98");
        Append(file, Frames(row.hdr, 2));
        MpegInfo info;
        info.Analyse(FakeSource::Of(file));
        ASSERT_TRUE(info.Valid());
        EXPECT_EQ(info.IsVBR(), row.found);
        EXPECT_EQ(info.VBRData().Found, row.found);
        if (!row.found)
            continue;
        EXPECT_EQ(info.VBRData().ID, "Xing");
        EXPECT_EQ(info.VBRData().FrameCount, 1000u);
        EXPECT_EQ(info.VBRData().Quality, 57);
        EXPECT_EQ(info.VBRData().Encoder, "LAME3.98");
        EXPECT_EQ(info.EncoderText(), "LAME3.98");
        EXPECT_EQ(info.GetNumberOfFrames(), 1000);
        EXPECT_EQ(info.Bitrate(), info.Header().Bitrate);
    }
}

TEST(Mp3InfoAnalyse, AverageBitrateRoundsHalfToEven) {
    // MPEG-1 Layer III at 48 kHz: kbit/s = (bytes per frame - padding) / 3.
    // The header is 192 kbit/s unless a row says otherwise.
    struct Row {
        const char* name;
        Hdr hdr;
        std::uint32_t frames, bytes;
        int bitrate;
    };
    const Hdr base{.bitrate = 11, .rate = 1};
    Hdr padded = base;
    padded.pad = 1;
    // Layer I takes 4 bytes of padding off: an empty byte count would give -4.
    const Hdr layer1{.layer = 3, .bitrate = 11, .rate = 1, .pad = 1};
    const Row rows[] = {
        {"128.5 rounds down", base, 2, 771, 128},
        {"129.5 rounds up", base, 2, 777, 130},
        {"padding is taken off", padded, 2, 773, 128},
        {"plain average", base, 100, 38400, 128},
        {"frame count 0 keeps the header's rate", base, 0, 5000, 192},
        {"never negative", layer1, 10, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Hdr& h = row.hdr;
        Bytes file = Frame(h);
        PutXing(file, 36, row.frames, row.bytes, 0, "");
        Append(file, Frames(h, 2));
        MpegInfo info;
        info.Analyse(FakeSource::Of(file));
        ASSERT_TRUE(info.IsVBR());
        EXPECT_EQ(info.Bitrate(), row.bitrate);
        EXPECT_GE(info.GetLengthInSeconds(), 0);
    }
}

TEST(Mp3InfoAnalyse, InfoHeaderOfACbrStream) {
    // Encoders code the "Info" frame at a higher rate when the header does
    // not fit a frame of the stream's rate: here 56 kbit/s before 32 kbit/s.
    const Hdr infoHdr{.version = 2, .bitrate = 7, .mode = 3};    // 182 bytes
    const Hdr streamHdr{.version = 2, .bitrate = 4, .mode = 3};  // 104 bytes
    struct Row {
        const char* name;
        std::uint32_t flags;
        int bitrate;
        std::int64_t frames;
    };
    const std::int64_t size = 182 + 99 * 104;
    const Row rows[] = {
        {"counts present", 0x0F, 32, 100},
        {"counts absent", 0x0C, 56, size / 182},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes file = Frame(infoHdr);
        Put(file, 13, ToBytes("Info"));
        PutBE32(file, 17, row.flags);
        PutBE32(file, 21, 100);
        PutBE32(file, 25, static_cast<std::uint32_t>(size));
        Append(file, Frames(streamHdr, 99));
        MpegInfo info;
        info.Analyse(FakeSource::Of(file));
        ASSERT_TRUE(info.Valid());
        EXPECT_FALSE(info.IsVBR());
        EXPECT_FALSE(info.VBRData().Found);
        EXPECT_EQ(info.Bitrate(), row.bitrate);
        EXPECT_EQ(info.GetNumberOfFrames(), row.frames);
    }
}

// VBRI follows the header and 32 bytes in every mode, unlike Xing, whose
// place depends on the side information.
TEST(Mp3InfoAnalyse, VbriHeaderOffset) {
    struct Row {
        const char* name;
        Hdr hdr;
        std::size_t at;
        bool found;
    };
    const Row rows[] = {
        {"MPEG-1 mono at 36", {.mode = 3}, 36, true},
        {"MPEG-2 stereo at 36", {.version = 2, .bitrate = 14}, 36, true},
        {"MPEG-2 mono at 36", {.version = 2, .bitrate = 14, .mode = 3}, 36, true},
        {"MPEG-1 mono at the Xing place", {.mode = 3}, 21, false},
        {"MPEG-2 stereo at the Xing place", {.version = 2, .bitrate = 14}, 21, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes file = Frame(row.hdr);
        Put(file, row.at, ToBytes("VBRI"));
        PutBE32(file, row.at + 10, 300u * static_cast<unsigned>(LengthOf(row.hdr)));
        PutBE32(file, row.at + 14, 300);
        Append(file, Frames(row.hdr, 2));
        MpegInfo info;
        info.Analyse(FakeSource::Of(file));
        ASSERT_TRUE(info.Valid());
        EXPECT_EQ(info.IsVBR(), row.found);
        EXPECT_EQ(info.VBRData().ID, row.found ? "VBRI" : "");
        EXPECT_EQ(info.GetNumberOfFrames(), row.found ? 300 : 3);
    }
}

TEST(Mp3InfoAnalyse, VbriHeader) {
    Bytes file = Frame(Hdr{});
    const std::size_t o = 36;
    Put(file, o, ToBytes("VBRI"));
    file[o + 5] = 1;  // version
    file[o + 9] = 75;
    PutBE32(file, o + 10, 2000 * 418);  // average frame of 418 bytes = 128 kbit/s
    PutBE32(file, o + 14, 2000);
    Append(file, Frames(Hdr{}, 2));
    MpegInfo info;
    info.Analyse(FakeSource::Of(file));
    ASSERT_TRUE(info.IsVBR());
    EXPECT_EQ(info.VBRData().ID, "VBRI");
    EXPECT_EQ(info.VBRData().Quality, 75);
    EXPECT_EQ(info.VBRData().ByteCount, 2000u * 418u);
    EXPECT_EQ(info.VBRData().FrameCount, 2000u);
    EXPECT_EQ(info.EncoderText(), "");
    EXPECT_EQ(info.Bitrate(), 128);
    EXPECT_EQ(info.GetNumberOfFrames(), 2000);
    EXPECT_EQ(info.GetEncoderID(), 2);
    EXPECT_EQ(info.GetEncoder(), "FhG");
}

TEST(Mp3InfoAnalyse, TrailingTags) {
    std::size_t lyricsSize = 0;
    const Bytes lyrics = Lyrics3(&lyricsSize);
    Bytes noBegin = lyrics;
    noBegin[0] = 'X';
    Bytes badDigits = lyrics;
    badDigits[lyrics.size() - 12] = 'x';
    struct Row {
        const char* name;
        Bytes tail;
        std::int64_t size;
    };
    const Row rows[] = {
        {"none", {}, 0},
        {"ID3v1", Id3v1(), 128},
        {"Lyrics3 and ID3v1",
         [&] {
             Bytes t = lyrics;
             Append(t, Id3v1());
             return t;
         }(),
         static_cast<std::int64_t>(lyricsSize) + 143},
        {"Lyrics3 without its start mark",
         [&] {
             Bytes t = noBegin;
             Append(t, Id3v1());
             return t;
         }(),
         128},
        {"Lyrics3 size not a number",
         [&] {
             Bytes t = badDigits;
             Append(t, Id3v1());
             return t;
         }(),
         128},
        {"Lyrics3 without ID3v1", lyrics, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes file = Frames(Hdr{}, 20);
        Append(file, row.tail);
        MpegInfo info;
        info.Analyse(FakeSource::Of(file));
        ASSERT_TRUE(info.Valid());
        EXPECT_EQ(info.TrailingTagSize(), row.size);
        EXPECT_EQ(info.FrameCount(), (static_cast<std::int64_t>(file.size()) - row.size) / 417);
    }
}

// The playing time: a frame count in the first frame wins over the size,
// and no trailing tag counts as audio.
TEST(Mp3InfoAnalyse, LengthFromFrameCountWithoutTrailingTags) {
    constexpr int kFrames = 400;  // 400 x 1152 / 44100 = 10.45 s at 128 kbit/s
    const Bytes ape = ApeTag(300000);
    const auto withXing = [](const char* id) {
        Bytes f = Frame(Hdr{});
        PutXing(f, 36, kFrames, kFrames * 417, 0, "");
        Put(f, 36, ToBytes(id));
        Append(f, Frames(Hdr{}, kFrames - 1));
        return f;
    };
    Bytes vbri = Frame(Hdr{});
    Put(vbri, kMpegVbriOffset, ToBytes("VBRI"));
    PutBE32(vbri, kMpegVbriOffset + 10, kFrames * 417);
    PutBE32(vbri, kMpegVbriOffset + 14, kFrames);
    Append(vbri, Frames(Hdr{}, kFrames - 1));
    struct Row {
        const char* name;
        Bytes audio;
        Bytes tail;
        double tolerance;
    };
    const Row rows[] = {
        {"CBR, APE tag with a picture", Frames(Hdr{}, kFrames), ape, 0.03},
        {"CBR, APE, Lyrics3 and ID3v1", Frames(Hdr{}, kFrames),
         test::Concat({ape, Lyrics3(), Id3v1()}), 0.03},
        {"Xing, APE tag", withXing("Xing"), ape, 1e-9},
        {"Info, APE and ID3v1", withXing("Info"), test::Concat({ape, Id3v1()}), 1e-9},
        {"VBRI, APE tag", vbri, ape, 1e-9},
        {"Xing, no tags", withXing("Xing"), {}, 1e-9},
    };
    const double seconds = kFrames * 1152.0 / 44100.0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes file = row.audio;
        Append(file, row.tail);
        MpegInfo info;
        info.Analyse(FakeSource::Of(file));
        ASSERT_TRUE(info.Valid());
        EXPECT_EQ(info.TrailingTagSize(), static_cast<std::int64_t>(row.tail.size()));
        EXPECT_EQ(info.GetNumberOfFrames(), kFrames);
        // The CBR rows count bytes: an unpadded frame of 417 bytes at 128
        // kbit/s plays 26.06 ms, not quite its 1152 samples.
        EXPECT_NEAR(info.Duration(), seconds, row.tolerance);
        EXPECT_EQ(info.GetLengthInSeconds(), 10);
    }

    // A Xing count that disagrees with the size still wins: the size may
    // hold anything a tagger left behind.
    Bytes shortCount = Frame(Hdr{});
    PutXing(shortCount, 36, 100, 100 * 417, 0, "");
    Append(shortCount, Frames(Hdr{}, kFrames - 1));
    MpegInfo info;
    info.Analyse(FakeSource::Of(shortCount));
    EXPECT_NEAR(info.Duration(), 100 * 1152.0 / 44100.0, 1e-9);
    EXPECT_EQ(info.GetLengthInSeconds(), 2);
}

// Zeros or junk between the ID3v2 tag and the first frame, longer than the
// first read, up to the named search limit.
TEST(Mp3InfoAnalyse, StreamFoundBehindJunkAfterTheTag) {
    struct Row {
        const char* name;
        std::size_t gap;
        std::uint8_t fill;
        bool found;
    };
    const Row rows[] = {
        {"1300 zeros", 1300, 0x00, true},
        {"5000 zeros", 5000, 0x00, true},
        {"100000 spaces", 100000, 0x20, true},
        {"0xFF bytes", 20000, 0xFF, true},
        {"just inside the limit", kMpegStreamSearchLimit - 2 * 417, 0x00, true},
        {"beyond the limit", kMpegStreamSearchLimit, 0x00, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes file = Id3v2Header(100);
        file.resize(110, 0);
        file.resize(110 + row.gap, row.fill);
        Bytes first = Frame(Hdr{});
        PutXing(first, 36, 50, 50 * 417, 0, "LAME3.99");
        Append(file, first);
        Append(file, Frames(Hdr{}, 49));
        MpegInfo info;
        info.Analyse(FakeSource::Of(file));
        EXPECT_EQ(info.Valid(), row.found);
        if (!row.found)
            continue;
        EXPECT_EQ(info.AudioStart(), 110);
        EXPECT_EQ(info.FirstFramePos(), static_cast<std::int64_t>(110 + row.gap));
        EXPECT_EQ(info.HeaderWord(), Hdr{}.Word());
        EXPECT_TRUE(info.IsVBR());
        EXPECT_EQ(info.GetNumberOfFrames(), 50);
        EXPECT_EQ(info.EncoderText(), "LAME3.99");
    }
}

TEST(Mp3InfoAnalyse, EncoderMarkNearTheEnd) {
    // The audio is 20 frames of 417 bytes; the mark search covers the 3458
    // bytes before the trailing tags, at most 5 frames back from 8 bytes
    // before their start.
    constexpr std::size_t kAudio = 20 * 417;
    struct Row {
        const char* name;
        std::vector<std::pair<std::size_t, std::string>> marks;  // distance from audio end
        bool withTags;
        const char* text;
    };
    const Row rows[] = {
        {"LAME at the last place searched", {{8, "LAME3.96"}}, false, "LAME3.96"},
        {"LAME before the tags", {{8, "LAME3.96"}}, true, "LAME3.96"},
        {"LAME at the window's edge", {{8 + 5 * 417, "LAME3.97"}}, false, "LAME3.97"},
        {"LAME beyond the window", {{9 + 5 * 417, "LAME3.97"}}, false, ""},
        {"too close to the end", {{7, "LAME"}}, false, ""},
        {"GOGO", {{100, "GOGO"}}, false, "GOGO"},
        {"the mark nearest the end wins", {{900, "LAME3.90"}, {300, "GOGO"}}, false, "GOGO"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes file = Frames(Hdr{}, 20);
        for (const auto& [distance, mark] : row.marks)
            Put(file, kAudio - distance, ToBytes(mark));
        if (row.withTags) {
            Append(file, Lyrics3());
            Append(file, Id3v1());
        }
        MpegInfo info;
        info.Analyse(FakeSource::Of(file));
        ASSERT_TRUE(info.Valid());
        EXPECT_EQ(info.EncoderText(), row.text);
    }

    // Too small a file has no room for the search.
    Bytes small = Frames(Hdr{}, 8);  // 3336 bytes
    Put(small, small.size() - 8, ToBytes("LAME3.96"));
    MpegInfo info;
    info.Analyse(FakeSource::Of(small));
    ASSERT_TRUE(info.Valid());
    EXPECT_EQ(info.EncoderText(), "");
}

TEST(Mp3InfoEncoder, GuessFromHeaderBits) {
    struct Row {
        const char* name;
        Hdr hdr;
        std::uint8_t fill;
        std::string mark;
        int id;
        const char* encoder;
    };
    const Row rows[] = {
        {"nothing special", {}, 0x55, "", 2, "FhG"},
        {"CRC and original", {.prot = 0, .original = 1}, 0x55, "", 3, "LAME"},
        {"stereo at most 160k", {.mode = 0}, 0x55, "", 4, "Blade"},
        {"stereo above 160k", {.bitrate = 11, .mode = 0}, 0x55, "", 2, "FhG"},
        {"stereo beats CRC and original",
         {.prot = 0, .mode = 0, .original = 1},
         0x55,
         "",
         4,
         "Blade"},
        {"copyright and original, no CRC", {.copyright = 1, .original = 1}, 0x55, "", 1, "Xing"},
        {"empty side info and original", {.prot = 0, .original = 1}, 0x00, "", 1, "Xing"},
        {"empty side info alone", {}, 0x00, "", 2, "FhG"},
        {"dual channel with CRC", {.prot = 0, .mode = 2}, 0x55, "", 6, "Shine"},
        {"dual channel without CRC", {.mode = 2}, 0x55, "", 2, "FhG"},
        {"LAME mark beats the bits", {.prot = 0, .mode = 2}, 0x55, "LAME3.96", 3, "LAME 3.96"},
        {"GOGO mark", {.mode = 0}, 0x55, "GOGO", 5, "GoGo"},
        {"LAME mark without a version", {}, 0x55, "LAMEabcd", 3, "LAME"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes file;
        for (int i = 0; i < 20; ++i)
            Append(file, Frame(row.hdr, row.fill));
        if (!row.mark.empty())
            Put(file, file.size() - 8, ToBytes(row.mark));
        MpegInfo info;
        info.Analyse(FakeSource::Of(file));
        ASSERT_TRUE(info.Valid());
        ASSERT_FALSE(info.IsVBR());
        EXPECT_EQ(info.GetEncoderID(), row.id);
        EXPECT_EQ(info.GetEncoder(), row.encoder);
    }
}

TEST(Mp3InfoEncoder, GuessFromVbrHeader) {
    struct Row {
        const char* encoderField;
        int id;
        const char* encoder;
    };
    const Row rows[] = {
        {"LAME3.99", 3, "LAME 3.99"},
        // Only eight characters are kept: the version reads as 3.10.
        {"LAME3.100", 3, "LAME 3.10"},
        {"LAME", 3, "LAME"},
        {"GOGO", 5, "GoGo"},
        {"MPGE1.00", 5, "GoGo"},
        {"Lavc59.3", 1, "Xing"},
        {"", 1, "Xing"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.encoderField);
        Bytes file = Frame(Hdr{});
        PutXing(file, 36, 0, 0, 0, "");
        Bytes enc = ToBytes(row.encoderField);
        Put(file, 36 + 120, enc);  // may run into the next field, as writers do
        Append(file, Frames(Hdr{}, 2));
        MpegInfo info;
        info.Analyse(FakeSource::Of(file));
        ASSERT_TRUE(info.IsVBR());
        EXPECT_EQ(info.GetEncoderID(), row.id);
        EXPECT_EQ(info.GetEncoder(), row.encoder);
    }
}

TEST(Mp3InfoAnalyse, LargeFileReadsOnlyFixedAmounts) {
    // A 5 GiB stream: ID3v2 in front, an encoder mark, Lyrics3 and ID3v1 at
    // the end, silence between. Offsets and counts must be 64-bit clean.
    constexpr std::int64_t kSize = 5LL << 30;
    FakeSource src;
    src.size = kSize;
    Bytes head = Id3v2Header(1000);
    head.resize(1010, 0);
    Append(head, Frames(Hdr{}, 4));
    src.pieces[0] = head;
    Bytes tail = Lyrics3();
    Append(tail, Id3v1());
    const std::int64_t tailAt = kSize - static_cast<std::int64_t>(tail.size());
    src.pieces[tailAt] = tail;
    src.pieces[tailAt - 100] = ToBytes("LAME3.97");

    MpegInfo info;
    ASSERT_TRUE(info.Analyse(src));
    ASSERT_TRUE(info.Valid());
    EXPECT_EQ(info.GetFileSize(), kSize);
    EXPECT_EQ(info.TrailingTagSize(), static_cast<std::int64_t>(tail.size()));
    EXPECT_EQ(info.FirstFramePos(), 1010);
    EXPECT_EQ(info.FrameCount(), (kSize - 1010 - static_cast<std::int64_t>(tail.size())) / 417);
    EXPECT_EQ(info.EncoderText(), "LAME3.97");
    // (5368709120 - 1010 + 1) * 8 / 1000 / 128 = 335544.26 s
    EXPECT_EQ(info.GetLengthInSeconds(), 335544);
    EXPECT_EQ(info.GetLength(), "93:12:24");

    std::size_t total = 0;
    for (const auto& [offset, count] : src.reads) {
        total += count;
        EXPECT_LE(count, kMpegTailRead);
    }
    // ID3v2 header (twice: once for the trailing blocks, which must lie
    // behind it), frame search, the last 32 bytes, ID3v1 and Lyrics3 probes,
    // the APE footer probe in front of them, encoder-mark tail, and the
    // first frames behind the ID3v2 tag, which the trailing blocks must lie
    // behind too.
    EXPECT_LE(total, 10 + 10 + kMpegMaxFrameLength + 32 + 3 + 15 + 11 + 32 + kMpegTailRead +
                         kMpegMaxFrameLength + 4 * tail::kStreamFloorProbes);
}

TEST(Mp3InfoAnalyse, FailuresOfTheSource) {
    const Bytes good = Frames(Hdr{}, 20);
    struct Row {
        const char* name;
        std::int64_t size;  // -1: size unknown
        std::function<bool(std::int64_t)> failAt;
        bool finished;
        const char* error;
        bool valid;
    };
    const auto size = static_cast<std::int64_t>(good.size());
    const Row rows[] = {
        {"size unknown", -1, nullptr, false, "Can't open the file", false},
        {"empty", 0, nullptr, false, "File size is 0", false},
        {"audio start unreadable", size, [](std::int64_t o) { return o == 0; }, false,
         "Can't open the file", false},
        {"trailing tag probe unreadable", size, [size](std::int64_t o) { return o == size - 128; },
         true, "", true},
        {"encoder tail unreadable", size, [size](std::int64_t o) { return o == size - 3458; }, true,
         "", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSource src = FakeSource::Of(good);
        src.size = row.size;
        src.failAt = row.failAt;
        MpegInfo info;
        Events ev;
        ev.Attach(info);
        EXPECT_EQ(info.Analyse(src), row.finished);
        EXPECT_EQ(info.Error(), row.error);
        EXPECT_EQ(info.Valid(), row.valid);
        // These failures are reported through Error only.
        EXPECT_TRUE(ev.errors.empty());
        EXPECT_EQ(ev.fileNameChanges, 0);
    }
}

// ---------------------------------------------------------------------------
// The file-name setter

TEST(Mp3InfoFileName, FailureMessagesAndEvents) {
    TempDir dir;
    const std::string empty = dir.file("empty.mp3");
    WriteAll(empty, Bytes{});
    const std::string text = dir.file("text.mp3");
    WriteAll(text, std::string(5000, 'a'));
    const std::string good = dir.file("good.mp3");
    WriteAll(good, Frames(Hdr{}, 20));

    struct Row {
        const char* name;
        std::string path;
        const char* error;
        bool valid;
        std::vector<std::string> onError;
        int fileNameChanges;
    };
    const Row rows[] = {
        {"missing",
         dir.file("missing.mp3"),
         "File does not exist!",
         false,
         {"File does not exist!"},
         1},
        {"a folder", dir.path(), "File does not exist!", false, {"File does not exist!"}, 1},
        {"0 bytes", empty, "File size is 0", false, {}, 0},
        {"no frame", text, "", false, {""}, 1},
        {"good", good, "", true, {}, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        MpegInfo info;
        Events ev;
        ev.Attach(info);
        info.setFileName(row.path);
        EXPECT_EQ(info.FileName(), row.path);
        EXPECT_EQ(info.Error(), row.error);
        EXPECT_EQ(info.Valid(), row.valid);
        EXPECT_EQ(ev.errors, row.onError);
        EXPECT_EQ(ev.fileNameChanges, row.fileNameChanges);
    }
}

TEST(Mp3InfoFileName, EachAssignmentStartsAfresh) {
    TempDir dir;
    const std::string vbr = dir.file("vbr.mp3");
    Bytes file = Frame(Hdr{});
    PutXing(file, 36, 100, 100 * 417, 0, "LAME3.99");
    Append(file, Frames(Hdr{}, 20));
    Append(file, Id3v1());
    WriteAll(vbr, file);

    MpegInfo info;
    info.setFileName(vbr);
    ASSERT_TRUE(info.Valid());
    ASSERT_TRUE(info.IsVBR());
    ASSERT_EQ(info.TrailingTagSize(), 128);

    info.setFileName(dir.file("gone.mp3"));
    EXPECT_FALSE(info.Valid());
    EXPECT_FALSE(info.IsVBR());
    EXPECT_FALSE(info.VBRData().Found);
    EXPECT_EQ(info.EncoderText(), "");
    EXPECT_EQ(info.Bitrate(), 0);
    EXPECT_EQ(info.GetFileSize(), 0);
    EXPECT_EQ(info.TrailingTagSize(), 0);
    EXPECT_EQ(info.GetLengthInSeconds(), 0);
    EXPECT_EQ(info.GetNumberOfFrames(), 0);
}

// ---------------------------------------------------------------------------
// Real files made by ffmpeg, checked against ffprobe

struct Probe {
    std::string codec;
    int sampleRate = 0;
    int channels = 0;
    long long bitRate = 0;
    double duration = 0;
};

std::optional<Probe> RunFfprobe(const std::string& path) {
    const auto r = test::RunCommand(
        "ffprobe -v error -select_streams a:0 -show_entries "
        "stream=codec_name,sample_rate,channels,bit_rate:format=duration -of default=nw=1 " +
        test::ShellQuote(path));
    if (r.exitCode != 0)
        return std::nullopt;
    Probe p;
    std::size_t pos = 0;
    while (pos < r.output.size()) {
        std::size_t end = r.output.find('\n', pos);
        if (end == std::string::npos)
            end = r.output.size();
        const std::string line = r.output.substr(pos, end - pos);
        pos = end + 1;
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (value == "N/A")
            continue;
        if (key == "codec_name")
            p.codec = value;
        else if (key == "sample_rate")
            p.sampleRate = std::stoi(value);
        else if (key == "channels")
            p.channels = std::stoi(value);
        else if (key == "bit_rate")
            p.bitRate = std::stoll(value);
        else if (key == "duration")
            p.duration = std::stod(value);
    }
    return p;
}

struct MadeFile {
    const char* name;
    const char* args;  // ffmpeg arguments between the input and the output
    const char* ext;
    bool vbr;
    bool id3v2;
    bool lyrics3;  // a Lyrics3 block is put in front of the ID3v1 tag
};

const MadeFile kMadeFiles[] = {
    {"cbr128",
     "-f lavfi -i sine=f=440:r=44100:d=20 -ac 2 -c:a libmp3lame -b:a 128k "
     "-id3v2_version 3 -metadata title=T -write_id3v1 1",
     "mp3", false, true, false},
    {"vbr_v2",
     "-f lavfi -i anoisesrc=r=44100:d=20:a=0.3 -ac 2 -c:a libmp3lame -q:a 2 "
     "-write_xing 1 -id3v2_version 3 -metadata title=T -write_id3v1 1",
     "mp3", true, true, true},
    {"mpeg2_mono",
     "-f lavfi -i sine=f=440:r=22050:d=20 -ac 1 -c:a libmp3lame -b:a 32k "
     "-id3v2_version 0",
     "mp3", false, false, false},
    {"mpeg2_stereo_vbr",
     "-f lavfi -i anoisesrc=r=24000:d=15:a=0.3 -ac 2 -c:a libmp3lame "
     "-q:a 4 -id3v2_version 3 -metadata artist=A",
     "mp3", true, true, false},
    {"mpeg25_mono_vbr",
     "-f lavfi -i anoisesrc=r=11025:d=20:a=0.3 -ac 1 -c:a libmp3lame "
     "-q:a 4 -id3v2_version 0",
     "mp3", true, false, false},
    {"mpeg1_48k_mono",
     "-f lavfi -i sine=f=440:r=48000:d=12 -ac 1 -c:a libmp3lame -b:a 64k "
     "-id3v2_version 0 -write_id3v1 1",
     "mp3", false, false, false},
    {"layer2", "-f lavfi -i sine=f=440:r=48000:d=20 -ac 2 -c:a mp2 -b:a 192k", "mp2", false, false,
     false},
    {"layer2_mpeg2_mono", "-f lavfi -i sine=f=440:r=24000:d=20 -ac 1 -c:a mp2 -b:a 64k", "mp2",
     false, false, false},
    {"cbr_no_xing",
     "-f lavfi -i sine=f=440:r=44100:d=10 -ac 2 -c:a libmp3lame -b:a 128k -write_xing 0 "
     "-id3v2_version 3 -metadata title=T",
     "mp3", false, true, false},
};

class Mp3InfoInterop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!test::HaveProgram("ffmpeg") || !test::HaveProgram("ffprobe"))
            return;
        dir_ = new TempDir;
        for (const auto& made : kMadeFiles) {
            const std::string path = Path(made);
            const auto r =
                test::RunCommand("ffmpeg -v error -nostdin -y " + std::string(made.args) + " " +
                                 test::ShellQuote(path) + " 2>&1");
            if (r.exitCode != 0)
                continue;
            if (made.lyrics3) {
                Bytes data = test::ReadAll(path);
                const Bytes lyrics = Lyrics3();
                data.insert(data.end() - 128, lyrics.begin(), lyrics.end());
                WriteAll(path, data);
            }
        }
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!dir_)
            GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    }
    static std::string Path(const MadeFile& made) {
        return dir_->file(std::string(made.name) + "." + made.ext);
    }

    static TempDir* dir_;
};

TempDir* Mp3InfoInterop::dir_ = nullptr;

TEST_F(Mp3InfoInterop, StreamFactsMatchFfprobe) {
    for (const auto& made : kMadeFiles) {
        SCOPED_TRACE(made.name);
        const std::string path = Path(made);
        const auto probe = RunFfprobe(path);
        ASSERT_TRUE(probe.has_value()) << "ffmpeg could not make " << path;

        MpegInfo info;
        info.setFileName(path);
        ASSERT_TRUE(info.Valid());
        EXPECT_EQ(info.Layer(), probe->codec == "mp3" ? 3 : probe->codec == "mp2" ? 2 : 1);
        EXPECT_EQ(info.SampleRate(), probe->sampleRate);
        const float version = probe->sampleRate >= 32000   ? 1.0f
                              : probe->sampleRate >= 16000 ? 2.0f
                                                           : 2.5f;
        EXPECT_FLOAT_EQ(info.GetVersion(), version);
        EXPECT_EQ(info.GetChannelMode() == "Mono", probe->channels == 1);
        EXPECT_EQ(info.AudioStart() > 0, made.id3v2);
        EXPECT_GE(info.FirstFramePos(), info.AudioStart());
        EXPECT_EQ(info.IsVBR(), made.vbr);
        if (made.vbr) {
            EXPECT_EQ(info.VBRData().ID, "Xing");
            // ffprobe takes the duration from the Xing frame count.
            const int samplesPerFrame = (version == 1.0f || info.Layer() != 3) ? 1152 : 576;
            EXPECT_NEAR(static_cast<double>(info.GetNumberOfFrames()),
                        probe->duration * probe->sampleRate / samplesPerFrame, 1.0);
        } else {
            EXPECT_EQ(info.Bitrate() * 1000LL, probe->bitRate);
        }
        if (made.lyrics3) {
            EXPECT_GT(info.TrailingTagSize(), 143);
        }
        // Whole seconds from the size and a bit rate in whole kbit/s.
        EXPECT_NEAR(static_cast<double>(info.GetLengthInSeconds()), probe->duration,
                    1.0 + probe->duration * 0.01);
    }
}

// What a tagger adds around the stream (an APE tag with a picture in front
// of the ID3v1 tag, zeros or spaces after the ID3v2 tag) leaves the length
// as ffprobe gives it for the file as ffmpeg made it.
TEST_F(Mp3InfoInterop, LengthUnchangedByTagsAndJunkAround) {
    const Bytes ape = ApeTag(300000);
    struct Change {
        const char* name;
        Bytes apeTag;
        std::size_t gap;
        std::uint8_t fill;
    };
    const Change changes[] = {
        {"APE tag with a picture", ape, 0, 0},
        {"5000 zeros after ID3v2", {}, 5000, 0x00},
        {"2000 spaces after ID3v2", {}, 2000, 0x20},
        {"both", ape, 5000, 0x00},
    };
    for (const auto& made : kMadeFiles) {
        if (std::string(made.ext) != "mp3")
            continue;
        const std::string path = Path(made);
        const auto probe = RunFfprobe(path);
        ASSERT_TRUE(probe.has_value()) << "ffmpeg could not make " << path;
        const Bytes clean = test::ReadAll(path);
        MpegInfo base;
        base.setFileName(path);
        ASSERT_TRUE(base.Valid());
        for (const auto& change : changes) {
            SCOPED_TRACE(std::string(made.name) + ": " + change.name);
            Bytes data = clean;
            // In front of the trailing tags, where an APE tag stacks.
            const auto tailAt = data.size() - static_cast<std::size_t>(base.TrailingTagSize());
            data.insert(data.begin() + static_cast<std::ptrdiff_t>(tailAt), change.apeTag.begin(),
                        change.apeTag.end());
            const Bytes gap(change.gap, change.fill);
            data.insert(data.begin() + base.AudioStart(), gap.begin(), gap.end());
            const std::string changed = dir_->file("changed.mp3");
            WriteAll(changed, data);

            MpegInfo info;
            info.setFileName(changed);
            ASSERT_TRUE(info.Valid());
            EXPECT_EQ(info.FirstFramePos(),
                      base.FirstFramePos() + static_cast<std::int64_t>(change.gap));
            EXPECT_EQ(info.TrailingTagSize(),
                      base.TrailingTagSize() + static_cast<std::int64_t>(change.apeTag.size()));
            EXPECT_EQ(info.IsVBR(), made.vbr);
            EXPECT_NEAR(info.Duration(), probe->duration, 0.06);
            EXPECT_EQ(info.GetLengthInSeconds(), base.GetLengthInSeconds());
        }
    }
}

TEST_F(Mp3InfoInterop, EncoderOfLameFiles) {
    // A CBR file carries the encoder's mark in the ancillary data of its
    // last frames.
    MpegInfo cbr;
    cbr.setFileName(Path(kMadeFiles[0]));
    ASSERT_TRUE(cbr.Valid());
    EXPECT_EQ(cbr.GetEncoderID(), 3);
    EXPECT_EQ(cbr.GetEncoder().rfind("LAME", 0), 0u) << cbr.GetEncoder();

    // A VBR file names its encoder in the field after the Xing header; put
    // the long version text there that the encoder itself writes.
    const std::string vbrPath = Path(kMadeFiles[1]);
    Bytes data = test::ReadAll(vbrPath);
    const Bytes xing = ToBytes("Xing");
    const auto at = std::search(data.begin(), data.end(), xing.begin(), xing.end());
    ASSERT_NE(at, data.end());
    const auto field = static_cast<std::size_t>(at - data.begin()) + 120;
    Put(data, field, ToBytes("LAME3.100"));
    const std::string patched = dir_->file("lame_tag.mp3");
    WriteAll(patched, data);

    MpegInfo vbr;
    vbr.setFileName(patched);
    ASSERT_TRUE(vbr.IsVBR());
    EXPECT_EQ(vbr.EncoderText(), "LAME3.10");
    EXPECT_EQ(vbr.GetEncoderID(), 3);
    EXPECT_EQ(vbr.GetEncoder(), "LAME 3.10");
}

}  // namespace
}  // namespace sondrel
