// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/mp4_atoms.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace sondrel {
namespace {

using test::Bytes;
using test::Concat;
using test::ToBytes;

void PutBe32(Bytes& b, std::uint32_t v) {
    for (int i = 3; i >= 0; --i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// An atom of `type` around `body`, its size as declared (the true size
// unless `declared` says otherwise).
Bytes Atom(const char* type, const Bytes& body, std::int64_t declared = -1) {
    Bytes b;
    PutBe32(b,
            static_cast<std::uint32_t>(declared >= 0 ? declared : 8 + std::int64_t(body.size())));
    Bytes t = ToBytes(type);
    b.insert(b.end(), t.begin(), t.end());
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

// The same with a 64-bit size.
Bytes Atom64(const char* type, const Bytes& body) {
    Bytes b;
    PutBe32(b, 1);
    Bytes t = ToBytes(type);
    b.insert(b.end(), t.begin(), t.end());
    PutBe32(b, 0);
    PutBe32(b, static_cast<std::uint32_t>(16 + body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

const Bytes kFtyp = Atom("ftyp", ToBytes("M4A \0\0\0\0M4A mp42"));
const Bytes kMdat = Atom("mdat", Bytes(64, 0x21));

// moov > udta > meta (a full box: 4 bytes of version and flags) > ilst > item.
Bytes Moov(const Bytes& ilstItems) {
    return Atom("moov", Atom("udta", Atom("meta", Concat({Bytes(4, 0), Atom("hdlr", Bytes(25, 0)),
                                                          Atom("ilst", ilstItems)}))));
}

const Bytes kTitle =
    Atom("\251nam", Atom("data", Concat({Bytes{0, 0, 0, 1, 0, 0, 0, 0}, ToBytes("Title")})));

// `depth` atoms of `type`, each the only child of the one before (built
// in one pass: 100,000 levels copied level by level would take minutes).
Bytes Nested(const char* type, int depth) {
    Bytes b;
    for (int i = depth; i > 0; --i) {
        PutBe32(b, static_cast<std::uint32_t>(8 * i));
        const Bytes t = ToBytes(type);
        b.insert(b.end(), t.begin(), t.end());
    }
    return b;
}

Bytes CutShort(Bytes b, std::size_t n) {
    b.resize(b.size() - n);
    return b;
}

TEST(Mp4AtomTree, AcceptsWhatHoldsTogether) {
    struct Row {
        const char* name;
        Bytes file;
        int depth;  // levels of atoms, the top level being 1
    };
    const Row rows[] = {
        {"ftyp, moov with an item, mdat", Concat({kFtyp, Moov(kTitle), kMdat}), 5},
        {"moov after mdat", Concat({kFtyp, kMdat, Moov(kTitle)}), 5},
        {"64-bit mdat", Concat({kFtyp, Moov(kTitle), Atom64("mdat", Bytes(40, 1))}), 5},
        {"last atom sized 0 runs to the end",
         Concat({kFtyp, Moov(kTitle), Atom("mdat", Bytes(30, 2), 0)}), 5},
        // Atoms TagLib does not descend into may hold anything.
        {"junk inside a leaf atom", Concat({kFtyp, Moov(Atom("free", Bytes(20, 0xFF)))}), 5},
        {"stsd with its entry count",
         Concat({kFtyp,
                 Atom("moov",
                      Atom("trak",
                           Atom("mdia",
                                Atom("minf",
                                     Atom("stbl",
                                          Atom("stsd", Concat({Bytes(8, 0),
                                                               Atom("mp4a", Bytes(20, 0))})))))))}),
         7},
        {"nesting at the limit", Concat({kFtyp, Nested("moov", mp4atoms::kMaxDepth - 1)}),
         mp4atoms::kMaxDepth},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto check = mp4atoms::CheckTree(MemorySource(row.file));
        EXPECT_TRUE(check.ok) << check.reason;
        EXPECT_EQ(check.reason, "");
        EXPECT_EQ(check.depth, row.depth);
    }
}

TEST(Mp4AtomTree, RefusesWhatDoesNotHoldWithTheReason) {
    const Bytes good = Concat({kFtyp, Moov(kTitle), kMdat});
    Bytes cut = good;
    cut.pop_back();
    Bytes manyAtoms;
    for (std::size_t i = 0; i <= mp4atoms::kMaxAtoms; ++i)
        manyAtoms.insert(manyAtoms.end(), {0, 0, 0, 8, 'f', 'r', 'e', 'e'});
    struct Row {
        const char* name;
        Bytes file;
        std::string reason;
    };
    const Row rows[] = {
        {"empty", {}, "the file is empty"},
        {"raw ADTS frames",
         Concat({Bytes{0xFF, 0xF1, 0x50, 0x80, 0x02, 0x1F, 0xFC}, Bytes(200, 0)}),
         "the file holds no MP4 container"},
        {"an ID3v2 tag in front", Concat({ToBytes("ID3\x04"), Bytes(6, 0), kMdat}),
         "the file holds no MP4 container"},
        {"shorter than a header", Bytes{0, 0, 0}, "the file holds no MP4 container"},
        {"cut by one byte", cut,
         "atom 'mdat' at offset " + std::to_string(kFtyp.size() + Moov(kTitle).size()) +
             " declares 72 bytes, but only 71 remain in the file (is it cut short?)"},
        {"child past its parent",
         Concat({kFtyp, Atom("moov", Atom("udta", Bytes(8, 0), 100)), kMdat}),
         "atom 'udta' at offset " + std::to_string(kFtyp.size() + 8) +
             " declares 100 bytes, but only 16 remain in its parent"},
        {"size below the header", Concat({kFtyp, Atom("moov", {}, 4)}),
         "atom 'moov' at offset " + std::to_string(kFtyp.size()) +
             " declares 4 bytes, less than its header"},
        {"size 0 inside a container", Concat({kFtyp, Atom("moov", Atom("trak", Bytes(8, 0), 0))}),
         "atom 'trak' at offset " + std::to_string(kFtyp.size() + 8) +
             " declares 0 bytes, less than its header"},
        {"64-bit size cut off", Concat({kFtyp, Bytes{0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0}}),
         "the 64-bit size of atom 'mdat' at offset " + std::to_string(kFtyp.size()) +
             " is cut off"},
        {"stray bytes after the last atom", Concat({good, Bytes{1, 2, 3}}),
         "3 stray bytes at offset " + std::to_string(good.size()) + " hold no atom"},
        {"meta too short for its own fields", Concat({kFtyp, Atom("moov", Atom("meta", {}))}),
         "atom 'meta' at offset " + std::to_string(kFtyp.size() + 8) +
             " is too short for its own fields"},
        {"no moov", Concat({kFtyp, kMdat}), "the file holds no 'moov' atom, so no MP4 metadata"},
        {"nesting past the limit", Concat({kFtyp, Nested("moov", mp4atoms::kMaxDepth)}),
         "the MP4 atoms nest deeper than " + std::to_string(mp4atoms::kMaxDepth) + " levels"},
        // Deep enough to overflow a recursive reader's stack.
        {"100,000 nested atoms", Concat({kFtyp, Nested("moov", 100000)}),
         "the MP4 atoms nest deeper than " + std::to_string(mp4atoms::kMaxDepth) + " levels"},
        {"too many atoms", Concat({kFtyp, Atom("moov", manyAtoms)}),
         "the file holds more than " + std::to_string(mp4atoms::kMaxAtoms) + " MP4 atoms"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto check = mp4atoms::CheckTree(MemorySource(row.file));
        EXPECT_FALSE(check.ok);
        EXPECT_EQ(check.reason, row.reason);
    }
}

// What a damaged file's read takes: the atoms that hold together, each
// container's size made to match what it keeps, without the media data.
TEST(Mp4AtomTree, SalvageKeepsWhatHoldsTogether) {
    const Bytes ilst = Concat({kTitle, Atom("\251ART", Bytes(4, 0), 4000)});
    const Bytes trak = Atom("trak", Atom("tkhd", Bytes(12, 0), 0x00FFFFFF));
    struct Case {
        const char* name;
        Bytes file;
        std::optional<Bytes> kept;  // nullopt: nothing to read
    };
    const Bytes cutMdat(kMdat.begin(), kMdat.end() - 10);
    const Case cases[] = {
        {"cut in the media behind the moov", Concat({kFtyp, Moov(kTitle), cutMdat}),
         Concat({kFtyp, Moov(kTitle)})},
        {"an item past its ilst", Concat({kFtyp, Moov(ilst), kMdat}),
         Concat({kFtyp, Moov(kTitle)})},
        {"a broken atom inside a trak",
         Concat({kFtyp, Atom("moov", Concat({trak, Atom("udta", {})})), kMdat}),
         Concat({kFtyp, Atom("moov", Concat({Atom("trak", {}), Atom("udta", {})}))})},
        {"stray bytes behind the moov", Concat({kFtyp, Moov(kTitle), Bytes(5, 0)}),
         Concat({kFtyp, Moov(kTitle)})},
        {"a 64-bit moov", Concat({kFtyp, Atom64("moov", Atom("udta", {})), cutMdat}),
         Concat({kFtyp, Atom("moov", Atom("udta", {}))})},
        {"cut inside the moov", CutShort(Concat({kFtyp, Moov(kTitle)}), 3), std::nullopt},
        {"no moov", Concat({kFtyp, cutMdat}), std::nullopt},
        {"no MP4 container", Bytes(100, 0x01), std::nullopt},
        {"nested past the limit", Concat({kFtyp, Moov(kTitle), Nested("moov", 30), cutMdat}),
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto got = mp4atoms::SalvageTree(MemorySource(c.file));
        EXPECT_EQ(got.has_value(), c.kept.has_value());
        if (got && c.kept) {
            EXPECT_TRUE(*got == *c.kept);
        }
    }
}

}  // namespace
}  // namespace sondrel
