// SPDX-License-Identifier: GPL-3.0-or-later
// APE tag footer and items, then the Monkey's Audio component over the
// same bytes, all from memory.
#include <cstdint>
#include <span>

#include "tags/ape.h"
#include "tags/byte_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sondrel;
    const std::span<const std::uint8_t> bytes(data, size);
    if (size >= apetag::kFooterSize) {
        const auto footer = apetag::ParseFooter(bytes.first(apetag::kFooterSize));
        if (footer) {
            const auto parsed =
                apetag::ParseItems(bytes.subspan(apetag::kFooterSize), footer->itemCount);
            (void)apetag::BuildTag(parsed.items);
        }
    }
    MonkeysAudioTag ape;
    ape.LoadFrom(MemorySource(bytes));
    (void)ape.Duration();
    return 0;
}
