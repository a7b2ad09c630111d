#include "editor/tag_jobs.h"

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
    const TagFormat format = FormatOfPath(path);
    switch (kind) {
        case RemoveKind::Ogg:
            return format == TagFormat::Ogg;
        case RemoveKind::Ape:
            return format == TagFormat::MP3 || format == TagFormat::APE || format == TagFormat::MPC;
        case RemoveKind::Wma:
            return format == TagFormat::WMA;
        case RemoveKind::Mp4:
            return format == TagFormat::MP4;
        default:
            return format == TagFormat::MP3;
    }
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
