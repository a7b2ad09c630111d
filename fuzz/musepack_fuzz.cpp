// SPDX-License-Identifier: GPL-3.0-or-later
// Musepack stream header (versions 4 to 8) and its trailing tags.
#include <cstdint>
#include <span>

#include "tags/byte_source.h"
#include "tags/musepack.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sondrel;
    const std::span<const std::uint8_t> bytes(data, size);
    (void)musepack::StreamVersionOf(bytes);
    MusepackTag mpc;
    mpc.LoadFrom(MemorySource(bytes));
    (void)mpc.Duration();
    return 0;
}
