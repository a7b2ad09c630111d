// SPDX-License-Identifier: GPL-3.0-or-later
// FLAC metadata reading, from memory.
#include <cstdint>
#include <cstdlib>

#include "tags/byte_source.h"
#include "tags/flac.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sondrel::FlacTag flac;
    flac.LoadFrom(sondrel::MemorySource({data, size}));
    if (flac.Valid()) {
        (void)flac.Duration();
        (void)flac.Bitrate();
        (void)flac.Md5Hex();
        (void)flac.OtherBlocks();
        // What was read lies inside the input.
        if (flac.AudioOffset() > static_cast<std::int64_t>(size))
            std::abort();
    } else if (flac.Error().empty()) {
        std::abort();  // a refused file must say why
    }
    return 0;
}
