// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's long runs over many files, apart from any window: saving the
// same edits into every selected file and deleting a kind of tag from them.
// The window wires its progress window and error box to the callbacks; the
// run itself is testable without a display.
#pragma once

#include <functional>
#include <span>
#include <string>

#include "editor/editor_rules.h"
#include "editor/format_bridge.h"
#include "tags/save_group.h"

namespace sondrel {

// One row of the run: the list's row number and what it holds.
struct JobItem {
    int row = -1;
    std::string path;
    bool isFile = false;
};

// The files of a run are written as one save group: a file's outcome (and
// its step) comes after the commit that made it durable, in the order of the
// items, at the latest when `group` many files wait.
struct JobCallbacks {
    // Asked before each item; false once the user pressed Stop.
    std::function<bool()> keepGoing;
    // A file was written (or refused): `outcome` says how it went.
    std::function<void(const JobItem&, const SaveOutcome&)> onFileDone;
    // The item is finished (written, skipped or passed by after a stop);
    // always right after its onFileDone when it has one.
    std::function<void(const JobItem&)> onStep;
    // Runs `commit` (a group's journal, flushes and renames; it calls none
    // of the callbacks above) and returns once it is done. A window runs it
    // on a worker thread and answers its events meanwhile; unset, it runs
    // right here.
    std::function<void(const std::function<void()>& commit)> runCommit;
    SaveGroup::Limits group;
};

// Saves through `bridge` go into `group` while this lives (one file's save
// alone keeps its own flush: give no group).
class BridgeInGroup {
public:
    BridgeInGroup(TagBridge& bridge, SaveGroup& group);
    ~BridgeInGroup();
    BridgeInGroup(const BridgeInGroup&) = delete;
    BridgeInGroup& operator=(const BridgeInGroup&) = delete;

private:
    TagBridge& bridge_;
    const IoFaults before_;
};

// Reads each audio file, applies `edits` and saves it. After a stop the remaining
// items are still stepped (the window unselects them) but not written.
// Returns how many files were written successfully.
int SaveEditsToFiles(TagBridge& bridge, std::span<const JobItem> items, const FieldEdits& edits,
                     const JobCallbacks& callbacks);

// Whether the delete command `kind` applies to `path`'s format.
bool RemoveApplies(RemoveKind kind, const std::string& path);

// Takes the tag `kind` out of every file it applies to; stops at once when
// asked. Items that are no files are passed by without a step. Returns how
// many removals succeeded.
int RemoveTagsFromFiles(TagBridge& bridge, std::span<const JobItem> items, RemoveKind kind,
                        const JobCallbacks& callbacks);

}  // namespace sondrel
