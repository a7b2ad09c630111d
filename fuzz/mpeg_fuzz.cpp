// SPDX-License-Identifier: GPL-3.0-or-later
// MPEG stream analysis over an in-memory byte source.
#include <cstdint>

#include "tags/byte_source.h"
#include "tags/mpeg_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sondrel::MpegInfo info;
    if (info.Analyse(sondrel::MemorySource({data, size}))) {
        (void)info.GetLength();
        (void)info.GetEncoder();
        (void)info.GetChannelMode();
        (void)info.GetVer();
    }
    return 0;
}
