// ASF header objects of Windows Media Audio files, with the pictures.
#include <cstdint>

#include "fuzz_file.h"
#include "tags/wma.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sondrel::WmaTag wma;
    wma.setFileName(sondrel::fuzzing::Scratch().Put(data, size, ".wma"));
    for (int i = 0; i < wma.ImagesCount(); ++i) {
        (void)wma.GetMIME(i);
        (void)wma.GetDescription(i);
    }
    return 0;
}
