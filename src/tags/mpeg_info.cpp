// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/mpeg_info.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "tags/file_io.h"
#include "tags/file_snapshot.h"
#include "tags/id3v2_frames.h"
#include "tags/tail_locator.h"

namespace sondrel {
namespace {

using Buffer = std::vector<std::uint8_t>;

// Bit rates in kbit/s by table and bit-rate index (ISO/IEC 11172-3 2.4.2.3,
// ISO/IEC 13818-3 2.4.2.3). Index 0 (free format) and 15 (reserved) give 0.
constexpr std::array<std::array<int, 16>, 5> kBitrates = {{
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},  // MPEG-1 I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},     // MPEG-1 II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},      // MPEG-1 III
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},     // MPEG-2/2.5 I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},  // MPEG-2/2.5 II, III
}};

// Sample rates in Hz by version bits and sample-rate index; 0 = reserved.
constexpr std::array<std::array<int, 4>, 4> kSampleRates = {{
    {11025, 12000, 8000, 0},   // MPEG-2.5
    {0, 0, 0, 0},              // reserved version
    {22050, 24000, 16000, 0},  // MPEG-2
    {44100, 48000, 32000, 0},  // MPEG-1
}};

constexpr std::array<const char*, 7> kEncoderNames = {"Unknown", "Xing", "FhG",  "LAME",
                                                      "Blade",   "GoGo", "Shine"};

// Offsets into the tail buffer where an encoder mark may start: the last one
// leaves room for "LAME" and four more characters.
constexpr std::size_t kMarkLastStart = kMpegTailRead - 8;
// Flags of an "Info" header that say its frame and byte counts are present.
constexpr std::uint32_t kInfoCounts = 0x3;

std::uint8_t ByteAt(const Buffer& buf, std::size_t i) {
    // The buffer stands for a zero-filled area larger than what was read.
    return i < buf.size() ? buf[i] : 0;
}

std::uint32_t BigEndian32(const Buffer& buf, std::size_t i) {
    return (std::uint32_t{ByteAt(buf, i)} << 24) | (std::uint32_t{ByteAt(buf, i + 1)} << 16) |
           (std::uint32_t{ByteAt(buf, i + 2)} << 8) | std::uint32_t{ByteAt(buf, i + 3)};
}

bool HasText(const Buffer& buf, std::size_t i, const char* text) {
    for (std::size_t k = 0; text[k] != '\0'; ++k) {
        if (ByteAt(buf, i + k) != static_cast<std::uint8_t>(text[k]))
            return false;
    }
    return true;
}

// Raw characters up to the first NUL: these marks are fixed-width fields, and
// a NUL means the writer had nothing more to say.
std::string TextAt(const Buffer& buf, std::size_t i, std::size_t len) {
    std::string out;
    for (std::size_t k = 0; k < len; ++k) {
        const std::uint8_t c = ByteAt(buf, i + k);
        if (c == 0)
            break;
        out.push_back(static_cast<char>(c));
    }
    return out;
}

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// Round half to even, as the average-bit-rate rule asks for.
double RoundHalfEven(double x) {
    const double down = std::floor(x);
    const double diff = x - down;
    if (diff > 0.5)
        return down + 1;
    if (diff < 0.5)
        return down;
    return std::fmod(down, 2.0) == 0 ? down : down + 1;
}

// Size of the ID3v2 tag at the start (header included), accepted exactly as
// the ID3v2 reader accepts it; 0 when there is none or it cannot be read.
std::int64_t Id3v2Extent(const ByteSource& source) {
    const auto head = source.ReadUpTo(0, id3v2::kHeaderSize);
    if (!head)
        return 0;
    const auto header = id3v2::ParseHeader(*head);
    return header ? std::int64_t{header->BodySize} + std::int64_t{id3v2::kHeaderSize} : 0;
}

}  // namespace

std::optional<MpegHeader> DecodeMpegHeader(std::uint32_t word) {
    MpegHeader h;
    h.Word = word;
    if ((word & 0xFFE00000u) != 0xFFE00000u)
        return std::nullopt;
    h.VersionBits = static_cast<std::uint8_t>((word >> 19) & 3);
    h.LayerBits = static_cast<std::uint8_t>((word >> 17) & 3);
    h.ProtectionBit = ((word >> 16) & 1) != 0;
    h.BitrateIndex = static_cast<std::uint8_t>((word >> 12) & 15);
    h.SampleRateIndex = static_cast<std::uint8_t>((word >> 10) & 3);
    h.PaddingBit = ((word >> 9) & 1) != 0;
    h.ChannelModeBits = static_cast<std::uint8_t>((word >> 6) & 3);
    h.CopyrightBit = ((word >> 3) & 1) != 0;
    h.OriginalBit = ((word >> 2) & 1) != 0;
    h.EmphasisBits = static_cast<std::uint8_t>(word & 3);
    if (h.VersionBits == 1 || h.LayerBits == 0 || h.BitrateIndex == 0 || h.BitrateIndex == 15 ||
        h.SampleRateIndex == 3 || h.EmphasisBits == 2)
        return std::nullopt;

    h.Layer = 4 - h.LayerBits;
    const std::size_t table =
        h.IsMpeg1() ? static_cast<std::size_t>(h.Layer - 1) : (h.Layer == 1 ? 3u : 4u);
    h.Bitrate = kBitrates[table][h.BitrateIndex];
    h.SampleRate = kSampleRates[h.VersionBits][h.SampleRateIndex];
    if (h.Bitrate <= 0 || h.SampleRate <= 0)
        return std::nullopt;
    h.Padding = h.PaddingBit ? (h.Layer == 1 ? 4 : 1) : 0;
    if (h.IsMpeg1())
        h.Coefficient = h.Layer == 1 ? 48 : 144;
    else
        h.Coefficient = h.Layer == 1 ? 24 : 72;
    // Truncation of (coefficient * rate / sample rate + padding); all terms
    // are positive, so integer division truncates the same way.
    h.FrameLength = h.Coefficient * h.Bitrate * 1000 / h.SampleRate + h.Padding;
    if (h.FrameLength < 1 || h.FrameLength > static_cast<int>(kMpegMaxFrameLength))
        return std::nullopt;
    return h;
}

void MpegInfo::Reset() {
    valid_ = false;
    error_.clear();
    fileSize_ = 0;
    audioStart_ = 0;
    trailingTagSize_ = 0;
    headerWord_ = 0;
    header_ = MpegHeader{};
    found_ = false;
    bitrate_ = 0;
    firstFramePos_ = 0;
    frameCount_ = 0;
    countedFrames_ = false;
    zeroSideInfo_ = false;
    isVbr_ = false;
    vbr_ = VbrHeader{};
    encoderText_.clear();
    problem_.clear();
}

void MpegInfo::setFileName(const std::string& path) {
    fileName_ = path;
    bool finished = true;
    try {
        if (!FileExists(path)) {
            Reset();
            Fail("File does not exist!");
        } else if (auto file = FileSnapshot::Open(path)) {
            finished = Analyse(*file);
        } else {
            Reset();
            Fail("Can't open the file", false);
            finished = false;
        }
    } catch (...) {
        // Only allocation can throw here; report it like any failed read.
        Reset();
        Fail("Can't open the file", false);
        finished = false;
    }
    if (finished)
        FileNameChanged();
}

void MpegInfo::LoadFrom(const ByteSource& file) {
    fileName_ = file.Name();
    bool finished = true;
    try {
        finished = Analyse(file);
    } catch (...) {
        Reset();
        Fail("Can't open the file", false);
        finished = false;
    }
    if (finished)
        FileNameChanged();
}

// Every tag at the end counts: an APE tag with a picture in front of the
// ID3v1 block is not audio and would otherwise lengthen the file by minutes.
void MpegInfo::ReadTrailingTagSize(const ByteSource& source) {
    const tail::Layout layout = tail::Locate(source, tail::Scope::All);
    trailingTagSize_ = std::max<std::int64_t>(0, layout.fileSize - layout.tagStart);
}

void MpegInfo::ReadAudioStart(const ByteSource& source) {
    audioStart_ = Id3v2Extent(source);
}

void MpegInfo::ReadVbrHeader(const Buffer& buf, std::size_t frame) {
    zeroSideInfo_ = true;
    for (std::size_t i = frame + 4; i < frame + 10; ++i) {
        if (ByteAt(buf, i) != 0)
            zeroSideInfo_ = false;
    }

    // Where encoders put the VBR header: right after the side information.
    std::size_t o = frame;
    if (header_.IsMpeg1())
        o += header_.IsMono() ? 21 : 36;
    else
        o += header_.IsMono() ? 13 : 21;

    const std::size_t vbri = frame + kMpegVbriOffset;
    if (HasText(buf, o, "Xing")) {
        vbr_.Found = true;
        vbr_.ID = "Xing";
        vbr_.FrameCount = BigEndian32(buf, o + 8);
        vbr_.ByteCount = BigEndian32(buf, o + 12);
        vbr_.Quality = ByteAt(buf, o + 119);
        vbr_.Encoder = TextAt(buf, o + 120, 8);
    } else if (HasText(buf, o, "Info") && (BigEndian32(buf, o + 4) & kInfoCounts) == kInfoCounts) {
        // The constant-rate form of the Xing header. Its frame is often
        // coded at a higher rate than the stream (the header must fit), so
        // the rate and frame count come from its totals; the file stays CBR.
        const std::uint32_t frames = BigEndian32(buf, o + 8);
        const std::uint32_t bytes = BigEndian32(buf, o + 12);
        if (frames > 0 && bytes > 0) {
            bitrate_ = AverageBitrate(frames, bytes);
            frameCount_ = frames;
            countedFrames_ = true;
        }
        return;
    } else if (HasText(buf, vbri, "VBRI")) {
        vbr_.Found = true;
        vbr_.ID = "VBRI";
        vbr_.Quality = ByteAt(buf, vbri + 9);
        vbr_.ByteCount = BigEndian32(buf, vbri + 10);
        vbr_.FrameCount = BigEndian32(buf, vbri + 14);
    }
    if (!vbr_.Found)
        return;

    isVbr_ = true;
    encoderText_ = vbr_.Encoder;
    if (vbr_.FrameCount > 0) {
        bitrate_ = AverageBitrate(vbr_.FrameCount, vbr_.ByteCount);
        frameCount_ = vbr_.FrameCount;
        countedFrames_ = true;
    }
}

// Zeros or junk longer than the first read lie between the ID3v2 tag and the
// stream. Looked for within a fixed distance, and only a header followed by
// a second one of the same version, layer and sample rate counts.
bool MpegInfo::FindStreamFurther(const ByteSource& source) {
    const std::int64_t audioEnd = fileSize_ - trailingTagSize_;
    if (audioEnd <= audioStart_)
        return false;
    const std::size_t span = static_cast<std::size_t>(std::min<std::int64_t>(
        audioEnd - audioStart_, static_cast<std::int64_t>(kMpegStreamSearchLimit)));
    const auto buf = source.ReadUpTo(audioStart_, span);
    if (!buf || buf->size() < 8)
        return false;
    const std::size_t n = buf->size();
    for (std::size_t p = 0; p + 8 <= n; ++p) {
        if ((*buf)[p] != 0xFF)
            continue;
        const auto first = DecodeMpegHeader(BigEndian32(*buf, p));
        if (!first)
            continue;
        const auto len = static_cast<std::size_t>(first->FrameLength);
        if (len > n - p - 4)
            continue;
        const auto second = DecodeMpegHeader(BigEndian32(*buf, p + len));
        if (!second || second->VersionBits != first->VersionBits ||
            second->LayerBits != first->LayerBits ||
            second->SampleRateIndex != first->SampleRateIndex)
            continue;
        header_ = *first;
        headerWord_ = first->Word;
        found_ = true;
        bitrate_ = header_.Bitrate;
        firstFramePos_ = audioStart_ + static_cast<std::int64_t>(p);
        const Buffer frame(
            buf->begin() + static_cast<std::ptrdiff_t>(p),
            buf->begin() + static_cast<std::ptrdiff_t>(std::min(n, p + kMpegMaxFrameLength)));
        ReadVbrHeader(frame, 0);
        return true;
    }
    return false;
}

int MpegInfo::AverageBitrate(std::uint32_t frames, std::uint32_t bytes) const {
    const double perFrame = static_cast<double>(bytes) / static_cast<double>(frames);
    const double rate = RoundHalfEven((perFrame - header_.Padding) * header_.SampleRate /
                                      header_.Coefficient / 1000.0);
    // A damaged header can give any number; keep the rate representable and
    // never negative (a negative rate would give a negative length).
    return static_cast<int>(
        std::clamp(rate, 0.0, static_cast<double>(std::numeric_limits<int>::max())));
}

void MpegInfo::FindEncoderMark(const ByteSource& source) {
    if (fileSize_ - trailingTagSize_ - static_cast<std::int64_t>(kMpegTailRead) <= 0)
        return;
    const auto tail = source.ReadUpTo(
        fileSize_ - trailingTagSize_ - static_cast<std::int64_t>(kMpegTailRead), kMpegTailRead);
    if (!tail || tail->size() != kMpegTailRead)
        return;
    const std::size_t window =
        std::min<std::size_t>(static_cast<std::size_t>(header_.FrameLength) * 5, kMarkLastStart);
    // The tail holds kMpegTailRead bytes, so a mark at or before
    // kMarkLastStart lies wholly inside it: no bounds check per position.
    // The mark nearest the end wins; memrchr finds each word's candidates
    // many bytes at a time.
    const std::uint8_t* t = tail->data();
    const std::size_t low = kMarkLastStart - window;
    const auto lastOf = [&](const char* word) -> std::optional<std::size_t> {
        for (std::size_t end = kMarkLastStart + 1; end > low;) {
            const void* hit = ::memrchr(t + low, word[0], end - low);
            if (hit == nullptr)
                return std::nullopt;
            const auto p = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - t);
            if (std::memcmp(t + p, word, 4) == 0)
                return p;
            end = p;
        }
        return std::nullopt;
    };
    const auto lame = lastOf("LAME");
    const auto gogo = lastOf("GOGO");
    if (lame && (!gogo || *lame > *gogo))
        encoderText_ = "LAME" + TextAt(*tail, *lame + 4, 4);
    else if (gogo)
        encoderText_ = "GOGO";
}

bool MpegInfo::Analyse(const ByteSource& source) {
    Reset();
    try {
        fileSize_ = source.Size();
        if (fileSize_ < 0) {
            fileSize_ = 0;
            Fail("Can't open the file", false);
            return false;
        }
        if (fileSize_ == 0) {
            Fail("File size is 0", false);
            return false;
        }
        ReadTrailingTagSize(source);
        ReadAudioStart(source);
        const auto buf = source.ReadUpTo(audioStart_, kMpegMaxFrameLength);
        if (!buf) {
            Fail("Can't open the file", false);
            return false;
        }
        const std::int64_t last = audioStart_ + static_cast<std::int64_t>(buf->size()) - 1;

        std::size_t r = 0;
        for (; r < kMpegFrameSearchOffsets; ++r) {
            headerWord_ = BigEndian32(*buf, r);
            if (auto h = DecodeMpegHeader(headerWord_)) {
                header_ = *h;
                found_ = true;
                break;
            }
        }
        const std::int64_t audioEnd = fileSize_ - trailingTagSize_;
        if (found_) {
            bitrate_ = header_.Bitrate;
            firstFramePos_ = audioStart_ + static_cast<std::int64_t>(r);
            // The frame must end inside the bytes read, with its successor's
            // first byte read too; a stream of one frame ends where the
            // audio ends.
            const std::int64_t frameEnd = firstFramePos_ + header_.FrameLength;
            valid_ = frameEnd <= last || (frameEnd == last + 1 && frameEnd == audioEnd);
        }
        if (valid_)
            ReadVbrHeader(*buf, r);
        else
            valid_ = FindStreamFurther(source);
        if (!valid_) {
            // A first frame that the file's end cuts off is damage; the
            // frames the file does hold can still be worth reading.
            const bool cut = found_ && firstFramePos_ + header_.FrameLength > audioEnd;
            problem_ = cut ? "the file ends inside its first MPEG audio frame: it is cut short"
                           : "no MPEG audio frames found";
        }
        if (valid_) {
            // A trailing tag that overlaps the frame would make this negative.
            if (!countedFrames_)
                frameCount_ = std::max<std::int64_t>(
                    0, (fileSize_ - firstFramePos_ - trailingTagSize_) / header_.FrameLength);
            if (!isVbr_)
                FindEncoderMark(source);
        }
    } catch (...) {
        Reset();
        Fail("Can't open the file", false);
        return false;
    }
    if (!valid_)
        Fail(std::string(), true);
    return true;
}

std::string MpegInfo::Emphasis() const {
    switch (header_.EmphasisBits) {
        case 1:
            return "50/15 ms";
        case 3:
            return "CCIT J.17";
        default:
            return "None";
    }
}

float MpegInfo::GetVersion() const {
    if (!found_)
        return 0;
    switch (header_.VersionBits) {
        case 0:
            return 2.5f;
        case 2:
            return 2.0f;
        case 3:
            return 1.0f;
        default:
            return 0;
    }
}

std::string MpegInfo::GetVer() const {
    if (!found_)
        return {};
    // The version as "%g" prints it: 1, 2, 2.5 (0 for the reserved value).
    const char* version = "0";
    switch (header_.VersionBits) {
        case 0:
            version = "2.5";
            break;
        case 2:
            version = "2";
            break;
        case 3:
            version = "1";
            break;
        default:
            break;
    }
    return std::string(version) + " Layer " +
           std::string(static_cast<std::size_t>(header_.Layer), 'I');
}

std::string MpegInfo::GetChannelMode() const {
    switch (header_.ChannelModeBits) {
        case 0:
            return "Stereo";
        case 1:
            return "Joint stereo";
        case 2:
            return "Dual channel";
        default:
            return "Mono";
    }
}

std::int64_t MpegInfo::GetNumberOfFrames() const {
    return isVbr_ ? static_cast<std::int64_t>(vbr_.FrameCount) : frameCount_;
}

int MpegInfo::SamplesPerFrame() const {
    if (header_.Layer == 1)
        return 384;
    // MPEG-2 and 2.5 Layer III frames hold one granule, not two.
    return header_.Layer == 3 && !header_.IsMpeg1() ? 576 : 1152;
}

std::int64_t MpegInfo::GetLengthInSeconds() const {
    if (countedFrames_ && header_.SampleRate > 0)
        return frameCount_ * SamplesPerFrame() / header_.SampleRate;
    if (bitrate_ <= 0)
        return 0;
    // Trunc(((audio bytes + 1) * 8 / 1000) / bitrate), in exact integers
    // and without the multiplication that could overflow.
    const std::int64_t bytes = fileSize_ - trailingTagSize_ - firstFramePos_ + 1;
    return std::max<std::int64_t>(0, bytes / (std::int64_t{125} * bitrate_));
}

double MpegInfo::Duration() const {
    if (countedFrames_ && header_.SampleRate > 0)
        return static_cast<double>(frameCount_) * SamplesPerFrame() / header_.SampleRate;
    if (bitrate_ <= 0)
        return 0;
    const std::int64_t bytes = fileSize_ - trailingTagSize_ - firstFramePos_;
    return std::max(0.0, static_cast<double>(bytes) * 8.0 / (1000.0 * bitrate_));
}

std::string MpegInfo::GetLength() const {
    const std::int64_t s = GetLengthInSeconds();
    // "%02lld" for each part, without a printf call per file.
    auto two = [](std::int64_t v) {
        std::string t = std::to_string(v);
        return t.size() < 2 ? "0" + t : t;
    };
    return two(s / 3600) + ":" + two(s % 3600 / 60) + ":" + two(s % 60);
}

int MpegInfo::GetEncoderID() const {
    if (!found_)
        return 0;
    if (isVbr_) {
        int id = 0;
        if (StartsWith(encoderText_, "LAME"))
            id = 3;
        else if (StartsWith(encoderText_, "GOGO") || StartsWith(encoderText_, "MPGE"))
            id = 5;
        else if (vbr_.ID == "Xing")
            id = 1;
        if (vbr_.ID == "VBRI")
            id = 2;
        return id;
    }
    // Rules of thumb from the header bits; a later rule overrides an earlier one.
    int id = 2;
    if (Original() && Protected())
        id = 3;
    if (bitrate_ <= 160 && header_.ChannelModeBits == 0)
        id = 4;
    if (Copyright() && Original() && !Protected())
        id = 1;
    if (zeroSideInfo_ && Original())
        id = 1;
    if (header_.ChannelModeBits == 2 && Protected())
        id = 6;
    if (StartsWith(encoderText_, "LAME"))
        id = 3;
    else if (StartsWith(encoderText_, "GOGO"))
        id = 5;
    return id;
}

std::string MpegInfo::GetEncoder() const {
    const int id = GetEncoderID();
    std::string name = kEncoderNames[static_cast<std::size_t>(id)];
    if (id == 3 && encoderText_.size() > 7) {
        const auto digit = [](char c) { return c >= '0' && c <= '9'; };
        const std::string v = encoderText_.substr(4, 4);
        if (digit(v[0]) && v[1] == '.' && digit(v[2]) && digit(v[3]))
            name += " " + v;
    }
    return name;
}

}  // namespace sondrel
