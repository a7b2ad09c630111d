// SPDX-License-Identifier: GPL-3.0-or-later
// Round trip through one tag component: read, save, read again, remove,
// read again. Built once per format (SONDREL_FUZZ_FORMAT names it). Any
// broken contract promise aborts, so libFuzzer keeps the input.
#include <cstdio>
#include <cstdlib>

#include "format_drivers.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sondrel::fuzzing;
    static const Format* format = FindFormat(SONDREL_FUZZ_FORMAT);
    if (format == nullptr)
        std::abort();
    const std::string path = Scratch().Put(data, size, format->ext);
    const RoundTrip r = format->run(path);
    for (const auto& p : r.problems)
        std::fprintf(stderr, "%s: %s\n", SONDREL_FUZZ_FORMAT, p.c_str());
    if (!r.problems.empty())
        std::abort();
    return 0;
}
