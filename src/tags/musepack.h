// SPDX-License-Identifier: GPL-3.0-or-later
// Musepack files: the stream header of stream versions 4 to 8 and the APE
// tag at the end of the file, with an ID3v1 tag as the fallback.
#pragma once

#include <cstdint>
#include <span>

#include "tags/ape_tag.h"

namespace sondrel {

namespace musepack {

inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::uint32_t kSamplesPerFrame = 1152;
// Packets (with their size fields) passed over before the stream header of
// a version 8 stream is given up for lost.
inline constexpr int kMaxPacketsBeforeHeader = 32;
inline constexpr std::size_t kMaxStreamHeaderPacket = 64;

// 4, 5, 6 or 7 from the first 12 header bytes, 8 for "MPCK", 0 when the
// bytes are no Musepack stream.
std::uint8_t StreamVersionOf(std::span<const std::uint8_t> header);

}  // namespace musepack

class MusepackTag : public ApeTaggedComponent {
public:
    MusepackTag() = default;
    ~MusepackTag() override = default;

    std::uint32_t Frames() const { return frames_; }
    std::uint32_t Bitrate() const { return bitrate_; }  // kbit/s
    std::uint8_t StreamVersion() const { return streamVersion_; }

protected:
    void ResetStream() override;
    void ReadStream(const ByteSource& file, std::int64_t fileSize, std::int64_t audioEnd) override;
    bool NotifyAllSaveFailures() const override { return true; }

private:
    bool ReadPacketStream(const ByteSource& file, std::int64_t fileSize, std::int64_t audioEnd);

    std::uint32_t frames_ = 0;
    std::uint32_t bitrate_ = 0;
    std::uint8_t streamVersion_ = 0;
};

}  // namespace sondrel
