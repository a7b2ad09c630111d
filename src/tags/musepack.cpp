// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/musepack.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace sondrel {
namespace musepack {
namespace {

constexpr std::array<std::uint32_t, 4> kSampleRates = {44100, 48000, 37800, 32000};

std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Version 8 sizes and counts: 7 bits a byte, most significant first, the top
// bit marking that another byte follows.
std::optional<std::uint64_t> ReadVarint(std::span<const std::uint8_t> b, std::size_t& pos) {
    constexpr int kMaxBytes = 9;
    std::uint64_t value = 0;
    for (int i = 0; i < kMaxBytes && pos < b.size(); ++i) {
        const std::uint8_t byte = b[pos++];
        value = (value << 7) | (byte & 0x7F);
        if ((byte & 0x80) == 0)
            return value;
    }
    return std::nullopt;
}

}  // namespace

std::uint8_t StreamVersionOf(std::span<const std::uint8_t> header) {
    if (header.size() < 4)
        return 0;
    if (std::memcmp(header.data(), "MPCK", 4) == 0)
        return 8;
    if (header.size() < kHeaderSize)
        return 0;
    // "MP+", then the version: the major in the low nibble, a minor (0x17
    // in many files) in the high one.
    if (std::memcmp(header.data(), "MP+", 3) == 0 && (header[3] & 0x0F) == 7)
        return 7;
    switch ((header[1] & 0x1F) >> 1) {
        case 3:
            return 4;
        case 7:
            return 5;
        case 11:
            return 6;
        default:
            return 0;
    }
}

}  // namespace musepack

void MusepackTag::ResetStream() {
    frames_ = 0;
    bitrate_ = 0;
    streamVersion_ = 0;
}

void MusepackTag::ReadStream(const ByteSource& file, std::int64_t fileSize, std::int64_t audioEnd) {
    using namespace musepack;
    if (fileSize <= 0)
        return;
    const auto head = file.ReadUpTo(id3v2_, kHeaderSize);
    if (!head)
        return;
    const std::uint8_t version = StreamVersionOf(*head);
    if (version == 8) {
        if (ReadPacketStream(file, fileSize, audioEnd)) {
            streamVersion_ = 8;
            fileLength_ = fileSize;
            valid_ = true;
        } else {
            ResetStream();
            frequency_ = 0;
            duration_ = 0;
            channelMode_.clear();
        }
        return;
    }
    if (version == 0 || head->size() < kHeaderSize)
        return;
    const Bytes& b = *head;
    const std::uint32_t w0 = Le32(b, 0);
    const std::uint32_t w1 = Le32(b, 4);
    const std::uint32_t w2 = Le32(b, 8);

    streamVersion_ = version;
    valid_ = true;
    fileLength_ = fileSize;
    frequency_ = 44100;
    if (version == 7) {
        frames_ = w1;
        channelMode_ = (b[11] & 0x40) != 0 ? "Joint Stereo" : "Stereo";
        // Version 7 streams carry the rate in the sample-frequency field.
        frequency_ = kSampleRates[(w2 >> 16) & 3];
    } else {
        frames_ = version == 4 ? w1 >> 16 : w1;
        channelMode_ = (b[2] & 0x7F) != 0 ? "Joint Stereo" : "Stereo";
        if (version != 6)
            bitrate_ = w0 >> 23;
    }
    if (frames_ > 0) {
        const double samples = static_cast<double>(frames_) * kSamplesPerFrame;
        duration_ = samples / frequency_;
        if (bitrate_ == 0) {
            // Estimated over the whole file, tags at the end included.
            const double bits = static_cast<double>(fileSize - id3v2_) * 8.0;
            bitrate_ = static_cast<std::uint32_t>(
                std::nearbyint(bits * (frequency_ / 1000.0) / frames_ / kSamplesPerFrame));
        }
    }
}

bool MusepackTag::ReadPacketStream(const ByteSource& file, std::int64_t fileSize,
                                   std::int64_t audioEnd) {
    using namespace musepack;
    std::int64_t pos = id3v2_ + 4;
    for (int packet = 0; packet < kMaxPacketsBeforeHeader; ++packet) {
        // Key (two capital letters) and a size of at most 9 bytes.
        const auto head = file.ReadUpTo(pos, 11);
        if (!head || head->size() < 3)
            return false;
        const Bytes& h = *head;
        if (h[0] < 'A' || h[0] > 'Z' || h[1] < 'A' || h[1] > 'Z')
            return false;
        std::size_t at = 2;
        const auto size = ReadVarint(h, at);
        // The size counts the key and the size field themselves.
        if (!size || *size < at || *size > static_cast<std::uint64_t>(fileSize - pos))
            return false;
        const std::string key{static_cast<char>(h[0]), static_cast<char>(h[1])};
        if (key == "AP" || key == "SE")
            return false;  // audio before any stream header
        if (key != "SH") {
            pos += static_cast<std::int64_t>(*size);
            continue;
        }
        const auto payload = file.ReadAt(
            pos + static_cast<std::int64_t>(at),
            static_cast<std::size_t>(std::min<std::uint64_t>(*size - at, kMaxStreamHeaderPacket)));
        if (!payload)
            return false;
        const Bytes& p = *payload;
        // CRC (4 bytes), stream version, sample count, leading silence, then
        // rate/bands and channels/mid-side/frames-per-packet bytes.
        std::size_t q = 4;
        if (p.size() < 5 || p[q++] != 8)
            return false;
        const auto samples = ReadVarint(p, q);
        const auto silence = ReadVarint(p, q);
        if (!samples || !silence || p.size() - q < 2)
            return false;
        const std::uint8_t rateByte = p[q];
        const std::uint8_t channelByte = p[q + 1];
        const unsigned rateIndex = rateByte >> 5;
        if (rateIndex >= kSampleRates.size())
            return false;
        frequency_ = kSampleRates[rateIndex];
        const unsigned channels = (channelByte >> 4) + 1u;
        const bool midSide = (channelByte & 0x08) != 0;
        channelMode_ = channels == 1   ? "Mono"
                       : channels == 2 ? (midSide ? "Joint Stereo" : "Stereo")
                                       : "Unknown";
        const std::uint64_t frames =
            *samples / kSamplesPerFrame + (*samples % kSamplesPerFrame != 0);
        frames_ = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(frames, std::numeric_limits<std::uint32_t>::max()));
        const std::uint64_t played = *samples > *silence ? *samples - *silence : 0;
        duration_ = static_cast<double>(played) / frequency_;
        if (duration_ > 0 && audioEnd > id3v2_) {
            const double bits = static_cast<double>(audioEnd - id3v2_) * 8.0;
            bitrate_ = static_cast<std::uint32_t>(std::nearbyint(bits / duration_ / 1000.0));
        }
        return true;
    }
    return false;
}

}  // namespace sondrel
