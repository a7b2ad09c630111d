// SPDX-License-Identifier: GPL-3.0-or-later
// Monkey's Audio files: the stream header (both header layouts) and the APE
// tag at the end of the file, with an ID3v1 tag as the fallback.
#pragma once

#include <cstdint>

#include "tags/ape_tag.h"

namespace sondrel {

class MonkeysAudioTag : public ApeTaggedComponent {
public:
    // Stream version from which a descriptor precedes the header.
    static constexpr std::uint16_t kDescriptorVersion = 3980;
    static constexpr std::size_t kOldHeaderSize = 40;
    static constexpr std::size_t kDescriptorSize = 52;
    static constexpr std::size_t kNewHeaderSize = 24;

    MonkeysAudioTag() = default;
    ~MonkeysAudioTag() override = default;

    std::uint8_t Bits() const { return bits_; }
    std::int64_t BlocksPerFrame() const { return blocksPerFrame_; }
    std::int64_t TotalSamples() const { return totalSamples_; }

protected:
    void ResetStream() override;
    void ReadStream(const ByteSource& file, std::int64_t fileSize, std::int64_t audioEnd) override;
    bool NotifyAllSaveFailures() const override { return false; }

private:
    std::uint8_t bits_ = 0;
    std::int64_t blocksPerFrame_ = 0;
    std::int64_t totalSamples_ = 0;
};

}  // namespace sondrel
