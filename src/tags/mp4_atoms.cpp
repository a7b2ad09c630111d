// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/mp4_atoms.h"

#include <algorithm>
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

// The top-level atoms a salvage leaves out: media data and padding.
bool LeftOutOfSalvage(const char* type) {
    for (const char* t : {"mdat", "free", "skip", "wide"})
        if (std::memcmp(t, type, 4) == 0)
            return true;
    return false;
}

// The walk of SalvageTree: each container's children copied up to the first
// that does not fit, where CheckTree said what is wrong.
class Salvager {
public:
    explicit Salvager(const ByteSource& file) : file_(file) {}

    std::optional<Bytes> Run() {
        const std::int64_t size = file_.Size();
        std::uint8_t head[8];
        if (size < 8 || !file_.ReadInto(0, head, 8) ||
            !Printable(reinterpret_cast<const char*>(head + 4)))
            return std::nullopt;
        Children(0, size, 1);
        if (failed_ || !moov_)
            return std::nullopt;
        return std::move(out_);
    }

private:
    bool Copy(std::int64_t from, std::int64_t count) {
        if (count > kMaxSalvageBytes - static_cast<std::int64_t>(out_.size())) {
            failed_ = true;
            return false;
        }
        const std::size_t at = out_.size();
        out_.resize(at + static_cast<std::size_t>(count));
        if (!file_.ReadInto(from, out_.data() + at, static_cast<std::size_t>(count))) {
            failed_ = true;
            return false;
        }
        return true;
    }

    void Children(std::int64_t begin, std::int64_t end, int depth) {
        const bool top = depth == 1;
        for (std::int64_t at = begin; at < end && !failed_;) {
            const std::int64_t room = end - at;
            if (room < 8)
                return;
            std::uint8_t head[16] = {};
            if (!file_.ReadInto(at, head, 8)) {
                failed_ = true;
                return;
            }
            const char* type = reinterpret_cast<const char*>(head + 4);
            std::uint64_t length = Be(head, 4);
            std::int64_t headerSize = 8;
            if (length == 1) {
                if (room < 16 || !file_.ReadInto(at + 8, head + 8, 8))
                    return;
                length = Be(head + 8, 8);
                headerSize = 16;
            } else if (length == 0 && top) {
                length = static_cast<std::uint64_t>(room);
            }
            if (length < static_cast<std::uint64_t>(headerSize) ||
                length > static_cast<std::uint64_t>(room))
                return;
            if (++atoms_ > kMaxAtoms) {
                failed_ = true;
                return;
            }
            const auto atomEnd = at + static_cast<std::int64_t>(length);
            if (top && LeftOutOfSalvage(type)) {
                at = atomEnd;
                continue;
            }
            const Container* c = ContainerOf(type);
            if (!c) {
                if (!Copy(at, atomEnd - at))
                    return;
                at = atomEnd;
                continue;
            }
            const std::int64_t first = at + headerSize + c->skip;
            if (first > atomEnd) {  // no room for its own fields: left out
                at = atomEnd;
                continue;
            }
            if (depth >= kMaxDepth) {
                failed_ = true;
                return;
            }
            // A plain 32-bit header, then the container's own fields.
            const std::size_t start = out_.size();
            out_.insert(out_.end(), {0, 0, 0, 0});
            out_.insert(out_.end(), head + 4, head + 8);
            if (!Copy(at + headerSize, c->skip))
                return;
            Children(first, atomEnd, depth + 1);
            const std::size_t kept = out_.size() - start;
            if (kept > 0xFFFFFFFFu) {
                failed_ = true;
                return;
            }
            for (int i = 0; i < 4; ++i)
                out_[start + static_cast<std::size_t>(i)] =
                    static_cast<std::uint8_t>(kept >> (24 - 8 * i));
            moov_ = moov_ || (top && std::memcmp(type, "moov", 4) == 0);
            at = atomEnd;
        }
    }

    const ByteSource& file_;
    Bytes out_;
    std::size_t atoms_ = 0;
    bool failed_ = false;
    bool moov_ = false;
};

}  // namespace

std::optional<Bytes> SalvageTree(const ByteSource& file) {
    return Salvager(file).Run();
}

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
