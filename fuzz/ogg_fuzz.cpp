// Ogg Vorbis reading (the component reads paths only).
#include "fuzz_file.h"
#include "tags/ogg.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sondrel::OggVorbisTag ogg;
    ogg.setFileName(sondrel::fuzzing::Scratch().Put(data, size, ".ogg"));
    if (ogg.Valid()) {
        (void)ogg.Duration();
        (void)ogg.ChannelMode();
    } else if (ogg.Error().empty()) {
        std::abort();  // a refused file must say why
    }
    return 0;
}
