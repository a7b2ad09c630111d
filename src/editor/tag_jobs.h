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

namespace sondrel {

// One row of the run: the list's row number and what it holds.
struct JobItem {
    int row = -1;
    std::string path;
    bool isFile = false;
};

struct JobCallbacks {
    // Asked before each item; false once the user pressed Stop.
    std::function<bool()> keepGoing;
    // A file was written (or refused): `outcome` says how it went.
    std::function<void(const JobItem&, const SaveOutcome&)> onFileDone;
    // The item is finished (written, skipped or passed by after a stop).
    std::function<void(const JobItem&)> onStep;
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
