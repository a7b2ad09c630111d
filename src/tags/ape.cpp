// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/ape.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace sondrel {
namespace {

// The largest sample count the signed TotalSamples property can carry.
constexpr std::uint64_t kMaxTotalSamples = std::numeric_limits<std::int64_t>::max();

std::uint16_t Le16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

const char* CompressionName(std::uint16_t level) {
    switch (level / 1000) {
        case 1:
            return "Fast";
        case 2:
            return "Normal";
        case 3:
            return "High";
        case 4:
            return "Extra High";
        default:
            return "Unknown";
    }
}

const char* ChannelName(std::uint16_t channels) {
    switch (channels) {
        case 1:
            return "Mono";
        case 2:
            return "Stereo";
        default:
            return "Unknown";
    }
}

// Older encoders used a fixed frame length that depends on the version and,
// for 3.80 to 3.89, on the compression level.
std::int64_t OldBlocksPerFrame(std::uint16_t version, std::uint16_t level) {
    if (version >= 3950)
        return 294912;
    if (version >= 3900 || (version >= 3800 && level == 4000))
        return 73728;
    return 9216;
}

}  // namespace

void MonkeysAudioTag::ResetStream() {
    bits_ = 0;
    blocksPerFrame_ = 0;
    totalSamples_ = 0;
}

void MonkeysAudioTag::ReadStream(const ByteSource& file, std::int64_t fileSize,
                                 std::int64_t /*audioEnd*/) {
    fileLength_ = fileSize;
    const auto head = file.ReadAt(id3v2_, kOldHeaderSize);
    if (!head)
        return;
    const bool magic = std::memcmp(head->data(), "MAC ", 4) == 0;
    const std::uint16_t version = Le16(*head, 4);
    std::uint16_t level = 0;
    std::uint16_t flags = 0;
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    std::uint32_t totalFrames = 0;
    std::uint32_t finalBlocks = 0;
    bool valid = false;
    if (version < kDescriptorVersion) {
        level = Le16(*head, 6);
        flags = Le16(*head, 8);
        channels = Le16(*head, 10);
        rate = Le32(*head, 12);
        totalFrames = Le32(*head, 24);
        finalBlocks = Le32(*head, 28);
        blocksPerFrame_ = OldBlocksPerFrame(version, level);
        valid = magic && rate > 0 && channels > 0;
    } else {
        const auto header =
            file.ReadAt(id3v2_ + static_cast<std::int64_t>(kDescriptorSize), kNewHeaderSize);
        if (!header)
            return;
        level = Le16(*header, 0);
        flags = Le16(*header, 2);
        blocksPerFrame_ = Le32(*header, 4);
        finalBlocks = Le32(*header, 8);
        totalFrames = Le32(*header, 12);
        channels = Le16(*header, 18);
        rate = Le32(*header, 20);
        valid = magic;
    }
    if (!valid) {
        blocksPerFrame_ = 0;
        return;
    }
    valid_ = true;
    frequency_ = rate;
    channelMode_ = ChannelName(channels);
    compression_ = CompressionName(level);
    if (version != 0) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%4.2f", version / 1000.0);
        apeVersion_ = buf;
    }
    bits_ = 16;
    if (flags & 1)
        bits_ = 8;
    if (flags & 8)
        bits_ = 24;
    // Unsigned 64-bit: the product of two 32-bit header fields plus a third
    // stays below 2^64, so nothing wraps. A header with no frames must not give
    // a negative length, and a count too large for the signed property only
    // comes from a damaged header, so it reads as an unknown (zero) length.
    const std::uint64_t samples =
        totalFrames == 0
            ? 0
            : (std::uint64_t{totalFrames} - 1) * static_cast<std::uint64_t>(blocksPerFrame_) +
                  finalBlocks;
    totalSamples_ = samples > kMaxTotalSamples ? 0 : static_cast<std::int64_t>(samples);
    duration_ = rate == 0 ? 0.0 : static_cast<double>(totalSamples_) / rate;
}

}  // namespace sondrel
