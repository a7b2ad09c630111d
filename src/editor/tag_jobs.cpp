#include "editor/tag_jobs.h"

#include "editor/format_registry.h"

namespace sondrel {

namespace {

bool KeepGoing(const JobCallbacks& c) {
    return !c.keepGoing || c.keepGoing();
}

}  // namespace

int SaveEditsToFiles(TagBridge& bridge, std::span<const JobItem> items, const FieldEdits& edits,
                     const JobCallbacks& callbacks) {
    int written = 0;
    for (const JobItem& item : items) {
        // A file of no known format has nothing to save; it is only stepped.
        if (KeepGoing(callbacks) && item.isFile && FormatOfPath(item.path) != TagFormat::None) {
            // Each file's own values (and pictures) under the edits: the
            // fields the edits keep stay as this file has them.
            bridge.Read(item.path);
            TagFields hub = bridge.Hub();
            ApplyEdits(hub, edits);
            bridge.setHub(hub);
            const SaveOutcome outcome = bridge.Save(item.path);
            if (outcome.ok)
                ++written;
            if (callbacks.onFileDone)
                callbacks.onFileDone(item, outcome);
        }
        if (callbacks.onStep)
            callbacks.onStep(item);
    }
    return written;
}

bool RemoveApplies(RemoveKind kind, const std::string& path) {
    const FormatHandler* h = HandlerOfPath(path);
    return h && h->Removes(kind);
}

int RemoveTagsFromFiles(TagBridge& bridge, std::span<const JobItem> items, RemoveKind kind,
                        const JobCallbacks& callbacks) {
    int removed = 0;
    for (const JobItem& item : items) {
        if (!KeepGoing(callbacks))
            break;
        if (!item.isFile)
            continue;
        if (RemoveApplies(kind, item.path)) {
            const SaveOutcome outcome = bridge.Remove(item.path, kind);
            if (outcome.ok)
                ++removed;
            if (callbacks.onFileDone)
                callbacks.onFileDone(item, outcome);
        }
        if (callbacks.onStep)
            callbacks.onStep(item);
    }
    return removed;
}

}  // namespace sondrel
