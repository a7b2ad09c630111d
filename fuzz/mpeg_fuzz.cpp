// MPEG stream analysis over an in-memory byte source.
#include <algorithm>
#include <cstdint>

#include "tags/mpeg_info.h"

namespace {

class MemorySource : public sondrel::MpegByteSource {
public:
    MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::int64_t Size() const override { return static_cast<std::int64_t>(size_); }
    std::optional<std::vector<std::uint8_t>> ReadUpTo(std::int64_t offset,
                                                      std::size_t count) const override {
        if (offset < 0)
            return std::nullopt;
        const auto at = static_cast<std::size_t>(offset);
        if (at >= size_)
            return std::vector<std::uint8_t>{};
        const std::size_t n = std::min(count, size_ - at);
        return std::vector<std::uint8_t>(data_ + at, data_ + at + n);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sondrel::MpegInfo info;
    if (info.Analyse(MemorySource(data, size))) {
        (void)info.GetLength();
        (void)info.GetEncoder();
        (void)info.GetChannelMode();
        (void)info.GetVer();
    }
    return 0;
}
