// SPDX-License-Identifier: GPL-3.0-or-later
// ID3v1 block, Lyrics3 v2 field walk and the end-of-file tag locator,
// straight from memory.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "tags/byte_source.h"
#include "tags/id3v1.h"
#include "tags/tail_locator.h"

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
    // Whatever the bytes, the located tags lie inside the file, in their
    // stacking order.
    const tail::Layout layout = tail::Locate(bytes);
    const auto fileSize = static_cast<std::int64_t>(size);
    if (layout.fault != tail::ReadFault::None || layout.tagStart < 0 ||
        layout.tagStart > layout.Lyrics3Offset() || layout.Lyrics3Offset() < 0 ||
        layout.Id3v1Offset() > fileSize || (layout.lyrics3Size != 0 && layout.id3v1Size == 0) ||
        (layout.itemsStart != 0 &&
         layout.itemsStart + layout.footer.tagSize != layout.ApeFooterOffset() + 32))
        std::abort();
    (void)id3v1::ParseLyrics3(bytes);
    (void)id3v1::ParseLyrics3(bytes, "windows-1251");
    // The component over the same bytes: a valid read lies inside them.
    Id3v1Tag tag;
    tag.LoadFrom(MemorySource(bytes));
    if (tag.Valid() && layout.id3v1Size == 0)
        std::abort();
    return 0;
}
