// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/id3v2_frames.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <utility>

#include "util/codepage.h"
#include "util/unicode.h"

namespace sondrel::id3v2 {
namespace {

constexpr std::string_view kLatin1Name = "ISO-8859-1";

// 2.3 frame format flags (ID3v2.3 structure, 3.3.1).
constexpr std::uint8_t k23Compressed = 0x80;
constexpr std::uint8_t k23Encrypted = 0x40;
constexpr std::uint8_t k23Grouped = 0x20;
// 2.4 frame format flags (ID3v2.4 structure, 4.1.2).
constexpr std::uint8_t k24Grouped = 0x40;
constexpr std::uint8_t k24Compressed = 0x08;
constexpr std::uint8_t k24Encrypted = 0x04;
constexpr std::uint8_t k24Unsync = 0x02;
constexpr std::uint8_t k24DataLength = 0x01;

bool IsIdChar(std::uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool ValidId(const std::uint8_t* p, std::size_t len) {
    if (!(p[0] >= 'A' && p[0] <= 'Z'))
        return false;
    for (std::size_t i = 1; i < len; ++i) {
        if (!IsIdChar(p[i]))
            return false;
    }
    return true;
}

// Whether a frame ending at `next` is followed by what a tag may hold there:
// its end, padding, or another frame.
bool LandsWell(ByteView body, std::size_t next) {
    if (next == body.size())
        return true;
    if (next > body.size())
        return false;
    if (body[next] == 0)
        return true;
    return body.size() - next >= 4 && ValidId(body.data() + next, 4);
}

// 2.4 sizes are synchsafe, but some writers stored plain integers; take the
// reading that lands on a frame boundary.
std::size_t FrameSize24(ByteView body, std::size_t pos) {
    const std::uint8_t* s = body.data() + pos + 4;
    const std::uint32_t plain = ReadBigEndian32(s);
    if (((s[0] | s[1] | s[2] | s[3]) & 0x80) != 0)
        return plain;
    const std::uint32_t safe = ReadSynchsafe(s);
    if (safe == plain)
        return safe;
    const std::size_t room = body.size() - pos - 10;
    if (safe <= room && LandsWell(body, pos + 10 + safe))
        return safe;
    if (plain <= room && LandsWell(body, pos + 10 + plain))
        return plain;
    return safe;
}

void PutBigEndian32(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

std::size_t TerminatorWidth(std::uint8_t encoding) {
    return (encoding == kEncUtf16Bom || encoding == kEncUtf16Be) ? 2 : 1;
}

// Position of the first terminator at or after `from`, searched on
// `width`-byte boundaries so that a UTF-16 unit like 0x0100 is not taken
// for one; `data.size()` when there is none.
std::size_t FindTerminator(ByteView data, std::size_t from, std::size_t width) {
    for (std::size_t i = from; i < data.size() && width <= data.size() - i; i += width) {
        if (data[i] == 0 && (width == 1 || data[i + 1] == 0))
            return i;
    }
    return data.size();
}

using K = FrameField;
using S = FrameSlot;

// Frame bodies (ID3v2.3 frames, 4.2 to 4.15), each field named for the
// member of FrameContent it fills.
constexpr FrameFieldLayout kTextLayout[] = {{K::Encoding, S::Encoding}, {K::EncodedRest, S::Text}};
constexpr FrameFieldLayout kUserTextLayout[] = {
    {K::Encoding, S::Encoding}, {K::EncodedZ, S::Description}, {K::EncodedRest, S::Text}};
constexpr FrameFieldLayout kCommentLayout[] = {{K::Encoding, S::Encoding},
                                               {K::Lang, S::Language},
                                               {K::EncodedZ, S::Description},
                                               {K::EncodedRest, S::Text}};
constexpr FrameFieldLayout kUserUrlLayout[] = {
    {K::Encoding, S::Encoding}, {K::EncodedZ, S::Description}, {K::Latin1Rest, S::Url}};
constexpr FrameFieldLayout kPictureLayout[] = {{K::Encoding, S::Encoding},
                                               {K::Latin1Z, S::Mime},
                                               {K::Byte, S::PictureType},
                                               {K::EncodedZ, S::Description},
                                               {K::BinaryRest, S::Data}};
constexpr FrameFieldLayout kPicture22Layout[] = {{K::Encoding, S::Encoding},
                                                 {K::Format3, S::ImageFormat},
                                                 {K::Byte, S::PictureType},
                                                 {K::EncodedZ, S::Description},
                                                 {K::BinaryRest, S::Data}};
constexpr FrameFieldLayout kObjectLayout[] = {{K::Encoding, S::Encoding},
                                              {K::Latin1Z, S::Mime},
                                              {K::EncodedZ, S::FileName},
                                              {K::EncodedZ, S::Description},
                                              {K::BinaryRest, S::Data}};
constexpr FrameFieldLayout kTermsLayout[] = {
    {K::Encoding, S::Encoding}, {K::Lang, S::Language}, {K::EncodedRest, S::Text}};

struct LayoutEntry {
    std::string_view id;
    std::span<const FrameFieldLayout> layout;
};

// Every frame we interpret, by identifier; text frames not named here
// ("T" and three more characters) share kTextLayout.
constexpr LayoutEntry kLayouts[] = {
    {"TXXX", kUserTextLayout}, {"COMM", kCommentLayout}, {"USLT", kCommentLayout},
    {"WXXX", kUserUrlLayout},  {"APIC", kPictureLayout}, {"USER", kTermsLayout},
    {"IPLS", kTextLayout},     {"GEOB", kObjectLayout},
};
// 2.2 frames whose layout differs from their 2.3 counterpart's.
constexpr LayoutEntry kLayouts22[] = {{"PIC", kPicture22Layout}};

// Which slots a kind of field can fill: the member's type must match.
constexpr bool SlotFits(FrameFieldLayout f) {
    switch (f.kind) {
        case K::Encoding:
            return f.slot == S::Encoding;
        case K::Byte:
            return f.slot == S::PictureType;
        case K::EncodedRest:
            return f.slot == S::Text;
        case K::BinaryRest:
            return f.slot == S::Data;
        case K::Lang:
        case K::Format3:
        case K::Latin1Z:
        case K::EncodedZ:
        case K::Latin1Rest:
            return f.slot == S::Language || f.slot == S::Description || f.slot == S::Mime ||
                   f.slot == S::ImageFormat || f.slot == S::Url || f.slot == S::FileName;
    }
    return false;
}

constexpr bool LayoutsFit() {
    auto fits = [](std::span<const LayoutEntry> table) {
        for (const auto& e : table) {
            for (const FrameFieldLayout f : e.layout) {
                if (!SlotFits(f))
                    return false;
            }
        }
        return true;
    };
    return fits(kLayouts) && fits(kLayouts22);
}
static_assert(LayoutsFit(), "a layout puts a field into a member of another type");

std::uint8_t& ByteSlot(FrameContent& c, FrameSlot slot) {
    return slot == S::Encoding ? c.encoding : c.pictureType;
}

// The text member a slot names (the three-byte codes are kept as text too).
template <typename Content>
auto& StringSlot(Content& c, FrameSlot slot) {
    switch (slot) {
        case S::Language:
            return c.language;
        case S::Mime:
            return c.mime;
        case S::ImageFormat:
            return c.imageFormat;
        case S::Url:
            return c.url;
        case S::FileName:
            return c.fileName;
        default:
            return c.description;
    }
}

// Every text a layout writes, for choosing the encoding that holds them all.
std::vector<std::string> TextsOf(std::span<const FrameFieldLayout> layout, const FrameContent& c) {
    std::vector<std::string> texts;
    for (const FrameFieldLayout f : layout) {
        switch (f.kind) {
            case K::Latin1Z:
            case K::EncodedZ:
            case K::Latin1Rest:
                texts.push_back(StringSlot(c, f.slot));
                break;
            case K::EncodedRest:
                texts.insert(texts.end(), c.text.begin(), c.text.end());
                break;
            default:
                break;
        }
    }
    return texts;
}

constexpr std::pair<std::string_view, std::string_view> kIds22[] = {
    {"BUF", "RBUF"}, {"CNT", "PCNT"}, {"COM", "COMM"}, {"CRA", "AENC"}, {"ETC", "ETCO"},
    {"EQU", "EQUA"}, {"GEO", "GEOB"}, {"IPL", "IPLS"}, {"LNK", "LINK"}, {"MCI", "MCDI"},
    {"MLL", "MLLT"}, {"PIC", "APIC"}, {"POP", "POPM"}, {"REV", "RVRB"}, {"RVA", "RVAD"},
    {"SLT", "SYLT"}, {"STC", "SYTC"}, {"TAL", "TALB"}, {"TBP", "TBPM"}, {"TCM", "TCOM"},
    {"TCO", "TCON"}, {"TCP", "TCMP"}, {"TCR", "TCOP"}, {"TDA", "TDAT"}, {"TDY", "TDLY"},
    {"TEN", "TENC"}, {"TFT", "TFLT"}, {"TIM", "TIME"}, {"TKE", "TKEY"}, {"TLA", "TLAN"},
    {"TLE", "TLEN"}, {"TMT", "TMED"}, {"TOA", "TOPE"}, {"TOF", "TOFN"}, {"TOL", "TOLY"},
    {"TOR", "TORY"}, {"TOT", "TOAL"}, {"TP1", "TPE1"}, {"TP2", "TPE2"}, {"TP3", "TPE3"},
    {"TP4", "TPE4"}, {"TPA", "TPOS"}, {"TPB", "TPUB"}, {"TRC", "TSRC"}, {"TRD", "TRDA"},
    {"TRK", "TRCK"}, {"TS2", "TSO2"}, {"TSA", "TSOA"}, {"TSC", "TSOC"}, {"TSI", "TSIZ"},
    {"TSP", "TSOP"}, {"TSS", "TSSE"}, {"TST", "TSOT"}, {"TT1", "TIT1"}, {"TT2", "TIT2"},
    {"TT3", "TIT3"}, {"TXT", "TEXT"}, {"TXX", "TXXX"}, {"TYE", "TYER"}, {"UFI", "UFID"},
    {"ULT", "USLT"}, {"WAF", "WOAF"}, {"WAR", "WOAR"}, {"WAS", "WOAS"}, {"WCM", "WCOM"},
    {"WCP", "WCOP"}, {"WPB", "WPUB"}, {"WXX", "WXXX"},
};

}  // namespace

std::uint32_t ReadSynchsafe(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 21 | std::uint32_t{p[1]} << 14 | std::uint32_t{p[2]} << 7 |
           std::uint32_t{p[3]};
}

std::uint32_t ReadBigEndian32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}

std::optional<Header> ParseHeader(ByteView b) {
    if (b.size() < kHeaderSize || b[0] != 'I' || b[1] != 'D' || b[2] != '3')
        return std::nullopt;
    if (b[3] == 0xFF || b[4] == 0xFF || ((b[6] | b[7] | b[8] | b[9]) & 0x80) != 0)
        return std::nullopt;
    return Header{b[3], b[4], b[5], ReadSynchsafe(b.data() + 6)};
}

Bytes RenderHeader23(std::uint32_t bodySize) {
    return Bytes{'I',
                 'D',
                 '3',
                 3,
                 0,
                 0,
                 static_cast<std::uint8_t>((bodySize >> 21) & 0x7F),
                 static_cast<std::uint8_t>((bodySize >> 14) & 0x7F),
                 static_cast<std::uint8_t>((bodySize >> 7) & 0x7F),
                 static_cast<std::uint8_t>(bodySize & 0x7F)};
}

Bytes RemoveUnsync(ByteView in, std::size_t mark, std::size_t* rawOfMark) {
    Bytes out;
    out.reserve(in.size());
    bool marked = false;
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (rawOfMark && !marked && out.size() == mark) {
            *rawOfMark = i;
            marked = true;
        }
        out.push_back(in[i]);
        if (in[i] == 0xFF && i + 1 < in.size() && in[i + 1] == 0x00)
            ++i;
    }
    if (rawOfMark && !marked)
        *rawOfMark = in.size();
    return out;
}

std::string_view Id22To23(std::string_view id22) {
    for (const auto& [from, to] : kIds22) {
        if (SameId(from, id22))
            return to;
    }
    return {};
}

std::string RawFrame::Id23() const {
    if (Major >= 3)
        return Id;
    const std::string_view mapped = Id22To23(Id);
    return mapped.empty() ? Id : std::string(mapped);
}

bool RawFrame::Compressed() const {
    if (Major == 3)
        return (FormatFlags & k23Compressed) != 0;
    return Major >= 4 && (FormatFlags & k24Compressed) != 0;
}

bool RawFrame::Encrypted() const {
    if (Major == 3)
        return (FormatFlags & k23Encrypted) != 0;
    return Major >= 4 && (FormatFlags & k24Encrypted) != 0;
}

std::optional<ByteView> RawFrame::Content() const {
    return ContentOf(*this, Data);
}

std::optional<ByteView> ContentOf(const RawFrame& frame, ByteView data) {
    if (frame.Compressed() || frame.Encrypted())
        return std::nullopt;
    std::size_t skip = 0;
    if (frame.Major == 3 && (frame.FormatFlags & k23Grouped))
        skip = 1;
    if (frame.Major >= 4)
        skip = ((frame.FormatFlags & k24Grouped) ? 1 : 0) +
               ((frame.FormatFlags & k24DataLength) ? 4 : 0);
    if (skip > data.size())
        return std::nullopt;
    return data.subspan(skip);
}

namespace {

// Where the frames start behind an extended header (ID3v2.3 3.2, ID3v2.4
// 3.2). Some writers set the flag without writing the header: when the
// size is not one the standard allows, or a frame starts right away, the
// frames start at the beginning of the body.
std::size_t ExtendedHeaderEnd(const Header& header, ByteView body) {
    if (body.size() < 10 || ValidId(body.data(), 4))
        return 0;
    if (header.Major == 3) {
        // The 2.3 size excludes its own four bytes: 6, or 10 with a CRC.
        const std::uint32_t n = ReadBigEndian32(body.data());
        return (n == 6 || n == 10) && n <= body.size() - 4 ? 4 + n : 0;
    }
    if (((body[0] | body[1] | body[2] | body[3]) & 0x80) != 0 || body[4] != 1)
        return 0;
    const std::uint32_t n = ReadSynchsafe(body.data());
    return (n >= 6 && n <= body.size()) ? n : 0;
}

}  // namespace

bool IsPadding(ByteView tail) {
    // Padding is usually a kilobyte or more of zeros: eight at a time.
    std::size_t from = 0;
    for (std::uint64_t word = 0; tail.size() - from >= sizeof word; from += sizeof word) {
        std::memcpy(&word, tail.data() + from, sizeof word);
        if (word != 0)
            break;
    }
    while (from < tail.size() && tail[from] == 0)
        ++from;
    const ByteView rest = tail.subspan(from);
    if (rest.empty())
        return true;
    // Behind zero padding: frames no reader takes any more.
    if (from > 0 && rest.size() >= 4 && ValidId(rest.data(), 4))
        return true;
    // A run of one byte value (0xFF, spaces) is filler too. Anything else
    // may be audio that a writer put inside the declared size, or a damaged
    // size reaching into the audio: it is kept.
    return std::all_of(rest.begin(), rest.end(), [&](std::uint8_t b) { return b == rest[0]; });
}

ParsedBody ParseBody(const Header& header, ByteView stored) {
    std::vector<RawFrame> frames;
    ParsedBody out = WalkFrames(header, stored, [&frames](RawFrame& frame, ByteView data) {
        if (frame.Data.empty())
            frame.Data.assign(data.begin(), data.end());
        frames.push_back(std::move(frame));
    });
    out.Frames = std::move(frames);
    return out;
}

ParsedBody WalkFrames(const Header& header, ByteView stored, const FrameVisitor& visit) {
    ParsedBody out;
    // 2.2 and 2.3 unsynchronise the whole tag, 2.4 each frame on its own.
    const bool wholeUnsync = header.Major < 4 && (header.Flags & kFlagUnsync) != 0;
    Bytes decoded;
    if (wholeUnsync)
        decoded = RemoveUnsync(stored);
    const ByteView body = wholeUnsync ? ByteView(decoded) : stored;

    std::size_t pos = 0;
    if (header.Major < 3 && (header.Flags & kFlagExtended) != 0) {
        // A compressed 2.2 tag: no scheme for it was ever defined.
        out.StoredFramesEnd = stored.size();
        out.Complete = false;
        return out;
    }
    if (header.Major >= 3 && (header.Flags & kFlagExtended) != 0)
        pos = ExtendedHeaderEnd(header, body);

    const std::size_t headerLen = header.Major < 3 ? 6 : 10;
    const std::size_t idLen = header.Major < 3 ? 3 : 4;
    std::size_t framesEnd = pos;
    std::size_t count = 0;
    // Bytes passed over since the last frame; a frame found behind them
    // means part of the tag was not understood.
    bool skipped = false;
    while (body.size() >= headerLen && pos <= body.size() - headerLen) {
        const std::uint8_t* p = body.data() + pos;
        // Padding starts where a frame identifier would start with a zero
        // byte; what lies behind it is not part of the tag, as for other
        // readers. Inside garbage a zero byte is more garbage.
        if (*p == 0 && !skipped)
            break;
        if (count == kMaxFrames) {
            out.Complete = false;
            break;
        }
        if (!ValidId(p, idLen)) {
            ++pos;  // garbage: look at the next byte
            skipped = true;
            continue;
        }
        std::size_t size = 0;
        if (header.Major < 3)
            size = std::size_t{p[3]} << 16 | std::size_t{p[4]} << 8 | p[5];
        else if (header.Major == 3)
            size = ReadBigEndian32(p + 4);
        else
            size = FrameSize24(body, pos);
        if (size > body.size() - pos - headerLen) {
            // A frame cut off by the end of the tag.
            out.Complete = false;
            ++pos;
            skipped = true;
            continue;
        }
        if (skipped)
            out.Complete = false;
        skipped = false;
        RawFrame frame;
        frame.Id.assign(reinterpret_cast<const char*>(p), idLen);
        frame.Major = header.Major;
        if (header.Major >= 3) {
            frame.StatusFlags = p[8];
            frame.FormatFlags = p[9];
        }
        const ByteView data = body.subspan(pos + headerLen, size);
        if (header.Major >= 4 &&
            ((frame.FormatFlags & k24Unsync) != 0 || (header.Flags & kFlagUnsync) != 0)) {
            frame.Data = RemoveUnsync(data);
            frame.FormatFlags &= static_cast<std::uint8_t>(~k24Unsync);
            visit(frame, frame.Data);
        } else {
            visit(frame, data);
        }
        ++count;
        pos += headerLen + size;
        framesEnd = pos;
    }

    out.TailIsPadding = IsPadding(body.subspan(std::min(framesEnd, body.size())));
    out.StoredFramesEnd = framesEnd;
    if (wholeUnsync)
        RemoveUnsync(stored, framesEnd, &out.StoredFramesEnd);
    return out;
}

std::optional<Bytes> RenderCarried23(const RawFrame& frame) {
    std::string id;
    std::uint8_t status = 0;
    std::uint8_t format = 0;
    Bytes prefix;
    ByteView payload(frame.Data);

    if (frame.Major < 3) {
        const std::string_view mapped = Id22To23(frame.Id);
        // No 2.3 name: keep the data under an experimental identifier.
        id = mapped.empty() ? "X" + frame.Id : std::string(mapped);
    } else if (frame.Major == 3) {
        // Already in the 2.3 layout: flags and data go back as they were.
        id = frame.Id;
        status = frame.StatusFlags;
        format = frame.FormatFlags;
        if ((format & k23Grouped) != 0 && !frame.Compressed() && !frame.Encrypted()) {
            if (payload.empty())
                return std::nullopt;
            prefix.push_back(payload[0]);
            payload = payload.subspan(1);
        }
    } else {
        id = frame.Id;
        const std::uint8_t f = frame.FormatFlags;
        std::size_t pos = 0;
        std::optional<std::uint8_t> group, method;
        std::optional<std::uint32_t> dataLength;
        if ((f & k24Grouped) != 0) {
            if (pos >= payload.size())
                return std::nullopt;
            group = payload[pos++];
        }
        if ((f & k24Encrypted) != 0) {
            if (pos >= payload.size())
                return std::nullopt;
            method = payload[pos++];
        }
        if ((f & k24DataLength) != 0) {
            if (payload.size() - pos < 4)
                return std::nullopt;
            dataLength = ReadSynchsafe(payload.data() + pos);
            pos += 4;
        }
        payload = payload.subspan(pos);
        const bool compressed = (f & k24Compressed) != 0;
        // 2.3 needs the inflated size of a compressed frame; without it the
        // frame could only be written as garbage.
        if (compressed && !dataLength)
            return std::nullopt;
        // Status flags move one bit up from 2.4 to 2.3.
        status = static_cast<std::uint8_t>((frame.StatusFlags & 0x70) << 1);
        if (compressed) {
            format |= k23Compressed;
            PutBigEndian32(prefix, *dataLength);
        }
        if (method) {
            format |= k23Encrypted;
            prefix.push_back(*method);
        }
        if (group) {
            format |= k23Grouped;
            prefix.push_back(*group);
        }
    }

    Bytes data = prefix;
    bool converted = false;
    // 2.3 knows only encodings 0 and 1; re-encode other text when it is readable.
    if ((format & (k23Compressed | k23Encrypted)) == 0 && !payload.empty() &&
        (payload[0] == kEncUtf8 || payload[0] == kEncUtf16Be)) {
        const auto layout = LayoutFor(id);
        if (!layout.empty() && layout[0].kind == FrameField::Encoding) {
            if (auto content = ReadFields(layout, payload, kLatin1Name)) {
                content->encoding = ChooseEncoding(TextsOf(layout, *content));
                const Bytes rendered = WriteFields(layout, *content);
                data.insert(data.end(), rendered.begin(), rendered.end());
                converted = true;
            }
        }
    }
    if (!converted)
        data.insert(data.end(), payload.begin(), payload.end());

    Bytes out(id.begin(), id.end());
    PutBigEndian32(out, static_cast<std::uint32_t>(data.size()));
    out.push_back(status);
    out.push_back(format);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes RenderFrame23(std::string_view id, const Bytes& data) {
    Bytes out(id.begin(), id.end());
    PutBigEndian32(out, static_cast<std::uint32_t>(data.size()));
    out.push_back(0);
    out.push_back(0);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes RenderHeader24(std::uint32_t bodySize) {
    Bytes out = RenderHeader23(bodySize);
    out[3] = 4;
    return out;
}

namespace {

void PutSynchsafe(Bytes& out, std::uint32_t v) {
    for (int shift = 21; shift >= 0; shift -= 7)
        out.push_back(static_cast<std::uint8_t>((v >> shift) & 0x7F));
}

}  // namespace

Bytes RenderFrame24(std::string_view id, const Bytes& data) {
    Bytes out(id.begin(), id.end());
    PutSynchsafe(out, static_cast<std::uint32_t>(data.size()));
    out.push_back(0);
    out.push_back(0);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::optional<Bytes> RenderKept(const RawFrame& frame) {
    if (frame.Major < 3 || frame.Id.size() != 4 ||
        (frame.Major >= 4 && frame.Data.size() > kMaxBodySize))
        return std::nullopt;
    Bytes out(frame.Id.begin(), frame.Id.end());
    const auto size = static_cast<std::uint32_t>(frame.Data.size());
    if (frame.Major == 3)
        PutBigEndian32(out, size);
    else
        PutSynchsafe(out, size);
    out.push_back(frame.StatusFlags);
    out.push_back(frame.Major >= 4 ? static_cast<std::uint8_t>(frame.FormatFlags & ~k24Unsync)
                                   : frame.FormatFlags);
    out.insert(out.end(), frame.Data.begin(), frame.Data.end());
    return out;
}

// ---- Text ----

std::string DecodeText(ByteView bytes, std::uint8_t encoding, std::string_view legacyCodePage) {
    switch (encoding) {
        case kEncUtf16Bom:
            if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)
                return Utf16ToUtf8(bytes.data() + 2, bytes.size() - 2, true);
            if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
                return Utf16ToUtf8(bytes.data() + 2, bytes.size() - 2, false);
            return Utf16ToUtf8(bytes.data(), bytes.size(), false);
        case kEncUtf16Be:
            if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)
                bytes = bytes.subspan(2);
            return Utf16ToUtf8(bytes.data(), bytes.size(), true);
        case kEncUtf8:
            return std::string(bytes.begin(), bytes.end());
        default:
            return CodePageToUtf8(
                std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                legacyCodePage);
    }
}

Bytes EncodeText(std::string_view utf8, std::uint8_t encoding) {
    Bytes out;
    switch (encoding) {
        case kEncUtf16Bom:
            out = Utf8ToUtf16(utf8, false, false);
            out.insert(out.begin(), {0xFF, 0xFE});
            return out;
        case kEncUtf16Be:
            return Utf8ToUtf16(utf8, true, false);
        case kEncUtf8:
            return Bytes(utf8.begin(), utf8.end());
        default: {
            const std::string latin1 = Utf8ToCodePage(utf8, kLatin1Name);
            return Bytes(latin1.begin(), latin1.end());
        }
    }
}

namespace {

// The length of the text at the start of `bytes` up to its terminator (two
// zero bytes on a 2-byte boundary in UTF-16), and the terminator's width;
// nullopt when there is none.
std::optional<std::pair<std::size_t, std::size_t>> Terminated(ByteView bytes,
                                                              std::uint8_t encoding) {
    const bool wide = encoding == kEncUtf16Bom || encoding == kEncUtf16Be;
    if (!wide) {
        for (std::size_t i = 0; i < bytes.size(); ++i)
            if (bytes[i] == 0)
                return std::pair{i, std::size_t{1}};
        return std::nullopt;
    }
    for (std::size_t i = 0; bytes.size() >= 2 && i <= bytes.size() - 2; i += 2)
        if (bytes[i] == 0 && bytes[i + 1] == 0)
            return std::pair{i, std::size_t{2}};
    return std::nullopt;
}

}  // namespace

std::optional<SyncedLyrics> ParseSylt(ByteView body, std::string_view legacyCodePage) {
    // encoding, language (3), time stamp format, content type, descriptor
    if (body.size() < 6)
        return std::nullopt;
    SyncedLyrics out;
    const std::uint8_t encoding = body[0];
    if (encoding > kEncUtf8)
        return std::nullopt;
    out.language.assign(reinterpret_cast<const char*>(body.data()) + 1, 3);
    out.timeFormat = body[4];
    out.contentType = body[5];
    ByteView rest = body.subspan(6);
    const auto descriptor = Terminated(rest, encoding);
    if (!descriptor)
        return std::nullopt;
    out.description = DecodeText(rest.first(descriptor->first), encoding, legacyCodePage);
    rest = rest.subspan(descriptor->first + descriptor->second);
    while (!rest.empty() && out.lines.size() < kMaxSyltLines) {
        const auto text = Terminated(rest, encoding);
        if (!text || rest.size() - text->first - text->second < 4)
            break;
        SyncedLine line;
        line.text = DecodeText(rest.first(text->first), encoding, legacyCodePage);
        const ByteView time = rest.subspan(text->first + text->second, 4);
        line.time = (std::uint32_t{time[0]} << 24) | (std::uint32_t{time[1]} << 16) |
                    (std::uint32_t{time[2]} << 8) | std::uint32_t{time[3]};
        out.lines.push_back(std::move(line));
        rest = rest.subspan(text->first + text->second + 4);
    }
    return out;
}

Bytes SyltBody(const SyncedLyrics& lyrics) {
    std::vector<std::string> texts{lyrics.description};
    for (const SyncedLine& line : lyrics.lines)
        texts.push_back(line.text);
    const std::uint8_t encoding = ChooseEncoding(texts);
    const std::size_t terminator = encoding == kEncLatin1 ? 1 : 2;
    Bytes out{encoding};
    std::string language = lyrics.language;
    language.resize(3, ' ');
    out.insert(out.end(), language.begin(), language.end());
    out.push_back(lyrics.timeFormat);
    out.push_back(lyrics.contentType);
    auto text = [&](const std::string& value) {
        const Bytes encoded = EncodeText(value, encoding);
        out.insert(out.end(), encoded.begin(), encoded.end());
        out.insert(out.end(), terminator, 0);
    };
    text(lyrics.description);
    for (const SyncedLine& line : lyrics.lines) {
        text(line.text);
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<std::uint8_t>(line.time >> shift));
    }
    return out;
}

std::string LrcText(const SyncedLyrics& lyrics) {
    std::string out;
    for (const SyncedLine& line : lyrics.lines) {
        const std::uint32_t minutes = line.time / 60000;
        const std::uint32_t seconds = line.time / 1000 % 60;
        const std::uint32_t hundredths = line.time % 1000 / 10;
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "[%02u:%02u.%02u]", static_cast<unsigned>(minutes),
                      static_cast<unsigned>(seconds), static_cast<unsigned>(hundredths));
        out += stamp;
        out += line.text;
        out += '\n';
    }
    return out;
}

std::uint8_t ChooseEncoding(const std::vector<std::string>& texts) {
    for (const auto& t : texts) {
        if (!FitsCodePage(t, kLatin1Name))
            return kEncUtf16Bom;
    }
    return kEncLatin1;
}

// ---- Field lists ----

std::string FrameContent::Text() const {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i > 0)
            out += '/';
        out += text[i];
    }
    return out;
}

std::span<const FrameFieldLayout> LayoutFor(std::string_view id) {
    for (const auto& e : kLayouts) {
        if (SameId(e.id, id))
            return e.layout;
    }
    if (id.size() == 4 && id[0] == 'T')
        return kTextLayout;
    return {};
}

std::span<const FrameFieldLayout> LayoutOf(const RawFrame& frame) {
    if (frame.Major < 3) {
        for (const auto& e : kLayouts22) {
            if (SameId(e.id, frame.Id))
                return e.layout;
        }
    }
    return LayoutFor(frame.Id23());
}

std::optional<FrameContent> ReadFields(std::span<const FrameFieldLayout> layout, ByteView data,
                                       std::string_view legacyCodePage) {
    FrameContent c;
    std::size_t pos = 0;
    std::uint8_t encoding = kEncLatin1;
    auto text = [&](ByteView bytes) { return DecodeText(bytes, encoding, legacyCodePage); };
    for (const FrameFieldLayout field : layout) {
        const std::size_t left = data.size() - pos;
        switch (field.kind) {
            case FrameField::Encoding:
            case FrameField::Byte:
                if (left < 1)
                    return std::nullopt;
                ByteSlot(c, field.slot) = data[pos++];
                if (field.kind == FrameField::Encoding)
                    encoding = c.encoding;
                break;
            case FrameField::Lang:
            case FrameField::Format3:
                if (left < 3)
                    return std::nullopt;
                StringSlot(c, field.slot)
                    .assign(data.begin() + static_cast<std::ptrdiff_t>(pos),
                            data.begin() + static_cast<std::ptrdiff_t>(pos + 3));
                pos += 3;
                break;
            case FrameField::Latin1Z:
            case FrameField::EncodedZ: {
                const bool latin1 = field.kind == FrameField::Latin1Z;
                const std::size_t width = latin1 ? 1 : TerminatorWidth(encoding);
                const std::size_t end = FindTerminator(data, pos, width);
                const ByteView bytes = data.subspan(pos, end - pos);
                StringSlot(c, field.slot) =
                    latin1 ? DecodeText(bytes, kEncLatin1, kLatin1Name) : text(bytes);
                pos = std::min(data.size(), end + width);
                break;
            }
            case FrameField::EncodedRest: {
                const std::size_t width = TerminatorWidth(encoding);
                while (pos < data.size()) {
                    const std::size_t end = FindTerminator(data, pos, width);
                    c.text.push_back(text(data.subspan(pos, end - pos)));
                    pos = std::min(data.size(), end + width);
                }
                break;
            }
            case FrameField::Latin1Rest: {
                const std::size_t end = FindTerminator(data, pos, 1);
                StringSlot(c, field.slot) =
                    DecodeText(data.subspan(pos, end - pos), kEncLatin1, kLatin1Name);
                pos = data.size();
                break;
            }
            case FrameField::BinaryRest:
                c.data.assign(data.begin() + static_cast<std::ptrdiff_t>(pos), data.end());
                pos = data.size();
                break;
        }
    }
    return c;
}

Bytes WriteFields(std::span<const FrameFieldLayout> layout, const FrameContent& c) {
    Bytes out;
    std::uint8_t encoding = kEncLatin1;
    auto append = [&out](const Bytes& b) { out.insert(out.end(), b.begin(), b.end()); };
    for (const FrameFieldLayout field : layout) {
        switch (field.kind) {
            case FrameField::Encoding:
                encoding = c.encoding;
                out.push_back(encoding);
                break;
            case FrameField::Byte:
                out.push_back(c.pictureType);
                break;
            case FrameField::Lang:
            case FrameField::Format3: {
                std::string three = StringSlot(c, field.slot);
                three.resize(3, ' ');
                out.insert(out.end(), three.begin(), three.end());
                break;
            }
            case FrameField::Latin1Z:
                append(EncodeText(StringSlot(c, field.slot), kEncLatin1));
                out.push_back(0);
                break;
            case FrameField::EncodedZ:
                append(EncodeText(StringSlot(c, field.slot), encoding));
                out.insert(out.end(), TerminatorWidth(encoding), 0);
                break;
            case FrameField::EncodedRest:
                for (std::size_t t = 0; t < c.text.size(); ++t) {
                    if (t > 0)
                        out.insert(out.end(), TerminatorWidth(encoding), 0);
                    append(EncodeText(c.text[t], encoding));
                }
                break;
            case FrameField::Latin1Rest:
                append(EncodeText(StringSlot(c, field.slot), kEncLatin1));
                break;
            case FrameField::BinaryRest:
                append(c.data);
                break;
        }
    }
    return out;
}

std::optional<Picture> ReadPicture(const RawFrame& frame, ByteView data,
                                   std::string_view legacyCodePage) {
    const auto content = ContentOf(frame, data);
    const auto layout = LayoutOf(frame);
    if (!content || layout.empty())
        return std::nullopt;
    auto fields = ReadFields(layout, *content, legacyCodePage);
    if (!fields)
        return std::nullopt;
    Picture p;
    if (frame.Major < 3)
        p.MimeType = fields->imageFormat == "PNG" ? "image/png" : "image/jpg";
    else
        p.MimeType = std::move(fields->mime);
    p.PictureType = fields->pictureType;
    p.Description = std::move(fields->description);
    p.Data = std::move(fields->data);
    return p;
}

Bytes PictureBody(const Picture& picture) {
    FrameContent c;
    c.encoding = ChooseEncoding({picture.Description});
    c.mime = picture.MimeType;
    c.pictureType = picture.PictureType;
    c.description = picture.Description;
    c.data = picture.Data;
    return WriteFields(LayoutFor("APIC"), c);
}

}  // namespace sondrel::id3v2
