// ID3v1 block and Lyrics3 v2 field walk, straight from memory.
#include <cstdint>
#include <span>

#include "tags/id3v1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sondrel;
    const std::span<const std::uint8_t> bytes(data, size);
    if (size >= id3v1::kBlockSize) {
        const auto block = bytes.last<id3v1::kBlockSize>();
        const Id3v1Fields tag = id3v1::ParseBlock(block);
        // What was read must be writable again without tripping anything.
        const Bytes rebuilt = id3v1::BuildBlock(tag);
        if (rebuilt.size() != id3v1::kBlockSize)
            std::abort();
        (void)id3v1::BuildLyrics3(tag.Comment, tag);
    }
    (void)id3v1::ParseLyrics3(bytes);
    (void)id3v1::ParseLyrics3(bytes, "windows-1251");
    return 0;
}
