#include "tags/mp4_atoms.h"

#include <array>
#include <cstring>
#include <vector>

namespace sondrel::mp4atoms {
namespace {

// The atoms TagLib reads as containers, and the bytes of their own fields
// before the first child ("meta" is a full box, "stsd" has a version,
// flags and an entry count).
struct Container {
    const char* type;
    std::int64_t skip;
};
constexpr std::array<Container, 11> kContainers{{
    {"moov", 0},
    {"udta", 0},
    {"mdia", 0},
    {"meta", 4},
    {"ilst", 0},
    {"stbl", 0},
    {"minf", 0},
    {"moof", 0},
    {"traf", 0},
    {"trak", 0},
    {"stsd", 8},
}};

const Container* ContainerOf(const char* type) {
    for (const auto& c : kContainers) {
        if (std::memcmp(c.type, type, 4) == 0)
            return &c;
    }
    return nullptr;
}

std::uint64_t Be(const std::uint8_t* p, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | p[i];
    return v;
}

// A type as it is shown: printable bytes as they are, others as '?'.
std::string Shown(const char* type) {
    std::string s = "'";
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>(type[i]);
        s.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    return s + "'";
}

bool Printable(const char* type) {
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>(type[i]);
        // 0xA9 starts iTunes item names (the copyright sign in Latin-1).
        if ((c < 0x20 || c >= 0x7F) && c != 0xA9)
            return false;
    }
    return true;
}

// One container being walked: where its children end and where the next one starts.
struct Level {
    std::int64_t next;
    std::int64_t end;
};

}  // namespace

Check CheckTree(const ByteSource& file) {
    Check out;
    const std::int64_t size = file.Size();
    if (size < 0) {
        out.reason = "the size of the file cannot be read";
        return out;
    }
    if (size == 0) {
        out.reason = "the file is empty";
        return out;
    }
    bool moov = false;
    std::vector<Level> stack{{0, size}};
    out.depth = 1;
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next == level.end) {
            stack.pop_back();
            continue;
        }
        const std::int64_t at = level.next;
        const std::int64_t room = level.end - at;
        const bool top = stack.size() == 1;
        std::uint8_t head[16] = {};
        if (room < 8) {
            out.reason = std::to_string(room) + " stray byte" + (room == 1 ? "" : "s") +
                         " at offset " + std::to_string(at) + " hold no atom";
            if (top && at == 0)
                out.reason = "the file holds no MP4 container";
            return out;
        }
        if (!file.ReadInto(at, head, 8)) {
            out.reason =
                "the atom at offset " + std::to_string(at) + " cannot be read: " + file.LastError();
            return out;
        }
        const char* type = reinterpret_cast<const char*>(head + 4);
        // A file whose first bytes are no atom header is no MP4 file at all
        // (raw AAC in ADTS frames, an MP3 named .m4a).
        if (top && at == 0 && !Printable(type)) {
            out.reason = "the file holds no MP4 container";
            return out;
        }
        std::uint64_t length = Be(head, 4);
        std::int64_t headerSize = 8;
        if (length == 1) {
            if (room < 16 || !file.ReadInto(at + 8, head + 8, 8)) {
                out.reason = "the 64-bit size of atom " + Shown(type) + " at offset " +
                             std::to_string(at) + " is cut off";
                return out;
            }
            length = Be(head + 8, 8);
            headerSize = 16;
        } else if (length == 0 && top) {
            // The last top-level atom may run to the end of the file.
            length = static_cast<std::uint64_t>(room);
        }
        if (length < static_cast<std::uint64_t>(headerSize)) {
            out.reason = "atom " + Shown(type) + " at offset " + std::to_string(at) + " declares " +
                         std::to_string(length) + " bytes, less than its header";
            return out;
        }
        if (length > static_cast<std::uint64_t>(room)) {
            out.reason =
                "atom " + Shown(type) + " at offset " + std::to_string(at) + " declares " +
                std::to_string(length) + " bytes, but only " + std::to_string(room) +
                " remain in " +
                (top ? std::string("the file (is it cut short?)") : std::string("its parent"));
            return out;
        }
        if (++out.atoms > kMaxAtoms) {
            out.reason = "the file holds more than " + std::to_string(kMaxAtoms) + " MP4 atoms";
            return out;
        }
        if (top && std::memcmp(type, "moov", 4) == 0)
            moov = true;
        const auto atomEnd = at + static_cast<std::int64_t>(length);
        level.next = atomEnd;
        if (const Container* c = ContainerOf(type)) {
            const std::int64_t first = at + headerSize + c->skip;
            if (first > atomEnd) {
                out.reason = "atom " + Shown(type) + " at offset " + std::to_string(at) +
                             " is too short for its own fields";
                return out;
            }
            if (static_cast<int>(stack.size()) >= kMaxDepth) {
                out.reason =
                    "the MP4 atoms nest deeper than " + std::to_string(kMaxDepth) + " levels";
                return out;
            }
            stack.push_back({first, atomEnd});
            out.depth = std::max(out.depth, static_cast<int>(stack.size()));
        }
    }
    if (!moov) {
        out.reason = "the file holds no 'moov' atom, so no MP4 metadata";
        return out;
    }
    out.ok = true;
    return out;
}

}  // namespace sondrel::mp4atoms
