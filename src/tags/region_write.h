// SPDX-License-Identifier: GPL-3.0-or-later
// In-place writes of a few byte regions of a file (a tag at its head, the
// blocks at its end, FLAC's metadata) as one transaction that survives a
// kill or a power loss: the old bytes go to an undo journal, made durable,
// before any of them changes; a left-over journal of a process that died is
// replayed, so the file ends wholly old or wholly new.
//
// Journals live in one folder per user (JournalFolder), so a save group of
// many files writes one journal and flushes it once. Only a folder of the
// user's own, mode 0700 and not a symbolic link, is used, and only journals
// of the user's own, regular, mode 0600 and at most kMaxJournalBytes, are
// replayed: anything else is left alone and told (JournalProblems).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
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

// The largest journal written or replayed; a larger change is rewritten.
inline constexpr std::int64_t kMaxJournalBytes = std::int64_t{512} << 20;
// What a journal is renamed to when its file was changed by another
// program after the save died: recovery never replays it again.
inline constexpr std::string_view kSetAsideSuffix = ".changed-by-another-program";

// One file's in-place change, with what it replaces. Built by WriteRegions,
// written by a save group's commit (or at once without a group).
struct RegionEdit {
    std::string path;  // the file itself, symbolic links resolved (recovery opens it)
    std::string name;  // the file as the save named it
    int fd = -1;       // not owned
    dev_t dev = 0;
    ino_t ino = 0;
    std::int64_t oldSize = 0;
    std::int64_t newSize = 0;
    std::vector<Region> regions;  // new bytes; a cut adds an empty one at newSize
    std::vector<Bytes> old;       // per region, what it covered within the old size
    std::function<WriteVerdict(std::size_t)> write;
    std::function<bool(IoStep)> step;
    std::function<bool()> journal;

    // Writes the regions and sets the size; a failure puts the old bytes
    // back (`undoFailed` when even that failed). Empty when done, else the
    // reason.
    std::string Apply();
    bool undoFailed = false;
    // The old bytes and size back, flushed; false when that failed too.
    bool Undo();
    // The change made by a whole-file rewrite instead (SafeReplace), for
    // when no journal could be written; nothing is written in place.
    // Empty when done, else the reason.
    std::string Rewrite();
    // The journal's bytes for this edit.
    std::int64_t JournalBytes() const;
};

// A written, flushed journal of some edits; Finish once they are durable or
// undone. A journal dropped unfinished stays for recovery.
class Journal {
public:
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Writes the old and new bytes of `edits` to one journal and flushes
    // it (each edit's journal hook asked for its part and before the
    // flush). Null with `error` set on failure (it names the
    // journal folder); nothing of any file has changed then, so the caller
    // may rewrite the files instead.
    static std::unique_ptr<Journal> Write(std::span<RegionEdit* const> edits, std::string& error);
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
// should rewrite the whole file (no journal could be written).
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
// whose regions are neither all old nor all new, but every byte of them
// old or new, gets its old bytes back. A journal of a file that is no
// longer the same file (device, inode, size) is dropped without touching
// it; one whose file holds bytes that are neither (another program wrote
// there since) leaves that file alone and is kept aside under
// kSetAsideSuffix. Returns how many journals were settled.
std::size_t RecoverJournals(const std::string& folder);
// What the last recovery of this process left alone and why: journals kept
// aside, journals or a folder that failed the ownership checks. One
// sentence each, naming the file.
std::vector<std::string> JournalProblems();
// RecoverJournals(JournalFolder()) the first time a process saves.
void RecoverJournalsOnce();

}  // namespace sondrel
