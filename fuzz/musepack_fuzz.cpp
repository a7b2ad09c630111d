// Musepack stream header (versions 4 to 8) and its trailing tags.
#include <cstdint>
#include <span>

#include "fuzz_file.h"
#include "tags/musepack.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sondrel;
    (void)musepack::StreamVersionOf(std::span<const std::uint8_t>(data, size));
    MusepackTag mpc;
    mpc.setFilename(fuzzing::Scratch().Put(data, size, ".mpc"));
    (void)mpc.Duration();
    return 0;
}
