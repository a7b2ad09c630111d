// In-place writes of a few byte regions of a file (a tag at its head, the
// blocks at its end, FLAC's metadata) as one transaction that survives a
// kill or a power loss: the old bytes go to an undo journal, made durable,
// before any of them changes; a left-over journal of a process that died is
// replayed, so the file ends wholly old or wholly new.
//
// Journals live in one folder per user (JournalFolder), so a save group of
// many files writes one journal and flushes it once.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tags/file_io.h"

namespace sondrel {

// New bytes for [offset, offset + bytes.size()).
struct Region {
    std::int64_t offset = 0;
    Bytes bytes;
};

// The journal folder: $SONDREL_JOURNAL_DIR when set (tests), else
// $XDG_STATE_HOME/sondrel/journal, else ~/.local/state/sondrel/journal.
std::string JournalFolder();

// One file's in-place change, with what it replaces. Built by WriteRegions,
// written by a save group's commit (or at once without a group).
struct RegionEdit {
    std::string path;  // the file itself, symbolic links resolved
    int fd = -1;       // not owned
    dev_t dev = 0;
    ino_t ino = 0;
    std::int64_t oldSize = 0;
    std::int64_t newSize = 0;
    std::vector<Region> regions;  // new bytes; a cut adds an empty one at newSize
    std::vector<Bytes> old;       // per region, what it covered within the old size
    std::function<WriteVerdict(std::size_t)> write;
    std::function<bool(IoStep)> step;

    // Writes the regions and sets the size; a failure puts the old bytes
    // back (`undoFailed` when even that failed). Empty when done, else the
    // reason.
    std::string Apply();
    bool undoFailed = false;
    // The old bytes and size back, flushed; false when that failed too.
    bool Undo();
};

// A written, flushed journal of some edits; Finish once they are durable or
// undone. A journal dropped unfinished stays for recovery.
class Journal {
public:
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Writes the old bytes of `edits` to one journal and flushes it (each
    // edit's hooks asked for its part: a write per edit, IoStep::Journal
    // before the flush). Null with `error` set on failure; nothing of any
    // file has changed then. `unavailable` tells that no journal file could
    // be had at all (no folder, no right to create one there).
    static std::unique_ptr<Journal> Write(std::span<RegionEdit* const> edits, std::string& error,
                                          bool* unavailable = nullptr);
    // The edits are settled: the journal is emptied and kept for the next
    // transaction of this process. With `keep` (an undo failed) it is left
    // as it is, unlocked, for recovery to finish the undo.
    void Finish(bool keep);

    struct Slot;  // the journal file, kept by this process between uses

private:
    explicit Journal(std::unique_ptr<Slot> slot);
    std::unique_ptr<Slot> slot_;
    bool finished_ = false;
};

// What WriteRegions did. `fallBack`: nothing was changed and the caller
// should rewrite the whole file (no journal file can be had).
struct RegionResult {
    bool ok = false;
    bool fallBack = false;
    std::string error;
};

// Overwrites `regions` of `file` (open for writing, its save lock held, as
// read for the save) in place and leaves it `newSize` bytes long, as one
// transaction: journal durable, regions written, file flushed, journal
// emptied. Any failure puts the old bytes back and says why. In a save
// group the journal, the writes and the flush wait for its commit (one
// journal for all the group's edits); success here means only that the
// change is queued. A change that changes nothing writes nothing.
RegionResult WriteRegions(File& file, const std::string& path, std::vector<Region> regions,
                          std::int64_t newSize, const IoFaults& faults = SystemIo());

// Replays the journals in `folder` that no live process holds: each file
// whose regions are neither all old nor all new gets its old bytes back.
// A journal of a file that is no longer the same file (device, inode, size)
// is dropped without touching it. Returns how many journals were settled.
std::size_t RecoverJournals(const std::string& folder);
// RecoverJournals(JournalFolder()) the first time a process saves.
void RecoverJournalsOnce();

}  // namespace sondrel
