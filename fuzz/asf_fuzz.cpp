// SPDX-License-Identifier: GPL-3.0-or-later
// ASF header objects of Windows Media Audio files, with the pictures, from
// memory.
#include <cstdint>

#include "tags/byte_source.h"
#include "tags/wma.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sondrel::WmaTag wma;
    wma.LoadFrom(sondrel::MemorySource({data, size}));
    for (int i = 0; i < wma.ImagesCount(); ++i) {
        (void)wma.GetMIME(i);
        (void)wma.GetDescription(i);
    }
    return 0;
}
