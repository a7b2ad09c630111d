// SPDX-License-Identifier: GPL-3.0-or-later
// A check of an MP4 file's atom tree before TagLib sees it. TagLib trusts
// atom sizes (an atom reaching past the end of a cut file makes its save
// move a negative number of bytes) and descends into nested containers by
// recursion (100,000 nested "moov" atoms overflow the stack). The walk here
// takes the containers TagLib descends into, iteratively, with named
// limits, and says in words what does not hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "tags/byte_source.h"

namespace sondrel::mp4atoms {

// Real files nest six or seven levels (moov trak mdia minf stbl stsd).
inline constexpr int kMaxDepth = 24;
// Atoms counted over every level walked; fragmented files of several hours
// hold tens of thousands.
inline constexpr std::size_t kMaxAtoms = 262144;

struct Check {
    bool ok = false;
    // Why the tree was refused, in words for the user; empty when ok.
    std::string reason;
    std::size_t atoms = 0;  // atoms walked
    int depth = 0;          // deepest level reached (1 = top level)
};

// Walks the atoms of `file`: every atom must be at least its header long,
// lie wholly inside its parent and the file, and the top level must fill
// the file exactly and hold a "moov" atom.
Check CheckTree(const ByteSource& file);

// A copy of the metadata of a file CheckTree refused, small enough to hold,
// read as other readers read such a file: an atom that does not fit (past
// its parent or the file, shorter than its header, stray bytes) ends its
// parent's children there, each container's size made to match what it
// keeps. The top-level media data and padding ("mdat", "free", "skip",
// "wide") are left out. Read-only: offsets into the media are not kept.
inline constexpr std::int64_t kMaxSalvageBytes = std::int64_t{128} << 20;
// Nullopt when no whole "moov" remains, when the file is no MP4 container,
// cannot be read, or passes kMaxDepth, kMaxAtoms or kMaxSalvageBytes.
std::optional<Bytes> SalvageTree(const ByteSource& file);

}  // namespace sondrel::mp4atoms
