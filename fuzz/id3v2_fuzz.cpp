// SPDX-License-Identifier: GPL-3.0-or-later
// ID3v2 header, frame walk, unsynchronisation and field layouts, from memory.
#include <cstdint>

#include "tags/id3v2_frames.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sondrel::id3v2;
    const ByteView bytes(data, size);
    const auto header = ParseHeader(bytes);
    if (!header) {
        // Still exercise the layouts on raw bytes: the first byte picks one.
        if (size > 0)
            (void)ReadFields(LayoutFor(size % 2 ? "APIC" : "COMM"), bytes.subspan(1), "ISO-8859-1");
        return 0;
    }
    ByteView body = bytes.subspan(kHeaderSize);
    if (body.size() > header->BodySize)
        body = body.first(header->BodySize);
    const ParsedBody parsed = ParseBody(*header, body);
    for (const RawFrame& frame : parsed.Frames) {
        const auto content = frame.Content();
        if (!content)
            continue;
        const auto layout = LayoutOf(frame);
        if (layout.empty()) {
            (void)RenderCarried23(frame);
            continue;
        }
        const auto fields = ReadFields(layout, *content, "windows-1251");
        if (fields)
            (void)WriteFields(LayoutFor(frame.Id23()).empty() ? layout : LayoutFor(frame.Id23()),
                              *fields);
    }
    (void)RemoveUnsync(body, body.size() / 2);
    return 0;
}
