// SPDX-License-Identifier: GPL-3.0-or-later
// Ogg Vorbis, Opus and Ogg FLAC reading, from memory: the header packets,
// Ogg FLAC's metadata block packets and the pictures among them.
#include <cstdint>
#include <cstdlib>

#include "tags/byte_source.h"
#include "tags/ogg.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sondrel::OggVorbisTag ogg;
    ogg.LoadFrom(sondrel::MemorySource({data, size}));
    if (ogg.Valid()) {
        (void)ogg.Duration();
        (void)ogg.Seconds();
        (void)ogg.ChannelMode();
        (void)ogg.UnshownComments();
        for (const auto& p : ogg.Pictures())
            (void)p.DataSize();
    } else if (ogg.Error().empty()) {
        std::abort();  // a refused file must say why
    }
    return 0;
}
