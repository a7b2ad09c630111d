// SPDX-License-Identifier: GPL-3.0-or-later
// The MP4 path through TagLib: the atom-tree check over the bytes, then a
// read, a long lyrics save and a picture deletion of the same bytes as a
// file. A tree the check refuses must never reach TagLib as a valid file,
// and a refused save must leave the bytes as they were.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "fuzz_file.h"
#include "tags/byte_source.h"
#include "tags/mp4.h"
#include "tags/mp4_atoms.h"

namespace {

std::vector<std::uint8_t> Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "mp4: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sondrel;
    static fuzzing::ScratchFolder scratch;
    const std::span<const std::uint8_t> bytes(data, size);
    const auto tree = mp4atoms::CheckTree(MemorySource(bytes));
    if (tree.ok != tree.reason.empty())
        Broken("a refusal without a reason, or a reason with an accepted tree");

    const std::string path = scratch.Put(data, size, ".m4a");
    Mp4Tag tag;
    tag.setFileName(path);
    if (!tree.ok) {
        if (tag.Valid())
            Broken("a refused tree was read as a valid file");
        if (tag.Error() != "Error reading metadata: " + tree.reason)
            Broken("the refusal's reason was not given");
        return 0;
    }
    if (!tag.Valid())
        return 0;
    (void)tag.DurationInSeconds();
    tag.setLyrics(std::string(4000, 'l'));
    if (!tag.WriteTag()) {
        const std::vector<std::uint8_t> after = Contents(path);
        if (!std::equal(after.begin(), after.end(), bytes.begin(), bytes.end()))
            Broken("a failed save changed the file");
        return 0;
    }
    if (tag.ImagesCount() > 0)
        (void)tag.DeleteImage(0);
    return 0;
}
