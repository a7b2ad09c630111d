// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/ogg.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "tags/file_io.h"
#include "tags/file_snapshot.h"
#include "tags/id3v2_frames.h"
#include "tags/region_write.h"
#include "tags/vorbis_comment.h"

namespace sondrel {

namespace {

constexpr const char* kMsgNoFile = "File does not exist!";
constexpr const char* kMsgNotOgg = "File does not contain a Ogg or wrong file format!";
constexpr const char* kMsgNoIdent = "File does not contain a OGG or wrong file format!";
constexpr const char* kMsgFileError = "File error!";
constexpr const char* kMsgRead = "Reading the Ogg file";
constexpr const char* kMsgSave = "Saving the Ogg comments";
constexpr const char* kMsgRemove = "Removing the Ogg comments";
constexpr const char* kMsgPicture = "Changing the Ogg pictures";

// Ogg page layout (RFC 3533).
constexpr std::size_t kPageHeaderSize = 27;
constexpr std::size_t kMaxSegments = 255;
constexpr std::uint8_t kFlagContinued = 0x01;
constexpr std::uint8_t kFlagBos = 0x02;
constexpr std::uint8_t kFlagEos = 0x04;
constexpr std::uint64_t kNoGranule = ~std::uint64_t{0};

// Vorbis header packets.
constexpr std::size_t kIdentSize = 30;
constexpr std::size_t kSignatureSize = 7;

// Bounds on what a header region may make us hold in memory. A comment
// packet with an embedded picture can run to megabytes; nothing sane needs more.
constexpr std::size_t kMaxHeaderPacketBytes = 64u << 20;
constexpr std::size_t kMaxHeaderPages = 4096;

// The playing time comes from the last page header found in the file's tail.
constexpr int kGranuleWindows = 50;
constexpr std::int64_t kGranuleStep = 240;
// Consecutive windows overlap by the 14 header bytes read, so no page
// header falls between two of them.
constexpr std::size_t kGranuleWindowSize = kGranuleStep + 14;

constexpr std::uint32_t kMinSampleRate = 8000;
constexpr std::uint32_t kMaxSampleRate = 192000;
constexpr std::int64_t kMinKbps = 16;
constexpr std::int64_t kMaxKbps = 1000;

// Where the record keeps each field, in the field table's order.
constexpr std::array<std::string VorbisStreamInfo::*, kFieldCount> kMembers{
    &VorbisStreamInfo::track,      &VorbisStreamInfo::title,     &VorbisStreamInfo::artist,
    &VorbisStreamInfo::album,      &VorbisStreamInfo::year,      &VorbisStreamInfo::Genre,
    &VorbisStreamInfo::comment,    &VorbisStreamInfo::lyrics,    &VorbisStreamInfo::composer,
    &VorbisStreamInfo::OrigArtist, &VorbisStreamInfo::copyright, &VorbisStreamInfo::URL,
    &VorbisStreamInfo::EncodedBy,
};

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t Le64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(Le32(p)) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32);
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Ogg CRC-32: polynomial 0x04C11DB7, initial value 0, not reflected, no final XOR.
constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = i << 24;
        for (int k = 0; k < 8; ++k)
            r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : (r << 1);
        table[i] = r;
    }
    return table;
}
constexpr auto kCrcTable = MakeCrcTable();

std::uint32_t OggCrc(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i)
        crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

// Stores the CRC of a whole serialized page in its checksum field.
void SealPage(Bytes& page) {
    PutLe32(page.data() + 22, 0);
    PutLe32(page.data() + 22, OggCrc(page.data(), page.size()));
}

// Whether a whole serialized page carries the CRC of its bytes.
bool PageCrcHolds(const Bytes& page) {
    Bytes copy = page;
    PutLe32(copy.data() + 22, 0);
    return OggCrc(copy.data(), copy.size()) == Le32(page.data() + 22);
}

bool HasSignature(const Bytes& packet, std::uint8_t type) {
    return packet.size() >= kSignatureSize && packet[0] == type &&
           std::memcmp(packet.data() + 1, "vorbis", 6) == 0;
}

bool IsIdentPacket(const Bytes& packet) {
    return packet.size() >= kIdentSize && HasSignature(packet, 1);
}

// Opus (RFC 7845): "OpusHead" with a version whose major part is 0, then
// the comment packet "OpusTags" without a framing byte, and no third header.
constexpr std::size_t kOpusHeadSize = 19;
constexpr std::string_view kOpusHead = "OpusHead";
constexpr std::string_view kOpusTags = "OpusTags";
constexpr std::uint32_t kOpusRate = 48000;

bool StartsWith(const Bytes& packet, std::string_view magic) {
    return packet.size() >= magic.size() &&
           std::memcmp(packet.data(), magic.data(), magic.size()) == 0;
}

bool IsOpusHead(const Bytes& packet) {
    return packet.size() >= kOpusHeadSize && StartsWith(packet, kOpusHead) && packet[8] < 16;
}

// Ogg FLAC (the FLAC-in-Ogg mapping 1.0): "\x7FFLAC", version 1.x, the
// number of header packets after this one, "fLaC" and the STREAMINFO block;
// each later header packet is one metadata block, the comments first.
constexpr std::string_view kFlacHead =
    "\x7F"
    "FLAC";
constexpr std::size_t kFlacHeadSize = 13 + 4 + 34;
constexpr std::size_t kFlacBlockHeaderSize = 4;
constexpr std::uint8_t kFlacPaddingBlock = 1;
constexpr std::uint8_t kFlacCommentBlock = 4;
constexpr std::uint8_t kFlacPictureBlock = 6;
constexpr std::uint8_t kFlacLastBlock = 0x80;
constexpr std::uint32_t kFlacMaxBlockBytes = 0xFFFFFF;
// The identification packet counts the header packets after it in 16 bits.
constexpr std::size_t kFlacMaxHeaderPackets = 0xFFFF;

bool IsFlacHead(const Bytes& packet) {
    return packet.size() >= kFlacHeadSize && StartsWith(packet, kFlacHead) && packet[5] == 1 &&
           std::memcmp(packet.data() + 9, "fLaC", 4) == 0 && (packet[13] & 0x7F) == 0;
}

// What the codec of a stream makes of its header packets.
struct CodecLayout {
    OggCodec codec;
    std::size_t headerPackets;  // 0: not known (Ogg FLAC that does not say)
    std::size_t signatureSize;  // of the comment packet
    bool framingByte;
};
constexpr CodecLayout kVorbisLayout{OggCodec::Vorbis, 3, kSignatureSize, true};
constexpr CodecLayout kOpusLayout{OggCodec::Opus, 2, kOpusTags.size(), false};

std::optional<CodecLayout> CodecOf(const Bytes& ident) {
    if (IsIdentPacket(ident))
        return kVorbisLayout;
    if (IsOpusHead(ident))
        return kOpusLayout;
    if (IsFlacHead(ident)) {
        const std::size_t more = static_cast<std::size_t>(ident[7] << 8 | ident[8]);
        return CodecLayout{OggCodec::Flac, more == 0 ? 0 : more + 1, kFlacBlockHeaderSize, false};
    }
    return std::nullopt;
}

// An Ogg FLAC header packet holding one metadata block of `type`, whose
// length is the packet's.
bool IsFlacBlock(const Bytes& packet, std::uint8_t type) {
    return packet.size() >= kFlacBlockHeaderSize && (packet[0] & 0x7F) == type &&
           (std::uint32_t{packet[1]} << 16 | std::uint32_t{packet[2]} << 8 | packet[3]) ==
               packet.size() - kFlacBlockHeaderSize;
}

bool IsCommentPacket(const Bytes& packet, const CodecLayout& codec) {
    switch (codec.codec) {
        case OggCodec::Opus:
            return StartsWith(packet, kOpusTags);
        case OggCodec::Flac:
            // The block's length must be the packet's: the list is read inside it.
            return IsFlacBlock(packet, kFlacCommentBlock);
        case OggCodec::Vorbis:
            break;
    }
    return HasSignature(packet, 3);
}

// The key of a comment in upper case, and its value.
std::pair<std::string, std::string_view> SplitComment(const std::string& comment) {
    const auto eq = comment.find('=');
    if (eq == std::string::npos)
        return {};
    return {vorbis::AsciiUpper(std::string_view(comment).substr(0, eq)),
            std::string_view(comment).substr(eq + 1)};
}

// Size of an ID3v2 tag at the start of the file (header included), or 0.
std::int64_t Id3v2Size(const ByteSource& f) {
    const auto h = f.ReadAt(0, id3v2::kHeaderSize);
    if (!h)
        return 0;
    const auto header = id3v2::ParseHeader(*h);
    return header ? std::int64_t{header->BodySize} + std::int64_t{id3v2::kHeaderSize} : 0;
}

struct PageHeader {
    std::int64_t offset = 0;
    std::uint8_t flags = 0;
    std::uint64_t granule = 0;
    std::uint32_t serial = 0;
    std::uint32_t sequence = 0;
    Bytes lacing;
    std::int64_t bodySize = 0;

    std::int64_t BodyOffset() const {
        return offset + static_cast<std::int64_t>(kPageHeaderSize + lacing.size());
    }
    std::int64_t Size() const {
        return static_cast<std::int64_t>(kPageHeaderSize + lacing.size()) + bodySize;
    }
};

// The page header at `offset`, or nullopt when there is no complete page there.
std::optional<PageHeader> ReadPageHeader(const ByteSource& f, std::int64_t offset,
                                         std::int64_t fileSize) {
    if (offset < 0 || offset > fileSize - static_cast<std::int64_t>(kPageHeaderSize))
        return std::nullopt;
    const auto h = f.ReadAt(offset, kPageHeaderSize);
    if (!h || std::memcmp(h->data(), "OggS", 4) != 0)
        return std::nullopt;
    PageHeader page;
    page.offset = offset;
    page.flags = (*h)[5];
    page.granule = Le64(h->data() + 6);
    page.serial = Le32(h->data() + 14);
    page.sequence = Le32(h->data() + 18);
    const std::size_t segments = (*h)[26];
    const auto lacing = f.ReadAt(offset + static_cast<std::int64_t>(kPageHeaderSize), segments);
    if (!lacing)
        return std::nullopt;
    page.lacing = *lacing;
    for (const auto v : page.lacing)
        page.bodySize += v;
    const std::int64_t body = page.BodyOffset();
    if (body > fileSize || page.bodySize > fileSize - body)
        return std::nullopt;
    return page;
}

enum class ParseError { None, NotOgg, NoIdent, FileError };

constexpr std::size_t kMidPacket = ~std::size_t{0};

// The pages of one logical stream from its first page to the page on which
// its `want`-th packet ends, with the packets they hold.
struct HeaderRegion {
    std::vector<PageHeader> pages;
    // Per page: the packet that starts at its first byte, or kMidPacket when
    // the page goes on with a packet begun before it.
    std::vector<std::size_t> fresh;
    bool foreign = false;  // pages of another stream lie in between
    std::vector<Bytes> packets;
    Bytes tail;  // start of a packet that continues after the last page
    std::int64_t end = 0;
};

ParseError ParseHeaders(const ByteSource& f, std::int64_t start, std::int64_t fileSize,
                        std::size_t want, HeaderRegion& region) {
    const auto magic = f.ReadUpTo(start, 4);
    if (!magic || magic->size() < 4 || std::memcmp(magic->data(), "OggS", 4) != 0)
        return ParseError::NotOgg;

    std::optional<std::uint32_t> serial;
    Bytes current;
    std::int64_t pos = start;
    std::size_t pagesSeen = 0;
    while (region.packets.size() < want) {
        const auto page = ReadPageHeader(f, pos, fileSize);
        if (!page || ++pagesSeen > kMaxHeaderPages) {
            if (region.packets.empty())
                return ParseError::NoIdent;
            if (region.packets.size() == 1 &&
                !IsCommentPacket(current, *CodecOf(region.packets[0])))
                return ParseError::NotOgg;
            return ParseError::FileError;
        }
        pos += page->Size();
        if (!serial)
            serial = page->serial;
        if (page->serial != *serial) {
            region.foreign = true;
            continue;
        }
        const auto body = f.ReadAt(page->BodyOffset(), static_cast<std::size_t>(page->bodySize));
        if (!body)
            return ParseError::FileError;
        region.fresh.push_back(current.empty() ? region.packets.size() : kMidPacket);
        std::size_t at = 0;
        for (const auto v : page->lacing) {
            current.insert(current.end(), body->begin() + static_cast<std::ptrdiff_t>(at),
                           body->begin() + static_cast<std::ptrdiff_t>(at + v));
            at += v;
            if (current.size() > kMaxHeaderPacketBytes)
                return ParseError::FileError;
            if (v < 255) {
                region.packets.push_back(std::move(current));
                current.clear();
                if (region.packets.size() == 1 && !CodecOf(region.packets[0]))
                    return ParseError::NoIdent;
            }
        }
        region.pages.push_back(*page);
    }
    region.tail = std::move(current);
    region.end = pos;
    return ParseError::None;
}

// One page of the new header region, before numbering.
struct NewPage {
    std::uint8_t flags = 0;
    std::uint64_t granule = 0;
    Bytes lacing;
    Bytes body;
};

// Lays `packets` (then `tail`, a packet that goes on after these pages) out on
// fresh pages of at most 255 segments. Pages on which a packet ends get
// `granule`; the others get -1, as no packet is complete on them.
void Paginate(const std::vector<const Bytes*>& packets, const Bytes& tail, std::uint64_t granule,
              std::vector<NewPage>& out) {
    Bytes lacing;
    Bytes body;
    for (const Bytes* p : packets) {
        lacing.insert(lacing.end(), p->size() / 255, 255);
        lacing.push_back(static_cast<std::uint8_t>(p->size() % 255));
        body.insert(body.end(), p->begin(), p->end());
    }
    // A packet cut by a page end only ever holds full 255-byte segments.
    lacing.insert(lacing.end(), tail.size() / 255, 255);
    body.insert(body.end(), tail.begin(), tail.end());

    std::size_t seg = 0;
    std::size_t at = 0;
    bool continued = false;
    while (seg < lacing.size()) {
        NewPage page;
        const std::size_t n = std::min(kMaxSegments, lacing.size() - seg);
        page.lacing.assign(lacing.begin() + static_cast<std::ptrdiff_t>(seg),
                           lacing.begin() + static_cast<std::ptrdiff_t>(seg + n));
        std::size_t bytes = 0;
        bool ends = false;
        for (const auto v : page.lacing) {
            bytes += v;
            ends = ends || v < 255;
        }
        page.body.assign(body.begin() + static_cast<std::ptrdiff_t>(at),
                         body.begin() + static_cast<std::ptrdiff_t>(at + bytes));
        page.flags = continued ? kFlagContinued : 0;
        page.granule = ends ? granule : kNoGranule;
        continued = page.lacing.back() == 255;
        seg += n;
        at += bytes;
        out.push_back(std::move(page));
    }
}

Bytes SerializePage(const NewPage& page, std::uint32_t serial, std::uint32_t sequence) {
    Bytes out(kPageHeaderSize);
    std::memcpy(out.data(), "OggS", 4);
    out[4] = 0;
    out[5] = page.flags;
    for (int i = 0; i < 8; ++i)
        out[6 + i] = static_cast<std::uint8_t>(page.granule >> (8 * i));
    PutLe32(out.data() + 14, serial);
    PutLe32(out.data() + 18, sequence);
    out[26] = static_cast<std::uint8_t>(page.lacing.size());
    out.insert(out.end(), page.lacing.begin(), page.lacing.end());
    out.insert(out.end(), page.body.begin(), page.body.end());
    SealPage(out);
    return out;
}

// What a comment packet holds besides the fields.
struct CommentContent : vorbis::CommentList {
    Bytes trailing;  // bytes after the framing byte, kept by a save
};

// Reads the strings of a comment packet (after its signature). Strings read
// before a fault stay in `out`.
ParseError ParseComment(const Bytes& packet, const CodecLayout& codec, CommentContent& out) {
    const auto body = std::span<const std::uint8_t>(packet).subspan(codec.signatureSize);
    const vorbis::ListFault fault = vorbis::ParseList(body, out);
    if (fault == vorbis::ListFault::Damaged)
        return ParseError::FileError;
    // A Vorbis list cut short is missing its framing byte.
    std::size_t pos = codec.signatureSize + out.end;
    if (fault == vorbis::ListFault::Truncated)
        return ParseError::NotOgg;
    if (codec.framingByte) {
        if (pos >= packet.size() || packet[pos] != 1)
            return ParseError::NotOgg;
        ++pos;
    }
    out.trailing.assign(packet.begin() + static_cast<std::ptrdiff_t>(pos), packet.end());
    return ParseError::None;
}

// `old` is the comment packet read, whose signature a FLAC block keeps
// (its last-block flag) with the new length.
Bytes BuildCommentPacket(const CodecLayout& codec, const Bytes& old, std::string_view vendor,
                         const std::vector<std::string>& comments, const Bytes& trailing) {
    const Bytes list = vorbis::BuildList(vendor, comments);
    Bytes p;
    if (codec.codec == OggCodec::Flac) {
        const std::size_t n = list.size() + trailing.size();
        if (n > kFlacMaxBlockBytes)
            return {};
        p = {old[0], static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
             static_cast<std::uint8_t>(n)};
    } else if (codec.codec == OggCodec::Opus) {
        p.assign(kOpusTags.begin(), kOpusTags.end());
    } else {
        p = {3, 'v', 'o', 'r', 'b', 'i', 's'};
    }
    p.insert(p.end(), list.begin(), list.end());
    if (codec.framingByte)
        p.push_back(1);
    p.insert(p.end(), trailing.begin(), trailing.end());
    return p;
}

const char* MessageOf(ParseError e) {
    switch (e) {
        case ParseError::NotOgg:
            return kMsgNotOgg;
        case ParseError::NoIdent:
            return kMsgNoIdent;
        default:
            return kMsgFileError;
    }
}

// Granule position of the last page header in the file's tail, or 0.
std::int64_t FindLastGranule(const ByteSource& f, std::int64_t fileLength) {
    // Windows step back from the end of the file. Within a window the page
    // header nearest the end wins: a short last page often shares its window
    // with the page before it, whose granule would cut the playing time.
    for (int i = 1; i <= kGranuleWindows; ++i) {
        std::int64_t start = fileLength - kGranuleStep * i - 10;
        const bool firstWindow = start <= 0;
        if (start < 0)
            start = 0;
        const auto window = f.ReadUpTo(start, kGranuleWindowSize);
        if (!window || window->size() < 14)
            return 0;
        for (std::size_t at = window->size() - 14 + 1; at-- > 0;) {
            const std::uint8_t* p = window->data() + at;
            if (std::memcmp(p, "OggS", 4) != 0 || p[4] != 0)
                continue;
            const auto g = f.ReadAt(start + static_cast<std::int64_t>(at) + 6, 8);
            if (!g)
                return 0;
            const std::uint64_t granule = Le64(g->data());
            // -1 marks a page on which no packet ends: look further back.
            if (granule == ~std::uint64_t{0})
                continue;
            return static_cast<std::int64_t>(granule);
        }
        if (firstWindow)
            return 0;
    }
    return 0;
}

}  // namespace

std::string& VorbisStreamInfo::operator[](Field f) {
    return this->*kMembers[IndexOf(f)];
}

const std::string& VorbisStreamInfo::operator[](Field f) const {
    return this->*kMembers[IndexOf(f)];
}

void OggVorbisTag::setFileName(const std::string& path) {
    fileName_ = path;
    ReadTag();
    FileNameChanged();
}

void OggVorbisTag::setogg(const VorbisStreamInfo& tag) {
    tag_ = tag;
    tag_.GenreID = ClampGenreId(tag.GenreID);
    Changed();
}

void OggVorbisTag::SetText(std::string& field, const std::string& value) {
    field = value;
    Changed();
}

void OggVorbisTag::setGenreID(long long id) {
    tag_.GenreID = ClampGenreId(id);
    Changed();
}

void OggVorbisTag::ClearTag() {
    const std::int32_t size = tag_.CommentSize;
    tag_ = VorbisStreamInfo{};
    tag_.CommentSize = size;
}

std::string OggVorbisTag::ChannelMode() const {
    switch (channels_) {
        case 1:
            return "Mono";
        case 2:
            return "Stereo";
        default:
            return "unknown";
    }
}

std::uint32_t OggVorbisTag::frequency() const {
    return (sampleRate_ >= kMinSampleRate && sampleRate_ <= kMaxSampleRate) ? sampleRate_ : 0;
}

std::uint32_t OggVorbisTag::BitrateNominal() const {
    std::int64_t kbps = nominalBitrate_ / 1000;
    if (codec_ == OggCodec::Opus) {
        const std::int64_t samples = granule_ - preSkip_;
        kbps = samples > 0 ? (fileLength_ - id3Size_) * 8 * kOpusRate / samples / 1000 : 0;
    } else if (codec_ == OggCodec::Flac) {
        // Lossless rates run far past a lossy codec's, so no upper bound.
        const std::uint32_t rate = frequency();
        return granule_ > 0 && rate > 0
                   ? static_cast<std::uint32_t>(static_cast<double>(fileLength_ - id3Size_) * 8 *
                                                    rate / static_cast<double>(granule_) / 1000 +
                                                0.5)
                   : 0;
    }
    return (kbps >= kMinKbps && kbps <= kMaxKbps) ? static_cast<std::uint32_t>(kbps) : 0;
}

std::int64_t OggVorbisTag::DurationInSeconds() const {
    if (codec_ == OggCodec::Opus)
        return granule_ > preSkip_ ? (granule_ - preSkip_) / kOpusRate : 0;
    if (granule_ > 0)
        return frequency() > 0 ? granule_ / frequency() : 0;
    if (BitrateNominal() > 0 && channels_ > 0) {
        // Bits over bit rate for two channels; mono comes out at twice that,
        // the figure this estimate has always shown.
        const double seconds = static_cast<double>(fileLength_ - id3Size_) / BitrateNominal() /
                               channels_ / 125.0 * 2.0;
        return static_cast<std::int64_t>(std::nearbyint(seconds));
    }
    return 0;
}

double OggVorbisTag::Seconds() const {
    if (codec_ == OggCodec::Opus)
        return granule_ > preSkip_ ? static_cast<double>(granule_ - preSkip_) / kOpusRate : 0;
    if (granule_ > 0)
        return frequency() > 0 ? static_cast<double>(granule_) / frequency() : 0;
    // Without a granule position only the estimate in whole seconds is known.
    return static_cast<double>(DurationInSeconds());
}

std::string OggVorbisTag::Duration() const {
    const std::int64_t s = DurationInSeconds();
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
    return buf;
}

void OggVorbisTag::ResetForRead() {
    error_.clear();
    pendingSynced_.reset();
    valid_ = false;
    tag_ = VorbisStreamInfo{};
    vendor_.clear();
    others_.clear();
    items_.Clear();
    pictures_.clear();
    pictureOrigins_.clear();
    pictureEntries_.clear();
    picturePackets_.clear();
    codec_ = OggCodec::Vorbis;
    preSkip_ = 0;
    granule_ = 0;
    fileLength_ = 0;
    id3Size_ = 0;
    channels_ = 0;
    sampleRate_ = 0;
    nominalBitrate_ = 0;
    bitsPerSample_ = 0;
}

void OggVorbisTag::ReadTag() {
    ResetForRead();
    if (!FileExists(fileName_)) {
        error_ = kMsgNoFile;
    } else {
        try {
            std::string why;
            if (const auto f = FileSnapshot::Open(fileName_, &why))
                ReadOpened(*f);
            else
                error_ = FailureText(kMsgRead, why);
        } catch (...) {
            error_ = kMsgFileError;
        }
    }
    FinishRead();
}

void OggVorbisTag::LoadFrom(const ByteSource& file) {
    fileName_ = file.Name();
    ResetForRead();
    try {
        ReadOpened(file);
    } catch (...) {
        error_ = kMsgFileError;
    }
    FinishRead();
    FileNameChanged();
}

void OggVorbisTag::ReadOpened(const ByteSource& f) {
    auto fail = [this](const char* message) {
        tag_ = VorbisStreamInfo{};
        vendor_.clear();
        others_.clear();
        items_.Clear();
        pictures_.clear();
        pictureOrigins_.clear();
        pictureEntries_.clear();
        picturePackets_.clear();
        error_ = message;
    };
    const std::int64_t size = f.Size();
    if (size < 0) {
        error_ = kMsgFileError;
    } else {
        id3Size_ = Id3v2Size(f);
        HeaderRegion region;
        const ParseError e = ParseHeaders(f, id3Size_, size, 2, region);
        const auto codec = region.packets.empty() ? std::nullopt : CodecOf(region.packets[0]);
        if (codec) {
            const Bytes& id = region.packets[0];
            codec_ = codec->codec;
            if (codec_ == OggCodec::Opus) {
                // Opus always decodes at 48 kHz, whatever rate the input had.
                channels_ = id[9] > 2 ? 0 : id[9];
                preSkip_ = static_cast<std::uint16_t>(id[10] | (id[11] << 8));
                sampleRate_ = kOpusRate;
            } else if (codec_ == OggCodec::Flac) {
                // STREAMINFO after its block header: 20 bits of rate, 3 of
                // channels less one, 5 of bits per sample less one.
                const std::uint8_t* si = id.data() + 17;
                sampleRate_ =
                    (std::uint32_t{si[10]} << 12) | (std::uint32_t{si[11]} << 4) | (si[12] >> 4);
                const int channels = ((si[12] >> 1) & 0x07) + 1;
                channels_ = channels > 2 ? 0 : static_cast<std::uint8_t>(channels);
                bitsPerSample_ =
                    static_cast<std::uint8_t>((((si[12] & 1) << 4) | (si[13] >> 4)) + 1);
            } else {
                channels_ = id[11] > 2 ? 0 : id[11];
                sampleRate_ = Le32(id.data() + 12);
                nominalBitrate_ = static_cast<std::int32_t>(Le32(id.data() + 20));
            }
            fileLength_ = size;
            granule_ = FindLastGranule(f, size);
        }
        if (e == ParseError::FileError) {
            error_ = kMsgFileError;
        } else if (e != ParseError::None) {
            fail(MessageOf(e));
        } else if (!IsCommentPacket(region.packets[1], *codec)) {
            fail(kMsgNotOgg);
        } else {
            const Bytes& packet = region.packets[1];
            CommentContent content;
            const ParseError ce = ParseComment(packet, *codec, content);
            vendor_ = content.vendor;
            vorbis::ReadFields read = vorbis::TakeComments(content.comments, items_);
            others_ = std::move(read.others);
            for (const auto& entry : kFieldTable)
                tag_[entry.field] = std::move(read.values[entry.field]);
            if (ce == ParseError::FileError) {
                error_ = kMsgFileError;
            } else if (ce != ParseError::None) {
                fail(kMsgNotOgg);
            } else {
                tag_.CommentSize = static_cast<std::int32_t>(
                    packet.size() - content.trailing.size() - codec->signatureSize);
                ReadPictures();
                // Ogg FLAC pictures are header packets of their own, past the
                // two packets read so far.
                HeaderRegion all;
                if (codec_ == OggCodec::Flac && codec->headerPackets > 2 &&
                    ParseHeaders(f, id3Size_, size, codec->headerPackets, all) == ParseError::None)
                    ReadPicturePackets(all.packets, codec->headerPackets);
                valid_ = true;
            }
        }
    }
}

void OggVorbisTag::FinishRead() {
    // Genre names match whatever their case.
    tag_.GenreID = vorbis::GenreIdOfText(tag_.Genre);
    if (!valid_ && onError)
        onError(*this, error_);
}

bool OggVorbisTag::WriteTag() {
    error_.clear();
    if (!FileExists(fileName_)) {
        Fail(kMsgNoFile, false);
        return false;
    }
    // Positions and fields of a failed read describe nothing worth writing.
    if (!valid_) {
        Fail(kMsgNotOgg, false);
        return false;
    }
    try {
        // The number names the genre unless the text already does, in any case.
        tag_.Genre = vorbis::GenreToSave(tag_.Genre, tag_.GenreID);
        PerField<std::string> values;
        for (const auto& entry : kFieldTable)
            values[entry.field] = tag_[entry.field];
        return Rewrite(PlanSave(values), kMsgSave);
    } catch (const std::exception& e) {
        Fail(kMsgSave, std::string(e.what()), false);
        return false;
    } catch (...) {
        Fail(kMsgSave, false);
        return false;
    }
}

bool OggVorbisTag::RemoveTag() {
    error_.clear();
    if (!FileExists(fileName_)) {
        Fail(kMsgNoFile, false);
        return false;
    }
    bool ok = false;
    try {
        // The comments go; the pictures, which the pictures command
        // removes, stay as they were read, as in every other format.
        std::vector<std::string> pictures;
        const auto& entries = items_.Entries();
        std::vector<bool> keep(entries.size());
        bool legacy = false;
        for (const auto& o : pictureOrigins_) {
            if (o.entry)
                keep[*o.entry] = true;
            legacy = legacy || o.legacy;
        }
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (keep[i] ||
                (legacy && SplitComment(entries[i].item).first == vorbis::kCoverArtMimeKey))
                pictures.push_back(entries[i].item);
        ok = Rewrite(pictures, kMsgRemove);
    } catch (const std::exception& e) {
        Fail(kMsgRemove, std::string(e.what()), false);
    } catch (...) {
        Fail(kMsgRemove, false);
    }
    if (ok)
        ReadTag();
    return ok;
}

namespace {

// How `sizes` packets lay out on fresh pages as Paginate puts them.
struct LaidOut {
    std::size_t pages = 0;
    std::int64_t bytes = 0;
};
LaidOut LayOut(const std::vector<std::size_t>& sizes) {
    std::size_t segments = 0;
    std::int64_t body = 0;
    for (const std::size_t s : sizes) {
        segments += s / 255 + 1;
        body += static_cast<std::int64_t>(s);
    }
    const std::size_t pages = (segments + kMaxSegments - 1) / kMaxSegments;
    return {pages, static_cast<std::int64_t>(pages * kPageHeaderSize + segments) + body};
}

bool AllZero(const Bytes& b) {
    return std::all_of(b.begin(), b.end(), [](std::uint8_t v) { return v == 0; });
}

// The header pages of an in-place save: the packets in the groups the old
// pages had (each group starting a page of its own, as encoders flush
// them), with the padding packet (`padAt`, when there is one) sized so that
// every group keeps its page count and the whole its bytes. Empty when the
// packets do not fit so.
std::vector<NewPage> FitInPlace(const HeaderRegion& region, std::int64_t start,
                                std::vector<Bytes>& packets, std::optional<std::size_t> padAt,
                                const std::function<Bytes(std::size_t)>& padded) {
    // Only a region of header packets alone, as many as before, the
    // identification alone on the first page.
    if (region.foreign || !region.tail.empty() || packets.size() != region.packets.size() ||
        region.fresh.size() < 2 || region.fresh.size() != region.pages.size() ||
        region.fresh[0] != 0 || region.fresh[1] != 1)
        return {};
    struct Group {
        std::size_t first, last, pages;
    };
    std::vector<Group> groups;
    for (std::size_t i = 0; i < region.fresh.size(); ++i) {
        if (region.fresh[i] == kMidPacket) {
            ++groups.back().pages;
            continue;
        }
        if (!groups.empty())
            groups.back().last = region.fresh[i];
        groups.push_back({region.fresh[i], packets.size(), 1});
    }
    const std::int64_t oldBytes = region.end - start;
    std::vector<std::size_t> sizes;
    for (const Bytes& p : packets)
        sizes.push_back(p.size());
    auto fits = [&] {
        std::int64_t total = 0;
        for (const Group& g : groups) {
            const LaidOut l = LayOut({sizes.begin() + static_cast<std::ptrdiff_t>(g.first),
                                      sizes.begin() + static_cast<std::ptrdiff_t>(g.last)});
            if (l.pages != g.pages)
                return false;
            total += l.bytes;
        }
        return total == oldBytes;
    };
    bool found = false;
    if (!padAt) {
        found = fits();
    } else {
        // Each padding byte adds a byte, and one lacing byte every 255: the
        // size that fits lies a little below the whole difference.
        const std::size_t bare = padded(0).size();
        sizes[*padAt] = bare;
        std::int64_t total = 0;
        for (const Group& g : groups)
            total += LayOut({sizes.begin() + static_cast<std::ptrdiff_t>(g.first),
                             sizes.begin() + static_cast<std::ptrdiff_t>(g.last)})
                         .bytes;
        const std::int64_t most = oldBytes - total;
        for (std::int64_t pad = std::max<std::int64_t>(0, most - most / 254 - 2);
             pad <= most && !found; ++pad) {
            sizes[*padAt] = bare + static_cast<std::size_t>(pad);
            if (fits()) {
                packets[*padAt] = padded(static_cast<std::size_t>(pad));
                found = packets[*padAt].size() == sizes[*padAt];
                break;
            }
        }
    }
    if (!found)
        return {};
    std::vector<NewPage> pages;
    for (const Group& g : groups) {
        std::vector<const Bytes*> group;
        for (std::size_t i = g.first; i < g.last; ++i)
            group.push_back(&packets[i]);
        Paginate(group, {}, 0, pages);
    }
    pages.front().flags |= kFlagBos;
    if (region.pages.back().flags & kFlagEos)
        pages.back().flags |= kFlagEos;
    return pages;
}

// Why an Ogg FLAC header packet cannot be carried as a metadata block, or
// empty when it can.
std::string FlacBlockFault(const Bytes& packet, std::size_t index) {
    if (packet.size() >= kFlacBlockHeaderSize && IsFlacBlock(packet, packet[0] & 0x7F))
        return {};
    return "header packet " + std::to_string(index + 1) + " is a damaged FLAC metadata block (" +
           std::to_string(packet.size()) + " bytes, not the length its block header gives)";
}

}  // namespace

bool OggVorbisTag::Rewrite(const std::vector<std::string>& comments, const std::string& failure) {
    // Opened for writing, the file is locked and checked against the read;
    // a write-protected one keeps its mode and goes through a new file.
    const File::Mode mode = File::ModeForSave(fileName_);
    std::string openError;
    auto f = File::Open(fileName_, mode, &openError, io_);
    if (!f) {
        Fail(failure, openError, false);
        return false;
    }
    if (mode == File::Mode::Read) {
        f->HoldSaveLock();
        if (std::string changed = ChangedSinceRead(f->Descriptor(), fileName_); !changed.empty()) {
            Fail(failure, changed, false);
            return false;
        }
    }
    const std::int64_t size = f->Size();
    if (size < 0) {
        Fail(failure, f->LastError(), false);
        return false;
    }
    const std::int64_t start = Id3v2Size(*f);
    // The codec says how many header packets there are.
    HeaderRegion first;
    const ParseError firstError = ParseHeaders(*f, start, size, 1, first);
    const auto codec = firstError == ParseError::None ? CodecOf(first.packets[0]) : std::nullopt;
    if (!codec) {
        Fail(failure,
             !f->LastError().empty() ? f->LastError()
                                     : std::string("the file does not start an Ogg stream we read"),
             false);
        return false;
    }
    if (codec->headerPackets == 0) {
        Fail(failure,
             std::string("the Ogg FLAC stream does not say how many header packets it has"), false);
        return false;
    }
    HeaderRegion region;
    const ParseError headersError = ParseHeaders(*f, start, size, codec->headerPackets, region);
    std::string damage;
    if (headersError != ParseError::None)
        damage = !f->LastError().empty() ? f->LastError()
                                         : std::string("the header pages are damaged or cut short");
    else if (region.foreign)
        damage = "pages of another stream lie among the header pages";
    else if (!IsCommentPacket(region.packets[1], *codec))
        damage = "the second header packet holds no comments";
    else if (codec->codec == OggCodec::Vorbis && !HasSignature(region.packets[2], 5))
        damage = "the third header packet is no Vorbis setup header";
    if (!damage.empty()) {
        Fail(failure, damage, false);
        return false;
    }
    CommentContent old;
    if (ParseComment(region.packets[1], *codec, old) != ParseError::None) {
        Fail(failure, std::string("the comment packet is damaged"), false);
        return false;
    }
    // A comment packet ending in zero bytes has padding (Vorbis: after the
    // framing byte; Opus: where RFC 7845 lets it be dropped); a save in
    // place may resize it.
    const bool commentPadding =
        codec->codec != OggCodec::Flac && !old.trailing.empty() && AllZero(old.trailing);
    // The encoder's vendor string stays; ours stands in only where there was none.
    const std::string_view vendor =
        old.vendor.empty() ? std::string_view(kVendor) : std::string_view(old.vendor);
    Bytes packet = BuildCommentPacket(*codec, region.packets[1], vendor, comments, old.trailing);
    if (packet.empty() || packet.size() > kMaxHeaderPacketBytes) {
        Fail(failure, std::string("the comments are larger than their header packet may be"),
             false);
        return false;
    }

    // Ogg FLAC: the picture packets as the pictures stand now, the other
    // blocks as they were, the count in the identification packet and the
    // last-block flag on the last block.
    Bytes ident = region.packets[0];
    std::vector<Bytes> flacBlocks;
    std::vector<std::size_t> placed;
    auto flag = [](Bytes& block, bool last) {
        block[0] = static_cast<std::uint8_t>(last ? block[0] | kFlacLastBlock
                                                  : block[0] & ~kFlacLastBlock);
    };
    if (codec->codec == OggCodec::Flac) {
        // Every block is carried whole; one shorter than its header says
        // cannot be, and is not guessed at.
        for (std::size_t k = 2; k < codec->headerPackets; ++k) {
            if (std::string fault = FlacBlockFault(region.packets[k], k); !fault.empty()) {
                Fail(failure, fault, false);
                return false;
            }
        }
        std::string reason;
        if (!PlanHeaderPackets(region.packets, codec->headerPackets, flacBlocks, placed, reason)) {
            Fail(failure, reason, false);
            return false;
        }
        const std::size_t count = flacBlocks.size() + 1;
        ident[7] = static_cast<std::uint8_t>(count >> 8);
        ident[8] = static_cast<std::uint8_t>(count);
        flag(packet, flacBlocks.empty());
        for (std::size_t i = 0; i < flacBlocks.size(); ++i)
            flag(flacBlocks[i], i + 1 == flacBlocks.size());
    }

    const std::uint32_t serial = region.pages.front().serial;
    const std::uint32_t firstSeq = region.pages.front().sequence;

    // In place when the new header packets take the old pages' room, the
    // padding giving or taking the difference: hard links keep seeing the
    // file, and no page after the headers moves.
    if (mode == File::Mode::ReadWrite) {
        std::vector<Bytes> all{ident, packet};
        std::optional<std::size_t> padAt;
        std::function<Bytes(std::size_t)> padded;
        if (codec->codec == OggCodec::Flac) {
            for (std::size_t i = 0; i < flacBlocks.size(); ++i) {
                if (!padAt && (flacBlocks[i][0] & 0x7F) == kFlacPaddingBlock)
                    padAt = all.size();
                all.push_back(flacBlocks[i]);
            }
            if (padAt) {
                const std::uint8_t type = all[*padAt][0];
                padded = [type](std::size_t n) {
                    Bytes b{type, static_cast<std::uint8_t>(n >> 16),
                            static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
                    // A length the block header cannot give is no fit.
                    if (n <= kFlacMaxBlockBytes)
                        b.resize(kFlacBlockHeaderSize + n);
                    return b;
                };
            }
        } else {
            for (std::size_t i = 2; i < codec->headerPackets; ++i)
                all.push_back(region.packets[i]);
            if (commentPadding) {
                padAt = 1;
                padded = [&](std::size_t n) {
                    return BuildCommentPacket(*codec, region.packets[1], vendor, comments,
                                              Bytes(n, 0));
                };
            }
        }
        const std::vector<NewPage> fitted = FitInPlace(region, start, all, padAt, padded);
        if (!fitted.empty()) {
            Bytes bytes;
            for (std::size_t i = 0; i < fitted.size(); ++i) {
                const Bytes page =
                    SerializePage(fitted[i], serial, firstSeq + static_cast<std::uint32_t>(i));
                bytes.insert(bytes.end(), page.begin(), page.end());
            }
            const RegionResult r =
                WriteRegions(*f, fileName_, {{start, std::move(bytes)}}, size, io_);
            if (!r.ok && !r.fallBack) {
                Fail(failure, r.error, false);
                return false;
            }
            if (r.ok) {
                f->Close();
                NotePicturesPlaced(placed);
                return true;
            }
        }
    }

    // Identification alone on the first page, comment and setup from the
    // second page on, and whatever else the old last header page held on a
    // page of its own so its granule position stays true.
    std::vector<NewPage> pages;
    Paginate({&ident}, {}, 0, pages);
    pages.front().flags |= kFlagBos;
    std::vector<const Bytes*> headers{&packet};
    if (codec->codec == OggCodec::Flac) {
        for (const Bytes& block : flacBlocks)
            headers.push_back(&block);
    } else {
        for (std::size_t i = 2; i < codec->headerPackets; ++i)
            headers.push_back(&region.packets[i]);
    }
    Paginate(headers, {}, 0, pages);
    std::vector<const Bytes*> extras;
    for (std::size_t i = codec->headerPackets; i < region.packets.size(); ++i)
        extras.push_back(&region.packets[i]);
    if (!extras.empty() || !region.tail.empty())
        Paginate(extras, region.tail, extras.empty() ? kNoGranule : region.pages.back().granule,
                 pages);
    if (region.pages.back().flags & kFlagEos)
        pages.back().flags |= kFlagEos;

    const auto delta = static_cast<std::uint32_t>(pages.size() - region.pages.size());
    const bool eosInHeaders = (region.pages.back().flags & kFlagEos) != 0;

    const IoResult result = SafeReplace(
        fileName_,
        [&](ReplaceWriter& w, std::string& error) {
            if (!w.CopyFrom(*f, 0, start))
                return false;
            for (std::size_t i = 0; i < pages.size(); ++i)
                if (!w.Write(
                        SerializePage(pages[i], serial, firstSeq + static_cast<std::uint32_t>(i))))
                    return false;
            if (delta == 0 || eosInHeaders)
                return w.CopyFrom(*f, region.end, size - region.end);
            // The rest of the stream moves by `delta` pages: renumber each
            // whole page and recompute its CRC. Other streams, pages whose
            // CRC was already wrong and anything that is not a page (a
            // trailing tag, damage) are copied as they are.
            std::int64_t pos = region.end;
            bool streamEnded = false;
            while (pos < size) {
                const auto page = streamEnded ? std::nullopt : ReadPageHeader(*f, pos, size);
                if (!page)
                    return w.CopyFrom(*f, pos, size - pos);
                auto bytes = f->ReadAt(pos, static_cast<std::size_t>(page->Size()));
                if (!bytes) {
                    error = f->LastError();
                    return false;
                }
                if (page->serial == serial && PageCrcHolds(*bytes)) {
                    PutLe32(bytes->data() + 18, page->sequence + delta);
                    SealPage(*bytes);
                    streamEnded = (page->flags & kFlagEos) != 0;
                }
                if (!w.Write(*bytes))
                    return false;
                pos += page->Size();
            }
            return true;
        },
        io_);
    f->Close();
    if (!result) {
        Fail(failure, result.error, false);
        return false;
    }
    NotePicturesPlaced(placed);
    return true;
}

void OggVorbisTag::NotePicturesPlaced(const std::vector<std::size_t>& placed) {
    if (codec_ != OggCodec::Flac)
        return;
    // The file now holds the pictures where the plan put them.
    picturePackets_.clear();
    for (std::size_t i = 0; i < placed.size(); ++i) {
        if (placed[i] == 0)
            continue;
        pictureOrigins_[i].packet = placed[i];
        pictureOrigins_[i].changed = false;
        picturePackets_.push_back(placed[i]);
    }
}

namespace {

std::string GuessImageMime(const Bytes& data) {
    static constexpr std::uint8_t kPng[] = {0x89, 'P', 'N', 'G'};
    if (data.size() >= 4 && std::memcmp(data.data(), kPng, 4) == 0)
        return "image/png";
    return "image/jpeg";
}

PerField<std::string> ReadValues(const FieldItems<std::string>& items) {
    PerField<std::string> out;
    for (const auto& entry : kFieldTable)
        out[entry.field] = items.Read(entry.field);
    return out;
}

}  // namespace

void OggVorbisTag::ReadPictures() {
    const auto& entries = items_.Entries();
    std::string coverMime;
    for (const auto& e : entries) {
        if (const auto [key, value] = SplitComment(e.item);
            !e.field && key == vorbis::kCoverArtMimeKey && coverMime.empty())
            coverMime = value;
    }
    std::vector<std::size_t> legacy;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].field)
            continue;
        const auto [key, value] = SplitComment(entries[i].item);
        if (key == vorbis::kCoverArtKey) {
            legacy.push_back(i);
            continue;
        }
        if (key != vorbis::kPictureKey)
            continue;
        // A picture comment that does not decode stays an ordinary comment.
        const auto block = vorbis::Base64Decode(value);
        Picture picture;
        PictureOrigin origin;
        if (!block || !flac::ParsePictureBlock(*block, picture, origin.block) ||
            picture.Data.size() > kMaxPictureBytes)
            continue;
        origin.entry = i;
        pictures_.push_back(std::move(picture));
        pictureOrigins_.push_back(std::move(origin));
        pictureEntries_.push_back(i);
    }
    for (const std::size_t i : legacy) {
        auto data = vorbis::Base64Decode(SplitComment(entries[i].item).second);
        if (!data || data->empty() || data->size() > kMaxPictureBytes)
            continue;
        Picture picture;
        picture.MimeType = coverMime.empty() ? GuessImageMime(*data) : coverMime;
        picture.Data = std::move(*data);
        PictureOrigin origin;
        origin.entry = i;
        origin.legacy = true;
        pictures_.push_back(std::move(picture));
        pictureOrigins_.push_back(std::move(origin));
    }
}

std::vector<std::string> OggVorbisTag::UnshownComments() const {
    std::vector<bool> shown(items_.Entries().size());
    bool legacy = false;
    for (const auto& o : pictureOrigins_) {
        if (o.entry)
            shown[*o.entry] = true;
        legacy = legacy || o.legacy;
    }
    std::vector<std::string> out;
    for (std::size_t i = 0; i < items_.Entries().size(); ++i) {
        const auto& e = items_.Entries()[i];
        if (e.field || shown[i] ||
            (legacy && SplitComment(e.item).first == vorbis::kCoverArtMimeKey))
            continue;
        out.push_back(e.item);
    }
    return out;
}

std::vector<std::string> OggVorbisTag::PlanSave(const PerField<std::string>& values) const {
    const auto& entries = items_.Entries();
    // Each picture comment read is replaced by what stands in its place now:
    // itself as read, its new form, nothing when deleted, and new pictures
    // beside their neighbour in the list.
    std::vector<std::optional<std::vector<std::string>>> replace(entries.size());
    for (const std::size_t i : pictureEntries_)
        replace[i].emplace();
    std::vector<std::string> atEnd;
    auto anchorOf = [&](std::size_t i) -> std::optional<std::size_t> {
        for (std::size_t j = i + 1; j-- > 0;)
            if (pictureOrigins_[j].entry && !pictureOrigins_[j].legacy)
                return pictureOrigins_[j].entry;
        for (std::size_t j = i + 1; j < pictures_.size(); ++j)
            if (pictureOrigins_[j].entry && !pictureOrigins_[j].legacy)
                return pictureOrigins_[j].entry;
        return std::nullopt;
    };
    for (std::size_t i = 0; i < pictures_.size(); ++i) {
        const PictureOrigin& o = pictureOrigins_[i];
        // Ogg FLAC pictures not read from a comment are header packets.
        if (o.legacy || (codec_ == OggCodec::Flac && !o.entry))
            continue;
        std::string text =
            o.entry && !o.changed
                ? entries[*o.entry].item
                : std::string(vorbis::kPictureKey) + "=" +
                      vorbis::Base64Encode(flac::RenderPictureBlock(pictures_[i], o.block));
        const auto anchor = anchorOf(i);
        (anchor ? *replace[*anchor] : atEnd).push_back(std::move(text));
    }
    std::vector<std::string> comments = vorbis::PlanComments(items_, values, replace);
    comments.insert(comments.end(), std::make_move_iterator(atEnd.begin()),
                    std::make_move_iterator(atEnd.end()));
    if (pendingSynced_)
        vorbis::PutSyncedLyrics(comments, *pendingSynced_);
    return comments;
}

bool OggVorbisTag::SavePictures() {
    if (!FileExists(fileName_)) {
        Fail(kMsgNoFile, false);
        return false;
    }
    if (!valid_) {
        Fail(kMsgPicture, std::string("the file was not read as Ogg"), false);
        return false;
    }
    return Rewrite(PlanSave(ReadValues(items_)), kMsgPicture);
}

void OggVorbisTag::ReadPicturePackets(const std::vector<Bytes>& packets,
                                      std::size_t headerPackets) {
    for (std::size_t k = 2; k < headerPackets && k < packets.size(); ++k) {
        const Bytes& p = packets[k];
        if (!IsFlacBlock(p, kFlacPictureBlock))
            continue;
        // A block that does not parse is kept as any other block.
        Picture picture;
        PictureOrigin origin;
        if (!flac::ParsePictureBlock(std::span(p).subspan(kFlacBlockHeaderSize), picture,
                                     origin.block) ||
            picture.Data.size() > kMaxPictureBytes)
            continue;
        origin.packet = k;
        pictures_.push_back(std::move(picture));
        pictureOrigins_.push_back(std::move(origin));
        picturePackets_.push_back(k);
    }
}

// The Ogg FLAC header packets after the comment packet: each picture packet
// gives way to the pictures now in its place (itself as it was, renewed,
// or none when deleted), new pictures go beside their neighbour in the list
// or, with none, right after the comments; every other packet stays as it
// is. `placed` gets each picture's packet index in the new layout (0 for a
// picture kept as a comment).
bool OggVorbisTag::PlanHeaderPackets(const std::vector<Bytes>& old, std::size_t headerPackets,
                                     std::vector<Bytes>& out, std::vector<std::size_t>& placed,
                                     std::string& reason) const {
    struct Slot {
        std::size_t picture;
        Bytes block;
    };
    std::vector<std::optional<std::vector<Slot>>> replace(headerPackets);
    for (const std::size_t k : picturePackets_) {
        // The file is read again for the save: its packets must be the ones read.
        if (k >= headerPackets || k >= old.size() || !IsFlacBlock(old[k], kFlacPictureBlock)) {
            reason = "the file's header packets are not those read; read it again";
            return false;
        }
        replace[k].emplace();
    }
    auto anchorOf = [&](std::size_t i) -> std::optional<std::size_t> {
        for (std::size_t j = i + 1; j-- > 0;)
            if (pictureOrigins_[j].packet)
                return pictureOrigins_[j].packet;
        for (std::size_t j = i + 1; j < pictures_.size(); ++j)
            if (pictureOrigins_[j].packet)
                return pictureOrigins_[j].packet;
        return std::nullopt;
    };
    std::vector<Slot> front;
    for (std::size_t i = 0; i < pictures_.size(); ++i) {
        const PictureOrigin& o = pictureOrigins_[i];
        if (o.legacy || o.entry)
            continue;
        Bytes block;
        if (o.packet && !o.changed) {
            block = old[*o.packet];
        } else {
            const Bytes body = flac::RenderPictureBlock(pictures_[i], o.block);
            if (body.size() > kFlacMaxBlockBytes) {
                reason = "the picture is larger than a FLAC block holds (16 MiB)";
                return false;
            }
            block = {kFlacPictureBlock, static_cast<std::uint8_t>(body.size() >> 16),
                     static_cast<std::uint8_t>(body.size() >> 8),
                     static_cast<std::uint8_t>(body.size())};
            block.insert(block.end(), body.begin(), body.end());
        }
        const auto anchor = anchorOf(i);
        (anchor ? *replace[*anchor] : front).push_back({i, std::move(block)});
    }
    out.clear();
    placed.assign(pictures_.size(), 0);
    auto put = [&](std::vector<Slot>& slots) {
        for (Slot& slot : slots) {
            placed[slot.picture] = 2 + out.size();
            out.push_back(std::move(slot.block));
        }
    };
    put(front);
    for (std::size_t k = 2; k < headerPackets; ++k) {
        if (replace[k])
            put(*replace[k]);
        else
            out.push_back(old[k]);
    }
    if (out.size() + 1 > kFlacMaxHeaderPackets) {
        reason = "more header packets than the stream can count";
        return false;
    }
    return true;
}

bool OggVorbisTag::AddPicture(int index, const Picture& picture) {
    error_.clear();
    if (index < 0 || index > ImagesCount()) {
        Fail("Error adding picture", false);
        return false;
    }
    if (picture.Data.size() > kMaxPictureBytes) {
        Fail(kMsgPicture,
             std::string("the picture is larger than a picture comment holds (16 MiB)"), false);
        return false;
    }
    return Guard(kMsgPicture, [&] {
        const auto at = static_cast<std::ptrdiff_t>(index);
        pictures_.insert(pictures_.begin() + at, picture);
        pictureOrigins_.insert(pictureOrigins_.begin() + at, PictureOrigin{});
        const bool ok = SavePictures();
        if (!ok) {
            pictures_.erase(pictures_.begin() + at);
            pictureOrigins_.erase(pictureOrigins_.begin() + at);
        }
        return ok;
    });
}

bool OggVorbisTag::AddImage(int index, const std::string& fileName, const std::string& description,
                            int pictureType) {
    std::string reason;
    const auto picture = flac::ReadPictureFile(fileName, description, pictureType, reason);
    if (!picture) {
        Fail("Cannot read the picture file", reason, false);
        return false;
    }
    return AddPicture(index, *picture);
}

bool OggVorbisTag::DeleteImage(int index) {
    error_.clear();
    if (index < 0 || index >= ImagesCount()) {
        Fail("Error deleting picture", false);
        return false;
    }
    const auto at = static_cast<std::size_t>(index);
    if (pictureOrigins_[at].legacy) {
        Fail(kMsgPicture, std::string("an old COVERART picture is only read"), false);
        return false;
    }
    return Guard(kMsgPicture, [&] {
        const auto pos = static_cast<std::ptrdiff_t>(index);
        Picture picture = std::move(pictures_[at]);
        PictureOrigin origin = std::move(pictureOrigins_[at]);
        pictures_.erase(pictures_.begin() + pos);
        pictureOrigins_.erase(pictureOrigins_.begin() + pos);
        const bool ok = SavePictures();
        if (!ok) {
            pictures_.insert(pictures_.begin() + pos, std::move(picture));
            pictureOrigins_.insert(pictureOrigins_.begin() + pos, std::move(origin));
        }
        return ok;
    });
}

bool OggVorbisTag::SetDescription(int index, const std::string& description) {
    if (index < 0 || index >= ImagesCount())
        return false;
    const auto at = static_cast<std::size_t>(index);
    if (pictureOrigins_[at].legacy)
        return false;
    if (pictures_[at].Description != description) {
        pictures_[at].Description = description;
        pictureOrigins_[at].changed = true;
        Changed();
    }
    return true;
}

bool OggVorbisTag::SaveImageToFile(int index, const std::string& fileName) {
    if (index < 0 || index >= ImagesCount()) {
        Fail("Error saving picture", false);
        return false;
    }
    std::string reason;
    if (!flac::WritePictureFile(pictures_[static_cast<std::size_t>(index)], fileName, io_,
                                reason)) {
        Fail("Saving the picture", reason, false);
        return false;
    }
    return true;
}

}  // namespace sondrel
